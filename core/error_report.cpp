// The system-error report: the system's own text for the code, in an error box whose caption
// names the failed call. It only informs; the caller decides how the run goes on.
#include "core/error_report.h"

void report_system_error(DWORD error_code, const char *caption) {
  char *text = nullptr;
  DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM,
                                nullptr, error_code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                reinterpret_cast<LPSTR>(&text), 0, nullptr);
  if (length == 0)
    text = nullptr; // no text for this code: an empty box, and nothing to release
  MessageBoxA(nullptr, text ? text : "", caption, MB_ICONERROR);
  if (text)
    LocalFree(text);
}
