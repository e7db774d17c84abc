// Pieces the parts of the reliability checks share: ASCII text helpers, the names and places
// of the models' entries as the checks see them, and where in a run a box was shown.
#pragma once

#include "tests/reliability_support.h"

#include <string>
#include <vector>

namespace reliability {

std::string upper(std::string s);
std::string lower(std::string s);
bool ieq(const std::string &a, const std::string &b);
// `path` is `root` or lies below it (without regard to case).
bool at_or_below(const std::string &path, const std::string &root);
std::string strip_hklm(const std::string &path);
std::vector<std::string> split(const std::string &path); // at every backslash
std::string three_digits(int n);
std::string four_digits(int n);

extern const char modem_class_path[]; // below CurrentControlSet, without a final backslash
extern const char usbta_key[];
extern const char win98_class_prefix[];
extern const char win98_vxd_prefix[];
extern const char win98_vmm32files[];
extern const char win98_ports[];

// Where a listed file lies: the Windows 2000 list on C:\WINDOWS, and the Windows 98 list below
// the folders given ("" for a kind without a folder). The checks' own reading of the rules,
// independent of the program's.
std::string nt_placement(int model, int slot);
std::string win98_placement(const std::string &windows, const std::string &system,
                            const std::string &name);

enum phase_t { OUTSIDE, CONFIRM, STEPS };

// Where in the run a box was shown: which model's detection or removal steps, whether the
// last part of the steps had begun (the OEM INF scan on Windows 2000, the port walk on
// Windows 98), and the call whose failure it reports.
struct box_context {
  int model = -1;
  phase_t phase = OUTSIDE;
  bool late = false;
  sim::call failed;
  std::string code; // the reported error code, as FormatMessageA was given it
};

enum : int { NOT_HERE = -1, REPORT_ONLY = 0 };
int flag_bit(int flag);
// The six status flags of a model, by flag number.
extern int (*const flag_getters[6])(int model);

// Which status flags of the box's model a reported failure must leave nonzero (one of them
// suffices): a bit set of flag numbers, REPORT_ONLY for reports that the rules leave
// unrecorded, NOT_HERE for a caption the program never shows at that point.
int required_flags(const machine_plan &plan, const snapshot &before, const box_context &context,
                   const std::string &caption, bool processed);

} // namespace reliability
