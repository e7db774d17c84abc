// The OEM INF copies of the model. Windows keeps a copy of every third-party INF in its INF
// folder as oem<n>.inf with a precompiled oem<n>.pnf beside it; the numbers grow with every
// driver installed and pass 100 on many machines from Vista on. A copy belongs to the model
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
    if (result == FILE_DELETED || result == FILE_DELETED_AT_RESTART ||
        (result == FILE_ABSENT && there[i]))
      ++outcome->removed;
    else if (result == DELETE_FAILED)
      outcome->delete_failed = 1;
  }
  return 1;
}

// A name Windows gives its copies: "oem", decimal digits and ".inf", in any letter case.
// Anything else the folder search finds (oem.inf, oemsetup.inf, oem12.inf.bak, which the
// pattern matches through its short name OEM12~1.INF) is not looked at.
static int is_oem_inf_name(const char *name) {
  static const char prefix[] = "oem";
  for (int i = 0; prefix[i]; ++i)
    if (cp932_lower_char(static_cast<unsigned char>(name[i])) != static_cast<unsigned>(prefix[i]))
      return 0;
  const char *p = name + 3;
  if (*p < '0' || *p > '9')
    return 0;
  while (*p >= '0' && *p <= '9')
    ++p;
  return cp932_compare_nocase(p, ".inf") == 0;
}

// The digits of a copy's number without leading zeros (one zero for the number 0).
static const char *significant_digits(const char *name, size_t *length) {
  const char *digits = name + 3;
  size_t count = 0;
  while (digits[count] >= '0' && digits[count] <= '9')
    ++count;
  while (count > 1 && *digits == '0') {
    ++digits;
    --count;
  }
  *length = count;
  return digits;
}

// The order of two copies: by number, however many digits it has, then by name.
static int compare_oem_inf_names(const char *a, const char *b) {
  size_t length_a, length_b;
  const char *digits_a = significant_digits(a, &length_a);
  const char *digits_b = significant_digits(b, &length_b);
  if (length_a != length_b)
    return length_a < length_b ? -1 : 1;
  int digits = cp932_compare_bytes(digits_a, digits_b, length_a);
  return digits != 0 ? digits : cp932_compare(a, b);
}

// The folder search returns names in the file system's order, not by number. The copies are
// taken in batches, each the lowest-numbered ones after the previous batch, so that any number
// of them is examined in ascending order with a fixed buffer.
enum { OEM_INF_BATCH = 32 };
struct oem_inf_batch {
  char names[OEM_INF_BATCH][NAME_SIZE];
  int count;
  int more; // further copies were found than the batch holds
};

static void take_into_batch(oem_inf_batch *batch, const char *name) {
  int position = batch->count;
  while (position > 0 && compare_oem_inf_names(name, batch->names[position - 1]) < 0)
    --position;
  if (batch->count == OEM_INF_BATCH)
    batch->more = 1; // the highest of the batch, or this name, waits for the next batch
  if (position == OEM_INF_BATCH)
    return;
  if (batch->count < OEM_INF_BATCH)
    ++batch->count;
  for (int i = batch->count - 1; i > position; --i)
    cp932_copy(batch->names[i], NAME_SIZE, batch->names[i - 1]);
  cp932_copy(batch->names[position], NAME_SIZE, name);
}

// Searches the INF folder (`pattern`: its path and oem*.inf) for the copies numbered after
// `after` ("": all). No copy at all is no failure; any other failure of the search is reported
// under the function's caption, and then 0.
static int read_oem_inf_batch(const char *pattern, const char *after, oem_inf_batch *batch) {
  batch->count = 0;
  batch->more = 0;
  WIN32_FIND_DATAA found;
  HANDLE search = BOUND(nt_kernel32_table, FindFirstFileA)(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND)
      return 1;
    report_system_error(error, caption_find_first_file, named_subject(SUBJECT_FILE, pattern));
    return 0;
  }
  do {
    found.cFileName[sizeof found.cFileName - 1] = 0;
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && is_oem_inf_name(found.cFileName) &&
        (after[0] == 0 || compare_oem_inf_names(found.cFileName, after) > 0))
      take_into_batch(batch, found.cFileName);
  } while (BOUND(nt_kernel32_table, FindNextFileA)(search, &found));
  DWORD error = GetLastError();
  BOUND(nt_kernel32_table, FindClose)(search);
  if (error == ERROR_NO_MORE_FILES)
    return 1;
  report_system_error(error, caption_find_next_file, named_subject(SUBJECT_FILE, pattern));
  return 0;
}

// What examining one copy came to.
struct oem_inf_scan {
  int count;  // files deleted
  int failed; // a failure was reported
};

// Opens the copy, reads its USBTA line and, when the line names the model, deletes the copy
// with its PNF. 0 when the Windows directory could not be read for that (reported).
static int examine_oem_inf(int model, const char *found_name, oem_inf_scan *scan) {
  char name[NAME_SIZE];
  cp932_copy(name, sizeof name, found_name);
  // A bare name is looked up in the Windows INF folder.
  HINF inf = BOUND(nt_setupapi_table, SetupOpenInfFileA)(name, nullptr, INF_STYLE_WIN4, nullptr);
  if (inf == INVALID_HANDLE_VALUE)
    return 1;
  line_match match = usbta_line_matches(model, inf);
  // Closed before the file itself is deleted.
  BOUND(nt_setupapi_table, SetupCloseInfFile)(inf);
  if (match == LINE_UNREADABLE)
    scan->failed = 1;
  if (match != LINE_MATCHES)
    return 1;
  // A copy or PNF whose attributes cannot be set is left without a word.
  oem_inf_pair_outcome pair;
  if (!delete_oem_inf_pair(name, SILENT_ANY_FAILURE, &pair))
    return 0;
  scan->count += pair.removed;
  if (pair.delete_failed)
    scan->failed = 1;
  return 1;
}

// The search pattern of the copies: the Windows INF folder's oem*.inf. 0 when the Windows
// directory cannot be read or the pattern would not fit (both reported).
static int oem_inf_pattern(char *pattern) {
  char windows[NAME_SIZE];
  if (!read_windows_directory(nt_kernel32_table, windows))
    return 0;
  if (join_path(pattern, NAME_SIZE, windows, "\\inf\\", "oem*.inf"))
    return 1;
  report_system_error(ERROR_FILENAME_EXCED_RANGE, caption_find_first_file,
                      named_subject(SUBJECT_FILE, windows));
  return 0;
}

void delete_matching_oem_infs(int model) {
  mark_step(model, STEP_OEM_INF_COPIES);
  // A folder that cannot be searched, like a Windows directory that cannot be read, ends the
  // step with the failure mark in flag 4; flag 5 is not written.
  char pattern[NAME_SIZE];
  if (!oem_inf_pattern(pattern)) {
    set_nt_files_status(model, STATUS_FAILED);
    return;
  }
  oem_inf_scan scan = {0, 0};
  char after[NAME_SIZE] = "";
  oem_inf_batch batch;
  do {
    if (!read_oem_inf_batch(pattern, after, &batch)) {
      set_nt_files_status(model, STATUS_FAILED);
      return;
    }
    for (int i = 0; i < batch.count; ++i) {
      if (!examine_oem_inf(model, batch.names[i], &scan)) {
        set_nt_files_status(model, STATUS_FAILED);
        return;
      }
    }
    if (batch.count > 0)
      cp932_copy(after, sizeof after, batch.names[batch.count - 1]);
  } while (batch.more);
  // Every copy found counts whole, so there is no partial mark. A failure mark already in the
  // flag (the Windows 98 file probe could not get its folders) stays: a reported failure must
  // not read as "nothing found".
  int failed = scan.failed || get_nt_oem_inf_status(model) == STATUS_FAILED;
  set_nt_oem_inf_status(model, files_outcome(failed, scan.count, scan.count));
}
