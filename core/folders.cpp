#include "core/folders.h"

#include "core/catalogue.h"
#include "core/error_report.h"
#include "core/run_state.h"
#include "core/texts.h"

// A length of 0 is a failure with the thread's last error; a length of the buffer size or more
// is the size the folder would need.
static int folder_read(UINT length, const char *caption) {
  if (length == 0) {
    report_system_error(GetLastError(), caption);
    return 0;
  }
  if (length >= NAME_SIZE) {
    report_system_error(ERROR_INSUFFICIENT_BUFFER, caption);
    return 0;
  }
  return 1;
}

int read_windows_directory(const library_table &kernel32, char *buffer) {
  return folder_read(BOUND(kernel32, GetWindowsDirectoryA)(buffer, NAME_SIZE),
                     caption_get_windows_directory);
}

int read_system_directory(const library_table &kernel32, char *buffer) {
  return folder_read(BOUND(kernel32, GetSystemDirectoryA)(buffer, NAME_SIZE),
                     caption_get_system_directory);
}

int read_folders(const library_table &kernel32, folders *f, int model,
                 void (*set_failure_status)(int model, int value)) {
  if (read_windows_directory(kernel32, f->windows) && read_system_directory(kernel32, f->system))
    return 1;
  set_failure_status(model, STATUS_FAILED);
  return 0;
}
