#include "tests/win98_support.h"

#include "core/catalogue.h"
#include "sim/sim.h"
#include "tests/spelling.h"

#include <gtest/gtest.h>

namespace win98 {

const char windows_directory[] = "C:\\WINDOWS";
const char system_directory[] = "C:\\WINDOWS\\SYSTEM";
const char inf_directory[] = "C:\\WINDOWS\\INF";
const char ports_key[] = "Enum\\Root\\Ports";
const char vmm32files_key[] = "System\\CurrentControlSet\\control\\VMM32Files";

std::string class_key(const std::string &driver) {
  return "System\\CurrentControlSet\\Services\\Class\\" + driver;
}
std::string vxd_key(const std::string &name) {
  return "System\\CurrentControlSet\\Services\\VxD\\" + name;
}
std::string enum_key(int model) {
  return "Enum\\" + spelled::device_id(model, spelling::win98);
}
std::string device_instance_key(int model) {
  return enum_key(model) + "\\5&1A2B3C&0&" + std::to_string(model + 1);
}
std::string port_instance_key(int model) {
  return std::string(ports_key) + "\\000" + std::to_string(model);
}
std::string device_driver(int model) {
  return "Modem\\000" + std::to_string(model);
}
std::string port_driver(int model) {
  return "Ports\\000" + std::to_string(model);
}
std::string port_description(int model) {
  return std::string(model_device_desc_prefix(model)) + " USB Port";
}

std::string file_path(int model, int slot) {
  std::string name = model_win98_file(model, slot);
  std::string tail = name.size() >= 3 ? name.substr(name.size() - 3) : name;
  for (char &c : tail)
    c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  if (tail == "sys" || tail == "vxd")
    return std::string(system_directory) + "\\" + name;
  return std::string(inf_directory) + "\\" + name;
}

void install_port(const std::string &instance, const std::string &description,
                  const std::string &driver) {
  std::string key = std::string(ports_key) + "\\" + instance;
  sim::reg_set_string(key, "Class", "Ports");
  sim::reg_set_string(key, "DeviceDesc", description);
  sim::reg_set_string(key, "Driver", driver);
  sim::reg_set_string(class_key(driver), "PortName", "COM" + instance.substr(3));
}

void install_files(int model) {
  for (int slot = 0; slot < WIN98_FILE_SLOTS; ++slot)
    if (model_win98_file(model, slot)[0] != 0)
      sim::file_add(file_path(model, slot));
}

void install_model(int model) {
  sim::reg_set_string(device_instance_key(model), "Class", "Modem");
  sim::reg_set_string(device_instance_key(model), "Driver", device_driver(model));
  sim::reg_set_string(class_key(device_driver(model)), "DriverDesc", model_display_name(model));
  sim::reg_set_string(class_key(device_driver(model)) + "\\Init", "1", "AT<cr>");
  install_port("000" + std::to_string(model), port_description(model), port_driver(model));
  sim::reg_set_string(vmm32files_key, model_win98_file(model, 0), "");
  sim::reg_set_string(vmm32files_key, model_win98_file(model, 1), "");
  sim::reg_set_string(vxd_key(model_vxd_name_1(model)), "StaticVxD", model_win98_file(model, 0));
  sim::reg_set_string(vxd_key(model_vxd_name_2(model)), "StaticVxD", model_win98_file(model, 1));
  install_files(model);
}

static const char *const decoy_keys[] = {
    "Enum\\USB\\VID_1E7A&PID_0099\\5&1A2B3C&0&9",
    "System\\CurrentControlSet\\Services\\Class\\Modem\\0009",
    "System\\CurrentControlSet\\Services\\Class\\Ports\\0005",
    "System\\CurrentControlSet\\Services\\Class\\Ports\\0006",
    "Enum\\Root\\Ports\\0005",
    "Enum\\Root\\Ports\\0006",
    "System\\CurrentControlSet\\Services\\VxD\\Q40PPORTX",
    "System\\CurrentControlSet\\Services\\VxD\\VCOMM",
};

static const char *const decoy_files[] = {
    "C:\\WINDOWS\\SYSTEM\\SERIAL.VXD",      "C:\\WINDOWS\\INF\\MDMGEN.INF",
    "C:\\WINDOWS\\INF\\OTHER\\DVXKEEP.INF", "C:\\WINDOWS\\INF\\Q40PPORT.VxD",
    "C:\\WINDOWS\\SYSTEM\\Q40PUSB.INF",     "C:\\WINDOWS\\SYSTEM\\OTHER\\Q40PUSB.INF",
};

void install_decoys() {
  // Another device of the same maker, with its own driver key.
  sim::reg_set_string(decoy_keys[0], "Driver", "Modem\\0009");
  sim::reg_set_string(decoy_keys[1], "DriverDesc", "Standard Modem");
  sim::reg_set_string(class_key("Modem"), "Class", "Modem");
  sim::reg_set_string(class_key("Ports"), "Class", "Ports");
  // Ports whose descriptions do not begin with any model's prefix.
  install_port("0005", "Communications Port", "Ports\\0005");
  install_port("0006", "QUENDAL Serial Port", "Ports\\0006");
  sim::reg_set_string(vmm32files_key, "SERIAL.VXD", "");
  sim::reg_set_string(vmm32files_key, "Q40PPORT", ""); // a VxD key's name, not a file's
  sim::reg_set_string(decoy_keys[6], "StaticVxD", "Q40PPORTX.VXD");
  sim::reg_set_string(decoy_keys[7], "StaticVxD", "*VCOMM");
  for (const char *file : decoy_files)
    sim::file_add(file);
}

void expect_decoys_intact() {
  for (const char *key : decoy_keys)
    EXPECT_TRUE(sim::reg_key_exists(key)) << "decoy key deleted: " << key;
  EXPECT_TRUE(sim::reg_value_exists(class_key("Modem"), "Class"));
  EXPECT_TRUE(sim::reg_value_exists(class_key("Ports"), "Class"));
  EXPECT_TRUE(sim::reg_value_exists(vmm32files_key, "SERIAL.VXD"));
  EXPECT_TRUE(sim::reg_value_exists(vmm32files_key, "Q40PPORT"));
  for (const char *file : decoy_files)
    EXPECT_TRUE(sim::file_exists(file)) << "decoy file deleted: " << file;
}

static void expect_model(int model, bool present) {
  SCOPED_TRACE("model " + std::to_string(model) + (present ? " intact" : " removed"));
  EXPECT_EQ(sim::reg_key_exists(enum_key(model)), present);
  EXPECT_EQ(sim::reg_key_exists(class_key(device_driver(model))), present);
  EXPECT_EQ(sim::reg_key_exists(port_instance_key(model)), present);
  EXPECT_EQ(sim::reg_key_exists(class_key(port_driver(model))), present);
  EXPECT_EQ(sim::reg_value_exists(vmm32files_key, model_win98_file(model, 0)), present);
  EXPECT_EQ(sim::reg_value_exists(vmm32files_key, model_win98_file(model, 1)), present);
  EXPECT_EQ(sim::reg_key_exists(vxd_key(model_vxd_name_1(model))), present);
  EXPECT_EQ(sim::reg_key_exists(vxd_key(model_vxd_name_2(model))), present);
  for (int slot = 0; slot < WIN98_FILE_SLOTS; ++slot) {
    if (model_win98_file(model, slot)[0] != 0) {
      EXPECT_EQ(sim::file_exists(file_path(model, slot)), present) << file_path(model, slot);
    }
  }
}

void expect_model_removed(int model) {
  expect_model(model, false);
}
void expect_model_intact(int model) {
  expect_model(model, true);
}

} // namespace win98
