// The record of a rehearsal for other programs (uninstall-sim --record FILE): JSON Lines, one
// object a line, in the order things happened, the exit code last:
//
//   {"event":"box","caption":C,"text":T,"type":N,"answer":A}
//                              a message box; N is its MessageBoxA type (49: MB_OKCANCEL |
//                              MB_ICONWARNING), A the button that answered it ("OK", "Cancel")
//   {"event":"key deleted","key":K,"call":F}
//   {"event":"value deleted","key":K,"value":V,"call":F}
//   {"event":"file deleted","file":P,"call":F}
//   {"event":"attributes set","file":P,"call":F}
//   {"event":"device removed","device":I,"call":F}
//   {"event":"package removed","folder":P,"call":F}  a driver package's folder in the store
//   {"event":"file deleted at restart","file":P,"call":F}
//                              a file in use, scheduled with MoveFileExA: it stays until
//                              Windows deletes it at the next restart
//   {"event":"device removed at restart","device":I,"call":F}
//                              removed, and Windows asked for a restart to finish the removal
//                              (it could not stop the device)
//   {"event":"not known","subject":S,"why":W}
//                              after the run's events: the run used S (a key, file or INF),
//                              which the snapshot could not show; W says what is not known
//   {"event":"exit","code":N}
//
// K is a full key path from HKEY_LOCAL_MACHINE, P a full file path, I a device instance id.
// F is the Windows function whose call made the change: what Windows deleted by itself with a
// removed device names SetupDiCallClassInstaller, each key of a subtree that a Windows 98
// RegDeleteKeyA took with it names RegDeleteKeyA. Texts are UTF-8 converted from code page
// 932; a byte that is not valid code page 932 is written as \xNN, as the terminal shows it.
#pragma once

#include "tools/summary.h"

#include <string>

std::string render_record(const run_view &run, int exit_code);
