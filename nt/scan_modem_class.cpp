// The modem class scan: among the driver keys of the modem setup class, the one whose
// "MatchingDeviceId" is the model's hardware id names in "InfPath" the OEM INF copy that
// Windows made of the driver's INF. The scan only reads; the file step deletes that INF.
#include "core/binding.h"
#include "core/catalogue.h"
#include "core/cp932.h"
#include "core/error_report.h"
#include "core/texts.h"
#include "nt/nt_steps.h"

static const char modem_class_path[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\";

// One value of an open key, read into NAME_SIZE buffers. The data buffer is zero-filled
// before every call, so a datum shorter than the buffer always ends in a zero and never
// borrows bytes left over from an earlier value: RegEnumValueA returns string data as it was
// stored, and it may have been stored without its terminator. Returns the call's result.
static LONG enum_value(HKEY key, DWORD index, char *name, char *data) {
  for (int i = 0; i < NAME_SIZE; ++i)
    data[i] = 0;
  DWORD name_length = NAME_SIZE;
  DWORD data_length = NAME_SIZE;
  DWORD type = 0;
  return BOUND(nt_advapi32_table, RegEnumValueA)(key, index, name, &name_length, nullptr, &type,
                                                 reinterpret_cast<LPBYTE>(data), &data_length);
}

// A datum that fills the whole buffer without a terminator is no string and matches nothing.
static int is_string(const char *data) {
  return bounded_length(data, NAME_SIZE) < NAME_SIZE;
}

static int driver_key_matches(int model, HKEY driver_key, char *name, char *data) {
  for (DWORD index = 0; enum_value(driver_key, index, name, data) == ERROR_SUCCESS; ++index)
    if (cp932_compare_nocase(name, "MatchingDeviceId") == 0 && is_string(data) &&
        cp932_compare_nocase(data, model_hardware_id(model)) == 0)
      return 1;
  return 0;
}

// Every "InfPath" (exact spelling) of the key is stored; the last one wins.
static void store_inf_path(int model, HKEY driver_key, char *name, char *data) {
  for (DWORD index = 0; enum_value(driver_key, index, name, data) == ERROR_SUCCESS; ++index)
    if (cp932_compare(name, "InfPath") == 0 && is_string(data))
      set_model_oem_inf_name(model, data);
}

void scan_modem_class_keys(int model, HKEY class_key) {
  if (!class_key)
    return;
  char subkey[NAME_SIZE];
  char name[NAME_SIZE];
  char data[NAME_SIZE];
  FILETIME written;
  for (DWORD index = 0;; ++index) {
    DWORD subkey_length = NAME_SIZE;
    if (BOUND(nt_advapi32_table, RegEnumKeyExA)(class_key, index, subkey, &subkey_length, nullptr,
                                                nullptr, nullptr, &written) != ERROR_SUCCESS)
      return;
    for (int i = 0; i < NAME_SIZE; ++i)
      name[i] = 0;
    HKEY driver_key = nullptr;
    LONG result =
        BOUND(nt_advapi32_table, RegOpenKeyExA)(class_key, subkey, 0, KEY_ALL_ACCESS, &driver_key);
    if (result != ERROR_SUCCESS) {
      report_system_error(static_cast<DWORD>(result), caption_reg_open_key_ex);
      continue;
    }
    // "InfPath" may come before "MatchingDeviceId", so the path pass starts again at 0.
    if (driver_key_matches(model, driver_key, name, data))
      store_inf_path(model, driver_key, name, data);
    RegCloseKey(driver_key); // the linked function; nothing follows from its result
  }
}

void scan_modem_class(int model) {
  HKEY class_key = nullptr;
  LONG result = BOUND(nt_advapi32_table, RegOpenKeyExA)(HKEY_LOCAL_MACHINE, modem_class_path, 0,
                                                        KEY_ALL_ACCESS, &class_key);
  if (result != ERROR_SUCCESS) {
    report_system_error(static_cast<DWORD>(result), caption_reg_open_key_ex);
    return;
  }
  scan_modem_class_keys(model, class_key);
  result = BOUND(nt_advapi32_table, RegCloseKey)(class_key);
  if (result != ERROR_SUCCESS)
    report_system_error(static_cast<DWORD>(result), caption_reg_close_key);
}
