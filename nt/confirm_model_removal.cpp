// Detection and confirmation of an installed model. Model 0 is the one the consent box
// already named; models 1 and 2 are looked for by their device instances (attached or not)
// and their Windows 2000 files, and removed only when the user agrees.
#include "core/binding.h"
#include "core/catalogue.h"
#include "core/error_report.h"
#include "core/model_messages.h"
#include "core/texts.h"
#include "nt/nt_steps.h"

// 1 when any device instance of any class lists the model's hardware id; -1 when the device
// list cannot be obtained (reported).
static int model_device_found(int model) {
  HDEVINFO set =
      BOUND(nt_setupapi_table, SetupDiGetClassDevsA)(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  if (set == INVALID_HANDLE_VALUE) {
    report_system_error(GetLastError(), caption_setup_di_get_class_devs);
    return -1;
  }
  int found = 0;
  SP_DEVINFO_DATA record = {};
  record.cbSize = sizeof record;
  // Every instance is examined; the walk ends at the first failing call, whatever the reason.
  for (DWORD index = 0; BOUND(nt_setupapi_table, SetupDiEnumDeviceInfo)(set, index, &record);
       ++index) {
    DWORD size = 0;
    char *ids = read_hardware_ids(set, &record, &size);
    if (ids) {
      if (hardware_ids_contain(model, ids, size) == 1)
        found = 1;
      LocalFree(ids);
    }
  }
  BOUND(nt_setupapi_table, SetupDiDestroyDeviceInfoList)(set);
  return found;
}

int confirm_model_removal(int model) {
  if (model == 0)
    return 1;
  int found = model_device_found(model);
  if (found < 0)
    return 0;
  // The file probe runs whatever the device search found.
  int files = nt_files_present(model);
  if (!found && !files)
    return 0;
  return ask_model_removal(model);
}
