// The machines built into uninstall-sim: machine files, which also serve as examples of the
// format, and snapshot folders of real Windows versions and languages (tools/machines/), byte
// for byte as tools/snapshot.bat writes them.
#pragma once

#include "tools/machine_file.h"

#include <cstddef>
#include <string>
#include <vector>

// One file of a snapshot folder: its path in the folder ("OEMINF/oem12.inf") and its bytes.
struct builtin_file {
  const char *path;
  const char *bytes;
  size_t size;
};

struct builtin_machine {
  const char *name;
  const char *summary;
  std::string text;                        // machine file text; empty for a snapshot
  std::vector<builtin_file> snapshot = {}; // the files of a snapshot folder
};

// win2000 (the default), win98, clean-win2000, clean-win98, win7, win2000-failing, then the
// snapshots of tools/machines/ by name.
const std::vector<builtin_machine> &builtin_machines();
// Null when no built-in machine has that name.
const builtin_machine *find_builtin_machine(const std::string &name);

// The snapshot folders of tools/machines/, embedded at build time (tools/embed_machines.cmake).
std::vector<builtin_machine> embedded_snapshot_machines();

// Reads a built-in snapshot as any snapshot is read (read_snapshot, the same arguments): it is
// unpacked into a folder of its own below the temporary directory, which is removed
// afterwards, and what the reader says of that folder is said of the machine's name
// ("win10-ja/INF.DIR:29: ...").
bool read_builtin_snapshot(const builtin_machine &machine, machine_description &description,
                           load_error &error);
