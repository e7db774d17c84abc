// The driver's service key, deleted from the current control set and from every numbered
// control set (ControlSet001, 002, ...) up to the first number that does not exist. On NT a
// key with subkeys cannot be deleted, so the service key's own subkeys (such as "Enum") go
// first; a deeper tree is not descended into and is reported.
#include "core/account.h"
#include "core/binding.h"
#include "core/catalogue.h"
#include "core/cp932.h"
#include "core/registry_calls.h"
#include "core/run_state.h"
#include "nt/nt_steps.h"

static const char current_services_path[] = "SYSTEM\\CurrentControlSet\\Services\\";

enum { LAST_CONTROL_SET = 999 }; // control-set numbers are written with three digits

int find_service_subkey(HKEY services_key, int model) {
  if (!services_key)
    return 0;
  char name[NAME_SIZE];
  for (DWORD index = 0; enum_subkey(nt_advapi32_table, services_key, index, name); ++index)
    if (service_key_names_model(model, name))
      return 1;
  return 0;
}

int delete_direct_subkeys(HKEY key) {
  if (!key)
    return STATUS_FAILED;
  char name[NAME_SIZE];
  // Index 0 again after every deletion: the next subkey has moved up.
  while (enum_subkey(nt_advapi32_table, key, 0, name))
    if (!delete_key(nt_advapi32_table, key, name))
      return STATUS_FAILED;
  return 1;
}

int remove_service_key(HKEY services_key, int model) {
  if (!services_key)
    return STATUS_FAILED;
  if (!find_service_subkey(services_key, model))
    return STATUS_NONE;
  const char *service_name = model_nt_service_name(model);
  HKEY service_key = open_key_reported(nt_advapi32_table, services_key, service_name);
  if (!service_key)
    return STATUS_FAILED;
  int subkeys = delete_direct_subkeys(service_key);
  if (!close_key(nt_advapi32_table, service_key))
    return STATUS_FAILED;
  if (subkeys != 1)
    return subkeys;
  return delete_key(nt_advapi32_table, services_key, service_name) ? STATUS_REMOVED : STATUS_FAILED;
}

// The outcome over all control sets: a reported failure in any of them, else a deletion in
// any of them, else nothing. CurrentControlSet is an alias of one numbered set, which then
// finds nothing left; that must not hide the deletion made through the alias.
static int combine(int outcome, int set_outcome) {
  if (outcome == STATUS_FAILED || set_outcome == STATUS_FAILED)
    return STATUS_FAILED;
  if (outcome == STATUS_REMOVED || set_outcome == STATUS_REMOVED)
    return STATUS_REMOVED;
  return STATUS_NONE;
}

void remove_service_keys(int model) {
  mark_step(model, STEP_SERVICE_KEYS);
  int outcome = STATUS_NONE;
  HKEY services_key = open_key(nt_advapi32_table, HKEY_LOCAL_MACHINE, current_services_path);
  for (unsigned number = 1; services_key; ++number) {
    outcome = combine(outcome, remove_service_key(services_key, model));
    if (!flush_and_close_key(nt_advapi32_table, services_key)) {
      set_nt_service_status(model, STATUS_FAILED);
      return;
    }
    // "SYSTEM\ControlSet" + the number with three digits + "\Services\"; the walk ends at the
    // first number whose Services key does not open.
    char path[NAME_SIZE] = {};
    if (number > LAST_CONTROL_SET || !append_text(path, sizeof path, "SYSTEM\\ControlSet") ||
        !append_number(path, sizeof path, number, 3) ||
        !append_text(path, sizeof path, "\\Services\\"))
      break;
    services_key = open_key(nt_advapi32_table, HKEY_LOCAL_MACHINE, path);
  }
  set_nt_service_status(model, outcome);
}
