// Processes: the program's own file and command line, WOW64, and the programs it can start.
//
// What the simulation follows, from the Win32 documentation:
// - IsWow64Process exists only from Windows XP SP2 on; the machine as reset lacks it, as
//   Windows 98 and 2000 do. Where present it answers TRUE for a 32-bit process on 64-bit
//   Windows and FALSE otherwise.
// - GetModuleFileNameW(NULL) gives the full path of the program's file. A buffer too small
//   gets the path cut to nSize - 1 characters and terminated, the result is nSize and the last
//   error ERROR_INSUFFICIENT_BUFFER (Windows Vista and later; Windows XP leaves the cut path
//   unterminated with the last error 0). GetCommandLineW gives the process's command line.
// - GetBinaryTypeW of a program gives TRUE and its kind (SCS_64BIT_BINARY, SCS_32BIT_BINARY);
//   of a file that is no program FALSE with ERROR_BAD_EXE_FORMAT, as for a DLL.
// - CreateProcessW with an application name starts that file. For both functions a missing
//   file fails with ERROR_FILE_NOT_FOUND, a missing folder with ERROR_PATH_NOT_FOUND, and
//   CreateProcessW of a file that is no program with ERROR_BAD_EXE_FORMAT. A started program
//   runs here to its end inside the call (the caller waits for it anyway); its process and
//   thread handles stay open until CloseHandle, and WaitForSingleObject on them returns
//   WAIT_OBJECT_0 at once.
// Windows keeps these names in UTF-16; here they are wide strings of their own, one character
// a unit, compared without regard to the case of ASCII letters. The program files are held
// apart from the machine's files, which are names of code page 932, so that their folder may
// have a name that code page cannot spell (C:\Café\, a Hangul name); a path of ASCII alone
// is also looked for among the machine's files.
#include "sim/state.h"

#include <algorithm>
#include <map>

namespace sim {
namespace detail {

static const uintptr_t kCurrentProcess = static_cast<uintptr_t>(-1);

struct process_handle {
  std::wstring program; // the program file, as started
  bool thread = false;  // the handle of its primary thread
  DWORD exit_code = 0;
};

struct program_file {
  std::function<DWORD(const std::wstring &)> run;
  DWORD binary_type;
};

struct process_state {
  std::wstring program_path;
  std::wstring command_line;
  bool wow64 = false;
  std::map<std::wstring, program_file> programs; // by upper-cased path
  std::vector<process_start> started;
  std::map<uintptr_t, process_handle> handles;
  DWORD next_id = 0x100;
};

static process_state &processes() {
  static process_state *state = new process_state; // lives for the process, like the machine
  return *state;
}

static const wchar_t default_program_path[] = L"C:\\Quendal\\QuendalUninstall.exe";

void process_reset() {
  process_state &p = processes();
  p = process_state();
  p.program_path = default_program_path;
  p.command_line = std::wstring(L"\"") + default_program_path + L"\"";
  m().exports_removed.insert("kernel32!IsWow64Process");
}

// For the leak report, which is text of code page 932: ASCII as it is, anything else '?'.
static std::string shown(const std::wstring &text) {
  std::string out;
  for (wchar_t c : text)
    out += c > 0 && c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

void process_leaks(std::vector<std::string> &out) {
  for (auto &h : processes().handles)
    out.push_back(
        std::string(h.second.thread ? "open thread handle of " : "open process handle of ") +
        shown(h.second.program));
}

static BOOL fail_with(DWORD error) {
  m().last_error = error;
  return FALSE;
}

static process_handle *find_handle(HANDLE h) {
  auto it = processes().handles.find(reinterpret_cast<uintptr_t>(h));
  return it == processes().handles.end() ? nullptr : &it->second;
}

static std::string handle_subject(HANDLE h) {
  process_handle *p = find_handle(h);
  return p ? shown(p->program) : std::string();
}

static std::wstring upper_ascii(std::wstring text) {
  for (wchar_t &c : text)
    if (c >= L'a' && c <= L'z')
      c = static_cast<wchar_t>(c - L'a' + L'A');
  return text;
}

static std::wstring folder_of(const std::wstring &path) {
  size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : upper_ascii(path.substr(0, slash));
}

// The path as a name of the machine's files, when it is ASCII alone.
static bool ascii_path(const std::wstring &path, std::string &out) {
  out.clear();
  for (wchar_t c : path) {
    if (c <= 0 || c >= 0x80)
      return false;
    out += static_cast<char>(c);
  }
  return true;
}

// Whether the folder of `path` exists: among the machine's folders, or as the folder of the
// program itself or of a program file.
static bool folder_there(const std::wstring &path) {
  std::wstring folder = folder_of(path);
  std::string narrow, normalized;
  if (ascii_path(folder, narrow) && normalize_path(narrow, normalized) &&
      sim::folder_exists(normalized))
    return true;
  if (folder == folder_of(processes().program_path))
    return true;
  for (const auto &program : processes().programs)
    if (folder == folder_of(program.first))
      return true;
  return false;
}

// The program file at `path`, or null with the last error of a path that names none.
static const program_file *find_program(const std::wstring &path) {
  auto it = processes().programs.find(upper_ascii(path));
  if (it != processes().programs.end())
    return &it->second;
  std::string narrow, normalized;
  if (ascii_path(path, narrow) && normalize_path(narrow, normalized) &&
      sim::file_exists(normalized))
    m().last_error = ERROR_BAD_EXE_FORMAT;
  else
    m().last_error = folder_there(path) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
  return nullptr;
}

// The module a command line starts when no application name is given: its first token,
// quoted or up to the first blank.
static std::wstring first_token(const std::wstring &line) {
  if (!line.empty() && line[0] == L'"')
    return line.substr(1, line.find(L'"', 1) - 1);
  return line.substr(0, line.find_first_of(L" \t"));
}

} // namespace detail

using namespace detail;

std::string wide_path_name(const wchar_t *path) {
  return path ? shown(path) : std::string();
}

void set_wow64(bool wow64) {
  m().exports_removed.erase("kernel32!IsWow64Process");
  processes().wow64 = wow64;
}

void set_program_path(const std::wstring &path) {
  processes().program_path = path;
}

void set_command_line(const std::wstring &line) {
  processes().command_line = line;
}

void program_add(const std::wstring &path, std::function<DWORD(const std::wstring &)> run,
                 DWORD binary_type) {
  processes().programs[upper_ascii(path)] = program_file{std::move(run), binary_type};
}

const std::vector<process_start> &processes_started() {
  return processes().started;
}

} // namespace sim

using namespace sim::detail;

DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
  DWORD err = enter("GetModuleFileNameW", std::string());
  if (err) {
    m().last_error = err;
    return 0;
  }
  if (hModule) // the program asks for its own file only
    return fail_with(ERROR_MOD_NOT_FOUND);
  if (nSize == 0)
    return 0;
  const std::wstring &path = processes().program_path;
  size_t copied = path.size() >= nSize ? nSize - 1 : path.size();
  std::copy(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(copied), lpFilename);
  lpFilename[copied] = L'\0';
  if (path.size() >= nSize) {
    m().last_error = ERROR_INSUFFICIENT_BUFFER;
    return nSize;
  }
  return static_cast<DWORD>(path.size());
}

LPWSTR WINAPI GetCommandLineW(void) {
  enter("GetCommandLineW", std::string());
  return &processes().command_line[0];
}

BOOL WINAPI GetBinaryTypeW(LPCWSTR lpApplicationName, LPDWORD lpBinaryType) {
  std::wstring path = lpApplicationName ? lpApplicationName : L"";
  DWORD err = enter("GetBinaryTypeW", shown(path));
  if (err)
    return fail_with(err);
  if (!lpBinaryType)
    return fail_with(ERROR_INVALID_PARAMETER);
  const program_file *program = find_program(path);
  if (!program)
    return FALSE;
  *lpBinaryType = program->binary_type;
  return TRUE;
}

BOOL WINAPI IsWow64Process(HANDLE hProcess, PBOOL Wow64Process) {
  DWORD err = enter("IsWow64Process", std::string());
  if (err)
    return fail_with(err);
  if (!Wow64Process)
    return fail_with(ERROR_INVALID_PARAMETER);
  if (reinterpret_cast<uintptr_t>(hProcess) != kCurrentProcess)
    return fail_with(ERROR_INVALID_HANDLE);
  *Wow64Process = processes().wow64 ? TRUE : FALSE;
  return TRUE;
}

BOOL WINAPI CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                           LPSECURITY_ATTRIBUTES lpProcessAttributes,
                           LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                           DWORD dwCreationFlags, LPVOID lpEnvironment, LPCWSTR lpCurrentDirectory,
                           LPSTARTUPINFOW lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation) {
  (void)lpProcessAttributes;
  (void)lpThreadAttributes;
  (void)bInheritHandles;
  (void)dwCreationFlags;
  (void)lpEnvironment;
  (void)lpCurrentDirectory;
  std::wstring line = lpCommandLine ? lpCommandLine : L"";
  std::wstring program = lpApplicationName ? std::wstring(lpApplicationName) : first_token(line);
  DWORD err = enter("CreateProcessW", shown(program));
  if (err)
    return fail_with(err);
  if (!lpStartupInfo || lpStartupInfo->cb != sizeof(STARTUPINFOW) || !lpProcessInformation)
    return fail_with(ERROR_INVALID_PARAMETER);
  const program_file *found = find_program(program);
  if (!found)
    return FALSE;
  process_state &p = processes();
  p.started.push_back(sim::process_start{program, line});
  // The child sees its own file and command line as the program's; the run is over when the
  // call returns.
  std::function<DWORD(const std::wstring &)> run = found->run;
  std::wstring parent_program = p.program_path, parent_line = p.command_line;
  p.program_path = program;
  p.command_line = line;
  DWORD exit_code = run(line);
  processes().program_path = parent_program;
  processes().command_line = parent_line;
  uintptr_t process = new_handle(), thread = new_handle();
  processes().handles[process] = process_handle{program, false, exit_code};
  processes().handles[thread] = process_handle{program, true, exit_code};
  lpProcessInformation->hProcess = reinterpret_cast<HANDLE>(process);
  lpProcessInformation->hThread = reinterpret_cast<HANDLE>(thread);
  lpProcessInformation->dwProcessId = processes().next_id += 4;
  lpProcessInformation->dwThreadId = processes().next_id += 4;
  return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  (void)dwMilliseconds;
  DWORD err = enter("WaitForSingleObject", handle_subject(hHandle));
  if (err) {
    m().last_error = err;
    return WAIT_FAILED;
  }
  if (!find_handle(hHandle)) {
    m().last_error = ERROR_INVALID_HANDLE;
    return WAIT_FAILED;
  }
  return WAIT_OBJECT_0;
}

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
  DWORD err = enter("GetExitCodeProcess", handle_subject(hProcess));
  if (err)
    return fail_with(err);
  process_handle *p = find_handle(hProcess);
  if (!p || p->thread)
    return fail_with(ERROR_INVALID_HANDLE);
  if (!lpExitCode)
    return fail_with(ERROR_INVALID_PARAMETER);
  *lpExitCode = p->exit_code;
  return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
  DWORD err = enter("CloseHandle", handle_subject(hObject));
  if (err)
    return fail_with(err);
  uintptr_t h = reinterpret_cast<uintptr_t>(hObject);
  if (processes().handles.erase(h) == 0 && m().tokens.erase(h) == 0)
    return fail_with(ERROR_INVALID_HANDLE);
  return TRUE;
}
