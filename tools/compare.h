// The check after the real run (uninstall-sim --snapshot BEFORE --compare AFTER): the
// rehearsal on BEFORE against a snapshot of the same machine taken after the real uninstaller
// ran with the same word and answers.
//
// It looks at every place the uninstaller's rules reach, found by the catalogue's own
// predicates (core/catalogue.h), in each control set:
//   - the device instances whose hardware ids name a model (the Enum instance keys),
//   - the modem class driver keys whose "MatchingDeviceId" names a model, and the OEM INF copy
//     their "InfPath" names,
//   - the service keys a model's service name matches,
//   - the models' driver, INF and PNF files of both lists, and every INF of the INF folder (and
//     inf\OTHER) that names a model's hardware id, each with its PNF,
//   - on Windows 98: the Enum\<hardware id> keys, the serial port instances that describe a
//     model, the driver keys these name, the VxD keys and the VMM32Files values;
// every key with the keys below it. Everything else is Windows' own business and is ignored.
//
// Each such entry of BEFORE, and of AFTER, is one of: removed as rehearsed, kept as rehearsed,
// left behind (the rehearsal removed it, AFTER still has it), removed unexpectedly (the
// rehearsal kept it, AFTER lacks it), appeared (AFTER has it, BEFORE had not) or changed (its
// values differ from the rehearsal's).
#pragma once

#include "tools/machine_file.h"
#include "tools/run_account.h"

#include <map>
#include <string>
#include <unordered_set>
#include <vector>

// An entry of those places: a key (with its values as `content`), a value or a file.
struct reached_entry {
  int kind; // SUBJECT_KEY, SUBJECT_VALUE, SUBJECT_FILE
  std::string subject;
  std::string content;
  int model; // the first model whose rule reaches it
};

struct reached_places {
  std::vector<std::string> order;               // the entries' ids, in the order found
  std::map<std::string, reached_entry> entries; // by id (kind and upper-cased subject)
  std::unordered_set<std::string> looked_at;    // the ids of every candidate, reached or not
};

// The places the rules reach on the simulated machine, as `machine` set it up (its files are
// read from the description: the simulated machine keeps no contents a rehearsal can read).
reached_places reach_of(const machine_description &machine);

// The entries of `places` as the simulated machine holds them now: those still there, with
// their content.
std::map<std::string, reached_entry> look_up(const reached_places &places);

// The comparison, as EVENT_COMPARED events in the order of BEFORE's entries, then AFTER's
// new ones. `rehearsed` is the machine after the rehearsal, `after` the snapshot's;
// `account` gives the model and step of each rehearsed removal.
std::vector<run_event> compare_runs(const reached_places &before,
                                    const std::map<std::string, reached_entry> &rehearsed,
                                    const reached_places &after,
                                    const std::map<std::string, reached_entry> &after_of_before,
                                    const run_account &account);

// The comparison for the terminal, ending with its verdict; and whether it went as rehearsed.
std::string render_comparison(const std::vector<run_event> &compared, const std::string &after,
                              bool colour);
bool went_as_rehearsed(const std::vector<run_event> &compared);
