// Processes: the program's own file, WOW64, and the programs it can start.
//
// What the simulation follows, from the Win32 documentation:
// - IsWow64Process exists only from Windows XP SP2 on; the machine as reset lacks it, as
//   Windows 98 and 2000 do. Where present it answers TRUE for a 32-bit process on 64-bit
//   Windows and FALSE otherwise.
// - GetModuleFileNameA(NULL) gives the full path of the program's file. A buffer too small
//   gets the path cut to nSize - 1 characters and terminated, the result is nSize and the last
//   error ERROR_INSUFFICIENT_BUFFER (Windows Vista and later; Windows XP leaves the cut path
//   unterminated with the last error 0).
// - CreateProcessA with an application name starts that file: a missing file fails with
//   ERROR_FILE_NOT_FOUND, a missing folder with ERROR_PATH_NOT_FOUND, and a file that is no
//   program with ERROR_BAD_EXE_FORMAT. A started program runs here to its end inside the call
//   (the caller waits for it anyway); its process and thread handles stay open until
//   CloseHandle, and WaitForSingleObject on them returns WAIT_OBJECT_0 at once.
#include "sim/state.h"

#include <cstring>
#include <map>

namespace sim {
namespace detail {

static const uintptr_t kCurrentProcess = static_cast<uintptr_t>(-1);

struct process_handle {
  std::string program; // the program file, as started
  bool thread = false; // the handle of its primary thread
  DWORD exit_code = 0;
};

struct process_state {
  std::string program_path;
  bool wow64 = false;
  std::map<std::string, std::function<DWORD(const std::string &)>> programs; // by upper path
  std::vector<process_start> started;
  std::map<uintptr_t, process_handle> handles;
  DWORD next_id = 0x100;
};

static process_state &processes() {
  static process_state *state = new process_state; // lives for the process, like the machine
  return *state;
}

void process_reset() {
  process_state &p = processes();
  p = process_state();
  p.program_path = "C:\\Quendal\\QuendalUninstall.exe";
  m().exports_removed.insert("kernel32!IsWow64Process");
}

void process_leaks(std::vector<std::string> &out) {
  for (auto &h : processes().handles)
    out.push_back(
        std::string(h.second.thread ? "open thread handle of " : "open process handle of ") +
        h.second.program);
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
  return p ? p->program : std::string();
}

// The module a command line starts when no application name is given: its first token,
// quoted or up to the first blank.
static std::string first_token(const std::string &line) {
  if (!line.empty() && line[0] == '"')
    return line.substr(1, line.find('"', 1) - 1);
  return line.substr(0, line.find_first_of(" \t"));
}

} // namespace detail

using namespace detail;

void set_wow64(bool wow64) {
  m().exports_removed.erase("kernel32!IsWow64Process");
  processes().wow64 = wow64;
}

void set_program_path(const std::string &path) {
  processes().program_path = path;
}

void program_add(const std::string &path, std::function<DWORD(const std::string &)> run) {
  file_add(path);
  std::string n;
  if (normalize_path(path, n))
    processes().programs[upper(n)] = std::move(run);
}

const std::vector<process_start> &processes_started() {
  return processes().started;
}

} // namespace sim

using namespace sim::detail;

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  DWORD err = enter("GetModuleFileNameA", std::string());
  if (err) {
    m().last_error = err;
    return 0;
  }
  if (hModule) // the program asks for its own file only
    return fail_with(ERROR_MOD_NOT_FOUND);
  if (nSize == 0)
    return 0;
  const std::string &path = processes().program_path;
  if (path.size() >= nSize) {
    std::memcpy(lpFilename, path.c_str(), nSize - 1);
    lpFilename[nSize - 1] = '\0';
    m().last_error = ERROR_INSUFFICIENT_BUFFER;
    return nSize;
  }
  std::memcpy(lpFilename, path.c_str(), path.size() + 1);
  return static_cast<DWORD>(path.size());
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

BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine,
                           LPSECURITY_ATTRIBUTES lpProcessAttributes,
                           LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                           DWORD dwCreationFlags, LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
                           LPSTARTUPINFOA lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation) {
  (void)lpProcessAttributes;
  (void)lpThreadAttributes;
  (void)bInheritHandles;
  (void)dwCreationFlags;
  (void)lpEnvironment;
  (void)lpCurrentDirectory;
  std::string line = str(lpCommandLine);
  std::string program = lpApplicationName ? std::string(lpApplicationName) : first_token(line);
  DWORD err = enter("CreateProcessA", program);
  if (err)
    return fail_with(err);
  if (!lpStartupInfo || lpStartupInfo->cb != sizeof(STARTUPINFOA) || !lpProcessInformation)
    return fail_with(ERROR_INVALID_PARAMETER);
  std::string n;
  if (!normalize_path(program, n))
    return fail_with(ERROR_PATH_NOT_FOUND);
  if (!sim::file_exists(n))
    return fail_with(sim::folder_exists(parent_path(n)) ? ERROR_FILE_NOT_FOUND
                                                        : ERROR_PATH_NOT_FOUND);
  process_state &p = processes();
  auto found = p.programs.find(upper(n));
  if (found == p.programs.end())
    return fail_with(ERROR_BAD_EXE_FORMAT);
  p.started.push_back(sim::process_start{program, line});
  // The child sees its own file as the program's; the run is over when the call returns.
  std::function<DWORD(const std::string &)> run = found->second;
  std::string parent_program = p.program_path;
  p.program_path = n;
  DWORD exit_code = run(line);
  processes().program_path = parent_program;
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
