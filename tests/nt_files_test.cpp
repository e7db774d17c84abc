// The file steps: placement, the status values, read-only files, missing folders and the OEM
// INF named by the modem class scan.
#include "core/catalogue.h"
#include "nt/nt_steps.h"
#include "tests/nt_support.h"

namespace {

using namespace nt;
using files = win2000_test;

struct named_row {
  const char *name;
  const char *stored; // the OEM INF name the scan left
  std::vector<std::string> present;
  int status;
  std::vector<std::string> deleted;
};

TEST_F(files, delete_nt_files_counts_the_named_oem_pair) {
  const std::string sys = sys_file(0);
  const std::string victim = driver_path("victim.inf");
  const named_row rows[] = {
      {"no name: the driver still goes", "", {sys}, STATUS_NONE, {sys}},
      {"both of the pair",
       "oem5.inf",
       {inf_path("oem5.inf"), inf_path("oem5.pnf")},
       STATUS_REMOVED,
       {inf_path("oem5.inf"), inf_path("oem5.pnf")}},
      {"only the INF",
       "oem5.inf",
       {sys, inf_path("oem5.inf")},
       STATUS_PARTIAL,
       {sys, inf_path("oem5.inf")}},
      {"only the PNF", "OEM5.INF", {inf_path("oem5.pnf")}, STATUS_PARTIAL, {inf_path("oem5.pnf")}},
      {"neither", "oem5.inf", {sys}, STATUS_NONE, {sys}},
      // A stored name is joined to the INF folder only when it is a bare file name.
      {"a relative path", "..\\system32\\drivers\\victim.inf", {victim}, STATUS_NONE, {}},
      {"a full path", "C:\\WINDOWS\\system32\\drivers\\victim.inf", {victim}, STATUS_NONE, {}},
      {"a slash", "../system32/drivers/victim.inf", {victim}, STATUS_NONE, {}},
      {"a drive", "C:victim.inf", {victim}, STATUS_NONE, {}},
      {"dot dot", "..", {}, STATUS_NONE, {}},
      // 0x95 0x5C is one double-byte character: its trail byte is no separator.
      {"a double-byte name",
       "\x95\x5C.inf",
       {inf_path("\x95\x5C.inf")},
       STATUS_PARTIAL,
       {inf_path("\x95\x5C.inf")}},
      // Shorter than three characters: no PNF name can be made from it.
      {"a two-character name",
       "ab",
       {inf_path("ab"), inf_path("pnf")},
       STATUS_PARTIAL,
       {inf_path("ab")}},
  };
  for (const named_row &row : rows) {
    SCOPED_TRACE(row.name);
    sim::machine_win2000();
    reset_process_state();
    for (const std::string &path : row.present)
      sim::file_add(path, FILE_ATTRIBUTE_READONLY);
    set_model_oem_inf_name(0, row.stored);
    bound_run([] { delete_nt_files(0); });
    EXPECT_EQ(get_nt_files_status(0), row.status);
    std::vector<std::string> deleted;
    for (const sim::change &c : sim::changes())
      if (c.kind == sim::change::file_deleted)
        deleted.push_back(c.subject);
    EXPECT_EQ(deleted, row.deleted);
    expect_boxes({});
  }
}

TEST_F(files, the_stored_name_becomes_its_pnf_name) {
  set_model_oem_inf_name(0, "oem5.inf");
  bound_run([] { delete_nt_files(0); });
  EXPECT_STREQ(model_oem_inf_name(0), "oem5.pnf");
}

TEST_F(files, the_driver_is_looked_for_only_in_drivers) {
  sim::file_add(std::string(system_directory) + "\\Q40PUCOM.SYS");
  sim::file_add(std::string(windows_directory) + "\\MDMKORT3.INF");
  bound_run([] { delete_nt_files(0); });
  EXPECT_TRUE(sim::changes().empty());
  std::vector<std::string> probed;
  for (const sim::call &c : sim::calls())
    if (c.function == "SetFileAttributesA")
      probed.push_back(c.subject);
  EXPECT_EQ(probed, (std::vector<std::string>{sys_file(0), inf_path("MDMKORT3.INF"),
                                              inf_path("MDMKORT3.PNF")}));
}

TEST_F(files, a_missing_drivers_folder_is_reported_for_the_nt_list) {
  sim::set_system_directory("C:\\WINNT\\system32"); // without a drivers folder
  sim::answers({IDOK, IDOK});
  bound_run([] { delete_nt_files(0); });
  EXPECT_EQ(get_nt_files_status(0), STATUS_FAILED);
  expect_boxes({error_box(ERROR_PATH_NOT_FOUND, caption_set_file_attributes)});
  // The probe reports it as well and finds nothing.
  EXPECT_EQ(bound_call([] { return nt_files_present(1); }), 0);
  expect_boxes({error_box(ERROR_PATH_NOT_FOUND, caption_set_file_attributes),
                error_box(ERROR_PATH_NOT_FOUND, caption_set_file_attributes)});
}

TEST_F(files, a_path_that_would_not_fit_is_passed_over) {
  // 250 characters of Windows directory leave no room for "\inf\MDMKORT3.INF".
  std::string windows = "C:\\" + std::string(247, 'W');
  sim::set_windows_directory(windows);
  sim::set_system_directory("C:\\S");
  sim::file_add("C:\\S\\drivers\\Q40PUCOM.SYS");
  set_model_oem_inf_name(0, "oem5.inf");
  bound_run([] { delete_nt_files(0); });
  EXPECT_FALSE(sim::file_exists("C:\\S\\drivers\\Q40PUCOM.SYS"));
  EXPECT_EQ(sim::call_count("SetFileAttributesA"), 1); // the driver only
  EXPECT_EQ(get_nt_files_status(0), STATUS_NONE);
  expect_boxes({});
}

TEST_F(files, the_nt_probe_stops_at_the_first_file_found) {
  EXPECT_EQ(bound_call([] { return nt_files_present(0); }), 0);
  sim::file_add(inf_path("MDMKORT3.INF"), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  sim::file_add(inf_path("MDMKORT3.PNF"), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(bound_call([] { return nt_files_present(0); }), 1);
  EXPECT_EQ(sim::file_attributes(inf_path("MDMKORT3.INF")),
            static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(sim::file_attributes(inf_path("MDMKORT3.PNF")),
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)); // not reached
  EXPECT_EQ(get_nt_files_status(0), STATUS_NONE);
}

struct win98_row {
  const char *name;
  std::vector<int> present; // slots of model 0's Windows 98 list
  bool other_folder;
  int status_before; // what delete_nt_files left in the flag
  int status;
};

TEST_F(files, windows_98_files_found_on_windows_2000) {
  const win98_row rows[] = {
      {"none", {}, false, STATUS_NONE, STATUS_NONE},
      {"two of nine", {0, 3}, false, STATUS_REMOVED, STATUS_PARTIAL},
      {"all nine", {0, 1, 2, 3, 4, 5, 6, 7, 8}, true, STATUS_NONE, STATUS_REMOVED},
      {"the OTHER files only", {5, 6}, true, STATUS_NONE, STATUS_PARTIAL},
      // A failure reported by delete_nt_files stays.
      {"after a reported failure", {0, 1, 2, 3, 4, 5, 6, 7, 8}, true, STATUS_FAILED, STATUS_FAILED},
  };
  for (const win98_row &row : rows) {
    SCOPED_TRACE(row.name);
    sim::machine_win2000();
    reset_process_state();
    if (row.other_folder)
      sim::folder_add(inf_path("OTHER"));
    for (int slot : row.present)
      sim::file_add(win98_file(0, slot), FILE_ATTRIBUTE_READONLY);
    set_nt_files_status(0, row.status_before);
    EXPECT_EQ(bound_call([] { return nt_win98_files_present(0); }), row.present.empty() ? 0 : 1);
    bound_run([] { nt_delete_win98_files(0); });
    EXPECT_EQ(get_nt_files_status(0), row.status);
    for (int slot = 0; slot < 9; ++slot)
      EXPECT_FALSE(sim::file_exists(win98_file(0, slot))) << slot;
    expect_boxes({}); // the missing OTHER folder is silent
  }
}

TEST_F(files, windows_98_file_failures) {
  sim::file_add(win98_file(0, 0));
  sim::file_add(win98_file(0, 2));
  sim::file_add(win98_file(0, 3));
  sim::file_deny_attributes(win98_file(0, 0), ERROR_ACCESS_DENIED);
  sim::answers({IDOK, IDOK, IDOK, IDOK});
  EXPECT_EQ(bound_call([] { return nt_win98_files_present(0); }), 1);
  // An attribute failure is reported but leaves the outcome as it is.
  bound_run([] { nt_delete_win98_files(0); });
  EXPECT_EQ(get_nt_files_status(0), STATUS_PARTIAL);
  // A file in use that cannot be scheduled for deletion at restart either.
  sim::file_add(win98_file(0, 2));
  sim::file_deny_delete(win98_file(0, 2), ERROR_SHARING_VIOLATION);
  sim::fail("MoveFileExA", ERROR_ACCESS_DENIED);
  bound_run([] { nt_delete_win98_files(0); });
  EXPECT_EQ(get_nt_files_status(0), STATUS_FAILED);
  expect_boxes({error_box(ERROR_ACCESS_DENIED, caption_set_file_attributes),
                error_box(ERROR_ACCESS_DENIED, caption_set_file_attributes),
                error_box(ERROR_ACCESS_DENIED, caption_set_file_attributes),
                error_box(ERROR_SHARING_VIOLATION, caption_delete_file)});
}

struct folder_row {
  const char *name;
  sim::fault fault;
  const char *caption;
  int files_status;   // flag 4 afterwards
  int oem_inf_status; // flag 5 afterwards
};

TEST_F(files, folders_that_cannot_be_obtained_end_the_step) {
  const folder_row rows[] = {
      {"Windows directory",
       {"GetWindowsDirectoryA", ERROR_ACCESS_DENIED, ""},
       caption_get_windows_directory,
       STATUS_FAILED,
       STATUS_FAILED},
      {"system directory",
       {"GetSystemDirectoryA", ERROR_ACCESS_DENIED, ""},
       caption_get_system_directory,
       STATUS_FAILED,
       STATUS_FAILED},
  };
  for (const folder_row &row : rows) {
    SCOPED_TRACE(row.name);
    sim::machine_win2000();
    reset_process_state();
    sim::file_add(sys_file(0));
    sim::fail(row.fault);
    sim::answers({IDOK, IDOK, IDOK, IDOK});
    bound_run([] { delete_nt_files(0); });
    EXPECT_EQ(bound_call([] { return nt_files_present(0); }), 0);
    EXPECT_EQ(bound_call([] { return nt_win98_files_present(0); }), 0);
    bound_run([] { nt_delete_win98_files(0); });
    EXPECT_EQ(get_nt_files_status(0), row.files_status);
    EXPECT_EQ(get_nt_oem_inf_status(0), row.oem_inf_status);
    EXPECT_TRUE(sim::file_exists(sys_file(0)));
    expect_boxes(std::vector<expected_box>(4, error_box(ERROR_ACCESS_DENIED, row.caption)));
    EXPECT_EQ(sim::call_count("SetFileAttributesA"), 0);
  }
}

} // namespace
