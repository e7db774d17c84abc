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

const char *cut_command_tail(const char *command_line) {
  const char *p = command_line;
  if (*p == '"') {
    // A quoted program name runs to the next quote; a trail byte is never taken for one.
    ++p;
    while (*p && *p != '"')
      p = cp932_next(p);
    if (*p == '"')
      ++p;
  } else {
    while (static_cast<unsigned char>(*p) > ' ')
      p = cp932_next(p);
  }
  while (*p && static_cast<unsigned char>(*p) <= ' ')
    ++p;
  return p;
}

// The 64-bit edition's file, beside the 32-bit one.
static const char edition_64_file_name[] = "QuendalUninstall64.exe";
// A command line holds at most 32,767 characters; in code page 932 each may take two bytes.
enum { COMMAND_LINE_BYTES = 2 * 32767 + 1 };

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

// The 64-bit edition's path: this program's folder and the edition's file name. Returns 0
// (reported) when this program's own path cannot be read whole.
static int edition_64_path(char *path, size_t size) {
  char own[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, own, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    // A path that fills the buffer was cut: Windows XP then leaves it unterminated and the
    // last error 0; later versions terminate it and set ERROR_INSUFFICIENT_BUFFER.
    report_system_error(length == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER,
                        caption_get_module_file_name);
    return 0;
  }
  // The folder ends at the last backslash; the trail byte 0x5C of a double-byte character
  // (as in ソ, 0x83 0x5C) is none.
  size_t folder_length = 0;
  for (const char *p = own; *p; p = cp932_next(p))
    if (*p == '\\')
      folder_length = static_cast<size_t>(p + 1 - own);
  own[folder_length] = '\0';
  cp932_copy(path, size, own);
  return append_text(path, size, edition_64_file_name);
}

int hand_off_to_64_bit_edition(const char *command_tail, int *exit_code) {
  char path[MAX_PATH + sizeof edition_64_file_name];
  if (!edition_64_path(path, sizeof path))
    return 0;
  // The quoted path, then a blank and the tail exactly as this program received it; the
  // child's own cut of its command line gives it back unchanged.
  char command_line[sizeof path + 3 + COMMAND_LINE_BYTES];
  command_line[0] = '\0';
  append_text(command_line, sizeof command_line, "\"");
  append_text(command_line, sizeof command_line, path);
  append_text(command_line, sizeof command_line, "\"");
  if (*command_tail && !(append_text(command_line, sizeof command_line, " ") &&
                         append_text(command_line, sizeof command_line, command_tail))) {
    // Longer than any command line Windows passes: this tail cannot have come from one.
    report_system_error(ERROR_FILENAME_EXCED_RANGE, caption_create_process);
    return 0;
  }
  // The path is also passed as the module to start, so that no other program is searched for
  // under a part of it.
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child = {};
  if (!CreateProcessA(path, command_line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &child)) {
    // The edition not beside this one is no failure to report: this Windows is then simply
    // one that the 32-bit edition alone cannot serve.
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
      report_system_error(error, caption_create_process);
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
    if (wow64 == 1 && hand_off_to_64_bit_edition(command_tail, &exit_code))
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
