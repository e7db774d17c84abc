#include "core/registry_calls.h"

#include "core/error_report.h"
#include "core/texts.h"

HKEY open_key(const library_table &advapi32, HKEY parent, const char *path, REGSAM access) {
  HKEY key = nullptr;
  if (BOUND(advapi32, RegOpenKeyExA)(parent, path, 0, access, &key) != ERROR_SUCCESS)
    return nullptr;
  return key;
}

HKEY open_key_reported(const library_table &advapi32, HKEY parent, const char *path,
                       REGSAM access) {
  HKEY key = nullptr;
  LONG error = BOUND(advapi32, RegOpenKeyExA)(parent, path, 0, access, &key);
  if (error == ERROR_SUCCESS)
    return key;
  report_system_error(static_cast<DWORD>(error), caption_reg_open_key_ex);
  return nullptr;
}

int key_closed(LONG error) {
  if (error == ERROR_SUCCESS)
    return 1;
  report_system_error(static_cast<DWORD>(error), caption_reg_close_key);
  return 0;
}

int close_key(const library_table &advapi32, HKEY key) {
  return key_closed(BOUND(advapi32, RegCloseKey)(key));
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
  LONG error = BOUND(advapi32, RegDeleteKeyA)(parent, subkey);
  if (error == ERROR_SUCCESS)
    return 1;
  report_system_error(static_cast<DWORD>(error), caption_reg_delete_key);
  return 0;
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
