#include "core/registry_calls.h"

#include "core/error_report.h"
#include "core/texts.h"

// 1 for a call that returned 0; any other result is reported under the caption. The call was
// made on `subkey` below `key` (null: on `key` itself).
static int succeeded(LONG error, const char *caption, HKEY key, const char *subkey) {
  if (error == ERROR_SUCCESS)
    return 1;
  report_system_error(static_cast<DWORD>(error), caption, key_subject(key, subkey));
  return 0;
}

HKEY open_key(const library_table &advapi32, HKEY parent, const char *path, REGSAM access,
              LONG *error) {
  HKEY key = nullptr;
  LONG result = BOUND(advapi32, RegOpenKeyExA)(parent, path, 0, access, &key);
  if (error)
    *error = result;
  return result == ERROR_SUCCESS ? key : nullptr;
}

HKEY open_key_reported(const library_table &advapi32, HKEY parent, const char *path,
                       REGSAM access) {
  HKEY key = nullptr;
  LONG error = BOUND(advapi32, RegOpenKeyExA)(parent, path, 0, access, &key);
  return succeeded(error, caption_reg_open_key_ex, parent, path) ? key : nullptr;
}

int key_closed(LONG error, HKEY key) {
  return succeeded(error, caption_reg_close_key, key, nullptr);
}

int close_key(const library_table &advapi32, HKEY key) {
  return key_closed(BOUND(advapi32, RegCloseKey)(key), key);
}

int flush_and_close_key(const library_table &advapi32, HKEY key) {
  RegFlushKey(key);
  return close_key(advapi32, key);
}

int enum_subkey(const library_table &advapi32, HKEY key, DWORD index, char *name) {
  DWORD length = NAME_SIZE;
  FILETIME written;
  return BOUND(advapi32, RegEnumKeyExA)(key, index, name, &length, nullptr, nullptr, nullptr,
                                        &written) == ERROR_SUCCESS;
}

int delete_key(const library_table &advapi32, HKEY parent, const char *subkey) {
  return succeeded(BOUND(advapi32, RegDeleteKeyA)(parent, subkey), caption_reg_delete_key, parent,
                   subkey);
}
int read_value(const library_table &advapi32, HKEY key, DWORD index, registry_value *value) {
  for (int i = 0; i < NAME_SIZE; ++i)
    value->name[i] = value->data[i] = 0;
  DWORD name_length = NAME_SIZE;
  DWORD type = 0;
  value->data_size = NAME_SIZE;
  return BOUND(advapi32, RegEnumValueA)(key, index, value->name, &name_length, nullptr, &type,
                                        reinterpret_cast<LPBYTE>(value->data),
                                        &value->data_size) == ERROR_SUCCESS;
}
