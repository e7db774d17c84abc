// A failure at each call the Windows 98 steps report: the box with its caption, the status it
// leaves, and the run going on to the restart prompt.
#include "core/catalogue.h"
#include "core/entry.h"
#include "core/run_state.h"
#include "core/texts.h"
#include "tests/support.h"
#include "tests/win98_support.h"
#include "win98/win98_steps.h"

#include <functional>

namespace {

using win98_faults = win98_test;
using win98::class_key;

const UINT question = MB_OKCANCEL | MB_ICONWARNING;
const DWORD denied = ERROR_ACCESS_DENIED;

bool key(const std::string &path) {
  return sim::reg_key_exists(path);
}

// Model 0 fully installed; the fault strikes one call of its removal.
TEST_F(win98_faults, each_reported_call_of_the_removal_steps) {
  const std::string device = win98::device_instance_key(0);
  const std::string port = win98::port_instance_key(0);
  const std::string modem_driver = class_key(win98::device_driver(0));
  const std::string port_driver = class_key(win98::port_driver(0));
  struct row {
    const char *function;
    std::string subject;
    const char *caption; // null: no box
    int registry_status, files_status;
    size_t leaks; // a failed close leaves its handle open
    std::function<bool()> state;
  } rows[] = {
      {"RegOpenKeyExA", device, caption_reg_open_key_ex, STATUS_REMOVED, STATUS_REMOVED, 0,
       [&] { return !key(win98::enum_key(0)) && key(modem_driver) && !key(port_driver); }},
      {"RegDeleteKeyA", modem_driver, caption_reg_delete_key, STATUS_REMOVED, STATUS_REMOVED, 0,
       [&] { return !key(win98::enum_key(0)) && key(modem_driver) && !key(port); }},
      {"RegCloseKey", device, caption_reg_close_key, STATUS_FAILED, STATUS_REMOVED, 1,
       [&] { return !key(win98::enum_key(0)) && !key(modem_driver) && !key(port); }},
      {"RegCloseKey", win98::enum_key(0), caption_reg_close_key, STATUS_FAILED, STATUS_REMOVED, 1,
       [&] { return key(win98::enum_key(0)) && !key(modem_driver) && !key(port); }},
      {"RegDeleteKeyA", win98::enum_key(0), caption_reg_delete_key, STATUS_FAILED, STATUS_REMOVED,
       0, [&] { return key(device) && !key(modem_driver) && !key(port); }},
      {"RegOpenKeyExA", win98::ports_key, nullptr, STATUS_FAILED, STATUS_REMOVED, 0,
       [&] { return key(port) && key(port_driver) && !key(win98::enum_key(0)); }},
      {"RegOpenKeyExA", port, caption_reg_open_key_ex, STATUS_FAILED, STATUS_REMOVED, 0,
       [&] { return key(port) && key(port_driver); }},
      // The port instance stays, and its key is closed before the walk ends.
      {"RegDeleteKeyA", port_driver, caption_reg_delete_key, STATUS_FAILED, STATUS_REMOVED, 0,
       [&] { return key(port) && key(port_driver) && key(win98::port_instance_key(0)); }},
      {"RegCloseKey", port, caption_reg_close_key, STATUS_FAILED, STATUS_REMOVED, 1,
       [&] { return key(port) && !key(port_driver); }},
      {"RegDeleteKeyA", port, caption_reg_delete_key, STATUS_FAILED, STATUS_REMOVED, 0,
       [&] { return key(port) && !key(port_driver); }},
      {"RegCloseKey", win98::ports_key, caption_reg_close_key, STATUS_FAILED, STATUS_REMOVED, 1,
       [&] { return !key(port) && !key(port_driver); }},
      {"RegOpenKeyExA", win98::vmm32files_key, caption_reg_open_key_ex, STATUS_FAILED,
       STATUS_REMOVED, 0,
       [&] {
         return key(win98::vxd_key("Q40PPORT")) &&
                sim::reg_value_exists(win98::vmm32files_key, "Q40PPORT.VxD");
       }},
      {"RegCloseKey", win98::vmm32files_key, caption_reg_close_key, STATUS_FAILED, STATUS_REMOVED,
       1,
       [&] {
         return key(win98::vxd_key("Q40PSV1")) &&
                !sim::reg_value_exists(win98::vmm32files_key, "Q40PSV1.VxD");
       }},
      {"GetWindowsDirectoryA", "", caption_get_windows_directory, STATUS_REMOVED, STATUS_FAILED, 0,
       [&] { return sim::file_exists(win98::file_path(0, 0)) && !key(port); }},
      {"GetSystemDirectoryA", "", caption_get_system_directory, STATUS_REMOVED, STATUS_FAILED, 0,
       [&] { return sim::file_exists(win98::file_path(0, 8)) && !key(port); }},
      {"SetFileAttributesA", win98::file_path(0, 2), caption_set_file_attributes, STATUS_REMOVED,
       STATUS_FAILED, 0,
       [&] {
         return sim::file_exists(win98::file_path(0, 2)) &&
                !sim::file_exists(win98::file_path(0, 3));
       }},
      {"DeleteFileA", win98::file_path(0, 3), caption_delete_file, STATUS_REMOVED, STATUS_FAILED, 0,
       [&] {
         return sim::file_exists(win98::file_path(0, 3)) &&
                !sim::file_exists(win98::file_path(0, 8));
       }},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.function + std::string(" on ") + r.subject);
    sim::machine_win98();
    reset_process_state();
    win98::install_model(0);
    win98::install_decoys();
    sim::fail({r.function, denied, r.subject, 0, 1});
    sim::answers({IDOK, IDOK, IDCANCEL});
    EXPECT_EQ(uninstaller_main(""), 0);
    std::vector<expected_box> boxes = {{text_consent, text_program_caption, question}};
    if (r.caption)
      boxes.push_back({sim::message_text(denied), r.caption, MB_ICONERROR});
    boxes.push_back({text_restart_prompt, text_program_caption, question});
    expect_boxes(boxes);
    EXPECT_EQ(get_win98_registry_status(0), r.registry_status);
    EXPECT_EQ(get_win98_files_status(0), r.files_status);
    EXPECT_TRUE(r.state());
    EXPECT_EQ(sim::leaks().size(), r.leaks);
    win98::expect_decoys_intact();
  }
  expect_no_leaks = false; // checked row by row
}

// Failures of the detection of models 1 and 2, with model 0 installed.
TEST_F(win98_faults, detection_failures_are_reported_and_the_run_goes_on) {
  struct row {
    const char *label;
    std::function<void()> setup;
    const char *function;
    std::string subject;
    int nth;
    const char *caption;
    bool asked; // model 1's question follows the error box
    int model_1_files_status;
    size_t leaks;
  } rows[] = {
      // The probe key cannot be closed: not found by the registry, and no file is there.
      {"probe close", [] { sim::reg_add_key(win98::enum_key(1)); }, "RegCloseKey",
       win98::enum_key(1), 1, caption_reg_close_key, false, STATUS_NONE, 1},
      // Another attribute error is reported and the probe goes on to the next file.
      {"probe attributes",
       [] {
         sim::file_add(win98::file_path(1, 0));
         sim::file_add(win98::file_path(1, 12));
       },
       "SetFileAttributesA", win98::file_path(1, 0), 1, caption_set_file_attributes, true,
       STATUS_NONE, 0},
      // Model 0's file step reads the folder first; the second read is model 1's probe.
      {"probe folder", [] {}, "GetWindowsDirectoryA", "", 2, caption_get_windows_directory, false,
       STATUS_FAILED, 0},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.label);
    sim::machine_win98();
    reset_process_state();
    win98::install_model(0);
    r.setup();
    sim::fail({r.function, denied, r.subject, r.nth, 1});
    sim::answers({IDOK, IDOK, IDCANCEL, IDCANCEL});
    EXPECT_EQ(uninstaller_main(""), 0);
    std::vector<expected_box> boxes = {{text_consent, text_program_caption, question},
                                       {sim::message_text(denied), r.caption, MB_ICONERROR}};
    if (r.asked)
      boxes.push_back({std::string(model_display_name(1)) +
                           cp932("がインストールされています。\n削除しますか？"),
                       text_program_caption, question});
    boxes.push_back({text_restart_prompt, text_program_caption, question});
    expect_boxes(boxes);
    EXPECT_EQ(get_win98_files_status(1), r.model_1_files_status);
    EXPECT_EQ(get_win98_registry_status(1), STATUS_NONE);
    win98::expect_model_removed(0);
    EXPECT_EQ(sim::leaks().size(), r.leaks);
  }
  expect_no_leaks = false; // checked row by row
}

} // namespace
