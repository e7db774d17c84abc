// Support for the tests of tools/: the simulated machine's state as comparable text, and
// uninstall-sim run in-process with its output captured.
#pragma once

#include "tests/support.h"

#include <string>
#include <vector>

// Every key (aliases left out) and value of the registry, one line each ("[key]" and
// "[key] name = type:data"), in enumeration order; bytes outside printable ASCII as \xNN.
std::string registry_dump();
// Files and device instances, one line each.
std::string files_and_devices_dump();

// UTF-8 text as a Unicode file of Windows (a .reg export, a Unicode INF): UTF-16LE with a
// byte-order mark, every line ending in CR LF.
std::string utf16_file(const std::string &utf8);

struct sim_run {
  int status;
  std::string out;
  std::string err;
};
// Runs uninstall-sim with these arguments; `keys` are the key presses of a terminal user
// (none: standard input is not a terminal).
sim_run run_uninstall_sim(const std::vector<std::string> &args, const std::string *keys = nullptr,
                          bool colour = false);

// The boxes of the uninstaller's runs.
extern const expected_box consent_box, completed_box, restart_box, invalid_option_box;
expected_box not_installed_box(int model);
expected_box question_box(int model);
expected_box error_box(DWORD code, const char *caption);

// The lines of a text file, without their line ends.
std::vector<std::string> read_lines(const std::string &path);
// A field of one line of an uninstall-sim record (a flat JSON object): a string unescaped, a
// number or null as written; "" when the line has no such field.
std::string record_field(const std::string &line, const std::string &name);
