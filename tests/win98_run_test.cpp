// Whole Windows 98 runs through the entry: the boxes the user sees and the machine afterwards.
#include "core/catalogue.h"
#include "core/entry.h"
#include "core/run_state.h"
#include "core/texts.h"
#include "tests/support.h"
#include "tests/win98_support.h"
#include "win98/win98_steps.h"

namespace {

using win98_run = win98_test;

const UINT question = MB_OKCANCEL | MB_ICONWARNING;

expected_box consent() {
  return {text_consent, text_program_caption, question};
}
expected_box asked(int model) {
  return {std::string(model_display_name(model)) +
              cp932("がインストールされています。\n削除しますか？"),
          text_program_caption, question};
}
expected_box not_installed(int model) {
  return {std::string(model_display_name(model)) + cp932("はインストールされていません。"),
          text_program_caption, MB_ICONWARNING};
}
expected_box completed() {
  return {text_completed, text_program_caption, MB_OK};
}
expected_box restart_prompt() {
  return {text_restart_prompt, text_program_caption, question};
}

TEST_F(win98_run, all_three_models_installed_and_confirmed_end_with_a_restart) {
  for (int model = 0; model < MODEL_COUNT; ++model)
    win98::install_model(model);
  win98::install_decoys();
  sim::answers({IDOK, IDOK, IDOK, IDOK});
  EXPECT_EQ(uninstaller_main(""), 0);
  expect_boxes({consent(), asked(1), asked(2), restart_prompt()});
  for (int model = 0; model < MODEL_COUNT; ++model) {
    win98::expect_model_removed(model);
    EXPECT_EQ(get_win98_registry_status(model), STATUS_REMOVED);
    EXPECT_EQ(get_win98_files_status(model), STATUS_REMOVED);
  }
  win98::expect_decoys_intact();
  EXPECT_EQ(sim::restart().exit_windows_calls, 1);
  // Nothing was deleted but the three installations (9 + 13 + 14 files, and per model the
  // Enum key, two class keys, the port instance, two values and two VxD keys with what
  // lies below them).
  int files = 0;
  for (const sim::change &c : sim::changes())
    files += c.kind == sim::change::file_deleted;
  EXPECT_EQ(files, 9 + 13 + 14);
}

TEST_F(win98_run, nothing_installed_shows_only_model_0s_notice) {
  win98::install_decoys();
  sim::answers({IDOK, IDOK, IDOK});
  EXPECT_EQ(uninstaller_main(""), 0);
  expect_boxes({consent(), not_installed(0), completed()});
  EXPECT_TRUE(sim::changes().empty());
  win98::expect_decoys_intact();
  for (int model = 0; model < MODEL_COUNT; ++model) {
    EXPECT_EQ(get_win98_registry_status(model), STATUS_NONE);
    EXPECT_EQ(get_win98_files_status(model), STATUS_NONE);
  }
}

TEST_F(win98_run, model_2s_prefix_takes_the_ports_of_declined_model_1) {
  win98::install_model(1);
  win98::install_model(2);
  win98::install_decoys();
  sim::answers({IDOK, IDOK, IDCANCEL, IDOK, IDCANCEL});
  EXPECT_EQ(uninstaller_main(""), 0);
  expect_boxes({consent(), not_installed(0), asked(1), asked(2), restart_prompt()});
  win98::expect_model_removed(2);
  // "QUENDALQ-4" begins "QUENDALQ-40 USB Port" too: model 1's port instance and the driver
  // key it names go with model 2; the rest of model 1 stays.
  EXPECT_FALSE(sim::reg_key_exists(win98::port_instance_key(1)));
  EXPECT_FALSE(sim::reg_key_exists(win98::class_key(win98::port_driver(1))));
  EXPECT_TRUE(sim::reg_key_exists(win98::enum_key(1)));
  EXPECT_TRUE(sim::reg_key_exists(win98::class_key(win98::device_driver(1))));
  EXPECT_TRUE(sim::reg_key_exists(win98::vxd_key(model_vxd_name_1(1))));
  EXPECT_TRUE(sim::reg_value_exists(win98::vmm32files_key, model_win98_file(1, 0)));
  EXPECT_TRUE(sim::file_exists(win98::file_path(1, 0)));
  EXPECT_EQ(get_win98_registry_status(1), STATUS_NONE);
  EXPECT_EQ(get_win98_files_status(1), STATUS_NONE);
  win98::expect_decoys_intact();
  EXPECT_EQ(sim::restart().exit_windows_calls, 0);
}

TEST_F(win98_run, a_model_found_only_by_a_file_is_asked_about) {
  sim::file_add(win98::file_path(1, 12)); // Q40COM.PNF, the last listed file
  sim::answers({IDOK, IDOK, IDOK, IDOK});
  uninstaller_main("");
  // Model 0 has nothing; model 1's registry step finds nothing but its file step deletes the
  // one file (partial mark), so no notice is shown for it.
  expect_boxes({consent(), not_installed(0), asked(1), completed()});
  EXPECT_FALSE(sim::file_exists(win98::file_path(1, 12)));
  EXPECT_EQ(get_win98_files_status(1), STATUS_PARTIAL);
}

TEST_F(win98_run, a_confirmed_model_with_nothing_removed_gets_the_notice) {
  // The Enum key alone: deleting it removes no driver key, so both flags stay 0.
  sim::reg_add_key(win98::enum_key(2));
  sim::answers({IDOK, IDOK, IDOK, IDOK, IDOK});
  uninstaller_main("");
  expect_boxes({consent(), not_installed(0), asked(2), not_installed(2), completed()});
  EXPECT_FALSE(sim::reg_key_exists(win98::enum_key(2)));
}

TEST_F(win98_run, binding_failure_touches_nothing) {
  win98::install_model(0);
  win98::install_decoys();
  sim::module_remove("advapi32");
  sim::answers({IDOK, IDOK, IDOK});
  EXPECT_EQ(uninstaller_main(""), 0);
  expect_boxes({consent(),
                {sim::message_text(ERROR_MOD_NOT_FOUND), caption_load_library, MB_ICONERROR},
                completed()});
  EXPECT_TRUE(sim::changes().empty());
  win98::expect_model_intact(0);
}

// Setup puts the serial ports it finds under Enum\BIOS or Enum\Root\*PNP0500; a machine on
// which no port was ever installed by hand or by a driver has no Enum\Root\Ports. Its absence
// is nothing found; a key that is there and cannot be opened is a failure, shown by the
// restart prompt alone.
TEST_F(win98_run, the_ports_key_absent_is_nothing_found_and_unopenable_a_failure) {
  const struct {
    const char *name;
    DWORD open_error; // 0: the key is absent
    bool files;       // model 0's files are installed
    std::vector<expected_box> boxes;
    int registry_status;
  } rows[] = {
      {"absent, nothing installed", 0, false, {consent(), not_installed(0), completed()}, 0},
      {"absent, model 0's files installed", 0, true, {consent(), completed()}, 0},
      {"cannot be opened", ERROR_OUTOFMEMORY, false, {consent(), restart_prompt()}, STATUS_FAILED},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    sim::machine_win98();
    reset_process_state();
    win98::install_decoys();
    if (row.open_error)
      sim::fail("RegOpenKeyExA", row.open_error, win98::ports_key);
    else
      ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, win98::ports_key), ERROR_SUCCESS);
    if (row.files)
      win98::install_files(0);
    for (const expected_box &box : row.boxes) // the restart declined
      sim::answer(box.text == text_restart_prompt ? IDCANCEL : IDOK);
    EXPECT_EQ(uninstaller_main(""), 0);
    expect_boxes(row.boxes);
    EXPECT_EQ(get_win98_registry_status(0), row.registry_status);
    EXPECT_EQ(get_win98_files_status(0), row.files ? STATUS_REMOVED : STATUS_NONE);
    EXPECT_EQ(sim::restart().exit_windows_calls, 0);
  }
}

} // namespace
