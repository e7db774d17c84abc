// The device entries of a model on Windows 98: its hardware-id key under "Enum\", the serial
// port instances under "Enum\Root\Ports" that describe it, and the driver keys under the class
// branch that their "Driver" values name. Windows 98's RegDeleteKeyA takes a key with its whole
// subtree, so every key path deleted here is checked to name exactly the key meant.
#include "core/binding.h"
#include "core/catalogue.h"
#include "core/cp932.h"
#include "core/error_report.h"
#include "core/run_state.h"
#include "core/texts.h"
#include "win98/win98_steps.h"

static const char enum_prefix[] = "Enum\\";
static const char ports_path[] = "Enum\\Root\\Ports";
static const char class_prefix[] = "System\\CurrentControlSet\\Services\\Class\\";

// One value of a key, read with the 260-byte name and data buffers.
struct registry_value {
  char name[NAME_SIZE];
  char data[NAME_SIZE];
  DWORD data_size;
};

// Reads value `index`: 1 when the call succeeded (the walk goes on), 0 when it ended the walk
// (no more values, a name or datum over 260 bytes, or any error).
static int read_value(HKEY key, DWORD index, registry_value *value) {
  DWORD name_size = NAME_SIZE;
  DWORD type = 0; // read and ignored: the data is taken as a string whatever its type
  value->data_size = NAME_SIZE;
  return BOUND(win98_advapi32_table, RegEnumValueA)(key, index, value->name, &name_size, nullptr,
                                                    &type, reinterpret_cast<BYTE *>(value->data),
                                                    &value->data_size) == ERROR_SUCCESS;
}

// 1 when the value is named exactly `name` (case-sensitive) and its data is a string that ends
// inside the data the call returned. Data without a terminator is passed over rather than
// read beyond what Windows wrote.
static int is_string_value(const registry_value *value, const char *name) {
  if (bounded_length(value->name, NAME_SIZE) == NAME_SIZE)
    return 0;
  if (cp932_compare(value->name, name) != 0)
    return 0;
  size_t size = value->data_size;
  if (size > NAME_SIZE)
    size = NAME_SIZE;
  return bounded_length(value->data, size) < size;
}

// 1 when a "Driver" datum names one driver key below a class: "<class>\<instance>", two
// non-empty parts and one backslash between them. Anything else (empty, a bare class name,
// a leading, trailing or second backslash) would make RegDeleteKeyA take a whole class or the
// whole class branch with it. A trail byte of a double-byte character is never a separator.
static int is_driver_key_name(const char *data) {
  int separators = 0;
  const char *separator = nullptr;
  for (const char *p = data; *p; p = cp932_next(p))
    if (*p == '\\') {
      ++separators;
      separator = p;
    }
  return separators == 1 && separator > data && separator[1] != 0;
}

// Builds the class-branch path of a "Driver" value; 0 when the value is to be passed over
// (not a "Driver" string naming one driver key, or a path that would not fit).
static int driver_key_path(const registry_value *value, char *path) {
  if (!is_string_value(value, "Driver") || !is_driver_key_name(value->data))
    return 0;
  path[0] = 0;
  return append_text(path, NAME_SIZE, class_prefix) && append_text(path, NAME_SIZE, value->data);
}

static int enum_subkey(HKEY key, DWORD index, char *name) {
  DWORD name_size = NAME_SIZE;
  FILETIME last_write;
  return BOUND(win98_advapi32_table, RegEnumKeyExA)(key, index, name, &name_size, nullptr, nullptr,
                                                    nullptr, &last_write) == ERROR_SUCCESS;
}

void remove_win98_registry(int model) {
  int device = remove_device_enum_key(model);
  int ports = remove_port_entries(model);
  int vxd = remove_vxd_entries(model);
  set_win98_registry_status(model, device | ports | vxd);
}

int remove_device_enum_key(int model) {
  // An empty hardware id would name the whole Enum branch.
  char path[NAME_SIZE] = "";
  if (model_hardware_id(model)[0] == 0 || !append_text(path, sizeof path, enum_prefix) ||
      !append_text(path, sizeof path, model_hardware_id(model)))
    return STATUS_NONE;
  HKEY key = nullptr;
  if (BOUND(win98_advapi32_table, RegOpenKeyExA)(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS,
                                                 &key) != ERROR_SUCCESS)
    return STATUS_NONE;
  int result = delete_driver_class_keys(key);
  RegFlushKey(key);
  LONG error = BOUND(win98_advapi32_table, RegCloseKey)(key);
  if (error != ERROR_SUCCESS) {
    report_system_error(error, caption_reg_close_key);
    return STATUS_FAILED;
  }
  // The instance keys go with the hardware-id key.
  error = BOUND(win98_advapi32_table, RegDeleteKeyA)(HKEY_LOCAL_MACHINE, path);
  if (error != ERROR_SUCCESS) {
    report_system_error(error, caption_reg_delete_key);
    return STATUS_FAILED;
  }
  return result;
}

int delete_driver_class_keys(HKEY device_key) {
  if (!device_key)
    return STATUS_FAILED;
  int result = STATUS_NONE;
  char instance_name[NAME_SIZE];
  for (DWORD index = 0; enum_subkey(device_key, index, instance_name); ++index) {
    HKEY instance = nullptr;
    LONG error = BOUND(win98_advapi32_table, RegOpenKeyExA)(device_key, instance_name, 0,
                                                            KEY_ALL_ACCESS, &instance);
    if (error != ERROR_SUCCESS) {
      report_system_error(error, caption_reg_open_key_ex);
      continue;
    }
    // Every "Driver" value counts, not only the first; a failed deletion does not end the walk.
    registry_value value;
    for (DWORD value_index = 0; read_value(instance, value_index, &value); ++value_index) {
      char class_path[NAME_SIZE];
      if (!driver_key_path(&value, class_path))
        continue;
      error = BOUND(win98_advapi32_table, RegDeleteKeyA)(HKEY_LOCAL_MACHINE, class_path);
      if (error == ERROR_SUCCESS)
        result = STATUS_REMOVED;
      else
        report_system_error(error, caption_reg_delete_key);
    }
    error = BOUND(win98_advapi32_table, RegCloseKey)(instance);
    if (error != ERROR_SUCCESS) {
      report_system_error(error, caption_reg_close_key);
      return STATUS_FAILED;
    }
  }
  return result;
}

int remove_port_entries(int model) {
  HKEY ports = nullptr;
  if (BOUND(win98_advapi32_table, RegOpenKeyExA)(HKEY_LOCAL_MACHINE, ports_path, 0, KEY_ALL_ACCESS,
                                                 &ports) != ERROR_SUCCESS)
    return STATUS_FAILED;
  int result = scan_port_instances(model, ports);
  RegFlushKey(ports);
  LONG error = BOUND(win98_advapi32_table, RegCloseKey)(ports);
  if (error != ERROR_SUCCESS) {
    report_system_error(error, caption_reg_close_key);
    return STATUS_FAILED;
  }
  return result;
}

// 1 when a "DeviceDesc" value of the port instance begins with the model's description prefix
// (case-sensitive; a shorter description does not match). The first match ends the pass.
static int port_matches_model(int model, HKEY instance) {
  registry_value value;
  for (DWORD index = 0; read_value(instance, index, &value); ++index) {
    if (!is_string_value(&value, "DeviceDesc"))
      continue;
    if (cp932_compare_bytes(value.data, model_device_desc_prefix(model),
                            static_cast<size_t>(model_device_desc_prefix_length(model))) == 0)
      return 1;
  }
  return 0;
}

// Deletes the driver keys named by the port instance's "Driver" values: STATUS_REMOVED,
// STATUS_NONE, or STATUS_FAILED at the first deletion that fails (reported).
static int delete_port_driver_keys(HKEY instance) {
  int result = STATUS_NONE;
  registry_value value;
  for (DWORD index = 0; read_value(instance, index, &value); ++index) {
    char class_path[NAME_SIZE];
    if (!driver_key_path(&value, class_path))
      continue;
    LONG error = BOUND(win98_advapi32_table, RegDeleteKeyA)(HKEY_LOCAL_MACHINE, class_path);
    if (error != ERROR_SUCCESS) {
      report_system_error(error, caption_reg_delete_key);
      return STATUS_FAILED;
    }
    result = STATUS_REMOVED;
  }
  return result;
}

int scan_port_instances(int model, HKEY ports_key) {
  int result = STATUS_NONE;
  char instance_name[NAME_SIZE];
  DWORD index = 0;
  while (enum_subkey(ports_key, index, instance_name)) {
    HKEY instance = nullptr;
    LONG error = BOUND(win98_advapi32_table, RegOpenKeyExA)(ports_key, instance_name, 0,
                                                            KEY_ALL_ACCESS, &instance);
    if (error != ERROR_SUCCESS) {
      report_system_error(error, caption_reg_open_key_ex);
      return STATUS_FAILED;
    }
    int found = port_matches_model(model, instance);
    int drivers = found ? delete_port_driver_keys(instance) : STATUS_NONE;
    // The port instance keys are closed through the linked RegCloseKey. The key is closed
    // also when a driver key could not be deleted, so that no handle outlives the walk.
    error = RegCloseKey(instance);
    if (error != ERROR_SUCCESS) {
      report_system_error(error, caption_reg_close_key);
      return STATUS_FAILED;
    }
    if (drivers == STATUS_FAILED)
      return STATUS_FAILED;
    if (drivers == STATUS_REMOVED)
      result = STATUS_REMOVED;
    if (!found) {
      ++index;
      continue;
    }
    error = BOUND(win98_advapi32_table, RegDeleteKeyA)(ports_key, instance_name);
    if (error != ERROR_SUCCESS) {
      report_system_error(error, caption_reg_delete_key);
      return STATUS_FAILED;
    }
    // The instances after the deleted one have moved down: the same index is read again.
  }
  return result;
}
