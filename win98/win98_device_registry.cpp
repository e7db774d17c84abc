// The device entries of a model on Windows 98: its hardware-id key under "Enum\", the serial
// port instances under "Enum\Root\Ports" that describe it, and the driver keys under the class
// branch that their "Driver" values name. Windows 98's RegDeleteKeyA takes a key with its whole
// subtree, so every key path deleted here is checked to name exactly the key meant.
#include "core/account.h"
#include "core/binding.h"
#include "core/catalogue.h"
#include "core/cp932.h"
#include "core/registry_calls.h"
#include "core/run_state.h"
#include "win98/win98_steps.h"

static const char enum_prefix[] = "Enum\\";
static const char ports_path[] = "Enum\\Root\\Ports";
static const char class_prefix[] = "System\\CurrentControlSet\\Services\\Class\\";

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

// Builds the class-branch path of a "Driver" value; 0 when the value is to be passed over
// (not a "Driver" string naming one driver key, or a path that would not fit).
static int driver_key_path(const registry_value *value, char *path) {
  if (!is_string_value(value, "Driver") || !driver_value_names_one_key(value->data))
    return 0;
  path[0] = 0;
  return append_text(path, NAME_SIZE, class_prefix) && append_text(path, NAME_SIZE, value->data);
}

// Deletes the driver keys that the instance's "Driver" values name, every one of them:
// STATUS_REMOVED when one went, else STATUS_NONE. A failed deletion is reported; with
// `stop_at_failure` it ends the walk with STATUS_FAILED, otherwise the walk goes on.
static int delete_named_driver_keys(HKEY instance, int stop_at_failure) {
  int outcome = STATUS_NONE;
  registry_value value;
  for (DWORD index = 0; read_value(win98_advapi32_table, instance, index, &value); ++index) {
    char class_path[NAME_SIZE];
    if (!driver_key_path(&value, class_path))
      continue;
    if (delete_key(win98_advapi32_table, HKEY_LOCAL_MACHINE, class_path))
      outcome = STATUS_REMOVED;
    else if (stop_at_failure)
      return STATUS_FAILED;
  }
  return outcome;
}

void remove_win98_registry(int model) {
  int device = remove_device_enum_key(model);
  int ports = remove_port_entries(model);
  int vxd = remove_vxd_entries(model);
  set_win98_registry_status(model, device | ports | vxd);
}

// Opens `path` below HKEY_LOCAL_MACHINE, hands it to `walk`, then flushes and closes it: 1
// with the walk's outcome in *outcome. 0 when the key does not open (nothing is said; the
// outcome is then `absent` for a key that is not there, `unopened` for any other failure) or
// cannot be closed (reported; the failure mark).
static int walk_key(const char *path, int absent, int unopened, int model,
                    int (*walk)(int model, HKEY key), int *outcome) {
  LONG error = ERROR_SUCCESS;
  HKEY key = open_key(win98_advapi32_table, HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS, &error);
  if (!key) {
    *outcome = error == ERROR_FILE_NOT_FOUND ? absent : unopened;
    return 0;
  }
  *outcome = walk(model, key);
  if (flush_and_close_key(win98_advapi32_table, key))
    return 1;
  *outcome = STATUS_FAILED;
  return 0;
}

static int walk_device_instances(int, HKEY device_key) {
  return delete_driver_class_keys(device_key);
}

int remove_device_enum_key(int model) {
  mark_step(model, STEP_ENUM_ENTRIES);
  // An empty hardware id would name the whole Enum branch.
  char path[NAME_SIZE] = "";
  if (model_hardware_id(model)[0] == 0 || !append_text(path, sizeof path, enum_prefix) ||
      !append_text(path, sizeof path, model_hardware_id(model)))
    return STATUS_NONE;
  // The instance keys go with the hardware-id key, whatever the walk found.
  int outcome;
  if (walk_key(path, STATUS_NONE, STATUS_NONE, model, walk_device_instances, &outcome) &&
      !delete_key(win98_advapi32_table, HKEY_LOCAL_MACHINE, path))
    return STATUS_FAILED;
  return outcome;
}

int delete_driver_class_keys(HKEY device_key) {
  if (!device_key)
    return STATUS_FAILED;
  int outcome = STATUS_NONE;
  char instance_name[NAME_SIZE];
  for (DWORD index = 0; enum_subkey(win98_advapi32_table, device_key, index, instance_name);
       ++index) {
    HKEY instance = open_key_reported(win98_advapi32_table, device_key, instance_name);
    if (!instance)
      continue;
    if (delete_named_driver_keys(instance, 0) == STATUS_REMOVED)
      outcome = STATUS_REMOVED;
    if (!close_key(win98_advapi32_table, instance))
      return STATUS_FAILED;
  }
  return outcome;
}

int remove_port_entries(int model) {
  mark_step(model, STEP_PORT_ENTRIES);
  // Setup puts the serial ports it finds under Enum\BIOS or Enum\Root\*PNP0500; the Ports key
  // exists only once a port was installed by hand or by a driver such as ours. Its absence is
  // nothing found. Any other failure to open it leaves the port entries unexamined: the
  // failure mark.
  int outcome;
  walk_key(ports_path, STATUS_NONE, STATUS_FAILED, model, scan_port_instances, &outcome);
  return outcome;
}

// 1 when a "DeviceDesc" value of the port instance describes the model; the first match ends
// the pass.
static int port_matches_model(int model, HKEY instance) {
  registry_value value;
  for (DWORD index = 0; read_value(win98_advapi32_table, instance, index, &value); ++index)
    if (is_string_value(&value, "DeviceDesc") && port_description_names_model(model, value.data))
      return 1;
  return 0;
}

int scan_port_instances(int model, HKEY ports_key) {
  int outcome = STATUS_NONE;
  char instance_name[NAME_SIZE];
  DWORD index = 0;
  while (enum_subkey(win98_advapi32_table, ports_key, index, instance_name)) {
    HKEY instance = open_key_reported(win98_advapi32_table, ports_key, instance_name);
    if (!instance)
      return STATUS_FAILED;
    int found = port_matches_model(model, instance);
    int drivers = found ? delete_named_driver_keys(instance, 1) : STATUS_NONE;
    // The port instance keys are closed through the linked RegCloseKey. The key is closed
    // also when a driver key could not be deleted, so that no handle outlives the walk.
    if (!key_closed(RegCloseKey(instance), instance) || drivers == STATUS_FAILED)
      return STATUS_FAILED;
    if (drivers == STATUS_REMOVED)
      outcome = STATUS_REMOVED;
    if (!found) {
      ++index;
      continue;
    }
    if (!delete_key(win98_advapi32_table, ports_key, instance_name))
      return STATUS_FAILED;
    // The instances after the deleted one have moved down: the same index is read again.
  }
  return outcome;
}
