// The report of a failed system call: the system's text for the error code in an error box
// whose caption names the call.
#pragma once

#include "platform/windows_api.h"

void report_system_error(DWORD error_code, const char *caption);
