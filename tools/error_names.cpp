// Error code names, as winerror.h and setupapi.h spell them.
#include "tools/error_names.h"

#include "tools/encoding.h"

#include <cstdio>

static const struct {
  DWORD code;
  const char *name;
} error_names[] = {
    {0, "ERROR_SUCCESS"},
    {1, "ERROR_INVALID_FUNCTION"},
    {2, "ERROR_FILE_NOT_FOUND"},
    {3, "ERROR_PATH_NOT_FOUND"},
    {4, "ERROR_TOO_MANY_OPEN_FILES"},
    {5, "ERROR_ACCESS_DENIED"},
    {6, "ERROR_INVALID_HANDLE"},
    {8, "ERROR_NOT_ENOUGH_MEMORY"},
    {13, "ERROR_INVALID_DATA"},
    {14, "ERROR_OUTOFMEMORY"},
    {15, "ERROR_INVALID_DRIVE"},
    {19, "ERROR_WRITE_PROTECT"},
    {21, "ERROR_NOT_READY"},
    {31, "ERROR_GEN_FAILURE"},
    {32, "ERROR_SHARING_VIOLATION"},
    {33, "ERROR_LOCK_VIOLATION"},
    {87, "ERROR_INVALID_PARAMETER"},
    {122, "ERROR_INSUFFICIENT_BUFFER"},
    {123, "ERROR_INVALID_NAME"},
    {126, "ERROR_MOD_NOT_FOUND"},
    {127, "ERROR_PROC_NOT_FOUND"},
    {161, "ERROR_BAD_PATHNAME"},
    {206, "ERROR_FILENAME_EXCED_RANGE"},
    {234, "ERROR_MORE_DATA"},
    {259, "ERROR_NO_MORE_ITEMS"},
    {317, "ERROR_MR_MID_NOT_FOUND"},
    {1004, "ERROR_INVALID_FLAGS"},
    {1009, "ERROR_BADDB"},
    {1010, "ERROR_BADKEY"},
    {1011, "ERROR_CANTOPEN"},
    {1012, "ERROR_CANTREAD"},
    {1013, "ERROR_CANTWRITE"},
    {1015, "ERROR_REGISTRY_CORRUPT"},
    {1016, "ERROR_REGISTRY_IO_FAILED"},
    {1018, "ERROR_KEY_DELETED"},
    {1020, "ERROR_KEY_HAS_CHILDREN"},
    {1300, "ERROR_NOT_ALL_ASSIGNED"},
    {1313, "ERROR_NO_SUCH_PRIVILEGE"},
    {1314, "ERROR_PRIVILEGE_NOT_HELD"},
    {1784, "ERROR_INVALID_USER_BUFFER"},
    {0xE0000000, "ERROR_EXPECTED_SECTION_NAME"},
    {0xE0000001, "ERROR_BAD_SECTION_NAME_LINE"},
    {0xE0000003, "ERROR_GENERAL_SYNTAX"},
    {0xE0000100, "ERROR_WRONG_INF_STYLE"},
    {0xE0000101, "ERROR_SECTION_NOT_FOUND"},
    {0xE0000102, "ERROR_LINE_NOT_FOUND"},
    {0xE0000200, "ERROR_NO_ASSOCIATED_CLASS"},
    {0xE000020B, "ERROR_NO_SUCH_DEVINST"},
    {0xE000020D, "ERROR_INVALID_CLASS_INSTALLER"},
    {0xE000020E, "ERROR_DI_DO_DEFAULT"},
    {0xE000023C, "ERROR_NOT_AN_INSTALLED_OEM_INF"},
    {0xE000023D, "ERROR_INF_IN_USE_BY_DEVICES"},
};

const char *error_name(DWORD code) {
  for (const auto &e : error_names)
    if (e.code == code)
      return e.name;
  return "";
}

bool error_code(const std::string &name, DWORD &code) {
  for (const auto &e : error_names)
    if (ascii_iequal(name, e.name)) {
      code = e.code;
      return true;
    }
  return false;
}

std::string describe_error(DWORD code) {
  char text[64];
  const char *name = error_name(code);
  if (*name)
    std::snprintf(text, sizeof text, "%s (%lu)", name, static_cast<unsigned long>(code));
  else
    std::snprintf(text, sizeof text, "error 0x%lX (%lu)", static_cast<unsigned long>(code),
                  static_cast<unsigned long>(code));
  return text;
}
