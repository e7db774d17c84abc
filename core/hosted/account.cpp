// Hosted build only: the run's account handed to the simulated machine, which logs it among
// the Windows calls (sim::marks()), and the words the rehearsal names it with.
#include "core/hosted/account.h"

#include "core/account.h"
#include "sim/sim.h"

static const char *const step_names[] = {
    "detection",        "question",
    "modem class scan", "device instances",
    "service keys",     "driver and INF files",
    "Windows 98 files", "OEM INF copies",
    "Enum entries",     "serial port entries",
    "VxD entries",      "driver files",
    "closing",
};
static_assert(sizeof step_names / sizeof *step_names == STEP_COUNT, "a name for every step");

static const char *const subject_kind_names[] = {"",       "key",      "file",    "device", "INF",
                                                 "module", "function", "program", "value"};
static_assert(sizeof subject_kind_names / sizeof *subject_kind_names == SUBJECT_VALUE + 1,
              "a name for every kind of subject");

const char *step_name(int step) {
  return step >= 0 && step < STEP_COUNT ? step_names[step] : "";
}

const char *subject_kind_name(int kind) {
  return kind >= 0 && kind <= SUBJECT_VALUE ? subject_kind_names[kind] : "";
}

const char *kept_reason_text(int reason) {
  switch (reason) {
  case KEPT_IN_USE_BY_DEVICE:
    return "a device that was not removed still uses it: Windows refused to uninstall it";
  }
  return "";
}

// The subject as the simulation's call log names it.
static std::string subject_name(const run_subject &subject) {
  switch (subject.kind) {
  case SUBJECT_KEY:
    return sim::key_handle_name(static_cast<HKEY>(const_cast<void *>(subject.object)),
                                subject.name);
  case SUBJECT_DEVICE:
    return sim::device_record_name(static_cast<const SP_DEVINFO_DATA *>(subject.object));
  case SUBJECT_PROGRAM:
    return sim::wide_path_name(static_cast<const wchar_t *>(subject.object));
  }
  return subject.name ? subject.name : "";
}

void mark_step(int model, int step) {
  sim::mark m;
  m.kind = sim::mark::step_begun;
  m.model = model;
  m.step = step;
  sim::log_mark(m);
}

void mark_failure(const char *caption, DWORD code, const run_subject &subject) {
  sim::mark m;
  m.kind = sim::mark::failure;
  m.caption = caption ? caption : "";
  m.code = code;
  m.subject_kind = subject.kind;
  m.subject = subject_name(subject);
  sim::log_mark(m);
}

void mark_kept(const run_subject &subject, int reason) {
  sim::mark m;
  m.kind = sim::mark::kept;
  m.subject_kind = subject.kind;
  m.subject = subject_name(subject);
  m.reason = reason;
  sim::log_mark(m);
}
