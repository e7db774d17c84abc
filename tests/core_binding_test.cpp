// Binding and releasing the run-time bound function sets.
#include "core/binding.h"
#include "core/entry.h"
#include "core/texts.h"
#include "tests/support.h"

namespace {

using binding = win2000_test;

std::vector<std::string> loaded_libraries() {
  std::vector<std::string> names;
  for (const sim::call &c : sim::calls())
    if (c.function == "LoadLibraryA")
      names.push_back(c.subject);
  return names;
}

TEST_F(binding, both_sets_bind_every_function_and_release_everything) {
  ASSERT_EQ(bind_nt_functions(), 1);
  EXPECT_EQ(loaded_libraries(), (std::vector<std::string>{"setupapi", "advapi32", "kernel32"}));
  // A bound slot calls the simulation's function.
  EXPECT_EQ(BOUND(nt_kernel32_table, GetWindowsDirectoryA), &GetWindowsDirectoryA);
  EXPECT_EQ(BOUND(nt_setupapi_table, SetupCloseInfFile), &SetupCloseInfFile);
  EXPECT_EQ(BOUND(nt_advapi32_table, RegEnumValueA), &RegEnumValueA);
  EXPECT_EQ(unbind_nt_functions(), 1);

  // The Windows 98 set binds the first four file functions only: Windows 98's MoveFileExA is a
  // stub that fails, and its steps neither delete at restart nor search folders.
  sim::machine_win98();
  size_t lookups_before = sim::calls().size();
  ASSERT_EQ(bind_win98_functions(), 1);
  EXPECT_EQ(BOUND(win98_advapi32_table, RegDeleteValueA), &RegDeleteValueA);
  EXPECT_EQ(BOUND(win98_kernel32_table, DeleteFileA), &DeleteFileA);
  EXPECT_FALSE(BOUND_PRESENT(win98_kernel32_table, MoveFileExA));
  for (size_t i = lookups_before; i < sim::calls().size(); ++i)
    EXPECT_NE(sim::calls()[i].subject, "MoveFileExA");
  EXPECT_EQ(unbind_win98_functions(), 1);
  EXPECT_TRUE(sim::boxes().empty());
}

TEST_F(binding, missing_library_is_reported_once_and_stops_the_set) {
  sim::module_remove("setupapi");
  sim::answer(IDOK);
  EXPECT_EQ(bind_nt_functions(), 0);
  expect_boxes({{sim::message_text(ERROR_MOD_NOT_FOUND), caption_load_library, MB_ICONERROR}});
  EXPECT_EQ(loaded_libraries(), std::vector<std::string>{"setupapi"});
}

// A missing last name of any table fails the binding like any other missing name: reported,
// the library released, and the sequence ends with the completion box.
TEST_F(binding, missing_last_function_of_a_table) {
  struct row {
    bool win98;
    const char *module, *function;
    std::vector<std::string> left_loaded;
  } rows[] = {
      {false, "setupapi", "SetupCloseInfFile", {}},
      {false, "advapi32", "RegEnumValueA", {"setupapi"}},
      {false, "kernel32", "FindClose", {"setupapi", "advapi32"}},
      {true, "advapi32", "RegDeleteValueA", {}},
      {true, "kernel32", "DeleteFileA", {"advapi32"}},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(std::string(r.module) + "!" + r.function);
    if (r.win98)
      sim::machine_win98();
    else
      sim::machine_win2000();
    reset_process_state();
    sim::export_remove(r.module, r.function);
    sim::answers({IDOK, IDOK, IDOK});
    EXPECT_EQ(uninstaller_main(""), 0);
    expect_boxes({{text_consent, text_program_caption, MB_OKCANCEL | MB_ICONWARNING},
                  {sim::message_text(ERROR_PROC_NOT_FOUND), caption_get_proc_address, MB_ICONERROR},
                  {text_completed, text_program_caption, MB_OK}});
    // The tables bound before the failure stay loaded until the process ends.
    std::vector<std::string> leaks = sim::leaks();
    EXPECT_EQ(leaks.size(), r.left_loaded.size());
    for (const std::string &module : r.left_loaded) {
      bool found = false;
      for (const std::string &line : leaks)
        found = found || line.find(module) != std::string::npos;
      EXPECT_TRUE(found) << module;
    }
  }
  expect_no_leaks = false;
}

TEST_F(binding, failed_release_after_a_missing_name_is_reported_too) {
  sim::export_remove("setupapi", "SetupDiEnumDeviceInfo");
  sim::fail("FreeLibrary", ERROR_INVALID_HANDLE, "setupapi");
  sim::answers({IDOK, IDOK});
  EXPECT_EQ(bind_nt_functions(), 0);
  expect_boxes({{sim::message_text(ERROR_PROC_NOT_FOUND), caption_get_proc_address, MB_ICONERROR},
                {sim::message_text(ERROR_INVALID_HANDLE), caption_free_library, MB_ICONERROR}});
  // Names after the missing one are not looked up.
  EXPECT_EQ(sim::call_count("GetProcAddress"), 2);
  expect_no_leaks = false;
}

TEST_F(binding, failed_release_stops_the_release) {
  ASSERT_EQ(bind_nt_functions(), 1);
  sim::fail("FreeLibrary", ERROR_INVALID_HANDLE, "advapi32");
  sim::answer(IDOK);
  EXPECT_EQ(unbind_nt_functions(), 0);
  expect_boxes({{sim::message_text(ERROR_INVALID_HANDLE), caption_free_library, MB_ICONERROR}});
  std::vector<std::string> leaks = sim::leaks();
  ASSERT_EQ(leaks.size(), 2u) << "advapi32 and kernel32 stay loaded";
  expect_no_leaks = false;
}

TEST_F(binding, release_skips_a_table_that_was_never_bound) {
  ASSERT_EQ(bind_library_table(&nt_advapi32_table), 1);
  ASSERT_EQ(bind_library_table(&nt_kernel32_table), 1);
  EXPECT_EQ(unbind_nt_functions(), 1);
  EXPECT_EQ(sim::call_count("FreeLibrary"), 2);
}

} // namespace
