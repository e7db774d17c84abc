// Snapshots of real machines, as tools/snapshot.bat writes them into a folder:
//
//   VER.TXT                  what `ver` printed: the Windows version
//   WHERE.TXT                "windows PATH", "system PATH" and "family nt|win98" lines
//   SYSTEM.REG, ENUM.REG     regedit /e of HKLM\System (and on Windows 98 of HKLM\Enum)
//   INF.DIR, OTHER.DIR, SYSTEM.DIR, DRIVERS.DIR
//                            `dir /b /a-d` of the inf folder, inf\OTHER, the system folder
//                            and its drivers folder
//   INF.ATT, OTHER.ATT, SYSTEM.ATT, DRIVERS.ATT
//                            `attrib` of the same folders
//   OEMINF\, OTHERINF\       copies of the OEM INF files of the inf folder and inf\OTHER
//
// The listings are read as the code-page-932 bytes a Japanese Windows writes, blank lines,
// "." and ".." ignored; any other line that cannot be read is refused with its file and line.
#pragma once

#include "tools/machine_file.h"

#include <string>
#include <vector>

// The machine the snapshot shows. `warnings` gets one line for each thing that was read in
// a way worth knowing (a missing listing, a version taken from the family).
bool read_snapshot(const std::string &folder, machine_description &machine,
                   std::vector<std::string> &warnings, load_error &error);
