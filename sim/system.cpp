// Modules and their exports, system message texts, platform version, the thread's last
// error, local memory, token privileges and restart (recorded only), and message boxes.
#include "sim/state.h"

#include <cstdlib>
#include <cstring>

namespace sim {
namespace detail {

static const DWORD kErrorCallNotImplemented = 120;
static const DWORD kErrorNoSuchPrivilege = 1313;

template <class F> static FARPROC proc(F f) {
  // Through void(*)(), the generic function pointer type, to keep -Wcast-function-type quiet.
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(f));
}

struct export_entry {
  const char *module;
  const char *name;
  FARPROC address;
  // The first version (major << 8 | minor) whose module has it; 0: every version.
  DWORD since = 0;
};

// The exports of each module: the functions of host_windows.h that Windows puts in it.
static const std::vector<export_entry> &export_table() {
  static const std::vector<export_entry> table = {
      {"user32", "MessageBoxA", proc(&MessageBoxA)},
      {"user32", "ExitWindowsEx", proc(&ExitWindowsEx)},
      {"kernel32", "GetVersionExA", proc(&GetVersionExA)},
      {"kernel32", "GetCurrentProcess", proc(&GetCurrentProcess)},
      {"kernel32", "GetLastError", proc(&GetLastError)},
      {"kernel32", "SetLastError", proc(&SetLastError)},
      {"kernel32", "FormatMessageA", proc(&FormatMessageA)},
      {"kernel32", "LocalAlloc", proc(&LocalAlloc)},
      {"kernel32", "LocalFree", proc(&LocalFree)},
      {"kernel32", "lstrlenA", proc(&lstrlenA)},
      {"kernel32", "LoadLibraryA", proc(&LoadLibraryA)},
      {"kernel32", "GetProcAddress", proc(&GetProcAddress)},
      {"kernel32", "FreeLibrary", proc(&FreeLibrary)},
      {"kernel32", "GetWindowsDirectoryA", proc(&GetWindowsDirectoryA)},
      {"kernel32", "GetSystemDirectoryA", proc(&GetSystemDirectoryA)},
      {"kernel32", "SetFileAttributesA", proc(&SetFileAttributesA)},
      {"kernel32", "DeleteFileA", proc(&DeleteFileA)},
      {"kernel32", "MoveFileExA", proc(&MoveFileExA)},
      {"kernel32", "FindFirstFileA", proc(&FindFirstFileA)},
      {"kernel32", "FindNextFileA", proc(&FindNextFileA)},
      {"kernel32", "FindClose", proc(&FindClose)},
      {"kernel32", "GetModuleHandleA", proc(&GetModuleHandleA)},
      {"kernel32", "GetModuleFileNameW", proc(&GetModuleFileNameW)},
      {"kernel32", "GetCommandLineW", proc(&GetCommandLineW)},
      {"kernel32", "GetBinaryTypeW", proc(&GetBinaryTypeW)},
      {"kernel32", "CreateProcessW", proc(&CreateProcessW)},
      {"kernel32", "WaitForSingleObject", proc(&WaitForSingleObject)},
      {"kernel32", "GetExitCodeProcess", proc(&GetExitCodeProcess)},
      {"kernel32", "CloseHandle", proc(&CloseHandle)},
      {"kernel32", "IsWow64Process", proc(&IsWow64Process)},
      {"advapi32", "OpenProcessToken", proc(&OpenProcessToken)},
      {"advapi32", "LookupPrivilegeValueA", proc(&LookupPrivilegeValueA)},
      {"advapi32", "AdjustTokenPrivileges", proc(&AdjustTokenPrivileges)},
      {"advapi32", "RegOpenKeyExA", proc(&RegOpenKeyExA)},
      {"advapi32", "RegCloseKey", proc(&RegCloseKey)},
      {"advapi32", "RegEnumKeyExA", proc(&RegEnumKeyExA)},
      {"advapi32", "RegDeleteKeyA", proc(&RegDeleteKeyA)},
      {"advapi32", "RegEnumValueA", proc(&RegEnumValueA)},
      {"advapi32", "RegDeleteValueA", proc(&RegDeleteValueA)},
      {"advapi32", "RegFlushKey", proc(&RegFlushKey)},
      {"setupapi", "SetupDiGetClassDevsA", proc(&SetupDiGetClassDevsA)},
      {"setupapi", "SetupDiEnumDeviceInfo", proc(&SetupDiEnumDeviceInfo)},
      {"setupapi", "SetupDiGetDeviceRegistryPropertyA", proc(&SetupDiGetDeviceRegistryPropertyA)},
      {"setupapi", "SetupDiCallClassInstaller", proc(&SetupDiCallClassInstaller)},
      {"setupapi", "SetupDiDestroyDeviceInfoList", proc(&SetupDiDestroyDeviceInfoList)},
      {"setupapi", "SetupDiGetDeviceInstallParamsA", proc(&SetupDiGetDeviceInstallParamsA)},
      {"setupapi", "SetupOpenInfFileA", proc(&SetupOpenInfFileA)},
      {"setupapi", "SetupGetLineTextA", proc(&SetupGetLineTextA)},
      {"setupapi", "SetupCloseInfFile", proc(&SetupCloseInfFile)},
      // Windows XP and later, as its reference page's requirements say.
      {"setupapi", "SetupUninstallOEMInfA", proc(&SetupUninstallOEMInfA), 0x0501},
  };
  return table;
}

struct module_entry {
  const char *name;
  uintptr_t base; // the module handle, as the module's load address on Windows
};

static const module_entry kModules[] = {
    {"kernel32", 0x77E60000},
    {"advapi32", 0x77DA0000},
    {"setupapi", 0x76670000},
    {"user32", 0x77D40000},
};

// "SetupAPI.DLL", "c:\windows\system32\setupapi.dll", "setupapi" -> "setupapi".
static std::string module_key(const std::string &name) {
  std::string n = name;
  size_t slash = n.find_last_of("\\/");
  if (slash != std::string::npos)
    n = n.substr(slash + 1);
  n = lower(n);
  if (n.size() > 4 && n.compare(n.size() - 4, 4, ".dll") == 0)
    n.resize(n.size() - 4);
  else if (!n.empty() && n.back() == '.')
    n.pop_back(); // a trailing dot means "no extension"
  return n;
}

static const module_entry *module_by_name(const std::string &key) {
  for (const module_entry &e : kModules)
    if (key == e.name)
      return &e;
  return nullptr;
}

static const module_entry *module_by_handle(HMODULE h) {
  for (const module_entry &e : kModules)
    if (reinterpret_cast<uintptr_t>(h) == e.base)
      return &e;
  return nullptr;
}

// The modules the program links to are loaded with the process and stay loaded to its end.
static bool linked_module(const std::string &key) {
  return key == "kernel32" || key == "user32" || key == "advapi32";
}

std::string module_handle_name(HMODULE h) {
  const module_entry *e = module_by_handle(h);
  if (!e)
    return std::string();
  auto it = m().module_refs.find(e->name);
  bool loaded = linked_module(e->name) || (it != m().module_refs.end() && it->second > 0);
  return loaded ? e->name : std::string();
}

static int default_user(const box &) {
  ++m().unscripted;
  return IDCANCEL;
}

void system_reset() {
  machine &mm = m();
  mm.module_refs.clear();
  mm.modules_removed.clear();
  mm.exports_removed.clear();
  mm.messages = {
      {0, "The operation completed successfully.\r\n"},
      {2, "The system cannot find the file specified.\r\n"},
      {3, "The system cannot find the path specified.\r\n"},
      {5, "Access is denied.\r\n"},
      {6, "The handle is invalid.\r\n"},
      {8, "Not enough storage is available to process this command.\r\n"},
      {13, "The data is invalid.\r\n"},
      {14, "Not enough storage is available to complete this operation.\r\n"},
      {18, "There are no more files.\r\n"},
      {32, "The process cannot access the file because it is being used by another "
           "process.\r\n"},
      {87, "The parameter is incorrect.\r\n"},
      {120, "This function is not supported on this system.\r\n"},
      {122, "The data area passed to a system call is too small.\r\n"},
      {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
      {126, "The specified module could not be found.\r\n"},
      {127, "The specified procedure could not be found.\r\n"},
      {161, "The specified path is invalid.\r\n"},
      {193, "%1 is not a valid Win32 application.\r\n"},
      {234, "More data is available.\r\n"},
      {259, "No more data is available.\r\n"},
      {1018, "Illegal operation attempted on a registry key that has been marked for "
             "deletion.\r\n"},
      {1784, "The supplied user buffer is not valid for the requested operation.\r\n"},
      {ERROR_NOT_AN_INSTALLED_OEM_INF, "The specified file is not an installed OEM INF.\r\n"},
      {ERROR_INF_IN_USE_BY_DEVICES,
       "One or more devices are presently installed using the specified INF.\r\n"},
  };
  mm.answers.clear();
  mm.boxes.clear();
  mm.user = default_user;
  mm.unscripted = 0;
  mm.restart = restart_record();
  mm.tokens.clear();
}

void *local_alloc(size_t bytes, bool zero) {
  void *p = std::malloc(bytes ? bytes : 1);
  if (!p)
    return nullptr;
  // Windows does not clear memory unless asked; a pattern shows reliance on that.
  std::memset(p, zero ? 0 : 0xBE, bytes ? bytes : 1);
  m().blocks[p] = bytes;
  return p;
}

static BOOL fail_with(DWORD error) {
  m().last_error = error;
  return FALSE;
}

} // namespace detail

using namespace detail;

// ---- Test-facing helpers ----------------------------------------------------------------

void module_remove(const std::string &module) {
  m().modules_removed.insert(module_key(module));
}

void export_remove(const std::string &module, const std::string &function) {
  m().exports_removed.insert(module_key(module) + "!" + function);
}

void set_message_text(DWORD code, const std::string &text) {
  m().messages[code] = text;
}
void remove_message_text(DWORD code) {
  m().messages.erase(code);
}
std::string message_text(DWORD code) {
  auto it = m().messages.find(code);
  return it == m().messages.end() ? std::string() : it->second;
}

void answer(int id) {
  m().answers.push_back(id);
}
void answers(const std::vector<int> &ids) {
  for (int id : ids)
    m().answers.push_back(id);
}
const std::vector<box> &boxes() {
  return m().boxes;
}
void set_user(std::function<int(const box &)> user) {
  m().user = user ? std::move(user) : std::function<int(const box &)>(default_user);
}
int unscripted_boxes() {
  return m().unscripted;
}

const restart_record &restart() {
  return m().restart;
}
LUID shutdown_privilege_luid() {
  return LUID{19, 0};
} // SE_SHUTDOWN_PRIVILEGE

} // namespace sim

using namespace sim::detail;

// ---- user32 -----------------------------------------------------------------------------

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
  // Windows shows "Error" when no caption is given.
  std::string caption = lpCaption ? std::string(lpCaption) : std::string("Error");
  DWORD err = enter("MessageBoxA", caption);
  if (err) {
    m().last_error = err;
    return 0;
  }
  sim::box b{str(lpText), caption, uType, hWnd != nullptr, 0};
  int id;
  if (!m().answers.empty()) {
    id = m().answers.front();
    m().answers.pop_front();
  } else {
    std::function<int(const sim::box &)> user = m().user; // may replace itself
    id = user(b);
  }
  b.answer = id;
  m().boxes.push_back(b);
  return id;
}

BOOL WINAPI ExitWindowsEx(UINT uFlags, DWORD dwReason) {
  DWORD err = enter("ExitWindowsEx", std::string());
  sim::restart_record &r = m().restart;
  ++r.exit_windows_calls;
  r.exit_flags = uFlags;
  r.exit_reason = dwReason;
  if (err)
    return fail_with(err);
  return TRUE; // recorded, never acted on
}

// ---- kernel32 ---------------------------------------------------------------------------

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
  DWORD err = enter("GetVersionExA", std::string());
  if (err)
    return fail_with(err);
  if (!lpVersionInformation)
    return fail_with(ERROR_INVALID_PARAMETER);
  const DWORD ex_size = sizeof(OSVERSIONINFOA) + 8; // OSVERSIONINFOEXA
  DWORD size = lpVersionInformation->dwOSVersionInfoSize;
  bool ex_known = m().platform == VER_PLATFORM_WIN32_NT && m().major >= 5;
  if (size != sizeof(OSVERSIONINFOA) && !(size == ex_size && ex_known))
    return fail_with(ERROR_INSUFFICIENT_BUFFER);
  lpVersionInformation->dwMajorVersion = m().major;
  lpVersionInformation->dwMinorVersion = m().minor;
  lpVersionInformation->dwBuildNumber = m().build;
  lpVersionInformation->dwPlatformId = m().platform;
  std::memset(lpVersionInformation->szCSDVersion, 0, sizeof lpVersionInformation->szCSDVersion);
  std::strncpy(lpVersionInformation->szCSDVersion, m().csd.c_str(),
               sizeof lpVersionInformation->szCSDVersion - 1);
  if (size == ex_size) {
    // wServicePackMajor, wServicePackMinor, wSuiteMask, wProductType, wReserved.
    BYTE extra[8] = {0, 0, 0, 0, 0, 0, 1 /*VER_NT_WORKSTATION*/, 0};
    std::memcpy(reinterpret_cast<BYTE *>(lpVersionInformation) + sizeof(OSVERSIONINFOA), extra,
                sizeof extra);
  }
  return TRUE;
}

HANDLE WINAPI GetCurrentProcess(void) {
  enter("GetCurrentProcess", std::string()); // cannot fail
  return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
}

DWORD WINAPI GetLastError(void) {
  enter("GetLastError", std::string()); // cannot fail
  return m().last_error;
}

void WINAPI SetLastError(DWORD dwErrCode) {
  enter("SetLastError", std::to_string(dwErrCode)); // cannot fail
  m().last_error = dwErrCode;
}

DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                            LPSTR lpBuffer, DWORD nSize, va_list *Arguments) {
  (void)lpSource;
  (void)dwLanguageId;
  DWORD err = enter("FormatMessageA", std::to_string(dwMessageId));
  if (err) {
    m().last_error = err;
    return 0;
  }
  if (!(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) || !lpBuffer) {
    m().last_error = ERROR_INVALID_PARAMETER;
    return 0;
  }
  auto it = m().messages.find(dwMessageId);
  if (it == m().messages.end()) {
    m().last_error = ERROR_MR_MID_NOT_FOUND; // the buffer (pointer) is left untouched
    return 0;
  }
  const std::string &text = it->second;
  // A text with an insert (%1 to %99) and no arguments to fill it in: Windows fails the call
  // unless the inserts are to be left as written.
  if (!(dwFlags & FORMAT_MESSAGE_IGNORE_INSERTS) && !Arguments) {
    for (size_t i = 0; i + 1 < text.size(); ++i)
      if (text[i] == '%' && text[i + 1] >= '1' && text[i + 1] <= '9') {
        m().last_error = ERROR_INVALID_PARAMETER;
        return 0;
      }
  }
  DWORD len = static_cast<DWORD>(text.size());
  if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    size_t bytes = len + 1 > nSize ? len + 1 : nSize; // nSize is the minimum to allocate
    char *p = static_cast<char *>(local_alloc(bytes, true));
    if (!p) {
      m().last_error = ERROR_NOT_ENOUGH_MEMORY;
      return 0;
    }
    std::memcpy(p, text.c_str(), len + 1);
    *reinterpret_cast<LPSTR *>(lpBuffer) = p;
    return len;
  }
  if (nSize < len + 1) {
    m().last_error = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  std::memcpy(lpBuffer, text.c_str(), len + 1);
  return len;
}

HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
  DWORD err = enter("LocalAlloc", std::string());
  if (err) {
    m().last_error = err;
    return nullptr;
  }
  if (uBytes > 0x7FFFFFFF) {
    m().last_error = ERROR_NOT_ENOUGH_MEMORY;
    return nullptr;
  }
  void *p = local_alloc(uBytes, (uFlags & LMEM_ZEROINIT) != 0);
  if (!p)
    m().last_error = ERROR_NOT_ENOUGH_MEMORY;
  return p;
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
  DWORD err = enter("LocalFree", std::string());
  if (err) {
    m().last_error = err;
    return hMem;
  }
  if (!hMem)
    return nullptr;
  auto it = m().blocks.find(hMem);
  if (it == m().blocks.end()) {
    m().last_error = ERROR_INVALID_HANDLE;
    return hMem;
  }
  std::free(hMem);
  m().blocks.erase(it);
  return nullptr;
}

int WINAPI lstrlenA(LPCSTR lpString) {
  enter("lstrlenA", std::string()); // cannot fail
  return lpString ? static_cast<int>(std::strlen(lpString)) : 0;
}

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
  DWORD err = enter("LoadLibraryA", str(lpLibFileName));
  if (err) {
    m().last_error = err;
    return nullptr;
  }
  if (!lpLibFileName || !*lpLibFileName) {
    m().last_error = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  std::string key = module_key(lpLibFileName);
  const module_entry *e = module_by_name(key);
  if (!e || m().modules_removed.count(key)) {
    m().last_error = ERROR_MOD_NOT_FOUND;
    return nullptr;
  }
  ++m().module_refs[e->name];
  return reinterpret_cast<HMODULE>(e->base);
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  // A name below 0x10000 is an ordinal; the simulation exports by name only.
  bool ordinal = reinterpret_cast<uintptr_t>(lpProcName) < 0x10000;
  std::string name = ordinal ? "#" + std::to_string(reinterpret_cast<uintptr_t>(lpProcName))
                             : std::string(lpProcName);
  DWORD err = enter("GetProcAddress", name);
  if (err) {
    m().last_error = err;
    return nullptr;
  }
  std::string module = module_handle_name(hModule);
  if (module.empty()) {
    m().last_error = ERROR_MOD_NOT_FOUND;
    return nullptr;
  }
  DWORD version = m().major << 8 | m().minor;
  if (!ordinal && !m().exports_removed.count(module + "!" + name))
    for (const export_entry &x : export_table())
      if (module == x.module && name == x.name && version >= x.since) // names are case-sensitive
        return x.address;
  m().last_error = ERROR_PROC_NOT_FOUND;
  return nullptr;
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
  const module_entry *pre = module_by_handle(hLibModule);
  DWORD err = enter("FreeLibrary", pre ? pre->name : std::string());
  if (err)
    return fail_with(err);
  std::string module = module_handle_name(hLibModule);
  if (module.empty())
    return fail_with(ERROR_INVALID_HANDLE);
  auto it = m().module_refs.find(module);
  if (it == m().module_refs.end())
    return TRUE; // a linked module without LoadLibraryA references: it stays loaded
  if (--it->second == 0)
    m().module_refs.erase(it);
  return TRUE;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
  DWORD err = enter("GetModuleHandleA", str(lpModuleName));
  if (err) {
    m().last_error = err;
    return nullptr;
  }
  if (!lpModuleName)
    return reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x00400000)); // the program's image
  // A module that is loaded, by the same names LoadLibraryA takes; no reference is added.
  std::string key = module_key(lpModuleName);
  const module_entry *e = module_by_name(key);
  HMODULE h = e ? reinterpret_cast<HMODULE>(e->base) : nullptr;
  if (!e || module_handle_name(h).empty()) {
    m().last_error = ERROR_MOD_NOT_FOUND;
    return nullptr;
  }
  return h;
}

// ---- advapi32 (tokens) ------------------------------------------------------------------
// Recorded in sim::restart() whatever happens; on Windows 98 they exist only as stubs that
// fail with ERROR_CALL_NOT_IMPLEMENTED.

BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) {
  DWORD err = enter("OpenProcessToken", std::string());
  sim::restart_record &r = m().restart;
  ++r.open_process_token_calls;
  r.token_access = DesiredAccess;
  if (err)
    return fail_with(err);
  if (sim::is_win98())
    return fail_with(kErrorCallNotImplemented);
  if (!TokenHandle)
    return fail_with(ERROR_INVALID_PARAMETER);
  if (ProcessHandle != reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)))
    return fail_with(ERROR_INVALID_HANDLE);
  uintptr_t h = new_handle();
  m().tokens.insert(h);
  *TokenHandle = reinterpret_cast<HANDLE>(h);
  return TRUE;
}

BOOL WINAPI LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid) {
  DWORD err = enter("LookupPrivilegeValueA", str(lpName));
  sim::restart_record &r = m().restart;
  r.privilege_looked_up = str(lpName);
  r.system_name_null = lpSystemName == nullptr;
  if (err)
    return fail_with(err);
  if (sim::is_win98())
    return fail_with(kErrorCallNotImplemented);
  if (!lpName || !lpLuid)
    return fail_with(ERROR_INVALID_PARAMETER);
  static const struct {
    const char *name;
    DWORD value;
  } privileges[] = {{"SeSecurityPrivilege", 8},      {"SeTakeOwnershipPrivilege", 9},
                    {"SeLoadDriverPrivilege", 10},   {"SeSystemtimePrivilege", 12},
                    {"SeBackupPrivilege", 17},       {"SeRestorePrivilege", 18},
                    {"SeShutdownPrivilege", 19},     {"SeDebugPrivilege", 20},
                    {"SeChangeNotifyPrivilege", 23}, {"SeRemoteShutdownPrivilege", 24}};
  for (auto &p : privileges)
    if (ieq(lpName, p.name)) {
      lpLuid->LowPart = p.value;
      lpLuid->HighPart = 0;
      return TRUE;
    }
  return fail_with(kErrorNoSuchPrivilege);
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges,
                                  PTOKEN_PRIVILEGES NewState, DWORD BufferLength,
                                  PTOKEN_PRIVILEGES PreviousState, PDWORD ReturnLength) {
  DWORD err = enter("AdjustTokenPrivileges", std::string());
  sim::restart_record &r = m().restart;
  ++r.adjust_calls;
  r.disable_all = DisableAllPrivileges != FALSE;
  r.privilege_count = NewState ? NewState->PrivilegeCount : 0;
  if (NewState && NewState->PrivilegeCount > 0) {
    r.privilege_luid = NewState->Privileges[0].Luid;
    r.privilege_attributes = NewState->Privileges[0].Attributes;
  }
  r.buffer_length = BufferLength;
  r.previous_state_null = PreviousState == nullptr;
  r.return_length_null = ReturnLength == nullptr;
  if (err)
    return fail_with(err);
  if (sim::is_win98())
    return fail_with(kErrorCallNotImplemented);
  if (!m().tokens.count(reinterpret_cast<uintptr_t>(TokenHandle)))
    return fail_with(ERROR_INVALID_HANDLE);
  m().last_error = 0; // ERROR_SUCCESS: every privilege was assigned
  return TRUE;
}
