// Detection and confirmation of an installed model. Model 0 is the one the consent box
// already named; models 1 and 2 are looked for by their device instances (attached or not)
// and their Windows 2000 files, and removed only when the user agrees.
#include "core/account.h"
#include "core/model_messages.h"
#include "nt/nt_steps.h"

static void note_found(HDEVINFO, PSP_DEVINFO_DATA, void *found) {
  *static_cast<int *>(found) = 1;
}

int confirm_model_removal(int model) {
  if (model == 0)
    return 1;
  mark_step(model, STEP_DETECTION);
  // Every instance is examined; a device list that cannot be obtained (reported) ends the
  // detection without a question.
  int found = 0;
  if (!walk_model_devices(model, {note_found, nullptr, &found}))
    return 0;
  // The file probe runs whatever the device search found.
  int files = nt_files_present(model);
  return (found || files) && ask_model_removal(model);
}
