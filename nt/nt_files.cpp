// The model's files on Windows 2000: its driver and the modem INF pair, the OEM INF copy that
// the modem class scan named, and whatever a Windows 98 installation of the model left. A
// file's attributes are set to normal before it is deleted, so read-only files go too; the
// success of that call is also the test that the file exists.
#include "core/binding.h"
#include "core/catalogue.h"
#include "core/cp932.h"
#include "core/error_report.h"
#include "core/file_kind.h"
#include "core/folders.h"
#include "core/run_state.h"
#include "core/texts.h"
#include "nt/nt_steps.h"

// The Windows and the system directory. On failure the report is shown, the failure mark is
// written to the flag the caller names, and 0 returned.
static int get_folders(folders *f, int model, void (*set_failure_flag)(int, int)) {
  if (read_folders(nt_kernel32_table, f))
    return 1;
  set_failure_flag(model, STATUS_FAILED);
  return 0;
}

static BOOL set_normal_attributes(const char *path) {
  return BOUND(nt_kernel32_table, SetFileAttributesA)(path, FILE_ATTRIBUTE_NORMAL);
}

enum delete_result { FILE_DELETED, FILE_ABSENT, ATTRIBUTES_FAILED, DELETE_FAILED };

// Sets the file's attributes to normal and deletes it. An absent file, or an absent folder
// where `silent_path` is set, is not reported; every other failure is.
static delete_result delete_file(const char *path, int silent_path) {
  if (!set_normal_attributes(path)) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || (silent_path && error == ERROR_PATH_NOT_FOUND))
      return FILE_ABSENT;
    report_system_error(error, caption_set_file_attributes);
    return ATTRIBUTES_FAILED;
  }
  if (!BOUND(nt_kernel32_table, DeleteFileA)(path)) {
    report_system_error(GetLastError(), caption_delete_file);
    return DELETE_FAILED;
  }
  return FILE_DELETED;
}

// 1 when the file is there (its attributes are then normal). An absent file, or an absent
// folder where `silent_path` is set, is silent; other failures are reported.
static int probe_file(const char *path, int silent_path) {
  if (set_normal_attributes(path))
    return 1;
  DWORD error = GetLastError();
  if (error != ERROR_FILE_NOT_FOUND && !(silent_path && error == ERROR_PATH_NOT_FOUND))
    report_system_error(error, caption_set_file_attributes);
  return 0;
}

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

// The start of the last three characters of `name` (a double-byte character counts as one),
// or null when the name is shorter than three characters.
static char *last_three_characters(char *name) {
  char *starts[3] = {nullptr, nullptr, nullptr};
  int count = 0;
  for (char *p = name; *p; p += cp932_next(p) - p) {
    starts[count % 3] = p;
    ++count;
  }
  return count < 3 ? nullptr : starts[(count - 3) % 3];
}

int delete_named_oem_inf(int model) {
  char *name = model_oem_inf_name(model);
  if (name[0] == 0 || !is_bare_file_name(name))
    return 0;
  char windows[NAME_SIZE];
  if (!read_windows_directory(nt_kernel32_table, windows))
    return STATUS_FAILED;
  // Failures here are reported but leave the count as it is.
  int count = 0;
  char path[NAME_SIZE];
  if (join_path(path, sizeof path, windows, "\\inf\\", name) &&
      delete_file(path, 0) == FILE_DELETED)
    ++count;
  // The PNF twin: the stored name itself is rewritten in place, "oem7.inf" to "oem7.pnf".
  char *extension = last_three_characters(name);
  if (!extension)
    return count;
  extension[0] = 'p';
  extension[1] = 'n';
  extension[2] = 'f';
  for (char *rest = extension + 3; rest < name + NAME_SIZE; ++rest)
    *rest = 0; // the field stays zero-filled behind the name
  if (join_path(path, sizeof path, windows, "\\inf\\", name) &&
      delete_file(path, 0) == FILE_DELETED)
    ++count;
  return count;
}

void delete_nt_files(int model) {
  folders f;
  if (!get_folders(&f, model, set_nt_files_status))
    return;
  int outcome = STATUS_NONE;
  for (int slot = 0; slot < NT_FILE_SLOTS; ++slot) {
    const char *name = model_nt_file(model, slot);
    char path[NAME_SIZE];
    if (name[0] == 0 || !nt_file_path(path, sizeof path, f.windows, f.system, name))
      continue;
    // A missing folder is reported here: drivers and inf always exist on Windows 2000.
    delete_result result = delete_file(path, 0);
    if (result == ATTRIBUTES_FAILED || result == DELETE_FAILED)
      outcome = STATUS_FAILED;
  }
  int named = delete_named_oem_inf(model);
  // The list's own deletions do not enter the value, only its failures; the rest tells how
  // much of the OEM INF pair was deleted.
  if (outcome == STATUS_FAILED || named == STATUS_FAILED)
    set_nt_files_status(model, STATUS_FAILED);
  else if (named == 0)
    set_nt_files_status(model, STATUS_NONE);
  else if (named == 1)
    set_nt_files_status(model, STATUS_PARTIAL);
  else
    set_nt_files_status(model, STATUS_REMOVED);
}

int nt_files_present(int model) {
  folders f;
  if (!get_folders(&f, model, set_nt_files_status))
    return 0;
  for (int slot = 0; slot < NT_FILE_SLOTS; ++slot) {
    const char *name = model_nt_file(model, slot);
    char path[NAME_SIZE];
    if (name[0] != 0 && nt_file_path(path, sizeof path, f.windows, f.system, name) &&
        probe_file(path, 0))
      return 1;
  }
  return 0;
}

int nt_win98_files_present(int model) {
  folders f;
  if (!get_folders(&f, model, set_nt_oem_inf_status))
    return 0;
  // The Windows 98 list names INF files in an OTHER subfolder that may not exist: silent.
  for (int slot = 0; slot < WIN98_FILE_SLOTS; ++slot) {
    const char *name = model_win98_file(model, slot);
    char path[NAME_SIZE];
    if (name[0] != 0 && win98_file_path(path, sizeof path, f.windows, f.system, name) &&
        probe_file(path, 1))
      return 1;
  }
  return 0;
}

void nt_delete_win98_files(int model) {
  folders f;
  if (!get_folders(&f, model, set_nt_oem_inf_status))
    return;
  int total = 0;
  int deleted = 0;
  int outcome = STATUS_NONE;
  for (int slot = 0; slot < WIN98_FILE_SLOTS; ++slot) {
    const char *name = model_win98_file(model, slot);
    if (name[0] == 0)
      continue;
    ++total; // every listed name counts, whatever its kind
    char path[NAME_SIZE];
    if (!win98_file_path(path, sizeof path, f.windows, f.system, name))
      continue;
    delete_result result = delete_file(path, 1);
    if (result == FILE_DELETED)
      ++deleted;
    else if (result == DELETE_FAILED)
      outcome = STATUS_FAILED;
  }
  // This value replaces the one of delete_nt_files, except a failure mark: a failure that
  // was reported must not read as success afterwards.
  if (outcome == STATUS_FAILED || get_nt_files_status(model) == STATUS_FAILED)
    set_nt_files_status(model, STATUS_FAILED);
  else if (deleted == 0)
    set_nt_files_status(model, STATUS_NONE);
  else if (deleted < total)
    set_nt_files_status(model, STATUS_PARTIAL);
  else
    set_nt_files_status(model, STATUS_REMOVED);
}
