// The names Windows' headers give the error codes a run can meet (winerror.h and setupapi.h),
// for the summary and for the machine file's `fail` lines.
#pragma once

#include "platform/windows_api.h"

#include <string>

// "ERROR_ACCESS_DENIED" for 5; "" for a code without a known name.
const char *error_name(DWORD code);
// The code of a name ("ERROR_ACCESS_DENIED", any letter case); false when it is unknown.
bool error_code(const std::string &name, DWORD &code);
// "ERROR_ACCESS_DENIED (5)", or "error 0x1234 (4660)" when the code has no known name.
std::string describe_error(DWORD code);
