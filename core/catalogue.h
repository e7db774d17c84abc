// The model catalogue: the three adapter models the uninstaller knows, and every name it
// looks for on a machine. Models are addressed by index 0, 1, 2; the index is not validated.
#pragma once

enum {
  MODEL_COUNT = 3,
  WIN98_FILE_SLOTS = 20,
  NT_FILE_SLOTS = 10,
  NAME_SIZE = 260, // every path, key, value and file name buffer (the Windows path limit)
  DISPLAY_NAME_SIZE = 100,
};

const char *model_display_name(int model);
const char *model_hardware_id(int model);
const char *model_device_desc_prefix(int model);
int model_device_desc_prefix_length(int model);
const char *model_vxd_name_1(int model);
const char *model_vxd_name_2(int model);
const char *model_win98_file(int model, int slot);
const char *model_nt_service_name(int model);
const char *model_nt_file(int model, int slot);
// The OEM INF name found by the modem class scan; writable in place (NAME_SIZE bytes).
char *model_oem_inf_name(int model);
// Stores `name` with the bounded code-page-932 copy (always terminated, rest zero-filled).
char *set_model_oem_inf_name(int model, const char *name);

// How each of a model's names is recognised on a machine; the steps ask these and compare
// catalogue names in no other way. Used as they stand rather than matched: the hardware id in
// the Windows 98 key "Enum\<hardware id>", the service name of the key that is deleted, the
// VxD key names, the file names (placed by file_kind.h) and the first two Windows 98 file
// names as the VMM32Files value names.

// Device instances (detection and device removal): one entry of the instance's hardware-id
// list is the hardware id as a whole, in any letter case ("...&Rev_0100" is another id).
int hardware_id_entry_names_model(int model, const char *entry);
// Modem class driver keys (the modem class scan): a value named "MatchingDeviceId" in any
// letter case whose string is the hardware id in any letter case (Windows writes it in lower
// case).
int matching_device_id_names_model(int model, const char *value_name, const char *data);
// OEM INF copies: their "USBTA" line begins with "USB_TA," and the hardware id, in any letter
// case, followed by the end of the line, a further field (',') or a further part of the id
// ('&', as in "&Rev_0100"). Lower-cases `line` in place.
int usbta_line_names_model(int model, char *line);
// Service keys (complete removal on Windows 2000): the subkey name equals the service name
// over its first 8 characters, letter case included; a longer subkey name thus matches the
// 8-character service name of model 0.
int service_key_names_model(int model, const char *subkey_name);
// Windows 98 port instances: "DeviceDesc" begins with the description prefix, over the
// prefix length, letter case included. Model 2's prefix also begins model 1's descriptions.
int port_description_names_model(int model, const char *description);
// Windows 98 "Driver" values, of a model's device or port instance: the datum names one driver
// key, "<class>\<instance>": two non-empty parts and one backslash between them. Anything else
// (empty, a bare class name, a leading, trailing or second backslash) would make the subtree
// deletion of Windows 98 take a whole class or the whole class branch with it.
int driver_value_names_one_key(const char *data);
