// The OEM INF copies of the model. Windows keeps a copy of every third-party INF in its INF
// folder as OEM<n>.inf with a precompiled OEM<n>.pnf beside it; a copy belongs to the model
// when its "USBTA" line names the model's hardware id. Every such copy goes, with its PNF.
#include "core/account.h"
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

// The INF and then its PNF twin, as full paths in the Windows INF folder; a path is left empty
// when there is none (a name shorter than three characters has no twin) or it would not fit.
// `name` becomes the PNF's name on the way.
static void pair_paths(char *name, const char *windows, char paths[2][NAME_SIZE]) {
  paths[0][0] = 0;
  paths[1][0] = 0;
  join_path(paths[0], NAME_SIZE, windows, "\\inf\\", name);
  if (set_pnf_extension(name, NAME_SIZE))
    join_path(paths[1], NAME_SIZE, windows, "\\inf\\", name);
}

// Whether a file of the pair is there before SetupUninstallOEMInfA runs: the probe step,
// without a report. One whose attributes cannot be set is there all the same.
static int file_there(const char *path) {
  file_outcome outcome;
  return probe_listed_file(nt_kernel32_table, path, SILENT_ANY_FAILURE_TOLD, &outcome) ||
         outcome == ATTRIBUTES_PASSED;
}

// Uninstalls the copy the way Windows XP and later do it themselves: the INF with its PNF and,
// from Vista on, the driver package it was published from, which would otherwise install the
// driver again the next time the adapter is plugged in. Never forced (SUOI_FORCEDELETE): a
// package that another device still uses must stay. 0 when Windows refused for that reason:
// that device was not removed, because the user keeps its model or because a later model's
// steps have yet to remove it (and then uninstall the copy), so this is no failure and is not
// reported. Every other failure is reported, and the caller then deletes the pair itself. An
// absent copy, or a name that is no OEM INF Windows installed, leaves the function nothing to do.
static int uninstall_oem_inf(const char *name) {
  if (BOUND(nt_setupapi_table, SetupUninstallOEMInfA)(name, 0, nullptr))
    return 1;
  DWORD error = GetLastError();
  if (error == ERROR_INF_IN_USE_BY_DEVICES)
    return 0;
  if (error != ERROR_FILE_NOT_FOUND && error != ERROR_NOT_AN_INSTALLED_OEM_INF)
    report_system_error(error, caption_setup_uninstall_oem_inf, named_subject(SUBJECT_INF, name));
  return 1;
}

int delete_oem_inf_pair(char *name, file_silence silence, oem_inf_pair_outcome *outcome) {
  char windows[NAME_SIZE];
  if (!read_windows_directory(nt_kernel32_table, windows))
    return 0;
  *outcome = oem_inf_pair_outcome{0, 0, 0};
  char inf_name[NAME_SIZE];
  cp932_copy(inf_name, sizeof inf_name, name);
  char paths[2][NAME_SIZE];
  pair_paths(name, windows, paths);
  // A file the uninstall took away counts as deleted when it was there before the call.
  int there[2] = {0, 0};
  if (BOUND_PRESENT(nt_setupapi_table, SetupUninstallOEMInfA)) {
    for (int i = 0; i < 2; ++i)
      there[i] = paths[i][0] != 0 && file_there(paths[i]);
    if (!uninstall_oem_inf(inf_name)) {
      for (int i = 0; i < 2; ++i)
        if (there[i])
          mark_kept(named_subject(SUBJECT_FILE, paths[i]), KEPT_IN_USE_BY_DEVICE);
      outcome->in_use = 1;
      return 1;
    }
    // Wine's implementation reports success and deletes nothing unless forced: whatever is
    // still there is deleted as on Windows 2000, and must be told from what is absent.
    if (silence == SILENT_ANY_FAILURE)
      silence = SILENT_ANY_FAILURE_TOLD;
  }
  for (int i = 0; i < 2; ++i) {
    if (paths[i][0] == 0)
      continue;
    file_outcome result = delete_listed_file(nt_kernel32_table, paths[i], silence);
    if (result == FILE_DELETED || (result == FILE_ABSENT && there[i]))
      ++outcome->removed;
    else if (result == DELETE_FAILED)
      outcome->delete_failed = 1;
  }
  return 1;
}

void delete_matching_oem_infs(int model) {
  mark_step(model, STEP_OEM_INF_COPIES);
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
    oem_inf_pair_outcome pair;
    if (!delete_oem_inf_pair(name, SILENT_ANY_FAILURE, &pair)) {
      set_nt_files_status(model, STATUS_FAILED);
      return;
    }
    count += pair.removed;
    if (pair.delete_failed)
      failed = 1;
  }
  // Every copy found counts whole, so there is no partial mark. A failure mark already in the
  // flag (the Windows 98 file probe could not get its folders) stays: a reported failure must
  // not read as "nothing found".
  failed = failed || get_nt_oem_inf_status(model) == STATUS_FAILED;
  set_nt_oem_inf_status(model, files_outcome(failed, count, count));
}
