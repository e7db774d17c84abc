// The model's files on Windows 2000: its driver and the modem INF pair, the OEM INF copy that
// the modem class scan named, and whatever a Windows 98 installation of the model left.
#include "core/account.h"
#include "core/binding.h"
#include "core/catalogue.h"
#include "core/cp932.h"
#include "core/file_calls.h"
#include "core/run_state.h"
#include "nt/nt_steps.h"

// The name "InfPath" gave is registry data, joined to the INF folder's path: it is used only
// when it is a bare file name, so that it can never lead out of that folder.
static int is_bare_file_name(const char *name) {
  if (cp932_compare(name, ".") == 0 || cp932_compare(name, "..") == 0)
    return 0;
  for (const char *p = name; *p; p = cp932_next(p))
    if (*p == '\\' || *p == '/' || *p == ':')
      return 0;
  return 1;
}

int delete_named_oem_inf(int model) {
  char *name = model_oem_inf_name(model);
  if (name[0] == 0 || !is_bare_file_name(name))
    return 0;
  // Failed deletions are reported but leave the count as it is; a copy that Windows keeps
  // because a device still uses it counts as neither deleted nor failed. The stored name
  // becomes the PNF's name on the way.
  oem_inf_pair_outcome pair;
  if (!delete_oem_inf_pair(name, SILENT_ABSENT_FILE, &pair))
    return STATUS_FAILED;
  return pair.removed;
}

void delete_nt_files(int model) {
  mark_step(model, STEP_NT_FILES);
  // A missing folder is reported here: drivers and inf always exist on Windows 2000.
  list_deletion list;
  if (!delete_list_files(nt_kernel32_table, nt_file_list, model, SILENT_ABSENT_FILE,
                         set_nt_files_status, &list))
    return;
  int named = delete_named_oem_inf(model);
  // The list's own deletions do not enter the value, only its failures; the rest tells how
  // much of the OEM INF pair was deleted.
  int failed = list.attributes_failed || list.delete_failed || named == STATUS_FAILED;
  set_nt_files_status(model, files_outcome(failed, named, 2));
}

int nt_files_present(int model) {
  return list_file_present(nt_kernel32_table, nt_file_list, model, SILENT_ABSENT_FILE,
                           set_nt_files_status);
}

// The Windows 98 list names INF files in an OTHER subfolder that need not exist here, so a
// missing folder is silent. A folder that cannot be read marks flag 5, which the OEM INF step
// keeps.
int nt_win98_files_present(int model) {
  return list_file_present(nt_kernel32_table, win98_file_list, model, SILENT_ABSENT_FOLDER,
                           set_nt_oem_inf_status);
}

void nt_delete_win98_files(int model) {
  list_deletion list;
  if (!delete_list_files(nt_kernel32_table, win98_file_list, model, SILENT_ABSENT_FOLDER,
                         set_nt_oem_inf_status, &list))
    return;
  // An attribute failure is reported only; a failed deletion is recorded. This value replaces
  // the one of delete_nt_files, except a failure mark: a failure that was reported must not
  // read as success afterwards.
  int failed = list.delete_failed || get_nt_files_status(model) == STATUS_FAILED;
  set_nt_files_status(model, files_outcome(failed, list.deleted, list.total));
}

void remove_nt_win98_files(int model) {
  mark_step(model, STEP_NT_WIN98_FILES);
  if (nt_win98_files_present(model))
    nt_delete_win98_files(model);
}
