// The Windows 2000 removal steps. Each takes a model index (0..2) first, records its outcome
// in the model status table and reports every failed system call itself; the sequence in
// run_nt_removal.cpp runs them in order for each confirmed model.
#pragma once

#include "core/file_calls.h"
#include "platform/windows_api.h"

// Detection and confirmation: 1 = remove the model, 0 = pass it over. Model 0 is always
// removed; models 1 and 2 only when a device instance or a file of theirs is found and the
// user answers OK to the question.
int confirm_model_removal(int model);

// The modem class scan: stores the "InfPath" of the model's modem class driver key in the
// model's OEM INF name.
void scan_modem_class(int model);
void scan_modem_class_keys(int model, HKEY class_key);

// Device instances whose hardware ids name the model, removed through the class installer
// (nt_device_status).
void remove_device_nodes(int model);
// The instance's hardware-id multi-string in a fresh zero-filled LocalAlloc block that the
// caller releases with LocalFree, and its size in bytes; null when the instance has none or
// the query failed (failures other than "no ids" are reported).
char *read_hardware_ids(HDEVINFO set, PSP_DEVINFO_DATA record, DWORD *size);
// 1 when one whole entry of the list (of `size` bytes) equals the model's hardware id.
int hardware_ids_contain(int model, const char *list, DWORD size);

// What a device walk does with each instance whose hardware ids name the model and, when
// `finish` is set, once after the enumeration has ended, while the set is still open.
struct device_visitor {
  void (*visit)(HDEVINFO set, PSP_DEVINFO_DATA record, void *context);
  void (*finish)(void *context);
  void *context;
};
// Walks every device instance of every class, attached or not, and visits those whose
// hardware ids name the model; the walk ends at the first enumeration call that fails,
// whatever the reason. 0 when the device list cannot be obtained (reported), else 1.
int walk_model_devices(int model, const device_visitor &visitor);

// The driver's service key in the current and every numbered control set
// (nt_service_status).
void remove_service_keys(int model);
// One control set: 0 nothing found, 1 deleted, STATUS_FAILED on a reported failure.
int remove_service_key(HKEY services_key, int model);
int find_service_subkey(HKEY services_key, int model);
// Deletes the direct subkeys of `key`: 1 when none is left, STATUS_FAILED on a failure.
int delete_direct_subkeys(HKEY key);

// The model's Windows 2000 files and the OEM INF named by the modem class scan
// (nt_files_status).
void delete_nt_files(int model);
// Deletes the OEM INF named by the scan and its PNF: the number deleted, or STATUS_FAILED.
int delete_named_oem_inf(int model);
// 1 when a file of the model's Windows 2000 list is present.
int nt_files_present(int model);
// 1 when a file of the model's Windows 98 list is present on this Windows 2000 machine.
int nt_win98_files_present(int model);
// Deletes what is present of the model's Windows 98 list (nt_files_status).
void nt_delete_win98_files(int model);
// The step: the probe, then the deletion when a file was found.
void remove_nt_win98_files(int model);

// Every OEM INF copy (oem<number>.inf in the Windows INF folder, any number) whose "USBTA"
// line names the model, in ascending order of the number, with its PNF (nt_oem_inf_status).
void delete_matching_oem_infs(int model);
// What became of an OEM INF copy and its PNF twin.
struct oem_inf_pair_outcome {
  int removed;       // how many of the two were there and are gone
  int delete_failed; // a deletion failed (reported)
  int in_use;        // Windows refused to uninstall the copy because a device that was not
                     // removed uses it: both files were left, and nothing was reported
};
// The removal both OEM INF removals share: the copy `name` (a bare file name in the Windows
// INF folder, in a NAME_SIZE field) and its PNF twin, for which `name` is rewritten in place.
// Where setupapi has SetupUninstallOEMInfA (Windows XP and later) the copy is uninstalled
// through it first, its driver package with it; what is left is deleted as on Windows 2000.
// 0 when the Windows directory could not be read (reported), else 1 with *outcome filled.
// `silence` says which attribute failures pass without a report.
int delete_oem_inf_pair(char *name, file_silence silence, oem_inf_pair_outcome *outcome);
