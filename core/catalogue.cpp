// The model catalogue. The names are compiled in; the only field written at run time is each
// model's OEM INF name, which the modem class scan fills on Windows 2000.
#include "core/catalogue.h"

#include "core/cp932.h"
#include "core/process_state.h"

struct model_record {
  const char *display_name;
  const char *hardware_id;
  const char *device_desc_prefix;
  int device_desc_prefix_length;
  const char *vxd_name_1;
  const char *vxd_name_2;
  const char *win98_files[WIN98_FILE_SLOTS]; // unused slots are null and read as ""
  const char *nt_service_name;
  const char *nt_files[NT_FILE_SLOTS];
};

static const model_record catalogue[MODEL_COUNT] = {
    {"QuendalQ40 PRO For USB",
     "USB\\Vid_1E7A&Pid_0080",
     "QUENDALQ40 PRO",
     14,
     "Q40PPORT",
     "Q40PSV1",
     {"Q40PPORT.VxD", "Q40PSV1.VxD", "Q40PUSB.SYS", "Q40PUSB.INF", "Q40PCOM.INF",
      "OTHER\\DORVEXA-DORVEXBQ40PUSB.INF", "OTHER\\DORVEXA-DORVEXBQ40PCOM.INF", "Q40PUSB.PNF",
      "Q40PCOM.PNF"},
     "Q40PUCOM",
     {"Q40PUCOM.SYS", "MDMKORT3.INF", "MDMKORT3.PNF"}},
    {"QuendalQ-40 For USB",
     "USB\\Vid_1E7A&Pid_0030",
     "QUENDALQ-40",
     11,
     "Q40PORT",
     "Q40SV1",
     {"Q40PORT.VxD", "Q40SV1.VxD", "Q40USB.SYS", "Q40USB.INF", "Q40COM.INF", "Q40USBLY.INF",
      "OTHER\\DVXQ40USB.INF", "OTHER\\DORVEXA-DORVEXBQ40USB.INF", "OTHER\\DVXQ40COM.INF",
      "OTHER\\DORVEXA-DORVEXBQ40COM.INF", "Q40USBLY.PNF", "Q40USB.PNF", "Q40COM.PNF"},
     "Q40UCOM",
     {"Q40UCOM.SYS", "MDMKORT3.INF", "MDMKORT3.PNF"}},
    {"QuendalQ-4 For USB",
     "USB\\Vid_1E7A&Pid_0016",
     "QUENDALQ-4",
     10,
     "Q-4PORT",
     "Q-4SV1",
     {"Q-4PORT.VXD", "Q-4SV1.VXD", "Q-4SV2.SYS", "Q-4USB.SYS", "Q-4USB.INF", "Q-4COM.INF",
      "Q4LAYOUT.INF", "OTHER\\DVXQ-4USB.INF", "OTHER\\DORVEXA-DORVEXBQ-4USB.INF",
      "OTHER\\DVXQ-4COM.INF", "OTHER\\DORVEXA-DORVEXBQ-4COM.INF", "Q4LAYOUT.PNF", "Q-4USB.PNF",
      "Q-4COM.PNF"},
     "Q4UCOM",
     {"Q4UCOM.SYS", "MDMKORT3.INF", "MDMKORT3.PNF"}},
};

// The run-time field: empty at start, in zero-initialised storage.
char catalogue_oem_inf_names[MODEL_COUNT][NAME_SIZE];

static const char *slot_name(const char *name) {
  return name ? name : "";
}

const char *model_display_name(int model) {
  return catalogue[model].display_name;
}
const char *model_hardware_id(int model) {
  return catalogue[model].hardware_id;
}
const char *model_device_desc_prefix(int model) {
  return catalogue[model].device_desc_prefix;
}
int model_device_desc_prefix_length(int model) {
  return catalogue[model].device_desc_prefix_length;
}
const char *model_vxd_name_1(int model) {
  return catalogue[model].vxd_name_1;
}
const char *model_vxd_name_2(int model) {
  return catalogue[model].vxd_name_2;
}
const char *model_win98_file(int model, int slot) {
  return slot_name(catalogue[model].win98_files[slot]);
}
const char *model_nt_service_name(int model) {
  return catalogue[model].nt_service_name;
}
const char *model_nt_file(int model, int slot) {
  return slot_name(catalogue[model].nt_files[slot]);
}
char *model_oem_inf_name(int model) {
  return catalogue_oem_inf_names[model];
}

char *set_model_oem_inf_name(int model, const char *name) {
  return cp932_copy(catalogue_oem_inf_names[model], NAME_SIZE, name);
}

enum {
  SERVICE_NAME_COMPARED = 8, // characters of a subkey name compared with the service name
  EXPECTED_LINE_SIZE = 256,  // "USB_TA," and the hardware id
};

int hardware_id_entry_names_model(int model, const char *entry) {
  // The USB bus driver writes the ids, not the maker's INF: USB\Vid_1e7a&Pid_0080 on Windows
  // 2000 and XP, USB\VID_1E7A&PID_0080 from Vista on. Windows matches them in any case.
  return cp932_compare_nocase(entry, model_hardware_id(model)) == 0;
}

int matching_device_id_names_model(int model, const char *value_name, const char *data) {
  return cp932_compare_nocase(value_name, "MatchingDeviceId") == 0 &&
         cp932_compare_nocase(data, model_hardware_id(model)) == 0;
}

int usbta_line_names_model(int model, char *line) {
  // The expected text is compared only when it fits its buffer.
  char expected[EXPECTED_LINE_SIZE] = {};
  if (!append_text(expected, sizeof expected, "USB_TA,") ||
      !append_text(expected, sizeof expected, model_hardware_id(model)))
    return 0;
  cp932_lower(line);
  cp932_lower(expected);
  size_t length = bounded_length(expected, sizeof expected);
  if (cp932_compare_bytes(line, expected, length) != 0)
    return 0;
  // The id ends where the text, a field or a further part of the id ("&Rev_0100") ends:
  // USB\Vid_1E7A&Pid_00801 is another product.
  char next = line[length];
  return next == '\0' || next == ',' || next == '&';
}

int service_key_names_model(int model, const char *subkey_name) {
  return cp932_compare_chars(subkey_name, model_nt_service_name(model), SERVICE_NAME_COMPARED) == 0;
}

int port_description_names_model(int model, const char *description) {
  return cp932_compare_bytes(description, model_device_desc_prefix(model),
                             static_cast<size_t>(model_device_desc_prefix_length(model))) == 0;
}

int driver_value_names_one_key(const char *data) {
  // A trail byte of a double-byte character is never a separator.
  int separators = 0;
  const char *separator = nullptr;
  for (const char *p = data; *p; p = cp932_next(p))
    if (*p == '\\') {
      ++separators;
      separator = p;
    }
  return separators == 1 && separator > data && separator[1] != 0;
}
