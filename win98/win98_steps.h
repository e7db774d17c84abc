// The Windows 98 removal steps.
#pragma once

#include "platform/windows_api.h"

// The sequence: 1 when the model is present and is to be removed (model 0 always is; models 1
// and 2 are probed by their Enum key and their files, and the user is asked).
int confirm_win98_model(int model);

// The registry step: the Enum key, the port entries and the VxD entries of the model; writes
// win98_registry_status. The parts below return STATUS_NONE, STATUS_REMOVED (a driver key or
// VxD entry deleted) or STATUS_FAILED.
void remove_win98_registry(int model);
int remove_device_enum_key(int model);
int delete_driver_class_keys(HKEY device_key);
int remove_port_entries(int model);
int scan_port_instances(int model, HKEY ports_key);
int remove_vxd_entries(int model);

// 1 when a listed driver file of the model exists (nothing is deleted).
int win98_files_present(int model);
// The file step: deletes every listed file of the model that exists; writes
// win98_files_status.
void delete_win98_files(int model);
