// Run-time binding of the device-setup, registry and file functions the removal steps call.
// Each removal sequence binds its set when it starts and releases it when it ends.
#include "core/binding.h"

#include "core/error_report.h"
#include "core/texts.h"

static const char *const setupapi_functions[] = {"SetupDiGetClassDevsA",
                                                 "SetupDiEnumDeviceInfo",
                                                 "SetupDiGetDeviceRegistryPropertyA",
                                                 "SetupDiCallClassInstaller",
                                                 "SetupDiDestroyDeviceInfoList",
                                                 "SetupOpenInfFileA",
                                                 "SetupGetLineTextA",
                                                 "SetupCloseInfFile",
                                                 "SetupUninstallOEMInfA",
                                                 "SetupDiGetDeviceInstallParamsA"};
// The Windows 2000 set uses the first five registry functions, the Windows 98 set all six.
static const char *const advapi32_functions[] = {"RegOpenKeyExA", "RegCloseKey",
                                                 "RegEnumKeyExA", "RegDeleteKeyA",
                                                 "RegEnumValueA", "RegDeleteValueA"};
// The Windows 98 set uses the first four file functions. Windows 98 exports MoveFileExA only as
// a stub that fails, and its steps neither delete at restart nor search folders; every Windows
// of the 2000 family has all eight.
static const char *const kernel32_functions[] = {
    "GetWindowsDirectoryA", "GetSystemDirectoryA", "SetFileAttributesA", "DeleteFileA",
    "MoveFileExA",          "FindFirstFileA",      "FindNextFileA",      "FindClose"};

#define COUNT(array) static_cast<int>(sizeof(array) / sizeof((array)[0]))

// SetupUninstallOEMInfA came with Windows XP: Windows 2000 binds without it. Without
// SetupDiGetDeviceInstallParamsA a removal cannot tell that Windows asks for a restart, which
// is no reason to remove nothing.
library_table nt_setupapi_table = {
    "setupapi", setupapi_functions, SLOT_SetupCloseInfFile + 1, 2, nullptr, {}};
library_table nt_advapi32_table = {"advapi32", advapi32_functions, SLOT_RegDeleteValueA, 0, nullptr,
                                   {}};
library_table nt_kernel32_table = {
    "kernel32", kernel32_functions, COUNT(kernel32_functions), 0, nullptr, {}};
library_table win98_advapi32_table = {
    "advapi32", advapi32_functions, COUNT(advapi32_functions), 0, nullptr, {}};
library_table win98_kernel32_table = {
    "kernel32", kernel32_functions, SLOT_DeleteFileA + 1, 0, nullptr, {}};

static library_table *const nt_set[] = {&nt_setupapi_table, &nt_advapi32_table, &nt_kernel32_table};
static library_table *const win98_set[] = {&win98_advapi32_table, &win98_kernel32_table};

int bind_library_table(library_table *table) {
  HMODULE module = LoadLibraryA(table->library_name);
  if (!module) {
    report_system_error(GetLastError(), caption_load_library,
                        named_subject(SUBJECT_MODULE, table->library_name));
    return 0;
  }
  for (int i = 0; i < table->function_count; ++i) {
    table->slots[i] = GetProcAddress(module, table->functions[i]);
    if (!table->slots[i]) {
      report_system_error(GetLastError(), caption_get_proc_address,
                          named_subject(SUBJECT_FUNCTION, table->functions[i]));
      if (!FreeLibrary(module))
        report_system_error(GetLastError(), caption_free_library,
                            named_subject(SUBJECT_MODULE, table->library_name));
      return 0;
    }
  }
  // An optional name that is missing is no failure, and its lookup error is not reported.
  for (int i = table->function_count; i < table->function_count + table->optional_count; ++i)
    table->slots[i] = GetProcAddress(module, table->functions[i]);
  table->module = module;
  return 1;
}

// Binds the tables in order and stops at the first failure; the tables bound before it stay
// loaded, since the sequence then does nothing and the process ends soon after.
static int bind_set(library_table *const *set, int count) {
  for (int i = 0; i < count; ++i)
    if (!bind_library_table(set[i]))
      return 0;
  return 1;
}

// Releases the bound tables in order; the first failure is reported and ends the release.
static int unbind_set(library_table *const *set, int count) {
  for (int i = 0; i < count; ++i) {
    library_table *table = set[i];
    if (!table->module)
      continue;
    if (!FreeLibrary(table->module)) {
      report_system_error(GetLastError(), caption_free_library,
                          named_subject(SUBJECT_MODULE, table->library_name));
      return 0;
    }
    table->module = nullptr; // released: a second release must not free someone else's reference
  }
  return 1;
}

int bind_nt_functions() {
  return bind_set(nt_set, COUNT(nt_set));
}
int unbind_nt_functions() {
  return unbind_set(nt_set, COUNT(nt_set));
}
int bind_win98_functions() {
  return bind_set(win98_set, COUNT(win98_set));
}
int unbind_win98_functions() {
  return unbind_set(win98_set, COUNT(win98_set));
}
