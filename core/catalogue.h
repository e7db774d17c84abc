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
