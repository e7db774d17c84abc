// uninstall-sim as a function, so that tests can run it with their own input and output:
//
//   uninstall-sim [--machine NAME|FILE] [--answer ok,cancel,...] [--yes] [--export FILE]
//                 [--] [WORD]
//
// Sets up the simulated machine, runs the uninstaller with WORD as its command tail (exactly
// as given; none means an empty tail), draws every message box and takes its answer, then
// prints the program's exit code and what changed on the machine.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

struct rehearsal_io {
  std::FILE *out;
  std::FILE *err;
  bool terminal_input; // answers can be asked for with read_key
  bool colour;
  std::function<int()> read_key; // one key press; EOF when the input has ended
};

// Returns the process exit status: the uninstaller's exit code (-1 becomes 255), 2 for a
// usage error or a malformed machine or .reg file (then nothing runs), 1 when the export
// cannot be written.
int uninstall_sim_main(const std::vector<std::string> &args, const rehearsal_io &io);
