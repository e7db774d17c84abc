#include "tests/nt_support.h"

#include "core/catalogue.h"
#include "core/hosted/reset.h"

namespace nt {

const char windows_directory[] = "C:\\WINDOWS";
const char system_directory[] = "C:\\WINDOWS\\system32";
const char inf_directory[] = "C:\\WINDOWS\\inf";
const char drivers_directory[] = "C:\\WINDOWS\\system32\\drivers";
const char modem_class_key[] =
    "SYSTEM\\ControlSet001\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}";

std::string inf_path(const std::string &name) {
  return std::string(inf_directory) + "\\" + name;
}
std::string driver_path(const std::string &name) {
  return std::string(drivers_directory) + "\\" + name;
}

std::string services_key(int control_set) {
  if (control_set == 0)
    return "SYSTEM\\CurrentControlSet\\Services";
  char number[8];
  snprintf(number, sizeof number, "%03d", control_set);
  return std::string("SYSTEM\\ControlSet") + number + "\\Services";
}
std::string service_key(int control_set, int model) {
  return services_key(control_set) + "\\" + model_nt_service_name(model);
}

std::string driver_key(int model) {
  return std::string(modem_class_key) + "\\000" + std::to_string(model);
}

std::string device_instance(int model, spelling s) {
  return spelled::instance_path(model, s, "5&2c9e1f&0&" + std::to_string(model + 1));
}

std::string oem_inf_name(int model) {
  return "oem" + std::to_string(5 + model) + ".inf";
}

std::string usbta_inf(const std::string &line) {
  return "; copied by Windows\r\n"
         "[Version]\r\n"
         "Signature=\"$Windows NT$\"\r\n"
         "Class=Modem\r\n"
         "[USBTA]\r\n" +
         line +
         "\r\n"
         "[Strings]\r\n"
         "Q40=\"QUENDALQ40 PRO USBPort Adapter\"\r\n";
}

std::string usbta_line(int model) {
  return std::string("%Q40%=USB_TA, ") + model_hardware_id(model);
}

std::string sys_file(int model) {
  return driver_path(model_nt_file(model, 0));
}

std::string win98_file(int model, int slot) {
  std::string name = model_win98_file(model, slot);
  std::string kind = name.substr(name.size() - 3);
  for (char &c : kind)
    c = static_cast<char>(tolower(c));
  if (kind == "sys" || kind == "vxd")
    return std::string(system_directory) + "\\" + name;
  return inf_path(name);
}

void install_control_set(int number) {
  sim::reg_add_key(services_key(number));
}

void install_model(int model, spelling s) {
  sim::device_add(device_instance(model, s),
                  {spelled::revision_id(model, s), spelled::device_id(model, s)});
  // Windows writes the matching id in lower case; "InfPath" comes first here.
  sim::reg_set_string(driver_key(model), "DriverDesc", model_display_name(model));
  sim::reg_set_string(driver_key(model), "InfPath", oem_inf_name(model));
  sim::reg_set_string(driver_key(model), "InfSection", "Modem0");
  sim::reg_set_string(driver_key(model), "MatchingDeviceId", spelled::matching_device_id(model));
  install_control_set(2);
  for (int set : {1, 2}) {
    sim::reg_set_dword(service_key(set, model), "Start", 3);
    sim::reg_set_string(service_key(set, model) + "\\Enum", "0", device_instance(model, s));
  }
  sim::file_add(sys_file(model), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  sim::file_add(inf_path("MDMKORT3.INF"));
  sim::file_add(inf_path("MDMKORT3.PNF"));
  sim::inf_add(oem_inf_name(model), usbta_inf(usbta_line(model)));
  std::string pnf = oem_inf_name(model);
  sim::file_add(inf_path(pnf.replace(pnf.size() - 3, 3, "pnf")));
}

// Each decoy differs from a real entry in one way only.
static const char *const decoy_files[] = {
    "C:\\WINDOWS\\system32\\Q40PUCOM.SYS",              // the driver, but outside drivers
    "C:\\WINDOWS\\system32\\drivers\\Q40PUCOM.SYS.bak", // another name
    "C:\\WINDOWS\\system32\\drivers\\Q40PUCO.SYS",      // one letter short
    "C:\\WINDOWS\\inf\\MDMKORT4.INF",                   // a neighbouring modem INF
    "C:\\WINDOWS\\inf\\oem50.inf",                      // another OEM copy, other contents
    "C:\\WINDOWS\\inf\\oem50.pnf",
    "C:\\WINDOWS\\inf\\oem100a.inf",     // a letter after the number, contents of a match
    "C:\\WINDOWS\\inf\\oemsetup.inf",    // no number, contents of a match
    "C:\\WINDOWS\\inf\\OTHER\\oem5.inf", // the OEM name in another folder
};

void install_decoys() {
  // An adapter of another product, one whose id only begins with model 0's, and one whose
  // product number begins with model 0's; spelled as Windows 2000 writes them.
  sim::device_add("USB\\Vid_1e7a&Pid_0081\\7&1",
                  {"USB\\Vid_1e7a&Pid_0081&Rev_0100", "USB\\Vid_1e7a&Pid_0081"});
  sim::device_add("USB\\Vid_1e7a&Pid_0080\\7&2", {"USB\\Vid_1e7a&Pid_0080&Rev_0100"});
  sim::device_add("USB\\Vid_1e7a&Pid_00800\\7&3", {"USB\\Vid_1e7a&Pid_00800"});
  sim::device_add("ROOT\\LEGACY_BEEP\\0000", {});
  // Modem class keys of other modems.
  std::string other = std::string(modem_class_key) + "\\0010";
  sim::reg_set_string(other, "InfPath", "oem50.inf");
  sim::reg_set_string(other, "MatchingDeviceId", "usb\\vid_1e7a&pid_0081");
  // Service keys that share a prefix with the real ones, in both control sets.
  for (int set : {1, 2}) {
    sim::reg_set_dword(services_key(set) + "\\Q40PUCO", "Start", 3);
    sim::reg_set_dword(services_key(set) + "\\Q40UCOMX", "Start", 3);
    sim::reg_set_dword(services_key(set) + "\\Modem", "Start", 3);
  }
  for (const char *path : decoy_files)
    sim::file_add(path);
  sim::inf_add("oem50.inf", usbta_inf("%Q40%=USB_TA, USB\\Vid_1E7A&Pid_0081"));
  sim::inf_add("oem100a.inf", usbta_inf(usbta_line(0)));
  sim::inf_add("oemsetup.inf", usbta_inf(usbta_line(0)));
}

void expect_decoys_intact() {
  for (const char *id : {"USB\\Vid_1e7a&Pid_0081\\7&1", "USB\\Vid_1e7a&Pid_0080\\7&2",
                         "USB\\Vid_1e7a&Pid_00800\\7&3", "ROOT\\LEGACY_BEEP\\0000"})
    EXPECT_TRUE(sim::device_exists(id)) << id;
  EXPECT_EQ(sim::reg_value(std::string(modem_class_key) + "\\0010", "InfPath"),
            std::string("oem50.inf") + '\0');
  for (int set : {1, 2})
    for (const char *name : {"Q40PUCO", "Q40UCOMX", "Modem"})
      EXPECT_TRUE(sim::reg_key_exists(services_key(set) + "\\" + name)) << set << " " << name;
  for (const char *path : decoy_files)
    EXPECT_TRUE(sim::file_exists(path)) << path;
}

void expect_model_removed(int model, spelling s) {
  EXPECT_FALSE(sim::device_exists(device_instance(model, s)));
  for (int set : {1, 2})
    EXPECT_FALSE(sim::reg_key_exists(service_key(set, model))) << set;
  EXPECT_FALSE(sim::file_exists(sys_file(model)));
  std::string pnf = oem_inf_name(model);
  EXPECT_FALSE(sim::file_exists(inf_path(oem_inf_name(model))));
  EXPECT_FALSE(sim::file_exists(inf_path(pnf.replace(pnf.size() - 3, 3, "pnf"))));
}

void expect_model_intact(int model, spelling s) {
  EXPECT_TRUE(sim::device_exists(device_instance(model, s)));
  EXPECT_TRUE(sim::reg_key_exists(driver_key(model)));
  for (int set : {1, 2})
    EXPECT_TRUE(sim::reg_key_exists(service_key(set, model) + "\\Enum")) << set;
  EXPECT_TRUE(sim::file_exists(sys_file(model)));
  std::string pnf = oem_inf_name(model);
  EXPECT_TRUE(sim::file_exists(inf_path(oem_inf_name(model))));
  EXPECT_TRUE(sim::file_exists(inf_path(pnf.replace(pnf.size() - 3, 3, "pnf"))));
}

const expected_box consent_box{text_consent, text_program_caption, MB_OKCANCEL | MB_ICONWARNING};
const expected_box completed_box{text_completed, text_program_caption, MB_OK};
const expected_box restart_box{text_restart_prompt, text_program_caption,
                               MB_OKCANCEL | MB_ICONWARNING};

expected_box not_installed_box(int model) {
  return {std::string(model_display_name(model)) + text_not_installed_suffix, text_program_caption,
          MB_OK | MB_ICONWARNING};
}

expected_box question_box(int model) {
  return {std::string(model_display_name(model)) + text_installed_question_suffix,
          text_program_caption, MB_OKCANCEL | MB_ICONWARNING};
}

expected_box error_box(DWORD code, const char *caption) {
  return {sim::message_text(code), caption, MB_ICONERROR};
}

flags model_flags(int model) {
  return {get_nt_device_status(model), get_nt_service_status(model), get_nt_files_status(model),
          get_nt_oem_inf_status(model)};
}

void expect_flags(int model, flags expected) {
  flags actual = model_flags(model);
  EXPECT_EQ(actual.device, expected.device) << "nt_device_status of model " << model;
  EXPECT_EQ(actual.service, expected.service) << "nt_service_status of model " << model;
  EXPECT_EQ(actual.files, expected.files) << "nt_files_status of model " << model;
  EXPECT_EQ(actual.oem_inf, expected.oem_inf) << "nt_oem_inf_status of model " << model;
}

} // namespace nt
