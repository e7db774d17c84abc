// The Windows 2000 removal sequence: binds the functions the steps call, runs the steps for
// each model the user is to lose (model 0 always, models 1 and 2 when found and confirmed),
// tells the user about a confirmed model of which nothing was found, and releases the
// functions. The entry reads the outcome from the model status table.
#include "core/account.h"
#include "core/binding.h"
#include "core/catalogue.h"
#include "core/model_messages.h"
#include "core/removal.h"
#include "core/run_state.h"
#include "nt/nt_steps.h"

static void remove_model(int model, int option_flag) {
  // The scan reads the modem class entry before the device removal takes it away.
  scan_modem_class(model);
  remove_device_nodes(model);
  if (option_flag)
    remove_service_keys(model);
  delete_nt_files(model);
  remove_nt_win98_files(model);
  delete_matching_oem_infs(model);
  if (get_nt_device_status(model) == 0 && get_nt_service_status(model) == 0 &&
      get_nt_oem_inf_status(model) == 0 && get_nt_files_status(model) == 0)
    show_not_installed_notice(model);
}

int run_nt_removal(int option_flag) {
  // A failed binding has been reported; nothing is examined and nothing is released.
  if (!bind_nt_functions())
    return 0;
  for (int model = 0; model < MODEL_COUNT; ++model)
    if (confirm_model_removal(model))
      remove_model(model, option_flag);
  mark_step(MODEL_NONE, STEP_CLOSING);
  return unbind_nt_functions();
}
