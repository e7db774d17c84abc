// What a rehearsal on a snapshot could not know: the places where the run used something
// that the snapshot cannot show (machine_unknown), each with the reason. The summary lists
// them under a heading of their own, and --record writes them as "not known" events.
#pragma once

#include "sim/sim.h"
#include "tools/machine_file.h"

#include <string>
#include <vector>

struct not_known_item {
  std::string subject; // the key, file or INF the run used (code page 932)
  std::string why;     // UTF-8
};

// Each subject once for each reason: first what the run's calls reached, in call order, then
// what its deletions did.
std::vector<not_known_item> find_not_known(const machine_description &machine,
                                           const std::vector<sim::call> &calls,
                                           const std::vector<sim::change> &changes);
