// Snapshots of real machines, as tools/snapshot.bat writes them into a folder:
//
//   VER.TXT                  what `ver` printed: the Windows version
//   WHERE.TXT                "windows PATH", "system PATH" and "family nt|win98" lines, and
//                            "wow64 PATH" when a 32-bit prompt on 64-bit Windows read the
//                            system folder through PATH (%windir%\Sysnative)
//   SYSTEM.REG, ENUM.REG     regedit /e of HKLM\System (and on Windows 98 of HKLM\Enum)
//   INF.DIR, OTHER.DIR, SYSTEM.DIR, DRIVERS.DIR
//                            `dir /b /a-d` of the inf folder, inf\OTHER, the system folder
//                            and its drivers folder
//   INF.ATT, OTHER.ATT, SYSTEM.ATT, DRIVERS.ATT
//                            `attrib` of the same folders
//   OEMINF\, OTHERINF\       copies of the OEM INF files of the inf folder and inf\OTHER
//
// The listings are read as the code-page-932 bytes a Japanese Windows writes, character by
// character (the trail byte 0x5C of ソ or 表 is no backslash), blank lines, "." and ".."
// ignored; any other line that cannot be read is refused with its file and line. A '?' is a
// character the console could not show: the name is kept as written, with a warning, and
// matches no real name. The snapshot is the whole machine: nothing it does not show is added.
// What it cannot show (a listing or a copy missing, whether a file is in use, the driver
// store's package folders) becomes an entry of machine.unknowns, and what was read in part
// a warning in machine.warnings.
#pragma once

#include "tools/machine_file.h"

#include <string>
#include <vector>

// The machine the snapshot shows.
bool read_snapshot(const std::string &folder, machine_description &machine, load_error &error);
