// The registry calls of the removal steps, through a bound advapi32 table. Keys are opened
// below their parent with options 0; every name and datum lives in a NAME_SIZE buffer.
#pragma once

#include "core/binding.h"
#include "core/catalogue.h"

// The key, or null when it does not open (the caller decides whether that is worth a word);
// `error`, when given, receives RegOpenKeyExA's result.
HKEY open_key(const library_table &advapi32, HKEY parent, const char *path,
              REGSAM access = KEY_ALL_ACCESS, LONG *error = nullptr);
// The same; a failure is reported under "Function : RegOpenKeyEx()".
HKEY open_key_reported(const library_table &advapi32, HKEY parent, const char *path,
                       REGSAM access = KEY_ALL_ACCESS);

// 1 when a RegCloseKey call on `key` returned 0; otherwise its code is reported under
// "Function : RegCloseKey()". For the keys closed through the linked function.
int key_closed(LONG error, HKEY key);
// Closes the key through the table: 1 when closed, else reported.
int close_key(const library_table &advapi32, HKEY key);
// Writes the key through with the linked RegFlushKey, whose result is not examined, then
// closes it as close_key does.
int flush_and_close_key(const library_table &advapi32, HKEY key);

// 1 when subkey `index` of the key was read into `name`; any other result ends a walk.
int enum_subkey(const library_table &advapi32, HKEY key, DWORD index, char *name);
// Deletes `subkey` below `parent`: 1 when deleted, else reported under
// "Function : RegDeleteKey()".
int delete_key(const library_table &advapi32, HKEY parent, const char *subkey);

// One value of a key as RegEnumValueA returns it; the type is read and not used.
struct registry_value {
  char name[NAME_SIZE];
  char data[NAME_SIZE];
  DWORD data_size; // bytes the call wrote
};
// Reads value `index`: 1 when the call succeeded, 0 when it ended the walk (no more values, a
// name or datum over NAME_SIZE bytes, or any error). Both buffers are zero-filled before the
// call: RegEnumValueA returns string data as it was stored, possibly without its terminator,
// and a datum must never borrow bytes left over from an earlier value.
int read_value(const library_table &advapi32, HKEY key, DWORD index, registry_value *value);
