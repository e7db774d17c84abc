// The Windows functions, types and constants the uninstaller calls.
// On Windows these come from the SDK headers; on the host they are declared
// here with their Windows sizes and implemented by the simulated machine in sim/.
#pragma once

#ifdef _WIN32
#include <windows.h>
// setupapi.h relies on the types of windows.h, so it comes second.
#include <setupapi.h>
#else
#include "platform/host_windows.h"
#endif
