// The simulation under the reliability tests' load: a device information set reaches its
// devices by number, also after devices before them were removed (the lookup that keeps whole
// runs on 10,000 devices linear in time).
#include "tests/support.h"

#include <string>

namespace {

std::string ids_of(HDEVINFO set, SP_DEVINFO_DATA *record, DWORD *error) {
  char buffer[64] = {};
  DWORD size = 0;
  *error = 0;
  if (!SetupDiGetDeviceRegistryPropertyA(set, record, SPDRP_HARDWAREID, nullptr,
                                         reinterpret_cast<PBYTE>(buffer), sizeof buffer, &size)) {
    *error = GetLastError();
    return std::string();
  }
  return buffer;
}

TEST_F(win2000_test, devices_are_found_by_number_after_removals) {
  for (int i = 0; i < 30; ++i)
    sim::device_add("ROOT\\DEVICE\\" + std::to_string(i), {"ID" + std::to_string(i)});
  HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  SP_DEVINFO_DATA record = {};
  record.cbSize = sizeof record;
  // Every third device goes; the set keeps its elements, so indices stay as they were.
  for (DWORD i = 0; i < 30; i += 3) {
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, i, &record));
    ASSERT_TRUE(SetupDiCallClassInstaller(DIF_REMOVE, set, &record));
  }
  for (DWORD i = 0; i < 30; ++i) {
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, i, &record));
    DWORD error;
    std::string ids = ids_of(set, &record, &error);
    if (i % 3 == 0) {
      EXPECT_EQ(error, static_cast<DWORD>(ERROR_NO_SUCH_DEVINST)) << i;
    } else {
      EXPECT_EQ(ids, "ID" + std::to_string(i)) << i;
    }
  }
  SetupDiDestroyDeviceInfoList(set);
}

} // namespace
