// The account of a rehearsal: one list of events, in the order they happened, that the summary
// (summary.h) and the record (run_record.h) are both rendered from.
//
// Who did what comes from the uninstaller itself: each removal step marks its model and step
// (core/account.h), and every change, box, failure and kept item takes the model and step of
// the latest mark before it. A failure is the report the uninstaller made, with its caption,
// code and subject as data; an item kept on purpose is one the uninstaller said it kept. What
// the run meant to remove and what still stays afterwards come from the simulated machine.
#pragma once

#include "core/account.h"
#include "core/catalogue.h"
#include "sim/sim.h"

#include <string>
#include <vector>

// A message box as shown, with the index in sim::calls() of its MessageBoxA call.
struct shown_box {
  size_t call;
  sim::box box;
};

// The kinds of event; a new kind is one more entry here and one in event_kind_names.
enum event_kind {
  EVENT_BOX,       // a message box and the answer it got
  EVENT_CHANGE,    // a change to the machine, with the call that made it
  EVENT_FAILURE,   // a failure the uninstaller reported: caption, code, subject
  EVENT_KEPT,      // an item the run meant to remove that stays, with the reason
  EVENT_NOT_KNOWN, // something the run used that the snapshot could not show
  EVENT_RESTART,   // the restart the program asked Windows for
  EVENT_COMPARED,  // --compare: an entry of the snapshot taken after the real run
  EVENT_EXIT,      // the program's exit code
  EVENT_KIND_COUNT
};
// The record's name of each kind; a change is named by its own kind ("key deleted", ...).
extern const char *const event_kind_names[EVENT_KIND_COUNT];
const char *change_kind_name(sim::change::kind_t kind);

// How an entry of the after-snapshot compares with the rehearsal (EVENT_COMPARED).
enum compare_result {
  COMPARED_REMOVED,    // as rehearsed: removed, and gone
  COMPARED_KEPT,       // as rehearsed: kept, and still there
  COMPARED_LEFT,       // left behind: rehearsed as removed, still there
  COMPARED_UNEXPECTED, // removed unexpectedly: rehearsed as kept, gone
  COMPARED_APPEARED,   // changed otherwise: not there before, there afterwards
  COMPARED_CHANGED,    // changed otherwise: there throughout, its content changed
  COMPARE_RESULT_COUNT
};
extern const char *const compare_result_names[COMPARE_RESULT_COUNT];

struct run_event {
  event_kind kind = EVENT_BOX;
  // The model and step the event happened in (core/account.h); MODEL_NONE and -1 before the
  // first step. A comparison's model and step are those of the rehearsed change, if any.
  int model = MODEL_NONE;
  int step = -1;
  sim::box box = {};                                     // box
  sim::change::kind_t change = sim::change::key_deleted; // change; `subject`, `call` as well
  std::string call;                      // change: the Windows function whose call made it
  std::string caption;                   // failure
  DWORD code = 0;                        // failure: the error code; exit: the exit code
  int subject_kind = SUBJECT_NONE;       // failure, kept, compared (subject_kind)
  std::string subject;                   // code page 932
  std::string why;                       // kept, not known: UTF-8
  compare_result result = COMPARED_KEPT; // compared
  UINT flags = 0;                        // restart: what ExitWindowsEx was asked to do
};

// What the account is made from: the simulated machine's logs of the run just made (and,
// for kept items, the machine as the run left it).
struct run_input {
  const std::vector<sim::call> &calls;
  const std::vector<sim::change> &changes;
  const std::vector<sim::mark> &marks;
  const std::vector<shown_box> &boxes;
  const sim::restart_record &restart;
};

struct run_account {
  std::vector<run_event> events;
  // The steps that began for each model, a bit (1 << step) each.
  unsigned steps_begun[MODEL_COUNT];
};

// The events of the run in the order they happened, then the kept items (which only the end
// of the run can tell), in linear time.
run_account account_of_run(const run_input &run);
// Appends an event without a model or step (not known, compared, exit).
void add_event(run_account &account, run_event event);
run_event event_of(event_kind kind);

// Whether a step marks a model's removal, not its detection or question.
bool is_removal_step(int step);
// A key path as calls name it (HKEY_LOCAL_MACHINE\SYSTEM\...) below HKEY_LOCAL_MACHINE,
// without trailing backslashes.
std::string below_hklm(const std::string &key);
