// The OEM INF copies of the model. Windows keeps a copy of every third-party INF in its INF
// folder as OEM<n>.inf with a precompiled OEM<n>.pnf beside it; a copy belongs to the model
// when its "USBTA" line names the model's hardware id. Every such copy goes, with its PNF.
#include "core/binding.h"
#include "core/catalogue.h"
#include "core/cp932.h"
#include "core/error_report.h"
#include "core/folders.h"
#include "core/run_state.h"
#include "core/texts.h"
#include "nt/nt_steps.h"

static const char usbta_section[] = "USBTA";
static const char usbta_key[] = "QUENDALQ40 PRO USBPort Adapter";

enum {
  OEM_INF_COUNT = 100, // OEM0.inf .. OEM99.inf
  EXPECTED_TEXT_SIZE = 256,
};

enum line_match { LINE_OTHER, LINE_MATCHES, LINE_UNREADABLE };

// The result is not looked at; see below.
static void get_usbta_line(HINF inf, char *buffer, DWORD size, DWORD *required) {
  auto get_line_text = BOUND(nt_setupapi_table, SetupGetLineTextA);
  get_line_text(nullptr, inf, usbta_section, usbta_key, buffer, size, required);
}

// Compares the INF's "USBTA" line with "USB_TA," + the model's hardware id, without regard to
// letter case; the line may go on after it. SetupGetLineTextA is judged by the last error
// alone: setupapi sets it to NO_ERROR on success, the size query without a buffer included.
static line_match usbta_line_matches(int model, HINF inf) {
  DWORD required = 0;
  get_usbta_line(inf, nullptr, 0, &required);
  if (GetLastError() != ERROR_SUCCESS)
    return LINE_OTHER; // no such section or line
  DWORD allocated = required;
  char *line = static_cast<char *>(LocalAlloc(LPTR, allocated));
  if (!line) {
    report_system_error(GetLastError(), caption_local_alloc);
    return LINE_UNREADABLE;
  }
  line_match match = LINE_OTHER;
  get_usbta_line(inf, line, allocated, &required);
  char expected[EXPECTED_TEXT_SIZE] = {};
  // The line is compared only when it ends inside its buffer, and the expected text only
  // when it fits its own.
  if (GetLastError() == ERROR_SUCCESS && bounded_length(line, allocated) < allocated &&
      append_text(expected, sizeof expected, "USB_TA,") &&
      append_text(expected, sizeof expected, model_hardware_id(model))) {
    cp932_lower(line);
    cp932_lower(expected);
    if (cp932_compare_bytes(line, expected, bounded_length(expected, sizeof expected)) == 0)
      match = LINE_MATCHES;
  }
  LocalFree(line);
  return match;
}

// Sets the attributes to normal and deletes the file. An absent file is passed over without
// a word; a failed deletion is reported and returns -1.
static int delete_oem_file(const char *path) {
  if (!BOUND(nt_kernel32_table, SetFileAttributesA)(path, FILE_ATTRIBUTE_NORMAL))
    return 0;
  if (!BOUND(nt_kernel32_table, DeleteFileA)(path)) {
    report_system_error(GetLastError(), caption_delete_file);
    return -1;
  }
  return 1;
}

void delete_matching_oem_infs(int model) {
  int count = 0;
  int failed = 0;
  for (unsigned number = 0; number < OEM_INF_COUNT; ++number) {
    char name[NAME_SIZE] = {};
    append_text(name, sizeof name, "OEM");
    append_number(name, sizeof name, number, 0);
    append_text(name, sizeof name, ".inf");
    // A bare name is looked up in the Windows INF folder.
    HINF inf = BOUND(nt_setupapi_table, SetupOpenInfFileA)(name, nullptr, INF_STYLE_WIN4, nullptr);
    if (inf == INVALID_HANDLE_VALUE)
      continue;
    line_match match = usbta_line_matches(model, inf);
    // Closed before the file itself is deleted.
    BOUND(nt_setupapi_table, SetupCloseInfFile)(inf);
    if (match == LINE_UNREADABLE)
      failed = 1;
    if (match != LINE_MATCHES)
      continue;
    char path[NAME_SIZE] = {};
    if (!read_windows_directory(nt_kernel32_table, path)) {
      set_nt_files_status(model, STATUS_FAILED);
      return;
    }
    if (!append_text(path, sizeof path, "\\inf\\") || !append_text(path, sizeof path, name))
      continue;
    // Then the PNF twin: the same path with "pnf" for its last three characters.
    for (int pass = 0; pass < 2; ++pass) {
      if (pass == 1) {
        char *end = path + bounded_length(path, sizeof path);
        end[-3] = 'p';
        end[-2] = 'n';
        end[-1] = 'f';
      }
      int result = delete_oem_file(path);
      if (result > 0)
        ++count;
      else if (result < 0)
        failed = 1;
    }
  }
  // A failure mark already in the flag (the Windows 98 file probe could not get its folders)
  // stays: a reported failure must not read as "nothing found".
  if (failed || get_nt_oem_inf_status(model) == STATUS_FAILED)
    set_nt_oem_inf_status(model, STATUS_FAILED);
  else
    set_nt_oem_inf_status(model, count > 0 ? STATUS_REMOVED : STATUS_NONE);
}
