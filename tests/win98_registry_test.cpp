// The device registry step on Windows 98: the Enum key, the port instances and the driver keys
// their "Driver" values name.
#include "core/catalogue.h"
#include "core/run_state.h"
#include "core/texts.h"
#include "tests/support.h"
#include "tests/win98_support.h"
#include "win98/win98_steps.h"

namespace {

using win98_registry = win98_test;
using win98::class_key;

void fresh_machine() {
  sim::machine_win98();
  reset_process_state();
}

int call_ports(int model) {
  return win98::bound_call([=] { return remove_port_entries(model); });
}
int call_device(int model) {
  return win98::bound_call([=] { return remove_device_enum_key(model); });
}

int deletions_under_class_branch() {
  int count = 0;
  for (const sim::call &c : sim::calls())
    count +=
        c.function == "RegDeleteKeyA" && c.subject.find("Services\\Class") != std::string::npos;
  return count;
}

TEST_F(win98_registry, port_walk_rereads_the_index_after_each_deletion) {
  win98::install_decoys();
  win98::install_port("0000", "QUENDALQ40 PRO USB Port", "Ports\\0000");
  win98::install_port("0001", "QUENDALQ40 PRO USB Port #2", "Ports\\0001");
  win98::install_port("0002", "Communications Port", "Ports\\0002");
  win98::install_port("0003", "QUENDALQ40 PRO USB Port #3", "Ports\\0003");
  EXPECT_EQ(call_ports(0), STATUS_REMOVED);
  EXPECT_EQ(sim::reg_subkeys(win98::ports_key), (std::vector<std::string>{"0002", "0005", "0006"}));
  for (const char *driver : {"Ports\\0000", "Ports\\0001", "Ports\\0003"})
    EXPECT_FALSE(sim::reg_key_exists(class_key(driver))) << driver;
  EXPECT_TRUE(sim::reg_key_exists(class_key("Ports\\0002")));
  win98::expect_decoys_intact();
  EXPECT_TRUE(sim::boxes().empty());
}

// Value names and the description prefix are compared byte for byte, case-sensitively.
TEST_F(win98_registry, port_names_and_description_are_matched_exactly) {
  struct row {
    const char *desc_name, *description, *driver_name;
    bool port_deleted, driver_deleted;
  } rows[] = {
      {"DeviceDesc", "QUENDALQ40 PRO USBPort Adapter", "Driver", true, true},
      {"DeviceDesc", "QUENDALQ40 PRO", "Driver", true, true},
      {"DeviceDesc", "quendalq40 pro USB Port", "Driver", false, false},
      {"DeviceDesc", "QUENDALQ40 PR", "Driver", false, false}, // shorter than the prefix
      {"devicedesc", "QUENDALQ40 PRO USB Port", "Driver", false, false},
      {"DEVICEDESC", "QUENDALQ40 PRO USB Port", "Driver", false, false},
      {"DeviceDesc", "QUENDALQ40 PRO USB Port", "driver", true, false},
      {"DeviceDesc", "QUENDALQ40 PRO USB Port", "DRIVER", true, false},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(std::string(r.desc_name) + "=" + r.description + ", " + r.driver_name);
    fresh_machine();
    std::string port = std::string(win98::ports_key) + "\\0000";
    sim::reg_set_string(port, r.desc_name, r.description);
    sim::reg_set_string(port, r.driver_name, "Ports\\0000");
    sim::reg_set_string(class_key("Ports\\0000"), "PortName", "COM5");
    EXPECT_EQ(call_ports(0), r.driver_deleted ? STATUS_REMOVED : STATUS_NONE);
    EXPECT_EQ(sim::reg_key_exists(port), !r.port_deleted);
    EXPECT_EQ(sim::reg_key_exists(class_key("Ports\\0000")), !r.driver_deleted);
  }
}

TEST_F(win98_registry, device_driver_value_name_is_case_sensitive) {
  sim::reg_set_string(win98::device_instance_key(0), "driver", "Modem\\0000");
  sim::reg_add_key(class_key("Modem\\0000"));
  EXPECT_EQ(call_device(0), STATUS_NONE);
  EXPECT_FALSE(sim::reg_key_exists(win98::enum_key(0)));
  EXPECT_TRUE(sim::reg_key_exists(class_key("Modem\\0000")));
}

// Windows 98 deletes a key with its subtree, so a "Driver" datum is used only when it names one
// driver key below a class. Anything else is passed over without a box, at both call sites.
TEST_F(win98_registry, only_a_class_and_instance_driver_value_deletes_a_key) {
  const std::string long_datum = "Modem\\" + std::string(230, 'A');
  // The key a path cut to 259 bytes would name.
  const std::string cut_key = class_key("Modem\\" + std::string(213, 'A'));
  struct row {
    const char *label;
    DWORD type;
    std::string data;
    bool deleted;
  } rows[] = {
      {"class and instance", REG_SZ, std::string("Modem\\0007", 11), true},
      {"empty", REG_SZ, std::string(1, '\0'), false},
      {"class only", REG_SZ, std::string("Modem", 6), false},
      {"leading backslash", REG_SZ, std::string("\\Modem\\0007", 12), false},
      {"trailing backslash", REG_SZ, std::string("Modem\\0007\\", 12), false},
      {"double backslash", REG_SZ, std::string("Modem\\\\0007", 12), false},
      {"below the driver key", REG_SZ, std::string("Modem\\0007\\Init", 16), false},
      // The second byte of a double-byte character is no separator.
      {"double-byte class", REG_SZ, std::string("\x83\x5CX", 4), false},
      {"no terminator", REG_BINARY, "Modem\\0007", false},
      {"260 bytes, no terminator", REG_BINARY, "Modem\\0007" + std::string(250, 'x'), false},
      {"path over 259 bytes", REG_SZ, long_datum + std::string(1, '\0'), false},
  };
  for (bool port_site : {false, true}) {
    for (const row &r : rows) {
      SCOPED_TRACE(std::string(port_site ? "port: " : "device: ") + r.label);
      fresh_machine();
      sim::reg_set_string(class_key("Modem"), "Class", "Modem");
      sim::reg_set_string(class_key("Modem\\0000"), "DriverDesc", "Standard Modem");
      sim::reg_set_string(class_key("Modem\\0007") + "\\Init", "1", "AT<cr>");
      sim::reg_add_key(cut_key);
      std::string instance =
          port_site ? win98::port_instance_key(0) : win98::device_instance_key(0);
      if (port_site)
        sim::reg_set_string(instance, "DeviceDesc", win98::port_description(0));
      sim::reg_set_value(instance, "Driver", r.type, r.data);
      int result = port_site ? call_ports(0) : call_device(0);
      EXPECT_EQ(result, r.deleted ? STATUS_REMOVED : STATUS_NONE);
      EXPECT_FALSE(sim::reg_key_exists(instance));
      EXPECT_EQ(sim::reg_key_exists(class_key("Modem\\0007")), !r.deleted);
      EXPECT_TRUE(sim::reg_key_exists(class_key("Modem\\0000")));
      EXPECT_TRUE(sim::reg_value_exists(class_key("Modem"), "Class"));
      EXPECT_TRUE(sim::reg_key_exists(cut_key));
      EXPECT_EQ(deletions_under_class_branch(), r.deleted ? 1 : 0);
      EXPECT_TRUE(sim::boxes().empty());
    }
  }
}

// A name or datum over 260 bytes makes RegEnumValueA fail, which ends that instance's walk.
TEST_F(win98_registry, a_value_too_large_ends_the_value_walk) {
  const std::string big(261, 'x');
  std::string port = win98::port_instance_key(0);
  sim::reg_set_string(port, "DeviceDesc", win98::port_description(0));
  sim::reg_set_value(port, "Big", REG_BINARY, big);
  sim::reg_set_string(port, "Driver", "Ports\\0000");
  sim::reg_add_key(class_key("Ports\\0000"));
  // Here the description comes after the large value and is never seen.
  std::string unseen = std::string(win98::ports_key) + "\\0001";
  sim::reg_set_value(unseen, "Big", REG_BINARY, big);
  sim::reg_set_string(unseen, "DeviceDesc", win98::port_description(0));
  std::string device = win98::device_instance_key(0);
  sim::reg_set_value(device, "Big", REG_BINARY, big);
  sim::reg_set_string(device, "Driver", "Modem\\0000");
  sim::reg_add_key(class_key("Modem\\0000"));

  EXPECT_EQ(call_ports(0), STATUS_NONE);
  EXPECT_FALSE(sim::reg_key_exists(port));
  EXPECT_TRUE(sim::reg_key_exists(class_key("Ports\\0000")));
  EXPECT_TRUE(sim::reg_key_exists(unseen));
  EXPECT_EQ(call_device(0), STATUS_NONE);
  EXPECT_FALSE(sim::reg_key_exists(win98::enum_key(0)));
  EXPECT_TRUE(sim::reg_key_exists(class_key("Modem\\0000")));
}

TEST_F(win98_registry, every_device_instance_names_its_driver_key) {
  win98::install_decoys();
  sim::reg_set_string(win98::enum_key(0) + "\\A", "Driver", "Modem\\0000");
  sim::reg_set_string(win98::enum_key(0) + "\\B", "DeviceDesc", "no driver");
  sim::reg_set_string(win98::enum_key(0) + "\\C", "Driver", "Modem\\0001");
  sim::reg_add_key(class_key("Modem\\0000"));
  sim::reg_add_key(class_key("Modem\\0001"));
  EXPECT_EQ(call_device(0), STATUS_REMOVED);
  EXPECT_FALSE(sim::reg_key_exists(win98::enum_key(0)));
  EXPECT_FALSE(sim::reg_key_exists(class_key("Modem\\0000")));
  EXPECT_FALSE(sim::reg_key_exists(class_key("Modem\\0001")));
  win98::expect_decoys_intact();
}

TEST_F(win98_registry, removing_only_enum_and_port_keys_counts_as_nothing_removed) {
  // An Enum key without instances and a matching port without "Driver" are deleted, yet
  // only driver-key deletions count.
  sim::reg_add_key(win98::enum_key(0));
  sim::reg_set_string(win98::port_instance_key(0), "DeviceDesc", win98::port_description(0));
  EXPECT_EQ(call_device(0), STATUS_NONE);
  EXPECT_EQ(call_ports(0), STATUS_NONE);
  EXPECT_FALSE(sim::reg_key_exists(win98::enum_key(0)));
  EXPECT_FALSE(sim::reg_key_exists(win98::port_instance_key(0)));
  // Absent Enum key: nothing tried, nothing shown.
  EXPECT_EQ(call_device(1), STATUS_NONE);
  EXPECT_EQ(sim::call_count("RegDeleteKeyA"), 2);
  EXPECT_TRUE(sim::boxes().empty());
}

} // namespace
