#include "core/file_calls.h"

#include "core/catalogue.h"
#include "core/error_report.h"
#include "core/file_kind.h"
#include "core/run_state.h"
#include "core/texts.h"

const file_list nt_file_list = {model_nt_file, NT_FILE_SLOTS, nt_file_path};
const file_list win98_file_list = {model_win98_file, WIN98_FILE_SLOTS, win98_file_path};

int probe_listed_file(const library_table &kernel32, const char *path, file_silence silence,
                      file_outcome *outcome) {
  if (BOUND(kernel32, SetFileAttributesA)(path, FILE_ATTRIBUTE_NORMAL))
    return 1;
  *outcome = FILE_ABSENT;
  if (silence == SILENT_ANY_FAILURE)
    return 0;
  DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND ||
      (silence == SILENT_ABSENT_FOLDER && error == ERROR_PATH_NOT_FOUND))
    return 0;
  if (silence == SILENT_ANY_FAILURE_TOLD) {
    *outcome = ATTRIBUTES_PASSED;
    return 0;
  }
  report_system_error(error, caption_set_file_attributes, named_subject(SUBJECT_FILE, path));
  *outcome = ATTRIBUTES_FAILED;
  return 0;
}

int file_present(const library_table &kernel32, const char *path, file_silence silence) {
  file_outcome outcome;
  return probe_listed_file(kernel32, path, silence, &outcome);
}

// The restart's own file operations (the Session Manager's PendingFileRenameOperations) delete
// a file that no program holds any more: what installers do with a file in use.
static int delete_at_restart(const library_table &kernel32, const char *path, DWORD error) {
  if (!BOUND_PRESENT(kernel32, MoveFileExA) ||
      (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION))
    return 0;
  if (!BOUND(kernel32, MoveFileExA)(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
    return 0;
  set_restart_pending(1);
  return 1;
}

file_outcome delete_listed_file(const library_table &kernel32, const char *path,
                                file_silence silence) {
  file_outcome outcome;
  if (!probe_listed_file(kernel32, path, silence, &outcome))
    return outcome;
  if (BOUND(kernel32, DeleteFileA)(path))
    return FILE_DELETED;
  DWORD error = GetLastError();
  if (delete_at_restart(kernel32, path, error))
    return FILE_DELETED_AT_RESTART;
  report_system_error(error, caption_delete_file, named_subject(SUBJECT_FILE, path));
  return DELETE_FAILED;
}

// The full path of a used slot; 0 for an empty slot or a kind without a folder.
static int slot_path(const file_list &list, int model, int slot, const folders &f, char *path) {
  const char *name = list.name(model, slot);
  return name[0] != 0 && list.place(path, NAME_SIZE, f.windows, f.system, name);
}

int list_file_present(const library_table &kernel32, const file_list &list, int model,
                      file_silence silence, status_setter set_failure_status) {
  folders f;
  if (!read_folders(kernel32, &f, model, set_failure_status))
    return 0;
  char path[NAME_SIZE];
  for (int slot = 0; slot < list.slots; ++slot)
    if (slot_path(list, model, slot, f, path) && file_present(kernel32, path, silence))
      return 1;
  return 0;
}

int delete_list_files(const library_table &kernel32, const file_list &list, int model,
                      file_silence silence, status_setter set_failure_status,
                      list_deletion *deletion) {
  folders f;
  if (!read_folders(kernel32, &f, model, set_failure_status))
    return 0;
  *deletion = list_deletion{0, 0, 0, 0};
  char path[NAME_SIZE];
  for (int slot = 0; slot < list.slots; ++slot) {
    if (list.name(model, slot)[0] != 0)
      ++deletion->total;
    if (!slot_path(list, model, slot, f, path))
      continue;
    switch (delete_listed_file(kernel32, path, silence)) {
    case FILE_DELETED:
    case FILE_DELETED_AT_RESTART:
      ++deletion->deleted;
      break;
    case ATTRIBUTES_FAILED:
      deletion->attributes_failed = 1;
      break;
    case DELETE_FAILED:
      deletion->delete_failed = 1;
      break;
    case FILE_ABSENT:
    case ATTRIBUTES_PASSED:
      break;
    }
  }
  return 1;
}

int files_outcome(int failed, int deleted, int total) {
  if (failed)
    return STATUS_FAILED;
  if (deleted == 0)
    return STATUS_NONE;
  return deleted < total ? STATUS_PARTIAL : STATUS_REMOVED;
}
