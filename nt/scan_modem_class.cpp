// The modem class scan: among the driver keys of the modem setup class, the one whose
// "MatchingDeviceId" is the model's hardware id names in "InfPath" the OEM INF copy that
// Windows made of the driver's INF. The scan only reads; the file step deletes that INF.
#include "core/account.h"
#include "core/binding.h"
#include "core/catalogue.h"
#include "core/cp932.h"
#include "core/registry_calls.h"
#include "nt/nt_steps.h"

static const char modem_class_path[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\";

// A datum that fills the whole buffer without a terminator is no string and matches nothing.
static int is_string(const registry_value &value) {
  return bounded_length(value.data, NAME_SIZE) < NAME_SIZE;
}

static int driver_key_matches(int model, HKEY driver_key, registry_value *value) {
  for (DWORD index = 0; read_value(nt_advapi32_table, driver_key, index, value); ++index)
    if (is_string(*value) && matching_device_id_names_model(model, value->name, value->data))
      return 1;
  return 0;
}

// Every "InfPath" (exact spelling) of the key is stored; the last one wins.
static void store_inf_path(int model, HKEY driver_key, registry_value *value) {
  for (DWORD index = 0; read_value(nt_advapi32_table, driver_key, index, value); ++index)
    if (cp932_compare(value->name, "InfPath") == 0 && is_string(*value))
      set_model_oem_inf_name(model, value->data);
}

void scan_modem_class_keys(int model, HKEY class_key) {
  if (!class_key)
    return;
  char subkey[NAME_SIZE];
  registry_value value;
  for (DWORD index = 0; enum_subkey(nt_advapi32_table, class_key, index, subkey); ++index) {
    HKEY driver_key = open_key_reported(nt_advapi32_table, class_key, subkey);
    if (!driver_key)
      continue;
    // "InfPath" may come before "MatchingDeviceId", so the path pass starts again at 0.
    if (driver_key_matches(model, driver_key, &value))
      store_inf_path(model, driver_key, &value);
    RegCloseKey(driver_key); // the linked function; nothing follows from its result
  }
}

void scan_modem_class(int model) {
  mark_step(model, STEP_MODEM_CLASS_SCAN);
  HKEY class_key = open_key_reported(nt_advapi32_table, HKEY_LOCAL_MACHINE, modem_class_path);
  if (!class_key)
    return;
  scan_modem_class_keys(model, class_key);
  close_key(nt_advapi32_table, class_key);
}
