// The run flow as the user sees it: platform and option checks, consent, the closing box,
// the restart, and the error report.
#include "core/entry.h"
#include "core/error_report.h"
#include "core/run_state.h"
#include "core/texts.h"
#include "tests/support.h"

#include <algorithm>
#include <cstring>

namespace {

const expected_box consent_box{text_consent, text_program_caption, MB_OKCANCEL | MB_ICONWARNING};
const expected_box completed_box{text_completed, text_program_caption, MB_OK};
const expected_box restart_box{text_restart_prompt, text_program_caption,
                               MB_OKCANCEL | MB_ICONWARNING};
const expected_box unsupported_box{text_unsupported_platform, text_program_caption, MB_ICONERROR};
const expected_box invalid_option_box{text_invalid_option, text_program_caption, MB_ICONERROR};

expected_box error_box(DWORD code, const char *caption) {
  return {sim::message_text(code), caption, MB_ICONERROR};
}

bool called(const std::string &function) {
  return sim::call_count(function) > 0;
}

using entry = win2000_test;

TEST(command_tail, drops_the_program_name_and_the_blanks_after_it) {
  struct row {
    const char *line, *tail;
  } rows[] = {
      {"QuendalUninstall.exe", ""},
      {"QuendalUninstall.exe --complete", "--complete"},
      {"QuendalUninstall.exe   \t-C", "-C"},
      {"QuendalUninstall.exe -C  ", "-C  "}, // trailing blanks stay: the word is then refused
      {"\"C:\\Program Files\\Q\\QuendalUninstall.exe\" --default", "--default"},
      {"\"C:\\Program Files\\Q\\QuendalUninstall.exe\"--default", "--default"},
      {"\"unterminated name --complete", ""},
      {"\"\" -D", "-D"},
      // 0x83 0x22 would be a quote if the trail byte were read alone; here 0x83 0x5C is ソ,
      // whose trail byte is a backslash, and 0x95 0x22 is not valid but still one character.
      {"\"C:\\\x83\x5C\x95\x22\\x.exe\" -C", "-C"},
      {"C:\\\x83\x5Cx.exe\x01\x02 -C", "-C"},
      {"", ""},
  };
  for (const row &r : rows) {
    EXPECT_STREQ(cut_command_tail(r.line), r.tail) << r.line;
    // A wide command line is cut by the same rule; of ASCII, each byte is one character.
    std::wstring line(r.line, r.line + strlen(r.line));
    if (std::any_of(line.begin(), line.end(), [](wchar_t c) { return c < 0 || c >= 0x80; }))
      continue;
    EXPECT_EQ(std::wstring(cut_wide_command_tail(line.c_str())),
              std::wstring(r.tail, r.tail + strlen(r.tail)))
        << r.line;
  }
  EXPECT_STREQ(cut_wide_command_tail(L"\"C:\\Café\\한글\\x.exe\" -C"), L"-C");
  // The ideographic space is no blank of code 0x20 or less: the name runs on.
  EXPECT_STREQ(cut_wide_command_tail(L"C:\\한글\\x.exe\x3000-C"), L"");
}

// The 32-bit edition asks about WOW64 before anything else; under WOW64 the 64-bit edition
// beside it does the run, and when that cannot be started (or is no 64-bit program) the
// platform is refused untouched.
TEST_F(entry, the_32_bit_edition_hands_the_run_to_the_64_bit_edition_under_wow64) {
  const wchar_t edition_64[] = L"C:\\Quendal\\QuendalUninstall64.exe";
  const expected_box consent = consent_box, unsupported = unsupported_box;
  enum { ABSENT = -1, NO_PROGRAM = -2 }; // besides the binary types of a program file
  struct row {
    const char *name;
    int edition;
    int wow64;      // -1: kernel32 lacks IsWow64Process
    int edition_64; // its binary type, or ABSENT, or NO_PROGRAM: a file of another kind
    DWORD child_exit_code;
    const char *failing; // a call that fails with ERROR_ACCESS_DENIED
    int exit_code;
    std::vector<expected_box> boxes; // the consent box answered Cancel
    bool started;
  } rows[] = {
      {"Windows 2000", EDITION_32_BIT, -1, SCS_64BIT_BINARY, 0, nullptr, 0, {consent}, false},
      {"32-bit XP SP2 or later",
       EDITION_32_BIT,
       0,
       SCS_64BIT_BINARY,
       0,
       nullptr,
       0,
       {consent},
       false},
      {"64-bit edition", EDITION_64_BIT, 1, SCS_64BIT_BINARY, 0, nullptr, 0, {consent}, false},
      {"64-bit Windows", EDITION_32_BIT, 1, SCS_64BIT_BINARY, 0, nullptr, 0, {}, true},
      {"child refused", EDITION_32_BIT, 1, SCS_64BIT_BINARY, 0xFFFFFFFF, nullptr, -1, {}, true},
      {"edition absent", EDITION_32_BIT, 1, ABSENT, 0, nullptr, -1, {unsupported}, false},
      // A renamed copy of the 32-bit program would hand off to itself without end.
      {"a 32-bit program under the edition's name",
       EDITION_32_BIT,
       1,
       SCS_32BIT_BINARY,
       0,
       nullptr,
       -1,
       {unsupported},
       false},
      {"no program under the edition's name",
       EDITION_32_BIT,
       1,
       NO_PROGRAM,
       0,
       nullptr,
       -1,
       {unsupported},
       false},
      {"type unreadable",
       EDITION_32_BIT,
       1,
       SCS_64BIT_BINARY,
       0,
       "GetBinaryTypeW",
       -1,
       {error_box(ERROR_ACCESS_DENIED, caption_get_binary_type), unsupported},
       false},
      {"start denied",
       EDITION_32_BIT,
       1,
       SCS_64BIT_BINARY,
       0,
       "CreateProcessW",
       -1,
       {error_box(ERROR_ACCESS_DENIED, caption_create_process), unsupported},
       false},
      {"query failed",
       EDITION_32_BIT,
       1,
       SCS_64BIT_BINARY,
       0,
       "IsWow64Process",
       -1,
       {error_box(ERROR_ACCESS_DENIED, caption_is_wow64_process), unsupported},
       false},
      {"own path unknown",
       EDITION_32_BIT,
       1,
       SCS_64BIT_BINARY,
       0,
       "GetModuleFileNameW",
       -1,
       {error_box(ERROR_ACCESS_DENIED, caption_get_module_file_name), unsupported},
       false},
      {"wait failed", EDITION_32_BIT, 1, SCS_64BIT_BINARY, 0, "WaitForSingleObject", -1, {}, true},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.name);
    sim::machine_win2000();
    reset_process_state();
    set_program_edition(r.edition);
    if (r.wow64 >= 0)
      sim::set_wow64(r.wow64 == 1);
    if (r.edition_64 == NO_PROGRAM)
      sim::file_add("C:\\Quendal\\QuendalUninstall64.exe");
    else if (r.edition_64 != ABSENT)
      sim::program_add(
          edition_64, [&](const std::wstring &) { return r.child_exit_code; },
          static_cast<DWORD>(r.edition_64));
    if (r.failing)
      sim::fail(r.failing, ERROR_ACCESS_DENIED);
    sim::answers({IDCANCEL, IDOK, IDOK});
    EXPECT_EQ(uninstaller_main("-C"), r.exit_code);
    expect_boxes(r.boxes);
    EXPECT_EQ(sim::processes_started().size(), r.started ? 1u : 0u);
    EXPECT_EQ(called("GetVersionExA"), !r.boxes.empty() && r.boxes[0].text == consent.text)
        << "the 32-bit edition under WOW64 must not start its own run";
    EXPECT_EQ(called("IsWow64Process"), r.edition == EDITION_32_BIT && r.wow64 >= 0);
    EXPECT_TRUE(sim::leaks().empty());
  }
}

// The child's command line is its quoted path and the tail of this process's own wide command
// line exactly as received (the ANSI tail the entry was given plays no part); its folder is
// this program's, whatever characters its name has: C:\Café\ would lose its backslash to the
// é (0xE9, a lead byte) if read as code page 932, and Hangul has no code in that code page.
TEST_F(entry, the_64_bit_edition_starts_from_this_folder_with_the_same_tail) {
  struct row {
    const wchar_t *program_path, *command_line, *child_path, *child_command_line;
  } rows[] = {
      {L"C:\\Quendal\\QuendalUninstall.exe", L"QuendalUninstall.exe",
       L"C:\\Quendal\\QuendalUninstall64.exe", L"\"C:\\Quendal\\QuendalUninstall64.exe\""},
      {L"C:\\Quendal\\QuendalUninstall.exe", L"\"C:\\Quendal\\QuendalUninstall.exe\"  -C  ",
       L"C:\\Quendal\\QuendalUninstall64.exe", L"\"C:\\Quendal\\QuendalUninstall64.exe\" -C  "},
      {L"C:\\Café\\QuendalUninstall.exe", L"\"C:\\Café\\QuendalUninstall.exe\" --complete",
       L"C:\\Café\\QuendalUninstall64.exe", L"\"C:\\Café\\QuendalUninstall64.exe\" --complete"},
      {L"D:\\도구\\제거\\x.exe", L"x.exe -D ソ", L"D:\\도구\\제거\\QuendalUninstall64.exe",
       L"\"D:\\도구\\제거\\QuendalUninstall64.exe\" -D ソ"},
      {L"C:\\ソフト\\QuendalUninstall.exe", L"QuendalUninstall.exe\t--default",
       L"C:\\ソフト\\QuendalUninstall64.exe", L"\"C:\\ソフト\\QuendalUninstall64.exe\" --default"},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(narrowed(r.program_path));
    sim::machine_win2000();
    reset_process_state();
    sim::set_program_path(r.program_path);
    sim::set_command_line(r.command_line);
    set_program_edition(EDITION_32_BIT);
    sim::set_wow64(true);
    std::wstring own_path_seen;
    sim::program_add(r.child_path, [&](const std::wstring &) {
      wchar_t own[MAX_PATH];
      GetModuleFileNameW(nullptr, own, MAX_PATH);
      own_path_seen = own;
      return DWORD(0);
    });
    EXPECT_EQ(uninstaller_main("?"), 0);
    ASSERT_EQ(sim::processes_started().size(), 1u);
    EXPECT_TRUE(sim::processes_started()[0].application_name == r.child_path);
    EXPECT_TRUE(sim::processes_started()[0].command_line == r.child_command_line)
        << narrowed(sim::processes_started()[0].command_line);
    EXPECT_TRUE(own_path_seen == r.child_path);
  }
}

TEST_F(entry, platform_detection) {
  struct row {
    DWORD platform, major, build;
    int mode; // 0: refused
  } rows[] = {
      {VER_PLATFORM_WIN32_WINDOWS, 4, 950, 0},
      {VER_PLATFORM_WIN32_WINDOWS, 4, 951, MODE_WIN98},
      {VER_PLATFORM_WIN32_WINDOWS, 4, 0x040A03B6, 0}, // high word ignored: 950
      {VER_PLATFORM_WIN32_WINDOWS, 4, 0x040A08AE, MODE_WIN98},
      {VER_PLATFORM_WIN32_WINDOWS, 4, 0xFFFF0001, 0},
      {VER_PLATFORM_WIN32_NT, 4, 1381, 0},
      {VER_PLATFORM_WIN32_NT, 5, 2195, MODE_NT},
      {VER_PLATFORM_WIN32_NT, 10, 19045, MODE_NT},
      {VER_PLATFORM_WIN32s, 5, 2000, 0},
      {3, 5, 2000, 0},
  };
  for (const row &r : rows) {
    reset_process_state();
    sim::set_version(r.platform, r.major, 0, r.build);
    EXPECT_EQ(detect_platform(), r.mode != 0) << r.platform << " " << r.major << " " << r.build;
    EXPECT_EQ(get_mode(), r.mode) << r.platform << " " << r.major << " " << r.build;
  }
}

TEST_F(entry, refused_platform_shows_one_error_box_and_exits_with_minus_one) {
  sim::set_version(VER_PLATFORM_WIN32_WINDOWS, 4, 950, 950);
  sim::answer(IDOK);
  EXPECT_EQ(uninstaller_main(""), -1);
  expect_boxes({unsupported_box});
}

TEST_F(entry, failed_version_query_is_reported_before_the_refusal) {
  sim::fail("GetVersionExA", ERROR_INVALID_PARAMETER);
  sim::answers({IDOK, IDOK});
  EXPECT_EQ(uninstaller_main("--complete"), -1);
  expect_boxes({error_box(ERROR_INVALID_PARAMETER, caption_get_version_ex), unsupported_box});
  EXPECT_EQ(get_mode(), 0);
}

TEST_F(entry, option_words_per_mode) {
  struct row {
    bool win98;
    const char *tail;
    int accepted;
    int option_flag;
  } rows[] = {
      {false, "", 1, 0},
      {false, "--default", 1, 0},
      {false, "-D", 1, 0},
      {false, "--complete", 1, 1},
      {false, "-C", 1, 1},
      {false, "--COMPLETE", 0, 0},
      {false, "-d", 0, 0},
      {false, "-c", 0, 0},
      {false, "/complete", 0, 0},
      {false, "/C", 0, 0},
      {false, "--complete ", 0, 0},
      {false, " -C", 0, 0},
      {true, "", 1, 0},
      {true, "--complete", 0, 0},
      {true, "--default", 0, 0},
      {true, "-C", 0, 0},
      {true, "-D", 0, 0},
  };
  for (const row &r : rows) {
    reset_process_state();
    set_mode(r.win98 ? MODE_WIN98 : MODE_NT);
    EXPECT_EQ(check_option(r.tail), r.accepted) << r.tail;
    EXPECT_EQ(get_option_flag(), r.option_flag) << r.tail;
  }
}

TEST_F(entry, refused_option_touches_nothing) {
  sim::answer(IDOK);
  EXPECT_EQ(uninstaller_main("-c"), -1);
  expect_boxes({invalid_option_box});
  EXPECT_FALSE(called("LoadLibraryA"));
}

TEST_F(entry, windows_98_refuses_every_word) {
  sim::machine_win98();
  sim::answer(IDOK);
  EXPECT_EQ(uninstaller_main("--default"), -1);
  expect_boxes({invalid_option_box});
}

TEST_F(entry, cancel_at_consent_touches_nothing) {
  sim::answer(IDCANCEL);
  EXPECT_EQ(uninstaller_main("--complete"), 0);
  expect_boxes({consent_box});
  EXPECT_FALSE(called("LoadLibraryA"));
  EXPECT_TRUE(sim::changes().empty());
  EXPECT_EQ(sim::restart().exit_windows_calls, 0);
}

TEST_F(entry, nothing_to_restart_ends_with_the_completion_box) {
  // The removal sequence cannot bind, so it does nothing and every flag stays zero.
  sim::module_remove("setupapi");
  sim::answers({IDOK, IDOK, IDOK});
  EXPECT_EQ(uninstaller_main("--complete"), 0);
  expect_boxes({consent_box, error_box(ERROR_MOD_NOT_FOUND, caption_load_library), completed_box});
}

TEST_F(entry, restart_prompt_follows_any_nonzero_flag_of_the_mode) {
  struct row {
    bool win98;
    void (*set)(int, int);
    int model, value;
    bool restart;
  } rows[] = {
      {false, set_nt_service_status, 2, STATUS_FAILED, true},
      {false, set_nt_service_status, 0, STATUS_REMOVED, true},
      {false, set_nt_device_status, 0, STATUS_REMOVED, false},
      {false, set_win98_registry_status, 1, STATUS_REMOVED, false},
      {true, set_win98_registry_status, 1, STATUS_FAILED, true},
      {true, set_win98_files_status, 0, STATUS_REMOVED, false},
      {true, set_nt_service_status, 0, STATUS_REMOVED, false},
  };
  for (const row &r : rows) {
    reset_process_state();
    set_mode(r.win98 ? MODE_WIN98 : MODE_NT);
    r.set(r.model, r.value);
    EXPECT_EQ(restart_needed(), r.restart ? 1 : 0);
  }
}

TEST_F(entry, accepted_restart_enables_the_shutdown_privilege_and_reboots) {
  // A flag recorded before the sequence (which cannot bind here) stands for a removed service.
  set_nt_service_status(0, STATUS_REMOVED);
  sim::module_remove("setupapi");
  sim::answers({IDOK, IDOK, IDOK});
  EXPECT_EQ(uninstaller_main("-C"), 0);
  expect_boxes({consent_box, error_box(ERROR_MOD_NOT_FOUND, caption_load_library), restart_box});
  const sim::restart_record &r = sim::restart();
  EXPECT_EQ(r.open_process_token_calls, 1);
  EXPECT_EQ(r.token_access, static_cast<DWORD>(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY));
  EXPECT_EQ(r.privilege_looked_up, "SeShutdownPrivilege");
  EXPECT_TRUE(r.system_name_null);
  EXPECT_EQ(r.adjust_calls, 1);
  EXPECT_FALSE(r.disable_all);
  EXPECT_EQ(r.privilege_count, 1u);
  EXPECT_EQ(r.privilege_luid.LowPart, sim::shutdown_privilege_luid().LowPart);
  EXPECT_EQ(r.privilege_luid.HighPart, sim::shutdown_privilege_luid().HighPart);
  EXPECT_EQ(r.privilege_attributes, static_cast<DWORD>(SE_PRIVILEGE_ENABLED));
  EXPECT_EQ(r.buffer_length, 0u);
  EXPECT_TRUE(r.previous_state_null);
  EXPECT_TRUE(r.return_length_null);
  EXPECT_EQ(r.exit_windows_calls, 1);
  EXPECT_EQ(r.exit_flags, static_cast<UINT>(EWX_REBOOT));
  EXPECT_EQ(r.exit_reason, 0u);
}

TEST_F(entry, declined_or_failing_restart_still_exits_with_zero) {
  set_nt_service_status(1, STATUS_FAILED);
  sim::module_remove("setupapi");
  sim::answers({IDOK, IDOK, IDCANCEL});
  EXPECT_EQ(uninstaller_main(""), 0);
  EXPECT_EQ(sim::restart().exit_windows_calls, 0);

  reset_process_state();
  sim::machine_win2000();
  set_nt_service_status(1, STATUS_FAILED);
  sim::module_remove("setupapi");
  sim::fail("OpenProcessToken", ERROR_ACCESS_DENIED);
  sim::fail("ExitWindowsEx", ERROR_ACCESS_DENIED);
  sim::answers({IDOK, IDOK, IDOK});
  EXPECT_EQ(uninstaller_main(""), 0);
  EXPECT_EQ(sim::boxes().size(), 3u) << "restart failures are not reported";
}

TEST_F(entry, error_report_shows_the_system_text_or_an_empty_box) {
  std::string denied = sim::message_text(ERROR_ACCESS_DENIED);
  ASSERT_FALSE(denied.empty());
  sim::answers({IDOK, IDOK, IDOK});
  report_system_error(ERROR_ACCESS_DENIED, caption_reg_open_key_ex);
  sim::remove_message_text(ERROR_ACCESS_DENIED);
  report_system_error(ERROR_ACCESS_DENIED, caption_delete_file);
  // A text with an insert and no arguments: shown with the insert as written.
  report_system_error(ERROR_BAD_EXE_FORMAT, caption_load_library);
  expect_boxes({{denied, caption_reg_open_key_ex, MB_ICONERROR},
                {"", caption_delete_file, MB_ICONERROR},
                {"%1 is not a valid Win32 application.\r\n", caption_load_library, MB_ICONERROR}});
}

} // namespace
