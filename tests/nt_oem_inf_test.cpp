// The OEM INF walk: which copies are recognised by their USBTA line, and what is deleted.
#include "core/catalogue.h"
#include "nt/nt_steps.h"
#include "tests/nt_support.h"

namespace {

using namespace nt;
using oem_infs = win2000_test;

struct line_row {
  const char *name;
  std::string inf; // contents of OEM3.inf
  bool deleted;
};

std::string without_signature(const std::string &line) {
  return "[USBTA]\r\n" + line + "\r\n[Strings]\r\nQ40=\"QUENDALQ40 PRO USBPort Adapter\"\r\n";
}

TEST_F(oem_infs, the_usbta_line_decides) {
  const line_row rows[] = {
      {"model 0's line", usbta_inf(usbta_line(0)), true},
      {"other letter case", usbta_inf("%Q40%=usb_ta, usb\\vid_1e7a&pid_0080"), true},
      {"key written out",
       usbta_inf("\"QUENDALQ40 PRO USBPort Adapter\"=USB_TA,USB\\Vid_1E7A&Pid_0080"), true},
      {"more fields after the id", usbta_inf(usbta_line(0) + ", Q40PUCOM, 2"), true},
      {"the id with a suffix", usbta_inf(usbta_line(0) + "&Rev_0100"), true},
      {"a longer product number", usbta_inf(usbta_line(0) + "1"), false},
      {"the id followed by other text", usbta_inf(usbta_line(0) + "_old, Q40PUCOM"), false},
      {"a shorter id", usbta_inf("%Q40%=USB_TA, USB\\Vid_1E7A&Pid_008"), false},
      {"another product number", usbta_inf("%Q40%=USB_TA, USB\\Vid_1E7A&Pid_0081"), false},
      {"another model's line", usbta_inf(usbta_line(1)), false},
      {"another key", usbta_inf("Other=USB_TA, USB\\Vid_1E7A&Pid_0080"), false},
      {"without the first field", usbta_inf("%Q40%=USB\\Vid_1E7A&Pid_0080"), false},
      {"no USBTA section", "[Version]\r\nSignature=\"$Windows NT$\"\r\n", false},
      {"not a Windows 4 INF", without_signature(usbta_line(0)), false},
  };
  for (const line_row &row : rows) {
    SCOPED_TRACE(row.name);
    sim::machine_win2000();
    reset_process_state();
    sim::inf_add("OEM3.inf", row.inf);
    sim::file_add(inf_path("OEM3.pnf"));
    bound_run([] { delete_matching_oem_infs(0); });
    EXPECT_EQ(sim::file_exists(inf_path("OEM3.inf")), !row.deleted);
    EXPECT_EQ(sim::file_exists(inf_path("OEM3.pnf")), !row.deleted);
    EXPECT_EQ(get_nt_oem_inf_status(0), row.deleted ? STATUS_REMOVED : STATUS_NONE);
    expect_boxes({});
    EXPECT_TRUE(sim::leaks().empty());
  }
}

// Every copy, whatever its number, is looked at once, in ascending order of the number
// (which is not the order the folder search lists names in), also when there are more copies
// than one batch of the search holds. Names the search pattern matches that are no copy's are
// not opened.
TEST_F(oem_infs, every_copy_is_looked_at_in_ascending_order_of_its_number) {
  install_decoys(); // oem50.inf of another product; oem100a.inf and oemsetup.inf match model 0
  const char *const matching[] = {"oem143.inf",        "oem0.inf",  "OEM8.INF",
                                  "oem4294967296.inf", "oem57.inf", "oem1000.inf"};
  for (const char *name : matching)
    sim::inf_add(name, usbta_inf(usbta_line(0)));
  sim::file_add(inf_path("oem143.pnf"));
  for (int number = 200; number < 240; ++number) // another product's copies
    sim::inf_add("oem" + std::to_string(number) + ".inf", usbta_inf(usbta_line(1)));
  sim::folder_add(inf_path("oem77.inf")); // a folder
  bound_run([] { delete_matching_oem_infs(0); });
  std::vector<std::string> opened,
      expected = {"oem0.inf", "OEM8.INF", "oem50.inf", "oem57.inf", "oem143.inf"};
  for (int number = 200; number < 240; ++number)
    expected.push_back("oem" + std::to_string(number) + ".inf");
  expected.insert(expected.end(), {"oem1000.inf", "oem4294967296.inf"});
  for (const sim::call &c : sim::calls())
    if (c.function == "SetupOpenInfFileA")
      opened.push_back(c.subject);
  EXPECT_EQ(opened, expected);
  for (const char *name : matching)
    EXPECT_FALSE(sim::file_exists(inf_path(name))) << name;
  EXPECT_FALSE(sim::file_exists(inf_path("oem143.pnf")));
  EXPECT_TRUE(sim::file_exists(inf_path("oem200.inf")));
  EXPECT_EQ(get_nt_oem_inf_status(0), STATUS_REMOVED);
  expect_decoys_intact();
  expect_boxes({});
}

TEST_F(oem_infs, every_matching_copy_goes_and_a_missing_pnf_is_silent) {
  sim::inf_add("OEM3.inf", usbta_inf(usbta_line(0)));
  sim::file_add(inf_path("OEM3.pnf"), FILE_ATTRIBUTE_READONLY);
  sim::inf_add("OEM7.inf", usbta_inf(usbta_line(0)));
  sim::file_add(inf_path("OEM7.inf"), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN,
                usbta_inf(usbta_line(0)));
  sim::inf_add("OEM8.inf", usbta_inf(usbta_line(2)));
  bound_run([] { delete_matching_oem_infs(0); });
  for (const char *name : {"OEM3.inf", "OEM3.pnf", "OEM7.inf"})
    EXPECT_FALSE(sim::file_exists(inf_path(name))) << name;
  EXPECT_TRUE(sim::file_exists(inf_path("OEM8.inf")));
  EXPECT_EQ(get_nt_oem_inf_status(0), STATUS_REMOVED);
  expect_boxes({});
  // Each INF is closed before its file is deleted.
  std::vector<std::string> order;
  for (const sim::call &c : sim::calls())
    if ((c.function == "SetupCloseInfFile" || c.function == "DeleteFileA") &&
        c.subject.find("OEM3") != std::string::npos)
      order.push_back(c.function);
  EXPECT_EQ(order, (std::vector<std::string>{"SetupCloseInfFile", "DeleteFileA", "DeleteFileA"}));
}

TEST_F(oem_infs, a_failed_deletion_marks_failure_while_other_copies_still_go) {
  sim::inf_add("OEM3.inf", usbta_inf(usbta_line(1)));
  sim::inf_add("OEM7.inf", usbta_inf(usbta_line(1)));
  sim::file_deny_delete(inf_path("OEM3.inf"), ERROR_SHARING_VIOLATION);
  sim::fail("MoveFileExA", ERROR_ACCESS_DENIED); // nor can it be deleted at restart
  sim::answer(IDOK);
  bound_run([] { delete_matching_oem_infs(1); });
  expect_boxes({error_box(ERROR_SHARING_VIOLATION, caption_delete_file)});
  EXPECT_TRUE(sim::file_exists(inf_path("OEM3.inf")));
  EXPECT_FALSE(sim::file_exists(inf_path("OEM7.inf")));
  EXPECT_EQ(get_nt_oem_inf_status(1), STATUS_FAILED);
}

TEST_F(oem_infs, no_windows_directory_after_a_match_ends_the_walk) {
  sim::inf_add("OEM3.inf", usbta_inf(usbta_line(0)));
  sim::inf_add("OEM7.inf", usbta_inf(usbta_line(0)));
  sim::fail("GetWindowsDirectoryA", ERROR_ACCESS_DENIED, "", 2); // the first is the search's
  sim::answer(IDOK);
  bound_run([] { delete_matching_oem_infs(0); });
  expect_boxes({error_box(ERROR_ACCESS_DENIED, caption_get_windows_directory)});
  EXPECT_EQ(get_nt_files_status(0), STATUS_FAILED);
  EXPECT_EQ(get_nt_oem_inf_status(0), STATUS_NONE);   // not written
  EXPECT_EQ(sim::call_count("SetupOpenInfFileA"), 1); // OEM3
  EXPECT_TRUE(sim::file_exists(inf_path("OEM7.inf")));
}

TEST_F(oem_infs, a_line_buffer_that_cannot_be_allocated_is_reported) {
  sim::inf_add("OEM3.inf", usbta_inf(usbta_line(0)));
  sim::inf_add("OEM7.inf", usbta_inf(usbta_line(0)));
  sim::fail("LocalAlloc", ERROR_NOT_ENOUGH_MEMORY, "", 1);
  sim::answer(IDOK);
  bound_run([] { delete_matching_oem_infs(0); });
  expect_boxes({error_box(ERROR_NOT_ENOUGH_MEMORY, caption_local_alloc)});
  EXPECT_TRUE(sim::file_exists(inf_path("OEM3.inf")));
  EXPECT_FALSE(sim::file_exists(inf_path("OEM7.inf")));
  EXPECT_EQ(get_nt_oem_inf_status(0), STATUS_FAILED);
}

TEST_F(oem_infs, a_failure_mark_from_the_windows_98_probe_stays) {
  set_nt_oem_inf_status(0, STATUS_FAILED);
  sim::inf_add("OEM3.inf", usbta_inf(usbta_line(0)));
  bound_run([] { delete_matching_oem_infs(0); });
  EXPECT_FALSE(sim::file_exists(inf_path("OEM3.inf")));
  EXPECT_EQ(get_nt_oem_inf_status(0), STATUS_FAILED);
}

} // namespace
