// The report of a failed system call: the system's text for the error code in an error box
// whose caption names the call.
#pragma once

#include "core/account.h"
#include "platform/windows_api.h"

// `subject` is what the failed call was made on, for the run's account (core/account.h); the
// box does not show it.
void report_system_error(DWORD error_code, const char *caption,
                         const run_subject &subject = run_subject{SUBJECT_NONE, nullptr, nullptr});
