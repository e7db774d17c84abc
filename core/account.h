// The run's account of itself, beyond its Windows calls: which model and step each removal
// step works on, every failure it reports (caption, code and what the failed call was made on)
// and every item it leaves on purpose. The Windows program keeps no such account: it writes no
// log and no file of its own, and app/ fills these functions with nothing. The hosted build
// hands them to the simulated machine, which logs them among the Windows calls; the rehearsal
// reads who did what from there.
#pragma once

#include "platform/windows_api.h"

// The steps of the two removal sequences. The sequences decide their order; each step marks
// its own beginning, so a step moved in a sequence takes its mark along.
enum run_step {
  STEP_DETECTION,        // models 1 and 2: their devices and files looked for
  STEP_QUESTION,         // models 1 and 2: the user asked whether to remove the model
  STEP_MODEM_CLASS_SCAN, // Windows 2000 family
  STEP_DEVICE_INSTANCES,
  STEP_SERVICE_KEYS,
  STEP_NT_FILES,       // the driver and INF files, and the OEM INF the scan named
  STEP_NT_WIN98_FILES, // what a Windows 98 installation left on a Windows 2000 machine
  STEP_OEM_INF_COPIES,
  STEP_ENUM_ENTRIES, // Windows 98 family
  STEP_PORT_ENTRIES,
  STEP_VXD_ENTRIES,
  STEP_WIN98_FILES,
  STEP_CLOSING, // after every model's steps (model MODEL_NONE): the bound functions released
  STEP_COUNT
};
enum { MODEL_NONE = -1 };

void mark_step(int model, int step);

// What a failed call was made on. `object` and `name` by kind:
//   SUBJECT_KEY      the key handle (HKEY), and the subkey below it or null for the key itself
//   SUBJECT_DEVICE   the device's PSP_DEVINFO_DATA
//   SUBJECT_PROGRAM  a full path of wide characters (const wchar_t *)
//   SUBJECT_FILE, SUBJECT_INF, SUBJECT_MODULE, SUBJECT_FUNCTION
//                    `name`: a full path, an INF in the Windows INF folder, a module, an export
//   SUBJECT_VALUE    (the rehearsal's own: a registry value, named by its key and name)
enum subject_kind {
  SUBJECT_NONE,
  SUBJECT_KEY,
  SUBJECT_FILE,
  SUBJECT_DEVICE,
  SUBJECT_INF,
  SUBJECT_MODULE,
  SUBJECT_FUNCTION,
  SUBJECT_PROGRAM,
  SUBJECT_VALUE,
};
struct run_subject {
  int kind;
  const void *object;
  const char *name;
};

// A failure reported to the user in the error box `caption`, with the code the box explains.
void mark_failure(const char *caption, DWORD code, const run_subject &subject);

// Why an item the step meant to remove stays, without a failure.
enum kept_reason {
  // Windows refused to uninstall an OEM INF copy (ERROR_INF_IN_USE_BY_DEVICES): a device that
  // was not removed still uses it. The copy and its PNF stay with the device.
  KEPT_IN_USE_BY_DEVICE,
};
void mark_kept(const run_subject &subject, int reason);

inline run_subject key_subject(HKEY key, const char *subkey) {
  return run_subject{SUBJECT_KEY, key, subkey};
}
inline run_subject named_subject(int kind, const char *name) {
  return run_subject{kind, nullptr, name};
}
inline run_subject object_subject(int kind, const void *object) {
  return run_subject{kind, object, nullptr};
}
