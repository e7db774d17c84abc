// The simulated Windows machine: the test-facing side.
//
// The uninstaller's logic calls the Windows API declared in platform/host_windows.h;
// sim/ implements those functions against one in-memory machine that a test (or the
// uninstall-sim tool) sets up through the functions below. Registry paths given to
// these helpers are relative to HKEY_LOCAL_MACHINE; file paths are full Windows paths.
// Names are ANSI text of code page 932, as a Japanese Windows hands them to the A
// functions: a double-byte character is one character whatever its second byte, so the
// 0x5C trail byte of ソ or 表 is never taken for a backslash. Names are compared without
// regard to letter case (ASCII and the code page's full-width Latin, Greek and Cyrillic
// letters) and keep the case they were created with, as on Windows.
#pragma once

#include "platform/windows_api.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sim {

// ---- The machine as a whole -------------------------------------------------------------

// Empties the machine: no registry content below HKEY_LOCAL_MACHINE, no files, no devices,
// no scripted answers, no fault rules, no call log, all counters zero, last error 0.
// The platform is Windows 2000 (NT 5.0 build 2195) with C:\WINDOWS and C:\WINDOWS\system32.
void reset();

// A fresh Windows 2000 machine: reset(), then what every such machine has and the
// uninstaller relies on: HKLM\SYSTEM\ControlSet001 with SYSTEM\CurrentControlSet as its alias,
// its Services key, the modem setup class key
// SYSTEM\CurrentControlSet\Control\Class\{4D36E96D-E325-11CE-BFC1-08002BE10318},
// and the folders C:\WINDOWS\inf and C:\WINDOWS\system32\drivers.
void machine_win2000();

// A fresh Windows 98 SE machine: platform 1, version 4.10 build 0x040A08AE, C:\WINDOWS with
// system directory C:\WINDOWS\SYSTEM, folders C:\WINDOWS\INF and C:\WINDOWS\INF\OTHER,
// registry keys Enum\Root\Ports, System\CurrentControlSet\Services\Class,
// System\CurrentControlSet\Services\VxD and System\CurrentControlSet\control\VMM32Files.
// RegDeleteKeyA deletes whole subtrees on this platform.
void machine_win98();

// The answer GetVersionExA gives. The platform id also selects the registry semantics:
// VER_PLATFORM_WIN32_WINDOWS deletes subtrees, every other id refuses a key with subkeys.
void set_version(DWORD platform_id, DWORD major, DWORD minor, DWORD build);
bool is_win98();

void set_windows_directory(const std::string &path); // also creates the folder
void set_system_directory(const std::string &path);  // also creates the folder

// ---- Registry ---------------------------------------------------------------------------

// Creates the key and any missing parents (like RegCreateKeyEx). Windows' limits hold: a
// key name of at most 255 characters, at most 512 levels below HKEY_LOCAL_MACHINE; false,
// with nothing created, for a path beyond them.
bool reg_add_key(const std::string &path);
// Sets a value, creating the key if needed. Data is stored byte for byte as given. False,
// with nothing changed, when the key breaks a limit or the name is over 16,383 characters.
bool reg_set_value(const std::string &path, const std::string &name, DWORD type,
                   const std::string &data);
// REG_SZ with its terminating zero byte included in the data.
bool reg_set_string(const std::string &path, const std::string &name, const std::string &text);
bool reg_set_dword(const std::string &path, const std::string &name, DWORD value);
// Makes `alias` (e.g. SYSTEM\CurrentControlSet) a link to `target` (SYSTEM\ControlSet001):
// every path through the alias reaches the target key, as NT's CurrentControlSet does.
// SYSTEM\CurrentControlSet itself stands, as on NT, for the control set that the REG_DWORD
// "Current" of SYSTEM\Select names (1: ControlSet001) when the registry has that value and
// that control set; otherwise for `target`.
void reg_add_link(const std::string &alias, const std::string &target);
// RegOpenKeyExA of this key fails with ERROR_ACCESS_DENIED when the requested access has
// any bit of `access_mask` (KEY_WRITE denies KEY_ALL_ACCESS and KEY_WRITE but not KEY_READ).
void reg_deny(const std::string &path, REGSAM access_mask);

bool reg_key_exists(const std::string &path);
bool reg_value_exists(const std::string &path, const std::string &name);
// Value data, or "" when absent.
std::string reg_value(const std::string &path, const std::string &name);
// Names of the direct subkeys / values, in enumeration order.
std::vector<std::string> reg_subkeys(const std::string &path);
std::vector<std::string> reg_values(const std::string &path);

// A whole value, for export and comparison.
struct reg_value_data {
  std::string name;
  DWORD type;
  std::string data;
};
std::vector<reg_value_data> reg_value_list(const std::string &path);
// Calls `visit` for the key and every key below it, each before its subkeys, subkeys in
// enumeration order, aliases left out and not followed; the path is relative to
// HKEY_LOCAL_MACHINE with the names as stored. Any depth: the walk does not recurse.
using reg_visitor =
    std::function<void(const std::string &path, const std::vector<reg_value_data> &values)>;
void reg_visit(const std::string &path, const reg_visitor &visit);

// Added with the implementation (for loading .reg files and machine descriptions):
// Deletes a key with all its subkeys and values, as a .reg file's [-key] does; an alias
// named by `path` is removed itself, not its target. Not recorded in changes().
void reg_delete_key(const std::string &path);
// Deletes one value (absent: nothing happens). Not recorded in changes().
void reg_delete_value(const std::string &path, const std::string &name);
// The target path of an alias made by reg_add_link, "" for an ordinary or absent key.
std::string reg_link(const std::string &path);

// Keys apart from the machine, put into its registry in one move: a snapshot's registry
// export, read into such a tree as it is read, is held once (as keys, not also as a list of
// operations). The functions are those above, on the tree; it has no aliases and no handles.
struct registry_tree;
std::shared_ptr<registry_tree> registry_tree_new();
bool tree_add_key(registry_tree &tree, const std::string &path);
bool tree_set_value(registry_tree &tree, const std::string &path, const std::string &name,
                    DWORD type, const std::string &data);
void tree_delete_key(registry_tree &tree, const std::string &path);
void tree_delete_value(registry_tree &tree, const std::string &path, const std::string &name);
// Moves the tree's keys into the registry, as adding them one by one would, and leaves the
// tree empty: a key the registry lacks moves with its subtree, a key it has takes the values
// (replacing those of the same names) and the subkeys. Where the registry has an alias, the
// keys go where the alias leads, after all others (so CurrentControlSet follows the
// SYSTEM\Select of the tree wherever it is).
void reg_import(registry_tree &tree);

// ---- Files ------------------------------------------------------------------------------

// Creates the file (and any missing parent folders) with the given attributes and contents.
void file_add(const std::string &path, DWORD attributes = FILE_ATTRIBUTE_ARCHIVE,
              const std::string &contents = std::string());
void folder_add(const std::string &path);
bool file_exists(const std::string &path);
bool folder_exists(const std::string &path);
DWORD file_attributes(const std::string &path); // INVALID_FILE_ATTRIBUTES when absent
// SetFileAttributesA on this file fails with `error` (e.g. ERROR_ACCESS_DENIED).
void file_deny_attributes(const std::string &path, DWORD error);
// DeleteFileA on this file fails with `error` (e.g. ERROR_SHARING_VIOLATION: a program holds
// it open without delete sharing, on every version).
void file_deny_delete(const std::string &path, DWORD error);
// The file is the image of a loaded driver. Windows 10 and 11 refuse to delete it
// (DeleteFileA fails with ERROR_ACCESS_DENIED); Windows 2000 to 8.1 delete it, since the
// loaded driver no longer needs its file. Its attributes can be set on every version.
void file_loaded(const std::string &path);
// The files scheduled for deletion at the next restart by MoveFileExA(path, NULL,
// MOVEFILE_DELAY_UNTIL_REBOOT), full paths as created, in order (Windows keeps them in the
// Session Manager's PendingFileRenameOperations). They stay until that restart, which the
// simulation never makes.
std::vector<std::string> pending_deletions();
// All files (not folders), full paths as created, sorted case-insensitively.
std::vector<std::string> file_list();

// An INF file in the Windows INF folder, read by SetupOpenInfFileA / SetupGetLineTextA.
void inf_add(const std::string &name, const std::string &text);

// ---- Driver store -----------------------------------------------------------------------

// From Windows Vista on, an OEM INF copy (oem<N>.inf in the INF folder) is the published name
// of a driver package in the driver store: the folder
// <system>\DriverStore\FileRepository\<folder> that holds the package's original INF. This
// creates that folder with the INF `inf_name` holding `contents`, and makes `oem_inf` (a bare
// name; the copy itself is added with inf_add) the package's published name.
// SetupUninstallOEMInfA removes the package with the copy on machines of version 6.0 and
// later; on Windows XP (5.1, 5.2) there is no store and it removes the copy alone.
void driver_package_add(const std::string &oem_inf, const std::string &folder,
                        const std::string &inf_name, const std::string &contents);
// The package folder (full path) published as `oem_inf`; "" when there is none (any more).
std::string driver_package(const std::string &oem_inf);
// SetupUninstallOEMInfA as Wine implements it: it succeeds and removes nothing, unless
// SUOI_FORCEDELETE is given, when it deletes the INF alone. Off after reset().
void uninstall_oem_inf_as_wine(bool on);

// ---- Devices ----------------------------------------------------------------------------

// A device instance. `hardware_ids` is the SPDRP_HARDWAREID property byte for byte
// (a multi-string: each id followed by a zero byte, the list ended by one more zero byte);
// `has_hardware_ids` false means the instance has no such property (query fails with 13).
struct device {
  std::string instance_id;
  std::string hardware_ids;
  bool has_hardware_ids = true;
  bool present = true;
  DWORD remove_error = 0; // DIF_REMOVE fails with this error when nonzero
  // The device's driver (software) key below SYSTEM\CurrentControlSet\Control\Class, as its
  // "Driver" property names it ("{4D36E96D-E325-11CE-BFC1-08002BE10318}\0000"); "" for none.
  // DIF_REMOVE deletes that key with its subkeys, as Windows does when it removes a device.
  std::string driver;
  // The install-parameter flags that a successful DIF_REMOVE leaves on the device's element:
  // DI_NEEDREBOOT where Windows could not stop the device (its port is open) and finishes the
  // removal at the next restart. Its keys go at once all the same, as SetupDiRemoveDevice
  // deletes them, and the simulation lists the device no more.
  DWORD remove_flags = 0;
};
void device_add(const device &d);
// Convenience: builds the multi-string from the list.
void device_add(const std::string &instance_id, const std::vector<std::string> &hardware_ids,
                bool present = true);
bool device_exists(const std::string &instance_id);
std::vector<std::string> device_list();
std::string multi_string(const std::vector<std::string> &strings);

// ---- Modules ----------------------------------------------------------------------------

// The machine has the modules "kernel32", "advapi32", "setupapi", "user32"; LoadLibraryA finds
// them by name without regard to case, with or without ".dll". setupapi exports
// SetupUninstallOEMInfA only on machines of version 5.1 (Windows XP) and later.
void module_remove(const std::string &module);
void export_remove(const std::string &module, const std::string &function);

// ---- Processes --------------------------------------------------------------------------

// kernel32 of the machine as reset lacks IsWow64Process, as Windows 98 and 2000 do. This adds
// it, answering `wow64` for the program's process: true as for a 32-bit program on 64-bit
// Windows, false as on 32-bit Windows XP SP2 and later.
void set_wow64(bool wow64);
// The program's own file as GetModuleFileNameW gives it, and its command line as
// GetCommandLineW does: the machine as reset has C:\Quendal\QuendalUninstall.exe, and the
// command line holds that path in quotes and nothing more. Wide strings, as Windows NT keeps
// them (UTF-16 there); folders may have names that code page 932 cannot spell.
void set_program_path(const std::wstring &path);
void set_command_line(const std::wstring &line);
// A program file that GetBinaryTypeW takes for `binary_type` (SCS_64BIT_BINARY for a 64-bit
// program, SCS_32BIT_BINARY for a 32-bit one) and that CreateProcessW can start. Starting it
// calls `run` with the child's command line and waits for its end; what `run` returns is the
// child's exit code. While it runs, the child's file and command line are the program's. Any
// other file of the machine (ASCII paths only) fails to start with ERROR_BAD_EXE_FORMAT.
void program_add(const std::wstring &path, std::function<DWORD(const std::wstring &)> run,
                 DWORD binary_type = SCS_64BIT_BINARY);
struct process_start {
  std::wstring application_name;
  std::wstring command_line;
};
// Every program started, in order.
const std::vector<process_start> &processes_started();

// ---- System texts -----------------------------------------------------------------------

// FormatMessageA(FROM_SYSTEM) text for a code; the machine starts with English texts for the
// common codes (2, 3, 5, 6, 8, 13, 18, 32, 87, 120, 122, 126, 127, 234, 259, 1018) and the two
// refusals of SetupUninstallOEMInfA (ERROR_NOT_AN_INSTALLED_OEM_INF, ERROR_INF_IN_USE_BY_DEVICES).
void set_message_text(DWORD code, const std::string &text);
void remove_message_text(DWORD code);
std::string message_text(DWORD code); // "" when none

// ---- The user ---------------------------------------------------------------------------

struct box {
  std::string text;
  std::string caption;
  UINT type;
  bool has_owner;
  int answer;
};

// Queues answers for the next message boxes, in order (IDOK, IDCANCEL).
void answer(int id);
void answers(const std::vector<int> &ids);
// Every box shown so far, in order.
const std::vector<box> &boxes();
// Called for a box when no scripted answer is queued; returns the answer. The default
// handler records the problem (see unscripted_boxes) and answers IDCANCEL.
void set_user(std::function<int(const box &)> user);
int unscripted_boxes();

// ---- Restart ----------------------------------------------------------------------------

struct restart_record {
  int open_process_token_calls = 0;
  DWORD token_access = 0;
  std::string privilege_looked_up;
  bool system_name_null = false;
  int adjust_calls = 0;
  bool disable_all = true;
  DWORD privilege_count = 0;
  LUID privilege_luid = {0, 0};
  DWORD privilege_attributes = 0;
  DWORD buffer_length = 0xFFFFFFFF;
  bool previous_state_null = false;
  bool return_length_null = false;
  int exit_windows_calls = 0;
  UINT exit_flags = 0;
  DWORD exit_reason = 0xFFFFFFFF;
};
const restart_record &restart();
LUID shutdown_privilege_luid();

// ---- Fault injection --------------------------------------------------------------------

// A rule makes calls of one function fail with an error code. Registry functions return
// the code; the others return their failure value and set the thread's last error.
// `subject` restricts the rule to calls on one object: the full key path of the call
// (HKEY_LOCAL_MACHINE\...; for handle calls the key behind the handle, joined with the
// subkey or value name where the function takes one), the file path, the module or
// export name, the INF name, or the device instance id. It matches the whole subject or
// its tail after a backslash, without regard to case ("Enum\Root\Ports" matches
// "HKEY_LOCAL_MACHINE\Enum\Root\Ports"). `nth` counts matching calls from 1 (0: every
// matching call); `times` is how many times the rule fires (0: unlimited).
struct fault {
  std::string function;
  DWORD error;
  std::string subject;
  int nth = 0;
  int times = 0;
};
void fail(const fault &f);
void fail(const std::string &function, DWORD error, const std::string &subject = std::string(),
          int nth = 0);

// ---- Observation ------------------------------------------------------------------------

// Every simulated API call in order: the function name and its subject (as for faults).
struct call {
  std::string function;
  std::string subject;
};
const std::vector<call> &calls();
int call_count(const std::string &function);

// What the run changed on the machine, in the order it happened.
struct change {
  enum kind_t {
    key_deleted,
    value_deleted,
    file_deleted,
    attributes_set,
    device_removed,
    package_removed,           // a driver package's folder in the store, with everything in it
    file_deleted_at_restart,   // scheduled by MoveFileExA; the file stays until the restart
    device_removed_at_restart, // DIF_REMOVE succeeded and Windows asks for a restart to finish
  } kind;
  // key path, key path + "\" + value name, file path, instance id, package folder path
  std::string subject;
  // The index in calls() of the call that made the change. What Windows deletes on its own
  // with a removed device carries the index of that SetupDiCallClassInstaller call, and every
  // key a Windows 98 RegDeleteKeyA takes with a subtree carries the index of that one call.
  size_t call = 0;
};
const std::vector<change> &changes();

// What the uninstaller tells of its own run (core/account.h), in the order it told it: the
// beginning of each step, each failure it reported, each item it left on purpose. Each is
// also logged in calls(), as a call of "(step)", "(failure)" or "(kept)" with an empty subject,
// so that its place among the Windows calls is known; no fault rule and no hook reaches these
// entries.
struct mark {
  enum kind_t { step_begun, failure, kept } kind;
  size_t call = 0; // its entry in calls()
  int model = -1;  // step: the model (-1 for none) and the step (run_step) that begin
  int step = -1;
  std::string caption; // failure: the error box's caption, and the code the box explains
  DWORD code = 0;
  // failure and kept: what the call was made on (subject_kind), named as calls() names it
  int subject_kind = 0;
  std::string subject;
  int reason = 0; // kept: kept_reason
};
const std::vector<mark> &marks();
void log_mark(const mark &m);
// Names as calls() gives them: a key handle's key (with `subkey` below it unless null), the
// device instance behind a device record, a wide path ('?' for a character beyond ASCII).
std::string key_handle_name(HKEY key, const char *subkey);
std::string device_record_name(const SP_DEVINFO_DATA *record);
std::string wide_path_name(const wchar_t *path);

// Hook run before every call of `function` (before faults are applied), e.g. to change the
// machine between two calls.
void on_call(const std::string &function, std::function<void()> hook);

// Open resources: keys, device information sets, INF handles, file searches, local
// allocations and loaded modules. Empty when everything opened was released; otherwise one line
// each.
std::vector<std::string> leaks();

} // namespace sim
