// The summary of a rehearsal: which model's step made every change, what Windows removed by
// itself along with a device, every failure the uninstaller reported, entries of one model
// removed by another model's rule, and what was kept.
//
// The uninstaller knows nothing of the rehearsal. The summary learns who did what from the
// simulation's records alone: every change names the call that made it, and the calls show
// where each step of the removal sequence begins (see summary.cpp). Whose entry a removed item
// is comes from the model catalogue and from the machine as it was before the run.
#pragma once

#include "sim/sim.h"
#include "tools/machine_file.h"
#include "tools/not_known.h"

#include <string>
#include <unordered_map>
#include <vector>

// A message box as shown, with the index in sim::calls() of its MessageBoxA call.
struct shown_box {
  size_t call;
  sim::box box;
};

// What the machine held before the run that tells whose entry a removed item is: the
// Windows 98 port instances by their "DeviceDesc" (and the driver keys they name), the driver
// keys of the models' own Enum entries, the INF files by the hardware ids they name, and the
// driver packages by their published OEM INF copy. Keys are upper-cased paths below
// HKEY_LOCAL_MACHINE, files and packages upper-cased full paths; the values are bit masks of
// models. `package_folders` gives each package's folder by its upper-cased published name.
struct entry_owners {
  std::unordered_map<std::string, unsigned> keys;
  std::unordered_map<std::string, unsigned> files;
  std::unordered_map<std::string, unsigned> packages;
  std::unordered_map<std::string, std::string> package_folders;
};
// Reads the machine as apply_machine set it up; call it before the run.
entry_owners capture_owners(const machine_description &machine);

struct run_view {
  bool win98;
  const std::vector<sim::call> &calls;
  const std::vector<sim::change> &changes;
  const std::vector<shown_box> &boxes;
  const entry_owners &owners;
  const std::vector<not_known_item> &not_known; // what the snapshot could not show
};

// The summary as text (UTF-8), in time and memory linear in the number of calls and changes.
std::string render_summary(const run_view &run, bool colour);
