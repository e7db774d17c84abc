// The Windows 98 removal steps.
#pragma once

#include "platform/windows_api.h"

#include <stddef.h>

// Builds the full path of a Windows 98 catalogue file: VxD and SYS files lie in the system
// directory, INF and PNF files in the Windows directory's "inf" folder (an entry may name a
// subfolder of it, such as OTHER\). Returns 1 with the path built, 0 when the name's kind has
// no folder or the path would not fit `path_size` (a cut path would name another file).
int win98_file_path(char *path, size_t path_size, const char *windows_directory,
                    const char *system_directory, const char *name);

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
