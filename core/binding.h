// The functions the removal steps call through tables bound at run time: each removal sequence
// loads "setupapi", "advapi32" and "kernel32" by name, looks the functions up, and releases the
// libraries at its end. Call a bound function as
//   BOUND(nt_advapi32_table, RegOpenKeyExA)(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key);
// which takes the function's type from its declaration and its slot from the tables below.
#pragma once

#include "platform/windows_api.h"

enum { LIBRARY_TABLE_SLOTS = 10 };

struct library_table {
  const char *library_name;     // passed to LoadLibraryA as it stands
  const char *const *functions; // names, in lookup order: the required ones, then the optional
  int function_count;           // required names: a missing one fails the binding
  int optional_count; // names after them that older versions of the library lack: looked up
                      // once the required ones are bound, their slot left null when missing
  HMODULE module;     // null until the whole table is bound
  FARPROC slots[LIBRARY_TABLE_SLOTS];
};

// The Windows 2000 set.
extern library_table nt_setupapi_table;
extern library_table nt_advapi32_table;
extern library_table nt_kernel32_table;
// The Windows 98 set.
extern library_table win98_advapi32_table;
extern library_table win98_kernel32_table;

// Slots of each kind of table. Both advapi32 tables share the registry slots (the Windows 98
// table has one more), and both kernel32 tables the file slots (the Windows 2000 table has
// four more: the deletion at restart and the folder search).
enum setupapi_slot {
  SLOT_SetupDiGetClassDevsA,
  SLOT_SetupDiEnumDeviceInfo,
  SLOT_SetupDiGetDeviceRegistryPropertyA,
  SLOT_SetupDiCallClassInstaller,
  SLOT_SetupDiDestroyDeviceInfoList,
  SLOT_SetupOpenInfFileA,
  SLOT_SetupGetLineTextA,
  SLOT_SetupCloseInfFile,
  SLOT_SetupUninstallOEMInfA,          // optional: Windows XP and later
  SLOT_SetupDiGetDeviceInstallParamsA, // optional
};
enum registry_slot {
  SLOT_RegOpenKeyExA,
  SLOT_RegCloseKey,
  SLOT_RegEnumKeyExA,
  SLOT_RegDeleteKeyA,
  SLOT_RegEnumValueA,
  SLOT_RegDeleteValueA,
};
enum file_slot {
  SLOT_GetWindowsDirectoryA,
  SLOT_GetSystemDirectoryA,
  SLOT_SetFileAttributesA,
  SLOT_DeleteFileA,
  SLOT_MoveFileExA,
  SLOT_FindFirstFileA,
  SLOT_FindNextFileA,
  SLOT_FindClose,
};

template <typename Function> Function bound_function(const library_table &table, int slot) {
  // Through void(*)() so that the compiler accepts the change of function type.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(table.slots[slot]));
}
#define BOUND(table, function) bound_function<decltype(&::function)>(table, SLOT_##function)
// Whether an optional slot was filled: the library has the function.
#define BOUND_PRESENT(table, function) ((table).slots[SLOT_##function] != nullptr)

int bind_library_table(library_table *table);
int bind_nt_functions();
int unbind_nt_functions();
int bind_win98_functions();
int unbind_win98_functions();
