// uninstall-sim as a function, so that tests can run it with their own input and output:
//
//   uninstall-sim [--machine NAME|FILE | --snapshot FOLDER] [--answer ok,cancel,...] [--yes]
//                 [--export FILE] [--record FILE] [--] [WORD]
//
// Sets up the simulated machine, runs the uninstaller with the command line
// "QuendalUninstall.exe WORD" cut as the program cuts it, draws every message box and takes
// its answer, then prints the program's exit code and the summary of what the run did.
// --export writes the registry after the run, --record the boxes and changes for other
// programs (run_record.h).
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
  size_t columns;                // the terminal's width; 0 when unknown (boxes are not wrapped)
  std::function<int()> read_key; // one key press; EOF when the input has ended
};

// Returns the process exit status: the uninstaller's exit code (-1 becomes 255), 2 for a
// usage error or a malformed machine file, snapshot or .reg file (then nothing runs), 1 when
// the export or the record cannot be written (before the run when a file cannot be opened).
int uninstall_sim_main(const std::vector<std::string> &args, const rehearsal_io &io);
