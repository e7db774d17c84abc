// The machines built into uninstall-sim, written in the machine file format so that they also
// serve as its examples.
#pragma once

#include <string>
#include <vector>

struct builtin_machine {
  const char *name;
  const char *summary;
  std::string text; // machine file text
};

// win2000 (the default), win98, clean-win2000, clean-win98, win7, win2000-failing.
const std::vector<builtin_machine> &builtin_machines();
// Null when no built-in machine has that name.
const builtin_machine *find_builtin_machine(const std::string &name);
