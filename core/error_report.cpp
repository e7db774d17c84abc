// The system-error report: the system's own text for the code, in an error box whose caption
// names the failed call. It only informs; the caller decides how the run goes on.
#include "core/error_report.h"

void report_system_error(DWORD error_code, const char *caption, const run_subject &subject) {
  // No insert arguments are passed, so inserts are left as written: some system texts have
  // them (193: "%1 is not a valid Win32 application."), and without IGNORE_INSERTS Windows
  // fails the call for such a text, or on older versions reads arguments never passed.
  char *text = nullptr;
  DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                    FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, error_code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                reinterpret_cast<LPSTR>(&text), 0, nullptr);
  if (length == 0)
    text = nullptr; // no text for this code: an empty box, and nothing to release
  MessageBoxA(nullptr, text ? text : "", caption, MB_ICONERROR);
  if (text)
    LocalFree(text);
  mark_failure(caption, error_code, subject);
}
