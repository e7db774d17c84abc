// The summary of a rehearsal, a view of its account (run_account.h): a line of totals, what
// became of each model, every removal under the model and step that made it (what Windows
// removed by itself along with a device shown as such), every failure the uninstaller reported,
// entries of one model removed by another model's rule, what was kept and what is not known.
//
// Whose entry a removed item is comes from the model catalogue and from the machine as it was
// before the run.
#pragma once

#include "tools/machine_file.h"
#include "tools/run_account.h"

#include <string>
#include <unordered_map>
#include <vector>

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

// The summary as text (UTF-8), in time and memory linear in the number of events.
std::string render_summary(const run_account &account, const entry_owners &owners, bool colour);
