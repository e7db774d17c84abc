// The driver files of a model's Windows 98 installation: VxD and SYS files in the system
// directory, INF and PNF files in the Windows directory's INF folder (some in its OTHER
// subfolder). The probe tells whether any of them exists; the file step deletes them.
#include "core/binding.h"
#include "core/catalogue.h"
#include "core/error_report.h"
#include "core/file_kind.h"
#include "core/folders.h"
#include "core/run_state.h"
#include "core/texts.h"
#include "win98/win98_steps.h"

// Reads both folders; on a failure (reported by the reader) writes the failure mark into the
// model's win98_files_status and returns 0.
static int read_win98_folders(int model, folders *f) {
  if (read_folders(win98_kernel32_table, f))
    return 1;
  set_win98_files_status(model, STATUS_FAILED);
  return 0;
}

// Outcome of making one listed file deletable: its attributes set to normal, which is also the
// test that it exists.
enum { FILE_READY, FILE_ABSENT, FILE_FAILED };

static int prepare_file(const char *path) {
  if (BOUND(win98_kernel32_table, SetFileAttributesA)(path, FILE_ATTRIBUTE_NORMAL))
    return FILE_READY;
  DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND)
    return FILE_ABSENT;
  // A missing folder (ERROR_PATH_NOT_FOUND) is reported too: the INF folder's OTHER
  // subfolder is part of every installation.
  report_system_error(error, caption_set_file_attributes);
  return FILE_FAILED;
}

int win98_files_present(int model) {
  folders f;
  if (!read_win98_folders(model, &f))
    return 0;
  for (int slot = 0; slot < WIN98_FILE_SLOTS; ++slot) {
    const char *name = model_win98_file(model, slot);
    char path[NAME_SIZE];
    if (name[0] == 0 || !win98_file_path(path, sizeof path, f.windows, f.system, name))
      continue;
    if (prepare_file(path) == FILE_READY)
      return 1;
  }
  return 0;
}

void delete_win98_files(int model) {
  folders f;
  if (!read_win98_folders(model, &f))
    return;
  int total = 0;
  int deleted = 0;
  int failed = 0;
  for (int slot = 0; slot < WIN98_FILE_SLOTS; ++slot) {
    const char *name = model_win98_file(model, slot);
    if (name[0] == 0)
      continue;
    // A used slot counts even when its kind has no folder or its file is absent.
    ++total;
    char path[NAME_SIZE];
    if (!win98_file_path(path, sizeof path, f.windows, f.system, name))
      continue;
    int state = prepare_file(path);
    if (state == FILE_FAILED)
      failed = 1;
    if (state != FILE_READY)
      continue;
    if (BOUND(win98_kernel32_table, DeleteFileA)(path)) {
      ++deleted;
    } else {
      report_system_error(GetLastError(), caption_delete_file);
      failed = 1;
    }
  }
  int status = STATUS_REMOVED;
  if (failed)
    status = STATUS_FAILED;
  else if (deleted == 0)
    status = STATUS_NONE;
  else if (deleted < total)
    status = STATUS_PARTIAL;
  set_win98_files_status(model, status);
}
