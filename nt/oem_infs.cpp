// The OEM INF copies of the model. Windows keeps a copy of every third-party INF in its INF
// folder as OEM<n>.inf with a precompiled OEM<n>.pnf beside it; a copy belongs to the model
// when its "USBTA" line names the model's hardware id. Every such copy goes, with its PNF.
#include "core/binding.h"
#include "core/catalogue.h"
#include "core/cp932.h"
#include "core/error_report.h"
#include "core/file_calls.h"
#include "core/file_kind.h"
#include "core/run_state.h"
#include "core/texts.h"
#include "nt/nt_steps.h"

static const char usbta_section[] = "USBTA";
static const char usbta_key[] = "QUENDALQ40 PRO USBPort Adapter";

enum { OEM_INF_COUNT = 100 }; // OEM0.inf .. OEM99.inf

enum line_match { LINE_OTHER, LINE_MATCHES, LINE_UNREADABLE };

// The result is not looked at; see below.
static void get_usbta_line(HINF inf, char *buffer, DWORD size, DWORD *required) {
  auto get_line_text = BOUND(nt_setupapi_table, SetupGetLineTextA);
  get_line_text(nullptr, inf, usbta_section, usbta_key, buffer, size, required);
}

// Reads the INF's "USBTA" line and asks whether it names the model. SetupGetLineTextA is
// judged by the last error alone: setupapi sets it to NO_ERROR on success, the size query
// without a buffer included.
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
  get_usbta_line(inf, line, allocated, &required);
  // The line is compared only when it ends inside its buffer.
  line_match match = LINE_OTHER;
  if (GetLastError() == ERROR_SUCCESS && bounded_length(line, allocated) < allocated &&
      usbta_line_names_model(model, line))
    match = LINE_MATCHES;
  LocalFree(line);
  return match;
}

int delete_oem_inf_pair(char *name, file_silence silence, int *failed) {
  char windows[NAME_SIZE];
  if (!read_windows_directory(nt_kernel32_table, windows))
    return -1;
  int count = 0;
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1 && !set_pnf_extension(name, NAME_SIZE))
      break;
    char path[NAME_SIZE];
    if (!join_path(path, sizeof path, windows, "\\inf\\", name))
      continue;
    file_outcome outcome = delete_listed_file(nt_kernel32_table, path, silence);
    if (outcome == FILE_DELETED)
      ++count;
    else if (outcome == DELETE_FAILED)
      *failed = 1;
  }
  return count;
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
    // A copy or PNF whose attributes cannot be set is left without a word.
    int deleted = delete_oem_inf_pair(name, SILENT_ANY_FAILURE, &failed);
    if (deleted < 0) {
      set_nt_files_status(model, STATUS_FAILED);
      return;
    }
    count += deleted;
  }
  // Every copy found counts whole, so there is no partial mark. A failure mark already in the
  // flag (the Windows 98 file probe could not get its folders) stays: a reported failure must
  // not read as "nothing found".
  failed = failed || get_nt_oem_inf_status(model) == STATUS_FAILED;
  set_nt_oem_inf_status(model, files_outcome(failed, count, count));
}
