// The Windows 2000 removal sequence with two steps swapped, for the test build of
// swapped_steps_test.cpp: the service keys go before the device instances. Linked ahead of the
// logic library, it takes the place of nt/run_nt_removal.cpp.
#include "core/account.h"
#include "core/binding.h"
#include "core/catalogue.h"
#include "core/removal.h"
#include "nt/nt_steps.h"

int run_nt_removal(int option_flag) {
  if (!bind_nt_functions())
    return 0;
  for (int model = 0; model < MODEL_COUNT; ++model) {
    if (!confirm_model_removal(model))
      continue;
    scan_modem_class(model);
    if (option_flag)
      remove_service_keys(model);
    remove_device_nodes(model);
    delete_nt_files(model);
    remove_nt_win98_files(model);
    delete_matching_oem_infs(model);
  }
  mark_step(MODEL_NONE, STEP_CLOSING);
  return unbind_nt_functions();
}
