// Reliability checks shared by the property test, the fault sweep and the whole-run fuzz target:
// random machines of both families with the models' real entries next to decoys, a record of
// how each machine was built (printed as C++ that rebuilds it), and the checks every run must
// pass whatever the machine, the faults and the answers. The parts: reliability_plan.cpp
// (randomness, builders, the record), reliability_machines.cpp (random machines and faults),
// reliability_oracle.cpp (what the rules allow a run to delete and record),
// reliability_checks.cpp (running and checking a run).
#pragma once

#include "core/catalogue.h"
#include "sim/sim.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace reliability {

// A small deterministic generator (splitmix64), so that a seed names one machine everywhere.
struct random_source {
  uint64_t state;
  explicit random_source(uint64_t seed) : state(seed) {}
  uint64_t next();
  uint32_t below(uint32_t bound); // 0 .. bound-1; 0 when bound is 0
  bool chance(int percent);
};

// One statement of a machine's construction, kept as data: what it did to the simulated
// machine and, printed, the C++ that does it again.
struct machine_step {
  enum kind_t {
    win2000,           // sim::machine_win2000()
    win98,             // sim::machine_win98()
    key,               // path
    value,             // path, name, number (type), data
    string,            // path, name, data
    link,              // path (the alias), name (the target)
    key_deleted,       // path
    file,              // path, number (attributes), data (contents)
    folder,            // path
    device_instance,   // device
    windows_directory, // path
    system_directory,  // path
    key_denied,        // path, number (access mask)
    attributes_denied, // path, number (error)
    delete_denied,     // path, number (error)
    file_loaded,       // path: the image of a loaded driver
    nt_platform,       // number (version: major << 8 | minor), name ("wine": Wine's uninstall)
    driver_package,    // path (the published OEM INF), name (the store folder), data
  } kind;
  std::string path;
  std::string name;
  std::string data;
  DWORD number = 0;
  sim::device device;
};

// A machine as it was built: its steps, and what must survive every run.
struct machine_plan {
  bool win98 = false;
  std::string command_tail;
  std::string origin;              // a machine not built by steps says here where it came from
  std::vector<machine_step> steps; // in order; the first one resets the machine
  std::vector<sim::device> devices;
  // Decoys: entries that no rule of the program reaches.
  std::vector<std::string> decoy_keys;                           // below HKLM
  std::vector<std::pair<std::string, std::string>> decoy_values; // key, value name
  std::vector<std::string> decoy_files;                          // full paths
  std::vector<std::string> decoy_devices;                        // instance ids
  std::vector<sim::fault> faults;
};

// Builders: each acts on the simulated machine and records the step that does it.
void start_machine(machine_plan &plan, bool win98);
void add_key(machine_plan &plan, const std::string &path);
void set_value(machine_plan &plan, const std::string &path, const std::string &name, DWORD type,
               const std::string &data);
void set_string(machine_plan &plan, const std::string &path, const std::string &name,
                const std::string &text);
void add_link(machine_plan &plan, const std::string &alias, const std::string &target);
void delete_key(machine_plan &plan, const std::string &path);
void add_file(machine_plan &plan, const std::string &path, DWORD attributes,
              const std::string &contents = std::string());
void add_folder(machine_plan &plan, const std::string &path);
void add_device(machine_plan &plan, const sim::device &device);
// The Windows and system directories (both folders are created).
void set_directories(machine_plan &plan, const std::string &windows, const std::string &system);
// A key that refuses the access rights in `mask`; a file whose attributes or deletion fail.
void deny_key(machine_plan &plan, const std::string &path, REGSAM mask);
void deny_file_attributes(machine_plan &plan, const std::string &path, DWORD error);
void deny_file_delete(machine_plan &plan, const std::string &path, DWORD error);
// A driver file whose driver is loaded: Windows 10 and 11 refuse to delete it.
void load_driver_file(machine_plan &plan, const std::string &path);
void add_fault(machine_plan &plan, const sim::fault &fault);
// The Windows 2000 family's version, and Wine's uninstall of OEM INF copies; a driver package
// published as an OEM INF copy, in the store folder `folder` ("<inf name>_..."), holding
// `contents`.
void set_nt_platform(machine_plan &plan, DWORD major, DWORD minor, bool wine);
void add_driver_package(machine_plan &plan, const std::string &oem_inf, const std::string &folder,
                        const std::string &contents);

// Random machines with the models' entries (any subset, partly there, read-only, in several
// control sets, OEM INF copies at random numbers) and decoys next to them.
void generate_nt_machine(machine_plan &plan, random_source &random);
void generate_win98_machine(machine_plan &plan, random_source &random);
// 0 to 3 faults on random calls of the functions the family's steps use.
void generate_faults(machine_plan &plan, random_source &random);

// What the program may delete: taken from the machine before the run.
struct snapshot {
  bool win98 = false;
  struct key {
    std::string path; // below HKLM, canonical (no alias)
    std::vector<sim::reg_value_data> values;
  };
  std::vector<key> keys;
  std::vector<sim::device> devices;
  std::string windows_directory, system_directory;
  // The "USBTA" line of each OEM INF copy (oem<digits>.inf in the INF folder, by its name),
  // as the platform reads it.
  std::map<std::string, std::string> usbta_text;
  std::map<std::string, std::string> packages; // upper-cased folder -> its published copy
  // Per model: the files a run may touch, and on Windows 98 the keys it may delete with all
  // below them.
  std::vector<std::string> model_files[MODEL_COUNT];
  std::vector<std::string> win98_key_roots[MODEL_COUNT];
};
snapshot take_snapshot(const machine_plan &plan);

// One run: the answers it gave (in box order) and what it returned.
struct run_record {
  int exit_code = 0;
  std::vector<int> answers;
  size_t first_call = 0; // index in sim::calls() where the run began
};

// The user: decides each answer; `nullptr` answers OK to everything.
using answer_policy = std::function<int(const sim::box &)>;
answer_policy random_answers(random_source &random);

// Resets the process state, installs the faults, runs the uninstaller with the plan's
// command tail.
run_record run_uninstaller(const machine_plan &plan, const answer_policy &answers);

// Every check a run must pass; one line per problem found, empty when the run is sound.
std::vector<std::string> check_run(const machine_plan &plan, const snapshot &before,
                                   const run_record &run);

// C++ that rebuilds the machine, installs the faults and replays the answers: pasted into a
// test, it repeats the failing run.
std::string reproduction(const machine_plan &plan, const run_record &run);

// Deletions the rules of the program allow for the models in `models` (bit m: model m).
bool deletion_allowed(const snapshot &before, const sim::change &change, unsigned models,
                      bool complete);

} // namespace reliability
