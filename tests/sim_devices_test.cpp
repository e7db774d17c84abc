// The simulated device setup: snapshots, enumeration, the hardware-id property, DIF_REMOVE.
#include "sim/sim.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const char kId[] = "USB\\Vid_1e7a&Pid_0080"; // as Windows 2000 writes it

class SimDevices : public ::testing::Test {
protected:
  void SetUp() override { sim::machine_win2000(); }

  // Instance ids of the set's elements, read through the property's owner by index.
  static DWORD count(HDEVINFO set) {
    SP_DEVINFO_DATA d;
    d.cbSize = sizeof d;
    DWORD i = 0;
    while (SetupDiEnumDeviceInfo(set, i, &d))
      ++i;
    EXPECT_EQ(DWORD(ERROR_NO_MORE_ITEMS), GetLastError());
    return i;
  }
};

TEST_F(SimDevices, AllClassesSnapshotAndPresentFilter) {
  sim::device_add("USB\\Vid_1e7a&Pid_0080\\5&1", {kId, "USB\\Class_02"}, true);
  sim::device_add("USB\\Vid_1e7a&Pid_0080\\6&2", {kId}, false);
  sim::device_add("ROOT\\LEGACY_BEEP\\0000", {}, true);
  HDEVINFO all = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  ASSERT_NE(INVALID_HANDLE_VALUE, all);
  EXPECT_EQ(DWORD(0), GetLastError());
  HDEVINFO present =
      SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
  EXPECT_EQ(3u, count(all));
  EXPECT_EQ(2u, count(present));
  EXPECT_EQ(2u, sim::leaks().size());
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(all));
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(present));
  EXPECT_TRUE(sim::leaks().empty());
  EXPECT_FALSE(SetupDiDestroyDeviceInfoList(all));
  EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
}

TEST_F(SimDevices, EnumerationChecksTheRecordSize) {
  sim::device_add("USB\\X\\1", {kId});
  HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  SP_DEVINFO_DATA d;
  d.cbSize = sizeof d - 4;
  EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &d));
  EXPECT_EQ(DWORD(ERROR_INVALID_USER_BUFFER), GetLastError());
  d.cbSize = sizeof d;
  EXPECT_TRUE(SetupDiEnumDeviceInfo(set, 0, &d));
  EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 1, &d));
  EXPECT_EQ(DWORD(ERROR_NO_MORE_ITEMS), GetLastError());
  SetupDiDestroyDeviceInfoList(set);
}

TEST_F(SimDevices, HardwareIdProperty) {
  sim::device_add("USB\\X\\1", {kId, "USB\\Class_02"});
  sim::device d;
  d.instance_id = "ROOT\\NOIDS\\0000";
  d.has_hardware_ids = false;
  sim::device_add(d);
  sim::device raw;
  raw.instance_id = "ROOT\\RAW\\0000";
  raw.hardware_ids = std::string("ABC", 3); // unterminated: delivered as is
  sim::device_add(raw);

  HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  SP_DEVINFO_DATA rec;
  rec.cbSize = sizeof rec;
  ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &rec));
  const std::string ids = sim::multi_string({kId, "USB\\Class_02"});
  DWORD type = 0, size = 0;
  EXPECT_FALSE(
      SetupDiGetDeviceRegistryPropertyA(set, &rec, SPDRP_HARDWAREID, &type, nullptr, 0, &size));
  EXPECT_EQ(DWORD(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  EXPECT_EQ(ids.size(), size);
  std::vector<BYTE> buf(size);
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &rec, SPDRP_HARDWAREID, &type, buf.data(),
                                                 size - 1, &size));
  EXPECT_EQ(DWORD(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  SetLastError(99);
  EXPECT_TRUE(SetupDiGetDeviceRegistryPropertyA(set, &rec, SPDRP_HARDWAREID, &type, buf.data(),
                                                size, &size));
  EXPECT_EQ(DWORD(0), GetLastError());
  EXPECT_EQ(DWORD(REG_MULTI_SZ), type);
  EXPECT_EQ(ids, std::string(reinterpret_cast<char *>(buf.data()), size));

  ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 1, &rec));
  EXPECT_FALSE(
      SetupDiGetDeviceRegistryPropertyA(set, &rec, SPDRP_HARDWAREID, &type, nullptr, 0, &size));
  EXPECT_EQ(DWORD(ERROR_INVALID_DATA), GetLastError());

  ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 2, &rec));
  BYTE small[8];
  EXPECT_TRUE(SetupDiGetDeviceRegistryPropertyA(set, &rec, SPDRP_HARDWAREID, &type, small,
                                                sizeof small, &size));
  EXPECT_EQ(3u, size);
  SetupDiDestroyDeviceInfoList(set);
}

TEST_F(SimDevices, RemovalKeepsTheSetsIndices) {
  sim::device_add("USB\\X\\1", {kId});
  sim::device_add("USB\\X\\2", {"other"});
  sim::device_add("USB\\X\\3", {kId});
  HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  SP_DEVINFO_DATA rec;
  rec.cbSize = sizeof rec;
  ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &rec));
  EXPECT_TRUE(SetupDiCallClassInstaller(DIF_REMOVE, set, &rec));
  EXPECT_EQ(DWORD(0), GetLastError());
  EXPECT_FALSE(sim::device_exists("USB\\X\\1"));
  // A second removal of the same element finds no instance any more.
  EXPECT_FALSE(SetupDiCallClassInstaller(DIF_REMOVE, set, &rec));
  EXPECT_EQ(DWORD(ERROR_NO_SUCH_DEVINST), GetLastError());
  // Index 2 is still the third device.
  ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 2, &rec));
  EXPECT_TRUE(SetupDiCallClassInstaller(DIF_REMOVE, set, &rec));
  EXPECT_EQ(3u, count(set));
  EXPECT_EQ(std::vector<std::string>{"USB\\X\\2"}, sim::device_list());
  // A removed instance id can be added again; an id differing in case is the same one.
  sim::device_add("usb\\x\\1", {"again"});
  sim::device_add("USB\\X\\2", {"replaced"});
  EXPECT_EQ((std::vector<std::string>{"USB\\X\\2", "usb\\x\\1"}), sim::device_list());
  EXPECT_TRUE(sim::device_exists("Usb\\X\\1"));
  ASSERT_EQ(2u, sim::changes().size());
  EXPECT_EQ(sim::change::device_removed, sim::changes()[0].kind);
  EXPECT_EQ("USB\\X\\1", sim::changes()[0].subject);
  EXPECT_EQ("USB\\X\\3", sim::changes()[1].subject);
  SetupDiDestroyDeviceInfoList(set);
}

// Windows removes a device's driver key together with the device; another device's driver
// key in the same class stays.
TEST_F(SimDevices, RemovalDeletesTheDriverKeyWithTheDevice) {
  const std::string modem_class =
      "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}";
  sim::reg_set_string(modem_class + "\\0000", "InfPath", "oem3.inf");
  sim::reg_set_string(modem_class + "\\0000\\Settings", "Init", "AT");
  sim::reg_set_string(modem_class + "\\0001", "InfPath", "oem4.inf");
  sim::device d;
  d.instance_id = "USB\\X\\1";
  d.hardware_ids = sim::multi_string({kId});
  d.driver = "{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0000";
  sim::device_add(d);
  HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  SP_DEVINFO_DATA rec;
  rec.cbSize = sizeof rec;
  ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &rec));
  EXPECT_TRUE(SetupDiCallClassInstaller(DIF_REMOVE, set, &rec));
  SetupDiDestroyDeviceInfoList(set);
  EXPECT_FALSE(sim::reg_key_exists(modem_class + "\\0000"));
  EXPECT_TRUE(sim::reg_key_exists(modem_class + "\\0001"));
  std::vector<std::string> deleted;
  for (const sim::change &c : sim::changes())
    if (c.kind == sim::change::key_deleted)
      deleted.push_back(c.subject);
  // The subjects name the keys where they live: ControlSet001, behind CurrentControlSet.
  const std::string stored = "HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Control\\Class\\"
                             "{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0000";
  EXPECT_EQ((std::vector<std::string>{stored, stored + "\\Settings"}), deleted);
}

TEST_F(SimDevices, RemoveErrorAndFaults) {
  sim::device d;
  d.instance_id = "USB\\X\\1";
  d.hardware_ids = sim::multi_string({kId});
  d.remove_error = ERROR_ACCESS_DENIED;
  sim::device_add(d);
  sim::device_add("USB\\X\\2", {kId});
  sim::fail("SetupDiGetDeviceRegistryPropertyA", ERROR_NOT_ENOUGH_MEMORY, "usb\\x\\2");
  HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  SP_DEVINFO_DATA rec;
  rec.cbSize = sizeof rec;
  ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &rec));
  EXPECT_FALSE(SetupDiCallClassInstaller(DIF_REMOVE, set, &rec));
  EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_TRUE(sim::device_exists("USB\\X\\1"));
  ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 1, &rec));
  DWORD size = 0;
  EXPECT_FALSE(
      SetupDiGetDeviceRegistryPropertyA(set, &rec, SPDRP_HARDWAREID, nullptr, nullptr, 0, &size));
  EXPECT_EQ(DWORD(ERROR_NOT_ENOUGH_MEMORY), GetLastError());
  SetupDiDestroyDeviceInfoList(set);

  sim::fail("SetupDiGetClassDevsA", ERROR_INVALID_PARAMETER);
  EXPECT_EQ(INVALID_HANDLE_VALUE,
            SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES));
  EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError());
  EXPECT_TRUE(sim::leaks().empty());
  EXPECT_TRUE(sim::changes().empty());
}

TEST_F(SimDevices, SetLayoutHasTheTargetsSize) {
  EXPECT_EQ(sizeof(void *) == 8 ? 32u : 28u, sizeof(SP_DEVINFO_DATA));
}

} // namespace
