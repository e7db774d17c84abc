// The Windows 98 removal sequence: binds the registry and file functions, then for models 0, 1
// and 2 decides whether the model is present and wanted, runs the registry step and the file
// step, and tells the user when nothing of a processed model was found.
#include "core/account.h"
#include "core/binding.h"
#include "core/catalogue.h"
#include "core/cp932.h"
#include "core/model_messages.h"
#include "core/registry_calls.h"
#include "core/removal.h"
#include "core/run_state.h"
#include "win98/win98_steps.h"

// 1 when "Enum\<hardware id>" can be opened and closed again.
static int enum_key_present(int model) {
  char path[NAME_SIZE] = "Enum\\";
  if (!append_text(path, sizeof path, model_hardware_id(model)))
    return 0;
  HKEY key = open_key(win98_advapi32_table, HKEY_LOCAL_MACHINE, path);
  return key && close_key(win98_advapi32_table, key);
}

int confirm_win98_model(int model) {
  // Model 0 is the one the consent box named: it is removed without a question.
  if (model == 0)
    return 1;
  mark_step(model, STEP_DETECTION);
  int registry_found = enum_key_present(model);
  // The file probe runs also when the key was found: it reports a folder that cannot be read.
  int files_found = win98_files_present(model);
  return (registry_found || files_found) && ask_model_removal(model);
}

int run_win98_removal() {
  if (!bind_win98_functions())
    return 0;
  for (int model = 0; model < MODEL_COUNT; ++model) {
    if (!confirm_win98_model(model))
      continue;
    remove_win98_registry(model);
    delete_win98_files(model);
    if (get_win98_registry_status(model) != STATUS_NONE ||
        get_win98_files_status(model) != STATUS_NONE)
      continue;
    show_not_installed_notice(model);
  }
  mark_step(MODEL_NONE, STEP_CLOSING);
  return unbind_win98_functions();
}
