// The Windows 2000 removal sequence: binds the functions the steps call, runs the steps for
// each model the user is to lose (model 0 always, models 1 and 2 when found and confirmed),
// tells the user about a confirmed model of which nothing was found, and releases the
// functions. The entry reads the outcome from the model status table.
#include "core/binding.h"
#include "core/catalogue.h"
#include "core/cp932.h"
#include "core/removal.h"
#include "core/run_state.h"
#include "core/texts.h"
#include "nt/nt_steps.h"

enum { NOTICE_SIZE = 100 };

static void show_not_installed(int model) {
  char notice[NOTICE_SIZE] = {};
  // A notice that would not fit is not shown cut.
  if (append_text(notice, sizeof notice, model_display_name(model)) &&
      append_text(notice, sizeof notice, text_not_installed_suffix))
    MessageBoxA(nullptr, notice, text_program_caption, MB_OK | MB_ICONWARNING);
}

static void remove_model(int model, int option_flag) {
  // The scan reads the modem class entry before the device removal takes it away.
  scan_modem_class(model);
  remove_device_nodes(model);
  if (option_flag)
    remove_service_keys(model);
  delete_nt_files(model);
  if (nt_win98_files_present(model))
    nt_delete_win98_files(model);
  delete_matching_oem_infs(model);
  if (get_nt_device_status(model) == 0 && get_nt_service_status(model) == 0 &&
      get_nt_oem_inf_status(model) == 0 && get_nt_files_status(model) == 0)
    show_not_installed(model);
}

int run_nt_removal(int option_flag) {
  // A failed binding has been reported; nothing is examined and nothing is released.
  if (!bind_nt_functions())
    return 0;
  for (int model = 0; model < MODEL_COUNT; ++model)
    if (confirm_model_removal(model))
      remove_model(model, option_flag);
  return unbind_nt_functions();
}
