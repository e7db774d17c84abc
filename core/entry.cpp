// The program's entry: platform detection, the command-line word, consent, the removal
// sequence of the platform family, and the closing completion box or restart prompt.
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
