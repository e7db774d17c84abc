// The account of a rehearsal, gathered in one pass over the simulation's call log.
#include "tools/run_account.h"

#include "core/hosted/account.h"
#include "core/texts.h"
#include "tools/encoding.h"

#include <unordered_set>

const char *const event_kind_names[EVENT_KIND_COUNT] = {"box",       "change",  "failure",  "kept",
                                                        "not known", "restart", "compared", "exit"};

const char *const compare_result_names[COMPARE_RESULT_COUNT] = {
    "removed as rehearsed", "kept as rehearsed", "left behind",
    "removed unexpectedly", "appeared",          "changed"};

const char *change_kind_name(sim::change::kind_t kind) {
  switch (kind) {
  case sim::change::key_deleted:
    return "key deleted";
  case sim::change::value_deleted:
    return "value deleted";
  case sim::change::file_deleted:
    return "file deleted";
  case sim::change::attributes_set:
    return "attributes set";
  case sim::change::device_removed:
    return "device removed";
  case sim::change::package_removed:
    return "package removed";
  case sim::change::file_deleted_at_restart:
    return "file deleted at restart";
  case sim::change::device_removed_at_restart:
    return "device removed at restart";
  }
  return "";
}

static const char hklm[] = "HKEY_LOCAL_MACHINE\\";

std::string below_hklm(const std::string &key) {
  std::string out = key;
  if (ascii_iequal(out.substr(0, sizeof hklm - 1), hklm))
    out = out.substr(sizeof hklm - 1);
  return trim_backslashes(out);
}

bool is_removal_step(int step) {
  return step != STEP_DETECTION && step != STEP_QUESTION && step != STEP_CLOSING && step >= 0;
}

run_event event_of(event_kind kind) {
  run_event e;
  e.kind = kind;
  return e;
}

void add_event(run_account &account, run_event event) {
  account.events.push_back(std::move(event));
}

// The failures whose subject stays when the call fails: the removals themselves, and the
// attribute reset without which a file is not deleted.
static bool is_removal_caption(const std::string &caption) {
  for (const char *removal : {caption_delete_file, caption_set_file_attributes,
                              caption_reg_delete_key, caption_call_class_installer})
    if (caption == removal)
      return true;
  return false;
}

// Whether the subject of a failure or kept item is still on the machine after the run.
static bool still_there(int kind, const std::string &subject) {
  switch (kind) {
  case SUBJECT_FILE:
    return sim::file_exists(subject);
  case SUBJECT_KEY:
    return sim::reg_key_exists(below_hklm(subject));
  case SUBJECT_DEVICE:
    return sim::device_exists(subject);
  }
  return false;
}

namespace {

// An item that stays unless a later step removes it.
struct kept_candidate {
  run_event event;
  bool attributes_only; // its attributes were reset, nothing more was said of it
};

// The walk: where it stands, and what it has gathered.
struct walk_state {
  run_account account;
  int model = MODEL_NONE;
  int step = -1;
  std::vector<kept_candidate> kept; // settled at the end
  // Files that Windows deletes at the next restart: there until then, yet not kept.
  std::unordered_set<std::string> deleted_at_restart; // upper-cased
};

} // namespace

static run_event placed(const walk_state &w, event_kind kind) {
  run_event e = event_of(kind);
  e.model = w.model;
  e.step = w.step;
  return e;
}

static void take_mark(walk_state &w, const sim::mark &m) {
  switch (m.kind) {
  case sim::mark::step_begun:
    w.model = m.model;
    w.step = m.step;
    if (m.model >= 0 && m.model < MODEL_COUNT && m.step >= 0 && m.step < STEP_COUNT)
      w.account.steps_begun[m.model] |= 1u << m.step;
    break;
  case sim::mark::failure: {
    run_event e = placed(w, EVENT_FAILURE);
    e.caption = m.caption;
    e.code = m.code;
    e.subject_kind = m.subject_kind;
    e.subject = m.subject;
    w.account.events.push_back(e);
    if (is_removal_step(w.step) && is_removal_caption(m.caption)) {
      e.kind = EVENT_KEPT;
      e.why = "its removal failed";
      w.kept.push_back({e, false});
    }
    break;
  }
  case sim::mark::kept: {
    run_event e = placed(w, EVENT_KEPT);
    e.subject_kind = m.subject_kind;
    e.subject = m.subject;
    e.why = kept_reason_text(m.reason);
    w.kept.push_back({e, false});
    break;
  }
  }
}

static void take_change(walk_state &w, const sim::change &c, const std::string &function) {
  run_event e = placed(w, EVENT_CHANGE);
  e.change = c.kind;
  e.subject = c.subject;
  e.call = function;
  w.account.events.push_back(e);
  if (c.kind == sim::change::file_deleted_at_restart)
    w.deleted_at_restart.insert(ascii_upper(c.subject));
  // A file whose attributes were reset stays so when it is not deleted afterwards.
  if (c.kind == sim::change::attributes_set) {
    e.kind = EVENT_KEPT;
    e.subject_kind = SUBJECT_FILE;
    e.why = "attributes set to normal";
    w.kept.push_back({e, true});
  }
}

// Each kept item once, the first reason given for it, and only when it is still there.
static void settle_kept(walk_state &w) {
  std::unordered_set<std::string> listed;
  // An item the uninstaller kept, or failed to remove, is listed for that reason rather than
  // for its attribute reset.
  for (bool attributes_only : {false, true})
    for (const kept_candidate &k : w.kept) {
      const run_event &e = k.event;
      if (k.attributes_only != attributes_only || !still_there(e.subject_kind, e.subject) ||
          (e.subject_kind == SUBJECT_FILE && w.deleted_at_restart.count(ascii_upper(e.subject))))
        continue;
      if (listed.insert(std::to_string(e.subject_kind) + ascii_upper(e.subject)).second)
        w.account.events.push_back(e);
    }
}

run_account account_of_run(const run_input &run) {
  walk_state w;
  for (unsigned &steps : w.account.steps_begun)
    steps = 0;
  size_t next_mark = 0, next_change = 0, next_box = 0;
  for (size_t i = 0; i < run.calls.size(); ++i) {
    for (; next_mark < run.marks.size() && run.marks[next_mark].call <= i; ++next_mark)
      take_mark(w, run.marks[next_mark]);
    for (; next_change < run.changes.size() && run.changes[next_change].call <= i; ++next_change)
      take_change(w, run.changes[next_change], run.calls[run.changes[next_change].call].function);
    for (; next_box < run.boxes.size() && run.boxes[next_box].call <= i; ++next_box) {
      run_event e = placed(w, EVENT_BOX);
      e.box = run.boxes[next_box].box;
      w.account.events.push_back(e);
    }
    if (run.calls[i].function == "ExitWindowsEx") {
      run_event e = placed(w, EVENT_RESTART);
      e.flags = run.restart.exit_flags;
      w.account.events.push_back(e);
    }
  }
  settle_kept(w);
  return w.account;
}
