// Device instances of the model, attached or not, removed through the class installer
// (DIF_REMOVE), and the reading and matching of an instance's hardware ids that the
// detection uses as well.
#include "core/binding.h"
#include "core/catalogue.h"
#include "core/cp932.h"
#include "core/error_report.h"
#include "core/run_state.h"
#include "core/texts.h"
#include "nt/nt_steps.h"

static BOOL query_hardware_ids(HDEVINFO set, PSP_DEVINFO_DATA record, char *buffer,
                               DWORD buffer_size, DWORD *size) {
  DWORD type = 0;
  return BOUND(nt_setupapi_table, SetupDiGetDeviceRegistryPropertyA)(
      set, record, SPDRP_HARDWAREID, &type, reinterpret_cast<PBYTE>(buffer), buffer_size, size);
}

char *read_hardware_ids(HDEVINFO set, PSP_DEVINFO_DATA record, DWORD *size) {
  *size = 0;
  char *buffer = nullptr;
  DWORD allocated = 0;
  // Without a buffer the query answers ERROR_INSUFFICIENT_BUFFER and the size it needs; the
  // size can grow between two queries, so every such answer gets a new buffer.
  if (query_hardware_ids(set, record, nullptr, 0, size))
    return nullptr;
  for (;;) {
    DWORD error = GetLastError();
    if (error == ERROR_INVALID_DATA) { // the instance has no hardware ids
      if (buffer)
        LocalFree(buffer);
      return nullptr;
    }
    // A "too small" answer that asks for no more than the buffer already holds could never
    // be satisfied; it is reported like any other failure instead of being asked forever.
    if (error != ERROR_INSUFFICIENT_BUFFER || (buffer && *size <= allocated) ||
        (!buffer && *size == 0)) {
      report_system_error(error, caption_get_device_registry_property,
                          object_subject(SUBJECT_DEVICE, record));
      if (buffer)
        LocalFree(buffer);
      return nullptr;
    }
    if (buffer)
      LocalFree(buffer);
    allocated = *size;
    buffer = static_cast<char *>(LocalAlloc(LPTR, allocated));
    if (!buffer) {
      report_system_error(GetLastError(), caption_local_alloc);
      return nullptr;
    }
    if (query_hardware_ids(set, record, buffer, allocated, size)) {
      if (*size > allocated) // the list is never walked beyond the block it lies in
        *size = allocated;
      return buffer;
    }
  }
}

int hardware_ids_contain(int model, const char *list, DWORD size) {
  if (size == 0 || list[0] == 0)
    return 0;
  DWORD position = 0;
  while (position < size) {
    const char *entry = list + position;
    // An entry cut off by the end of the buffer is not a whole id and ends the walk.
    if (bounded_length(entry, size - position) == size - position)
      return 0;
    if (hardware_id_entry_names_model(model, entry))
      return 1;
    position += static_cast<DWORD>(lstrlenA(entry)) + 1;
    if (position < size && list[position] == 0) // the empty string that ends the list
      return 0;
  }
  return 0;
}

int walk_model_devices(int model, const device_visitor &visitor) {
  HDEVINFO set =
      BOUND(nt_setupapi_table, SetupDiGetClassDevsA)(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  if (set == INVALID_HANDLE_VALUE) {
    report_system_error(GetLastError(), caption_setup_di_get_class_devs);
    return 0;
  }
  SP_DEVINFO_DATA record = {};
  record.cbSize = sizeof record;
  // A removed instance keeps its place in the set, so the index simply moves on.
  for (DWORD index = 0; BOUND(nt_setupapi_table, SetupDiEnumDeviceInfo)(set, index, &record);
       ++index) {
    DWORD size = 0;
    char *ids = read_hardware_ids(set, &record, &size);
    if (!ids)
      continue;
    if (hardware_ids_contain(model, ids, size) == 1)
      visitor.visit(set, &record, visitor.context);
    LocalFree(ids);
  }
  if (visitor.finish)
    visitor.finish(visitor.context);
  BOUND(nt_setupapi_table, SetupDiDestroyDeviceInfoList)(set);
  return 1;
}

// Whether the class installer, after removing the instance, asks for a restart: Windows could
// not stop the device (its port is open, say) and finishes the removal at the next restart.
// Without SetupDiGetDeviceInstallParamsA, or when the parameters cannot be read, nothing says
// so; the removal itself succeeded either way, so neither case is reported.
static int removal_needs_restart(HDEVINFO set, PSP_DEVINFO_DATA record) {
  if (!BOUND_PRESENT(nt_setupapi_table, SetupDiGetDeviceInstallParamsA))
    return 0;
  SP_DEVINSTALL_PARAMS_A params = {};
  params.cbSize = sizeof params;
  return BOUND(nt_setupapi_table, SetupDiGetDeviceInstallParamsA)(set, record, &params) &&
         (params.Flags & (DI_NEEDREBOOT | DI_NEEDRESTART)) != 0;
}

// The last matching instance decides the outcome.
static void remove_instance(HDEVINFO set, PSP_DEVINFO_DATA record, void *outcome) {
  if (BOUND(nt_setupapi_table, SetupDiCallClassInstaller)(DIF_REMOVE, set, record)) {
    *static_cast<int *>(outcome) = STATUS_REMOVED;
    if (removal_needs_restart(set, record))
      set_restart_pending(1);
  } else {
    report_system_error(GetLastError(), caption_call_class_installer,
                        object_subject(SUBJECT_DEVICE, record));
    *static_cast<int *>(outcome) = STATUS_FAILED;
  }
}

// Why the enumeration ended: anything but the end of the list is a failure.
static void check_enumeration_end(void *outcome) {
  DWORD error = GetLastError();
  if (error != ERROR_SUCCESS && error != ERROR_NO_MORE_ITEMS) {
    report_system_error(error, caption_unknown);
    *static_cast<int *>(outcome) = STATUS_FAILED;
  }
}

void remove_device_nodes(int model) {
  mark_step(model, STEP_DEVICE_INSTANCES);
  int outcome = STATUS_NONE;
  if (!walk_model_devices(model, {remove_instance, check_enumeration_end, &outcome}))
    outcome = STATUS_FAILED;
  set_nt_device_status(model, outcome);
}
