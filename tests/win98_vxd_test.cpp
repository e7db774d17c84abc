// The VMM32Files values and VxD service keys of a model on Windows 98.
#include "core/catalogue.h"
#include "core/run_state.h"
#include "core/texts.h"
#include "tests/support.h"
#include "tests/win98_support.h"
#include "win98/win98_steps.h"

namespace {

using win98_vxd = win98_test;
using win98::vmm32files_key;
using win98::vxd_key;

int call_vxd(int model) {
  return win98::bound_call([=] { return remove_vxd_entries(model); });
}

std::vector<std::string> deletions() {
  std::vector<std::string> out;
  for (const sim::call &c : sim::calls())
    if (c.function == "RegDeleteValueA" || c.function == "RegDeleteKeyA")
      out.push_back(c.subject);
  return out;
}

TEST_F(win98_vxd, four_deletions_in_order_with_the_names_as_listed) {
  win98::install_decoys();
  win98::install_model(2);
  // A value named after the VxD key rather than the file is not the model's.
  sim::reg_set_string(vmm32files_key, "Q-4PORT", "");
  EXPECT_EQ(call_vxd(2), STATUS_REMOVED);
  const std::string vmm = std::string("HKEY_LOCAL_MACHINE\\") + vmm32files_key + "\\";
  const std::string hklm = "HKEY_LOCAL_MACHINE\\";
  EXPECT_EQ(deletions(),
            (std::vector<std::string>{vmm + "Q-4PORT.VXD", vmm + "Q-4SV1.VXD",
                                      hklm + vxd_key("Q-4PORT"), hklm + vxd_key("Q-4SV1")}));
  EXPECT_FALSE(sim::reg_value_exists(vmm32files_key, "Q-4PORT.VXD"));
  EXPECT_FALSE(sim::reg_value_exists(vmm32files_key, "Q-4SV1.VXD"));
  EXPECT_TRUE(sim::reg_value_exists(vmm32files_key, "Q-4PORT"));
  EXPECT_FALSE(sim::reg_key_exists(vxd_key("Q-4PORT")));
  EXPECT_FALSE(sim::reg_key_exists(vxd_key("Q-4SV1")));
  win98::expect_decoys_intact();
  EXPECT_TRUE(sim::boxes().empty());
}

// Any one of the four entries is enough for "removed"; none of them gives 0 without a box.
TEST_F(win98_vxd, each_entry_alone_counts_and_absence_is_silent) {
  struct row {
    bool value_0, value_1, key_1, key_2;
    int result;
  } rows[] = {
      {false, false, false, false, STATUS_NONE},   {true, false, false, false, STATUS_REMOVED},
      {false, true, false, false, STATUS_REMOVED}, {false, false, true, false, STATUS_REMOVED},
      {false, false, false, true, STATUS_REMOVED},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(::testing::Message() << r.value_0 << r.value_1 << r.key_1 << r.key_2);
    sim::machine_win98();
    reset_process_state();
    if (r.value_0)
      sim::reg_set_string(vmm32files_key, "Q40PPORT.VxD", "");
    if (r.value_1)
      sim::reg_set_string(vmm32files_key, "Q40PSV1.VxD", "");
    if (r.key_1)
      sim::reg_add_key(vxd_key("Q40PPORT"));
    if (r.key_2)
      sim::reg_add_key(vxd_key("Q40PSV1"));
    EXPECT_EQ(call_vxd(0), r.result);
    EXPECT_EQ(deletions().size(), 4u);
    EXPECT_TRUE(sim::boxes().empty());
  }
}

TEST_F(win98_vxd, a_failed_deletion_does_not_stop_the_next) {
  win98::install_model(0);
  sim::fail("RegDeleteValueA", ERROR_ACCESS_DENIED, "Q40PPORT.VxD");
  sim::fail("RegDeleteKeyA", ERROR_ACCESS_DENIED, vxd_key("Q40PPORT"));
  EXPECT_EQ(call_vxd(0), STATUS_REMOVED);
  EXPECT_TRUE(sim::reg_value_exists(vmm32files_key, "Q40PPORT.VxD"));
  EXPECT_FALSE(sim::reg_value_exists(vmm32files_key, "Q40PSV1.VxD"));
  EXPECT_TRUE(sim::reg_key_exists(vxd_key("Q40PPORT")));
  EXPECT_FALSE(sim::reg_key_exists(vxd_key("Q40PSV1")));
  EXPECT_TRUE(sim::boxes().empty());
}

TEST_F(win98_vxd, vmm32files_is_opened_for_writing_only) {
  // Refusing enumeration refuses KEY_ALL_ACCESS but not KEY_WRITE.
  win98::install_model(0);
  sim::reg_deny(vmm32files_key, KEY_ENUMERATE_SUB_KEYS);
  EXPECT_EQ(call_vxd(0), STATUS_REMOVED);
  EXPECT_FALSE(sim::reg_value_exists(vmm32files_key, "Q40PPORT.VxD"));
}

} // namespace
