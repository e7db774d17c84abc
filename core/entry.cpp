// The program's entry: the hand-off to the 64-bit edition under WOW64, platform detection, the
// command-line word, consent, the removal sequence of the platform family, and the closing
// completion box or restart prompt.
#include "core/entry.h"

#include "core/catalogue.h"
#include "core/cp932.h"
#include "core/error_report.h"
#include "core/removal.h"
#include "core/run_state.h"
#include "core/texts.h"
#include "platform/windows_api.h"

// The code of a character and the character after it, in a line of code page 932 (a
// double-byte character is one character, and its trail byte is never a quote or a blank) and
// in a line of UTF-16 (no unit of a surrogate pair is either).
static unsigned code_of(char c) {
  return static_cast<unsigned char>(c);
}
static unsigned code_of(wchar_t c) {
  return static_cast<unsigned>(c);
}
static const char *next_of(const char *p) {
  return cp932_next(p);
}
static const wchar_t *next_of(const wchar_t *p) {
  return p + 1;
}

// One rule for both kinds of command line: a quoted program name runs to the next quote,
// which is dropped too; an unquoted one up to the first character of code 0x20 or less. Then
// every character of code 0x01 to 0x20 is skipped.
template <typename Char> static const Char *tail_of(const Char *command_line) {
  const Char *p = command_line;
  if (*p == '"') {
    ++p;
    while (*p && *p != '"')
      p = next_of(p);
    if (*p == '"')
      ++p;
  } else {
    while (code_of(*p) > ' ')
      p = next_of(p);
  }
  while (*p && code_of(*p) <= ' ')
    ++p;
  return p;
}

const char *cut_command_tail(const char *command_line) {
  return tail_of(command_line);
}

const wchar_t *cut_wide_command_tail(const wchar_t *command_line) {
  return tail_of(command_line);
}

// The 64-bit edition's file, beside the 32-bit one.
static const wchar_t edition_64_file_name[] = L"QuendalUninstall64.exe";
// A command line holds at most 32,767 characters.
enum { COMMAND_LINE_CHARS = 32767 + 1 };

int runs_under_wow64() {
  // Looked up, not linked: Windows 98, Windows 2000 and XP before SP2 lack the function, and on
  // those no program runs under WOW64. kernel32 is loaded in every process: its handle from
  // GetModuleHandleA needs no release.
  HMODULE kernel32 = GetModuleHandleA("kernel32");
  FARPROC found = kernel32 ? GetProcAddress(kernel32, "IsWow64Process") : nullptr;
  if (!found)
    return 0;
  BOOL wow64 = FALSE;
  auto is_wow64_process =
      reinterpret_cast<decltype(&::IsWow64Process)>(reinterpret_cast<void (*)()>(found));
  if (!is_wow64_process(GetCurrentProcess(), &wow64)) {
    report_system_error(GetLastError(), caption_is_wow64_process);
    return -1;
  }
  return wow64 ? 1 : 0;
}

// Appends `source` to the terminated wide string in `target` (of `size` characters) only when
// the whole of it fits with its terminator, as append_text does for ANSI text.
static int append_wide(wchar_t *target, size_t size, const wchar_t *source) {
  size_t length = 0;
  while (length < size && target[length])
    ++length;
  size_t added = 0;
  while (source[added])
    ++added;
  if (length + added >= size)
    return 0;
  for (size_t i = 0; i <= added; ++i)
    target[length + i] = source[i];
  return 1;
}

// The 64-bit edition's path: this program's folder and the edition's file name. The hand-off
// runs on Windows NT only, which keeps paths in UTF-16, and reads and joins them so: an ANSI
// path would name another folder where a character of the folder has no code in the ANSI code
// page (it becomes '?'), or where its code is a lead byte of code page 932 (é is 0xE9 in code
// page 1252) and a code-page-932 walk would take the backslash after it for a trail byte.
// Returns 0 (reported) when this program's own path cannot be read whole.
static int edition_64_path(wchar_t *path, size_t size) {
  wchar_t own[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    // A path that fills the buffer was cut: Windows XP then leaves it unterminated and the
    // last error 0; later versions terminate it and set ERROR_INSUFFICIENT_BUFFER.
    report_system_error(length == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER,
                        caption_get_module_file_name);
    return 0;
  }
  size_t folder_length = 0;
  for (DWORD i = 0; i < length; ++i)
    if (own[i] == L'\\')
      folder_length = i + 1;
  own[folder_length] = L'\0';
  path[0] = L'\0';
  return append_wide(path, size, own) && append_wide(path, size, edition_64_file_name);
}

// Whether the edition's file is a 64-bit Windows program. Anything else under its name counts
// as absent: a renamed copy of this 32-bit program would hand the run to itself without end.
// A file that is not there, or is no program at all, is no failure to report either.
static int is_64_bit_program(const wchar_t *path) {
  DWORD type = 0;
  if (GetBinaryTypeW(path, &type))
    return type == SCS_64BIT_BINARY;
  DWORD error = GetLastError();
  if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND &&
      error != ERROR_BAD_EXE_FORMAT)
    report_system_error(error, caption_get_binary_type, object_subject(SUBJECT_PROGRAM, path));
  return 0;
}

int hand_off_to_64_bit_edition(int *exit_code) {
  wchar_t path[MAX_PATH + sizeof edition_64_file_name / sizeof *edition_64_file_name];
  if (!edition_64_path(path, sizeof path / sizeof *path) || !is_64_bit_program(path))
    return 0;
  // The quoted path, then a blank and the tail exactly as this program received it; the
  // child's own cut of its command line gives it back unchanged.
  const wchar_t *tail = cut_wide_command_tail(GetCommandLineW());
  wchar_t command_line[sizeof path / sizeof *path + 3 + COMMAND_LINE_CHARS];
  const size_t size = sizeof command_line / sizeof *command_line;
  command_line[0] = L'\0';
  append_wide(command_line, size, L"\"");
  append_wide(command_line, size, path);
  append_wide(command_line, size, L"\"");
  if (*tail && !(append_wide(command_line, size, L" ") && append_wide(command_line, size, tail))) {
    // Longer than any command line Windows passes: this tail cannot have come from one.
    report_system_error(ERROR_FILENAME_EXCED_RANGE, caption_create_process,
                        object_subject(SUBJECT_PROGRAM, path));
    return 0;
  }
  // The path is also passed as the module to start, so that no other program is searched for
  // under a part of it.
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child = {};
  if (!CreateProcessW(path, command_line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &child)) {
    // The edition gone since it was looked at is no failure to report: this Windows is then
    // simply one that the 32-bit edition alone cannot serve.
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
      report_system_error(error, caption_create_process, object_subject(SUBJECT_PROGRAM, path));
    return 0;
  }
  // The child shows every box of the run. Should the wait or the query fail, its result is
  // unknown: the run then ends with -1 and no box over the child's own.
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(child.hProcess, INFINITE) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(child.hProcess, &code))
    code = static_cast<DWORD>(-1);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  *exit_code = static_cast<int>(code);
  return 1;
}

int detect_platform() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version)) {
    report_system_error(GetLastError(), caption_get_version_ex);
    return 0;
  }
  // Windows 98 family: builds above 950 (Windows 95 is 950); only the low word is the build.
  if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
    if ((version.dwBuildNumber & 0xFFFF) <= 950)
      return 0;
    set_mode(MODE_WIN98);
    return 1;
  }
  // Windows 2000 family: NT 5 and later.
  if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
    if (version.dwMajorVersion <= 4)
      return 0;
    set_mode(MODE_NT);
    return 1;
  }
  return 0;
}

struct option_word {
  const char *word;
  int option_flag;
};
static const option_word nt_options[] = {
    {"", 0}, {"--default", 0}, {"-D", 0}, {"--complete", 1}, {"-C", 1},
};

int check_option(const char *command_tail) {
  if (get_mode() == MODE_WIN98)
    return cp932_compare(command_tail, "") == 0;
  if (get_mode() == MODE_NT) {
    for (const option_word &option : nt_options) {
      if (cp932_compare(command_tail, option.word) == 0) {
        set_option_flag(option.option_flag);
        return 1;
      }
    }
  }
  return 0;
}

int restart_needed() {
  // What Windows finishes only at the next restart needs that restart, in either removal.
  if (get_restart_pending())
    return 1;
  // Any nonzero flag counts, a failure mark included: something of the driver may be loaded.
  for (int model = 0; model < MODEL_COUNT; ++model) {
    if (get_mode() == MODE_WIN98 && get_win98_registry_status(model) != 0)
      return 1;
    if (get_mode() == MODE_NT && get_nt_service_status(model) != 0)
      return 1;
  }
  return 0;
}

void restart_windows() {
  // Results are not examined: on Windows 98 the token functions are stubs that fail, and a
  // reboot that Windows refuses leaves nothing for the user to do differently.
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token);
  TOKEN_PRIVILEGES privileges = {};
  LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid);
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  ExitWindowsEx(EWX_REBOOT, 0);
}

static int show(const char *text, UINT type) {
  return MessageBoxA(nullptr, text, text_program_caption, type);
}

int uninstaller_main(const char *command_tail) {
  // Under WOW64 the 32-bit edition cannot do the work: its system32 is redirected to SysWOW64
  // and SetupDiCallClassInstaller fails with ERROR_IN_WOW64 for a 32-bit caller. As Windows
  // asks of device-installation programs, it starts the 64-bit edition and lets that run.
  if (program_edition() == EDITION_32_BIT) {
    int wow64 = runs_under_wow64();
    int exit_code = -1;
    if (wow64 == 1 && hand_off_to_64_bit_edition(&exit_code))
      return exit_code;
    if (wow64 != 0) {
      show(text_unsupported_platform, MB_ICONERROR);
      return -1;
    }
  }
  if (!detect_platform()) {
    show(text_unsupported_platform, MB_ICONERROR);
    return -1;
  }
  if (!check_option(command_tail)) {
    show(text_invalid_option, MB_ICONERROR);
    return -1;
  }
  if (show(text_consent, MB_OKCANCEL | MB_ICONWARNING) != IDOK)
    return 0;
  if (get_mode() == MODE_WIN98)
    run_win98_removal();
  else
    run_nt_removal(get_option_flag());
  if (!restart_needed()) {
    show(text_completed, MB_OK);
    return 0;
  }
  if (show(text_restart_prompt, MB_OKCANCEL | MB_ICONWARNING) == IDOK)
    restart_windows();
  return 0;
}
