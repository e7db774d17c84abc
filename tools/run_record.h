// The record of a rehearsal for other programs (uninstall-sim --record FILE), a view of its
// account (run_account.h): JSON Lines, one object a line, UTF-8. The first line names the
// format and its version; then the events in the order they happened, the kept items, what is
// not known, the comparison with the snapshot after the real run (--compare), and the exit
// code last:
//
//   {"format":"uninstall-sim record","version":3}
//   {"event":"box","caption":C,"text":T,"type":N,"answer":A,WHERE}
//                              a message box; N is its MessageBoxA type (49: MB_OKCANCEL |
//                              MB_ICONWARNING), A the button that answered it ("OK", "Cancel")
//   {"event":"key deleted","key":K,"call":F,WHERE}
//   {"event":"value deleted","key":K,"value":V,"call":F,WHERE}
//   {"event":"file deleted","file":P,"call":F,WHERE}
//   {"event":"attributes set","file":P,"call":F,WHERE}
//   {"event":"device removed","device":I,"call":F,WHERE}
//   {"event":"package removed","folder":P,"call":F,WHERE}
//                              a driver package's folder in the store
//   {"event":"file deleted at restart","file":P,"call":F,WHERE}
//                              a file in use, scheduled with MoveFileExA: it stays until Windows
//                              deletes it at the next restart
//   {"event":"device removed at restart","device":I,"call":F,WHERE}
//                              removed, and Windows asked for a restart to finish the removal
//                              (it could not stop the device)
//   {"event":"failure","caption":C,"code":N,"code name":E,"subject kind":S,"subject":X,WHERE}
//                              a failure the uninstaller reported in an error box (its "box"
//                              event comes just before): the box's caption, the error code and
//                              its name ("ERROR_ACCESS_DENIED", "" when it has none), and what
//                              the failed call was made on: S is "key", "file", "device", "INF",
//                              "module", "function", "program" or "" (then X is "")
//   {"event":"restart","flags":N,WHERE}
//                              the program asked Windows to restart: ExitWindowsEx's flags
//   {"event":"kept","subject kind":S,"subject":X,"why":W,WHERE}
//                              after the run's events: an item the run meant to remove that
//                              stays, W saying why, WHERE the step that left it
//   {"event":"not known","subject":X,"why":W}
//                              the run used X (a key, file or INF), which the snapshot could
//                              not show; W says what is not known
//   {"event":"compared","result":R,"subject kind":S,"subject":X,WHERE}
//                              --compare: an entry of the places the uninstaller's rules reach,
//                              in the snapshot taken after the real run; R is "removed as
//                              rehearsed", "kept as rehearsed", "left behind" (rehearsed as
//                              removed, still there), "removed unexpectedly" (rehearsed as kept,
//                              gone), "appeared" or "changed"; WHERE is the step whose change
//                              the rehearsal made, the model's for an entry it kept
//   {"event":"exit","code":N}
//
// WHERE is "model":M,"step":T: the model (0, 1, 2) and the step ("modem class scan", "driver
// and INF files", ...; core/hosted/account.cpp has the names) whose step the event happened in;
// both null before the first step, model null in the "closing" step after the models' steps.
// K is a full key path from HKEY_LOCAL_MACHINE, P a full file path, I a device instance id.
// F is the Windows function whose call made the change: what Windows deleted by itself with a
// removed device names SetupDiCallClassInstaller, each key of a subtree that a Windows 98
// RegDeleteKeyA took with it names RegDeleteKeyA. Texts are UTF-8 converted from code page
// 932; a byte that is not valid code page 932 is written as \xNN, as the terminal shows it.
//
// Version 1, without the format line, had neither WHERE nor the failure, restart, kept and
// compared events; version 2 had no deletions and removals at restart.
#pragma once

#include "tools/run_account.h"

#include <string>

std::string render_record(const run_account &account);
