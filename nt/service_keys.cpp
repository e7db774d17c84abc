// The driver's service key, deleted from the current control set and from every numbered
// control set (ControlSet001, 002, ...) up to the first number that does not exist. On NT a
// key with subkeys cannot be deleted, so the service key's own subkeys (such as "Enum") go
// first; a deeper tree is not descended into and is reported.
#include "core/binding.h"
#include "core/catalogue.h"
#include "core/cp932.h"
#include "core/error_report.h"
#include "core/run_state.h"
#include "core/texts.h"
#include "nt/nt_steps.h"

static const char current_services_path[] = "SYSTEM\\CurrentControlSet\\Services\\";

enum {
  SERVICE_NAME_COMPARED = 8, // characters of a subkey name compared with the service name
  LAST_CONTROL_SET = 999,    // control-set numbers are written with three digits
};

static LONG enum_subkey(HKEY key, DWORD index, char *name) {
  DWORD length = NAME_SIZE;
  FILETIME written;
  return BOUND(nt_advapi32_table, RegEnumKeyExA)(key, index, name, &length, nullptr, nullptr,
                                                 nullptr, &written);
}

static HKEY open_key(HKEY parent, const char *path, LONG *result) {
  HKEY key = nullptr;
  *result = BOUND(nt_advapi32_table, RegOpenKeyExA)(parent, path, 0, KEY_ALL_ACCESS, &key);
  return *result == ERROR_SUCCESS ? key : nullptr;
}

int find_service_subkey(HKEY services_key, int model) {
  if (!services_key)
    return 0;
  char name[NAME_SIZE];
  for (DWORD index = 0; enum_subkey(services_key, index, name) == ERROR_SUCCESS; ++index)
    if (cp932_compare_chars(name, model_nt_service_name(model), SERVICE_NAME_COMPARED) == 0)
      return 1;
  return 0;
}

int delete_direct_subkeys(HKEY key) {
  if (!key)
    return STATUS_FAILED;
  char name[NAME_SIZE];
  // Index 0 again after every deletion: the next subkey has moved up.
  while (enum_subkey(key, 0, name) == ERROR_SUCCESS) {
    LONG result = BOUND(nt_advapi32_table, RegDeleteKeyA)(key, name);
    if (result != ERROR_SUCCESS) {
      report_system_error(static_cast<DWORD>(result), caption_reg_delete_key);
      return STATUS_FAILED;
    }
  }
  return 1;
}

int remove_service_key(HKEY services_key, int model) {
  if (!services_key)
    return STATUS_FAILED;
  if (!find_service_subkey(services_key, model))
    return STATUS_NONE;
  const char *service_name = model_nt_service_name(model);
  LONG result;
  HKEY service_key = open_key(services_key, service_name, &result);
  if (!service_key) {
    report_system_error(static_cast<DWORD>(result), caption_reg_open_key_ex);
    return STATUS_FAILED;
  }
  int subkeys = delete_direct_subkeys(service_key);
  result = BOUND(nt_advapi32_table, RegCloseKey)(service_key);
  if (result != ERROR_SUCCESS) {
    report_system_error(static_cast<DWORD>(result), caption_reg_close_key);
    return STATUS_FAILED;
  }
  if (subkeys != 1)
    return subkeys;
  result = BOUND(nt_advapi32_table, RegDeleteKeyA)(services_key, service_name);
  if (result != ERROR_SUCCESS) {
    report_system_error(static_cast<DWORD>(result), caption_reg_delete_key);
    return STATUS_FAILED;
  }
  return STATUS_REMOVED;
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
  int outcome = STATUS_NONE;
  LONG result;
  HKEY services_key = open_key(HKEY_LOCAL_MACHINE, current_services_path, &result);
  if (!services_key) {
    set_nt_service_status(model, STATUS_NONE);
    return;
  }
  for (unsigned number = 1;; ++number) {
    outcome = combine(outcome, remove_service_key(services_key, model));
    RegFlushKey(services_key); // the linked function; its result is not examined
    result = BOUND(nt_advapi32_table, RegCloseKey)(services_key);
    if (result != ERROR_SUCCESS) {
      report_system_error(static_cast<DWORD>(result), caption_reg_close_key);
      set_nt_service_status(model, STATUS_FAILED);
      return;
    }
    if (number > LAST_CONTROL_SET)
      break;
    // "SYSTEM\ControlSet" + the number with three digits + "\Services\"; the walk ends at the
    // first number whose Services key does not open.
    char path[NAME_SIZE] = {};
    if (!append_text(path, sizeof path, "SYSTEM\\ControlSet") ||
        !append_number(path, sizeof path, number, 3) ||
        !append_text(path, sizeof path, "\\Services\\"))
      break;
    services_key = open_key(HKEY_LOCAL_MACHINE, path, &result);
    if (!services_key)
      break;
  }
  set_nt_service_status(model, outcome);
}
