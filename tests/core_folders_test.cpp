// Reading the Windows and system directories through the bound tables.
#include "core/binding.h"
#include "core/catalogue.h"
#include "core/folders.h"
#include "core/texts.h"
#include "tests/support.h"

namespace {

using folders = win2000_test;

TEST_F(folders, a_folder_longer_than_the_buffer_is_a_reported_failure) {
  ASSERT_EQ(bind_nt_functions(), 1);
  char buffer[NAME_SIZE];
  ASSERT_EQ(read_windows_directory(nt_kernel32_table, buffer), 1);
  EXPECT_STREQ(buffer, "C:\\WINDOWS");
  ASSERT_EQ(read_system_directory(nt_kernel32_table, buffer), 1);
  EXPECT_STREQ(buffer, "C:\\WINDOWS\\system32");

  // 259 bytes fit with the terminator; 260 do not, and the call then fills nothing.
  std::string fits = "C:\\" + std::string(256, 'w');
  std::string too_long = fits + "w";
  sim::set_windows_directory(fits);
  EXPECT_EQ(read_windows_directory(nt_kernel32_table, buffer), 1);
  sim::set_windows_directory(too_long);
  sim::set_system_directory(too_long + "\\system32");
  sim::answers({IDOK, IDOK});
  EXPECT_EQ(read_windows_directory(nt_kernel32_table, buffer), 0);
  EXPECT_EQ(read_system_directory(nt_kernel32_table, buffer), 0);
  expect_boxes(
      {{sim::message_text(ERROR_INSUFFICIENT_BUFFER), caption_get_windows_directory, MB_ICONERROR},
       {sim::message_text(ERROR_INSUFFICIENT_BUFFER), caption_get_system_directory, MB_ICONERROR}});
  EXPECT_EQ(unbind_nt_functions(), 1);
}

TEST_F(folders, a_failed_call_reports_the_last_error) {
  ASSERT_EQ(bind_nt_functions(), 1);
  sim::fail("GetSystemDirectoryA", ERROR_ACCESS_DENIED);
  sim::answer(IDOK);
  char buffer[NAME_SIZE];
  EXPECT_EQ(read_system_directory(nt_kernel32_table, buffer), 0);
  expect_boxes(
      {{sim::message_text(ERROR_ACCESS_DENIED), caption_get_system_directory, MB_ICONERROR}});
  EXPECT_EQ(unbind_nt_functions(), 1);
}

} // namespace
