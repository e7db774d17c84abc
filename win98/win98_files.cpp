// The driver files of a model's Windows 98 installation: VxD and SYS files in the system
// directory, INF and PNF files in the Windows directory's INF folder (some in its OTHER
// subfolder). The probe tells whether any of them exists; the file step deletes them.
#include "core/account.h"
#include "core/binding.h"
#include "core/file_calls.h"
#include "core/run_state.h"
#include "win98/win98_steps.h"

int win98_files_present(int model) {
  return list_file_present(win98_kernel32_table, win98_file_list, model, SILENT_ABSENT_FILE,
                           set_win98_files_status);
}

void delete_win98_files(int model) {
  mark_step(model, STEP_WIN98_FILES);
  // A missing folder is reported and recorded: the INF folder's OTHER subfolder is part of
  // every installation.
  list_deletion list;
  if (!delete_list_files(win98_kernel32_table, win98_file_list, model, SILENT_ABSENT_FILE,
                         set_win98_files_status, &list))
    return;
  set_win98_files_status(
      model, files_outcome(list.attributes_failed || list.delete_failed, list.deleted, list.total));
}
