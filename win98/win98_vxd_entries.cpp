// The four registry entries of a model's two VxD drivers on Windows 98: the VMM32Files values
// named after the VxD files and the service keys under the VxD branch.
#include "core/account.h"
#include "core/binding.h"
#include "core/catalogue.h"
#include "core/cp932.h"
#include "core/registry_calls.h"
#include "core/run_state.h"
#include "win98/win98_steps.h"

static const char vmm32files_path[] = "System\\CurrentControlSet\\control\\VMM32Files";
static const char vxd_prefix[] = "System\\CurrentControlSet\\Services\\VxD\\";

// Deletes one VxD service key with its subtree. An empty name would name the whole VxD branch
// and a name that does not fit would be cut into another key: both are passed over. A key that
// cannot be deleted (absent, most often) is passed over without a word.
static int delete_vxd_key(const char *vxd_name) {
  char path[NAME_SIZE] = "";
  if (vxd_name[0] == 0 || !append_text(path, sizeof path, vxd_prefix) ||
      !append_text(path, sizeof path, vxd_name))
    return STATUS_NONE;
  return BOUND(win98_advapi32_table, RegDeleteKeyA)(HKEY_LOCAL_MACHINE, path) == ERROR_SUCCESS
             ? STATUS_REMOVED
             : STATUS_NONE;
}

int remove_vxd_entries(int model) {
  mark_step(model, STEP_VXD_ENTRIES);
  int outcome = STATUS_NONE;
  HKEY key =
      open_key_reported(win98_advapi32_table, HKEY_LOCAL_MACHINE, vmm32files_path, KEY_WRITE);
  if (!key)
    return STATUS_FAILED;
  // The values are named after the VxD files exactly as the catalogue lists them. An absent
  // value is no failure. An empty name would delete the key's default value: passed over.
  // Deliberately, the first value goes through the linked RegDeleteValueA and the second
  // through the bound table, as the uninstaller always has; both reach the same advapi32
  // export, so the two deletions behave alike.
  const char *first = model_win98_file(model, 0);
  const char *second = model_win98_file(model, 1);
  if (first[0] != 0 && RegDeleteValueA(key, first) == ERROR_SUCCESS)
    outcome = STATUS_REMOVED;
  if (second[0] != 0 && BOUND(win98_advapi32_table, RegDeleteValueA)(key, second) == ERROR_SUCCESS)
    outcome = STATUS_REMOVED;
  if (!flush_and_close_key(win98_advapi32_table, key))
    return STATUS_FAILED;
  if (delete_vxd_key(model_vxd_name_1(model)) == STATUS_REMOVED)
    outcome = STATUS_REMOVED;
  if (delete_vxd_key(model_vxd_name_2(model)) == STATUS_REMOVED)
    outcome = STATUS_REMOVED;
  return outcome;
}
