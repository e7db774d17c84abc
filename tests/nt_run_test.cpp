// Whole Windows 2000 runs as the user sees them: the boxes in order, and the machine after.
#include "core/catalogue.h"
#include "core/entry.h"
#include "core/hosted/reset.h"
#include "tests/nt_support.h"

#include <algorithm>
#include <functional>

namespace {

using namespace nt;
using run = win2000_test;

std::vector<std::string> changed(sim::change::kind_t kind) {
  std::vector<std::string> out;
  for (const sim::change &c : sim::changes())
    if (c.kind == kind) {
      std::string subject = c.subject;
      std::transform(subject.begin(), subject.end(), subject.begin(), ::toupper);
      out.push_back(subject);
    }
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> upper(std::vector<std::string> list) {
  for (std::string &s : list)
    std::transform(s.begin(), s.end(), s.begin(), ::toupper);
  std::sort(list.begin(), list.end());
  return list;
}

TEST_F(run, typical_complete_run_removes_model_0_everywhere_and_offers_the_restart) {
  install_model(0);
  install_decoys();
  sim::answers({IDOK, IDOK});
  EXPECT_EQ(uninstaller_main("--complete"), 0);
  expect_boxes({consent_box, restart_box});
  expect_model_removed(0);
  expect_decoys_intact();
  // The modem class entry is only read; Windows drops it with the device.
  EXPECT_TRUE(sim::reg_key_exists(driver_key(0)));
  EXPECT_EQ(changed(sim::change::file_deleted),
            upper({sys_file(0), inf_path("MDMKORT3.INF"), inf_path("MDMKORT3.PNF"),
                   inf_path("oem5.inf"), inf_path("oem5.pnf")}));
  EXPECT_EQ(changed(sim::change::device_removed), upper({device_instance(0)}));
  EXPECT_EQ(changed(sim::change::key_deleted).size(), 4u); // Enum and the key, in two sets
  // Two control sets deleted the key and ControlSet001 (the same as the current set) found
  // it gone; the OEM copy went through "InfPath", so the content walk found none left.
  expect_flags(0, {STATUS_REMOVED, STATUS_REMOVED, STATUS_REMOVED, STATUS_NONE});
  for (int model : {1, 2})
    expect_flags(model, {0, 0, 0, 0});
  EXPECT_EQ(sim::restart().exit_windows_calls, 1);
  EXPECT_EQ(sim::restart().exit_flags, static_cast<UINT>(EWX_REBOOT));
}

// FNV-1a over the Windows calls, one "function<TAB>subject" line each, and their number,
// leaving out the lookup of the function that Windows 2000 lacks and the run's own marks.
std::pair<size_t, uint64_t> call_log_digest() {
  std::pair<size_t, uint64_t> digest{0, 0xcbf29ce484222325ull};
  for (const sim::call &c : sim::calls())
    if ((c.function != "GetProcAddress" || c.subject != "SetupUninstallOEMInfA") &&
        c.function[0] != '(') {
      ++digest.first;
      for (unsigned char byte : c.function + "\t" + c.subject + "\n")
        digest.second = (digest.second ^ byte) * 0x100000001b3ull;
    }
  return digest;
}

// The typical run on each edition of Windows: the same boxes and flags everywhere. From
// Windows XP on the OEM INF copy is uninstalled by Windows, from Vista on with its driver
// package; Wine's uninstall succeeds without deleting, so the files go as on Windows 2000.
TEST_F(run, the_typical_run_on_every_edition_ends_alike_and_takes_the_package_from_vista_on) {
  const struct {
    const char *name;
    DWORD major, minor;
    bool wine;
    const char *deleter; // the call that deleted the named OEM INF copy
    bool package_goes;
  } rows[] = {{"Windows 2000", 5, 0, false, "DeleteFileA", false},
              {"Windows XP, no driver store", 5, 1, false, "SetupUninstallOEMInfA", false},
              {"Windows Vista", 6, 0, false, "SetupUninstallOEMInfA", true},
              {"Wine", 6, 1, true, "DeleteFileA", false}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    sim::machine_win2000();
    reset_process_state();
    sim::set_version(VER_PLATFORM_WIN32_NT, row.major, row.minor, 2195);
    sim::uninstall_oem_inf_as_wine(row.wine);
    const spelling written = row.major >= 6 ? spelling::vista_to_11 : spelling::win2000_xp;
    install_model(0, written);
    install_decoys();
    if (row.major >= 6) // the decoy copy oem50.inf is published from a package too
      for (const char *name : {"oem5.inf", "oem50.inf"})
        sim::driver_package_add(name, std::string(name) + "_x86_1f2e3d4c", name, "");
    sim::answers({IDOK, IDOK});
    EXPECT_EQ(uninstaller_main("--complete"), 0);
    expect_boxes({consent_box, restart_box});
    expect_model_removed(0, written);
    expect_decoys_intact();
    expect_flags(0, {STATUS_REMOVED, STATUS_REMOVED, STATUS_REMOVED, STATUS_NONE});
    for (const sim::change &c : sim::changes())
      EXPECT_TRUE(c.kind != sim::change::file_deleted || c.subject != inf_path("oem5.inf") ||
                  sim::calls()[c.call].function == row.deleter);
    EXPECT_EQ(sim::driver_package("oem5.inf").empty(), row.major < 6 || row.package_goes);
    EXPECT_EQ(sim::driver_package("oem50.inf").empty(), row.major < 6);
    EXPECT_EQ(sim::call_count("SetupUninstallOEMInfA"), row.major == 5 && row.minor == 0 ? 0 : 1);
    // Windows 2000 makes the very calls it made before the uninstall function existed.
    if (row.major == 5 && row.minor == 0) {
      EXPECT_EQ(call_log_digest(), std::make_pair(size_t{256}, uint64_t{0xf471190df13aa012}));
    }
  }
}

// One vendor INF serves models 0 and 1: model 1's device was installed from model 0's OEM INF
// copy. While that device is there Windows refuses to uninstall the copy; that is no failure
// and shows no box. Accepted, model 1's own steps remove the device and then uninstall the copy
// with its package; declined, the copy, its PNF and its package stay for the device.
TEST_F(run, an_oem_inf_two_models_share_goes_with_the_last_device_that_uses_it) {
  const struct {
    const char *name;
    int answer; // to the question about model 1
    int model_1_files;
  } rows[] = {{"model 1 accepted", IDOK, STATUS_REMOVED}, {"model 1 declined", IDCANCEL, 0}};
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    sim::machine_win2000();
    reset_process_state();
    sim::set_version(VER_PLATFORM_WIN32_NT, 6, 1, 7601);
    install_model(0, spelling::vista_to_11);
    install_model(1, spelling::vista_to_11);
    sim::device shared; // a second adapter of model 1
    shared.instance_id = spelled::instance_path(1, spelling::vista_to_11, "5&1a2b3c4d&0&4");
    shared.hardware_ids = sim::multi_string({spelled::revision_id(1, spelling::vista_to_11),
                                             spelled::device_id(1, spelling::vista_to_11)});
    shared.driver = "{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0001"; // the key driver_key(1) names
    sim::device_add(shared);
    sim::reg_set_string(driver_key(1), "InfPath", "oem5.inf");
    sim::driver_package_add("oem5.inf", "q40pusb.inf_x86_1f2e3d4c", "q40pusb.inf", "");
    sim::answers({IDOK, row.answer, IDCANCEL});
    EXPECT_EQ(uninstaller_main("--complete"), 0);
    expect_boxes({consent_box, question_box(1), restart_box});
    expect_flags(0, {STATUS_REMOVED, STATUS_REMOVED, STATUS_NONE, STATUS_NONE});
    EXPECT_EQ(get_nt_files_status(1), row.model_1_files);
    for (const char *name : {"oem5.inf", "oem5.pnf"})
      EXPECT_EQ(sim::file_exists(inf_path(name)), row.answer != IDOK) << name;
    EXPECT_EQ(sim::driver_package("oem5.inf").empty(), row.answer == IDOK);
    EXPECT_EQ(sim::device_exists(shared.instance_id), row.answer != IDOK);
    EXPECT_EQ(sim::call_count("SetupUninstallOEMInfA"), row.answer == IDOK ? 4 : 2);
  }
}

TEST_F(run, nothing_installed_shows_only_model_0_notice_then_completion) {
  install_decoys();
  sim::answers({IDOK, IDOK, IDOK});
  EXPECT_EQ(uninstaller_main(""), 0);
  expect_boxes({consent_box, not_installed_box(0), completed_box});
  EXPECT_TRUE(sim::changes().empty());
  expect_decoys_intact();
  // Of the names the search finds, only the copy's is opened, for model 0 only.
  std::vector<std::string> opened;
  for (const sim::call &c : sim::calls())
    if (c.function == "SetupOpenInfFileA")
      opened.push_back(c.subject);
  EXPECT_EQ(opened, std::vector<std::string>{"oem50.inf"});
}

// What Windows finishes only at the next restart: the run ends with the restart prompt, in the
// default removal too, and without an error box.
struct restart_row {
  const char *name;
  DWORD major, minor, build;
  std::function<void()> setup;
  bool restart;
  std::vector<std::string> pending; // files deleted at restart
};

TEST_F(run, what_windows_finishes_at_restart_ends_with_the_restart_prompt) {
  const DWORD W11 = 10, W7 = 6;
  auto port_open = [](DWORD flags) {
    return [flags] {
      sim::device d;
      d.instance_id = device_instance(0, spelling::vista_to_11);
      d.hardware_ids = sim::multi_string({spelled::revision_id(0, spelling::vista_to_11),
                                          spelled::device_id(0, spelling::vista_to_11)});
      d.remove_flags = flags;
      sim::device_add(d);
    };
  };
  const restart_row rows[] = {
      {"Windows 11, the device cannot be stopped",
       W11,
       0,
       22631,
       port_open(DI_NEEDREBOOT),
       true,
       {}},
      {"the class installer asks for DI_NEEDRESTART",
       W11,
       0,
       22631,
       port_open(DI_NEEDRESTART),
       true,
       {}},
      {"setupapi without SetupDiGetDeviceInstallParamsA tells nothing",
       W11,
       0,
       22631,
       [&] {
         port_open(DI_NEEDREBOOT)();
         sim::export_remove("setupapi", "SetupDiGetDeviceInstallParamsA");
       },
       false,
       {}},
      {"Windows 11, the driver is loaded",
       W11,
       0,
       22631,
       [] { sim::file_loaded(sys_file(0)); },
       true,
       {sys_file(0)}},
      {"Windows 7 lets the loaded driver's file go",
       W7,
       1,
       7601,
       [] { sim::file_loaded(sys_file(0)); },
       false,
       {}},
      {"Windows 2000, a program holds the driver file open",
       5,
       0,
       2195,
       [] { sim::file_deny_delete(sys_file(0), ERROR_SHARING_VIOLATION); },
       true,
       {sys_file(0)}},
  };
  for (const restart_row &row : rows) {
    SCOPED_TRACE(row.name);
    sim::machine_win2000();
    reset_process_state();
    sim::set_version(VER_PLATFORM_WIN32_NT, row.major, row.minor, row.build);
    spelling written = row.major >= 6 ? spelling::vista_to_11 : spelling::win2000_xp;
    install_model(0, written);
    install_decoys();
    row.setup();
    sim::answers({IDOK, IDOK});
    EXPECT_EQ(uninstaller_main(""), 0);
    expect_boxes({consent_box, row.restart ? restart_box : completed_box});
    EXPECT_EQ(sim::restart().exit_windows_calls, row.restart ? 1 : 0);
    EXPECT_EQ(sim::pending_deletions(), row.pending);
    for (const std::string &file : row.pending)
      EXPECT_TRUE(sim::file_exists(file)) << file;
    // The steps' own outcomes keep their meaning: everything counts as removed.
    expect_flags(0, {STATUS_REMOVED, STATUS_NONE, STATUS_REMOVED, STATUS_NONE});
    EXPECT_EQ(get_restart_pending(), row.restart ? 1 : 0);
    EXPECT_FALSE(sim::device_exists(device_instance(0, written)));
    expect_decoys_intact();
  }
}

TEST_F(run, default_removal_never_ends_with_the_restart_prompt) {
  for (const char *tail : {"", "--default", "-D"}) {
    sim::machine_win2000();
    reset_process_state();
    install_model(0);
    install_decoys();
    sim::answers({IDOK, IDOK});
    EXPECT_EQ(uninstaller_main(tail), 0) << tail;
    expect_boxes({consent_box, completed_box});
    EXPECT_FALSE(sim::device_exists(device_instance(0))) << tail;
    for (int set : {1, 2})
      EXPECT_TRUE(sim::reg_key_exists(service_key(set, 0) + "\\Enum")) << tail;
    EXPECT_FALSE(sim::file_exists(sys_file(0))) << tail;
    expect_flags(0, {STATUS_REMOVED, STATUS_NONE, STATUS_REMOVED, STATUS_NONE});
    expect_decoys_intact();
    EXPECT_EQ(sim::call_count("RegDeleteKeyA"), 0) << tail;
    EXPECT_EQ(sim::restart().exit_windows_calls, 0) << tail;
  }
}

TEST_F(run, model_1_declined_at_its_question_is_left_alone) {
  install_model(1);
  install_decoys();
  sim::answers({IDOK, IDOK, IDCANCEL, IDOK});
  EXPECT_EQ(uninstaller_main("--complete"), 0);
  // Model 0's steps deleted the shared modem INF pair, which does not count as found.
  expect_boxes({consent_box, not_installed_box(0), question_box(1), completed_box});
  expect_model_intact(1);
  expect_decoys_intact();
  EXPECT_EQ(changed(sim::change::file_deleted),
            upper({inf_path("MDMKORT3.INF"), inf_path("MDMKORT3.PNF")}));
  EXPECT_TRUE(changed(sim::change::key_deleted).empty());
  EXPECT_TRUE(changed(sim::change::device_removed).empty());
  EXPECT_EQ(model_oem_inf_name(1)[0], 0); // not even scanned
  for (int model : {0, 1, 2})
    expect_flags(model, {0, 0, 0, 0});
}

TEST_F(run, every_installed_model_confirmed_is_removed) {
  for (int model : {0, 1, 2})
    install_model(model);
  install_decoys();
  sim::answers({IDOK, IDOK, IDOK, IDCANCEL});
  EXPECT_EQ(uninstaller_main("-C"), 0);
  expect_boxes({consent_box, question_box(1), question_box(2), restart_box});
  for (int model : {0, 1, 2}) {
    expect_model_removed(model);
    expect_flags(model, {STATUS_REMOVED, STATUS_REMOVED, STATUS_REMOVED, STATUS_NONE});
  }
  expect_decoys_intact();
  EXPECT_EQ(sim::restart().exit_windows_calls, 0);
}

TEST_F(run, a_confirmed_model_whose_steps_count_nothing_gets_the_notice) {
  // Only model 2's driver file is left: it is found, deleted, and the list's deletions do
  // not enter the file flag, so the model reads as not installed. The name and the suffix
  // have no blank between them.
  sim::file_add(sys_file(2));
  sim::answers({IDOK, IDOK, IDOK, IDOK, IDOK});
  EXPECT_EQ(uninstaller_main("--complete"), 0);
  expect_boxes(
      {consent_box, not_installed_box(0), question_box(2), not_installed_box(2), completed_box});
  EXPECT_EQ(not_installed_box(2).text, cp932("QuendalQ-4 For USBはインストールされていません。"));
  EXPECT_FALSE(sim::file_exists(sys_file(2)));
}

TEST_F(run, binding_failure_examines_nothing_and_ends_with_completion) {
  install_model(0);
  sim::module_remove("setupapi");
  sim::answers({IDOK, IDOK, IDOK});
  EXPECT_EQ(uninstaller_main("--complete"), 0);
  expect_boxes({consent_box, error_box(ERROR_MOD_NOT_FOUND, caption_load_library), completed_box});
  expect_model_intact(0);
  EXPECT_TRUE(sim::changes().empty());
  EXPECT_EQ(sim::call_count("LoadLibraryA"), 1); // advapi32 and kernel32 are not loaded
}

// One failing call in the typical run: its report, the flags it leaves, and the run going on
// to the restart prompt (flag 3 is nonzero in every row).
struct fault_row {
  const char *name;
  sim::fault fault;
  std::vector<const char *> captions; // the reports, in order, all with fault.error's text
  nt::flags flags;                    // model 0's flags afterwards
  int open_keys = 0;                  // a key whose close failed stays open
  std::function<void()> setup = nullptr;
  std::function<void()> check = nullptr;
  // The modem INF pair stayed, so models 1 and 2 are found by it and asked about (declined).
  bool questions = false;
};

const int F = STATUS_FAILED, R = STATUS_REMOVED, P = STATUS_PARTIAL, N = STATUS_NONE;

TEST_F(run, a_failing_call_is_reported_and_the_run_goes_on) {
  const std::string oem12 = inf_path("OEM12.inf");
  auto extra_copy = [&] {
    sim::inf_add("OEM12.inf", usbta_inf(usbta_line(0)));
    sim::file_add(inf_path("OEM12.pnf"));
  };
  const fault_row rows[] = {
      {"modem class key cannot be opened",
       {"RegOpenKeyExA", ERROR_ACCESS_DENIED, "{4D36E96D-E325-11CE-BFC1-08002BE10318}"},
       {caption_reg_open_key_ex},
       {R, R, N, R}, // no "InfPath": the content walk finds the copy instead
       0},
      {"modem class key cannot be closed",
       {"RegCloseKey", ERROR_INVALID_HANDLE, "{4D36E96D-E325-11CE-BFC1-08002BE10318}"},
       {caption_reg_close_key},
       {R, R, R, N},
       1},
      {"driver key cannot be opened",
       {"RegOpenKeyExA", ERROR_ACCESS_DENIED, "{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0000"},
       {caption_reg_open_key_ex},
       {R, R, N, R},
       0},
      {"device list cannot be obtained",
       {"SetupDiGetClassDevsA", ERROR_NOT_ENOUGH_MEMORY, "", 1},
       {caption_setup_di_get_class_devs},
       {F, R, R, N},
       0,
       nullptr,
       [] { EXPECT_TRUE(sim::device_exists(device_instance(0))); }},
      {"hardware ids cannot be read",
       {"SetupDiGetDeviceRegistryPropertyA", ERROR_ACCESS_DENIED, device_instance(0), 1},
       {caption_get_device_registry_property},
       {N, R, R, N},
       0,
       nullptr,
       [] { EXPECT_TRUE(sim::device_exists(device_instance(0))); }},
      {"hardware-id buffer cannot be allocated",
       {"LocalAlloc", ERROR_NOT_ENOUGH_MEMORY, "", 1},
       {caption_local_alloc},
       {N, R, R, N},
       0},
      {"class installer fails",
       {"SetupDiCallClassInstaller", ERROR_ACCESS_DENIED, device_instance(0)},
       {caption_call_class_installer},
       {F, R, R, N},
       0},
      {"device enumeration breaks off",
       {"SetupDiEnumDeviceInfo", ERROR_ACCESS_DENIED, "ROOT\\LEGACY_BEEP\\0000", 1},
       {caption_unknown},
       {F, R, R, N},
       0,
       nullptr,
       [] { EXPECT_FALSE(sim::device_exists(device_instance(0))); }},
      // A failure in the current set stays the outcome although later sets delete the key.
      {"service key cannot be opened",
       {"RegOpenKeyExA", ERROR_ACCESS_DENIED, "Services\\Q40PUCOM", 1},
       {caption_reg_open_key_ex},
       {R, F, R, N},
       0,
       nullptr,
       [] { EXPECT_FALSE(sim::reg_key_exists(service_key(2, 0))); }},
      {"subkey of the service key cannot be deleted",
       {"RegDeleteKeyA", ERROR_ACCESS_DENIED, "Q40PUCOM\\Enum", 1},
       {caption_reg_delete_key},
       {R, F, R, N},
       0},
      {"service key cannot be closed",
       {"RegCloseKey", ERROR_INVALID_HANDLE, "Services\\Q40PUCOM", 1},
       {caption_reg_close_key},
       {R, F, R, N},
       1},
      {"service key cannot be deleted",
       {"RegDeleteKeyA", ERROR_ACCESS_DENIED, "Services\\Q40PUCOM", 1},
       {caption_reg_delete_key},
       {R, F, R, N},
       0},
      {"Services key cannot be closed: the walk stops",
       {"RegCloseKey", ERROR_INVALID_HANDLE, "CurrentControlSet\\Services"},
       {caption_reg_close_key},
       {R, F, R, N},
       1,
       nullptr,
       [] { EXPECT_TRUE(sim::reg_key_exists(service_key(2, 0))); }},
      {"Windows directory for the file list",
       {"GetWindowsDirectoryA", ERROR_ACCESS_DENIED, "", 1},
       {caption_get_windows_directory},
       {R, R, F, R}, // the content walk still deletes the OEM copy
       0,
       nullptr,
       [] { EXPECT_TRUE(sim::file_exists(sys_file(0))); },
       true},
      {"system directory for the file list",
       {"GetSystemDirectoryA", ERROR_ACCESS_DENIED, "", 1},
       {caption_get_system_directory},
       {R, R, F, R},
       0,
       nullptr,
       nullptr,
       true},
      {"driver file attributes",
       {"SetFileAttributesA", ERROR_ACCESS_DENIED, "drivers\\Q40PUCOM.SYS"},
       {caption_set_file_attributes},
       {R, R, F, N},
       0,
       nullptr,
       [] { EXPECT_TRUE(sim::file_exists(sys_file(0))); }},
      // A file in use that cannot be scheduled for deletion at restart either: the deletion's
      // own failure is reported.
      {"driver file in use, and no deletion at restart",
       {"DeleteFileA", ERROR_SHARING_VIOLATION, "drivers\\Q40PUCOM.SYS"},
       {caption_delete_file},
       {R, R, F, N},
       0,
       [] { sim::fail("MoveFileExA", ERROR_ACCESS_DENIED); },
       [] {
         EXPECT_FALSE(sim::file_exists(inf_path("MDMKORT3.INF")));
         EXPECT_TRUE(sim::pending_deletions().empty());
       }},
      {"Windows directory for the named OEM INF",
       {"GetWindowsDirectoryA", ERROR_ACCESS_DENIED, "", 2},
       {caption_get_windows_directory},
       {R, R, F, R},
       0},
      // The named pair: its failures are reported but only lower the count.
      {"named OEM INF attributes",
       {"SetFileAttributesA", ERROR_ACCESS_DENIED, "inf\\oem5.inf"},
       {caption_set_file_attributes},
       {R, R, P, N}, // and the content walk passes it by silently
       0},
      {"named OEM PNF in use, and no deletion at restart",
       {"DeleteFileA", ERROR_SHARING_VIOLATION, "inf\\oem5.pnf"},
       {caption_delete_file},
       {R, R, P, N},
       0,
       [] { sim::fail("MoveFileExA", ERROR_ACCESS_DENIED); }},
      {"Windows directory for the Windows 98 probe",
       {"GetWindowsDirectoryA", ERROR_ACCESS_DENIED, "", 3},
       {caption_get_windows_directory},
       {R, R, R, F}, // kept through the content walk
       0},
      // The INF folder search, and the copies it finds, end the step as a missing Windows
      // directory does: flag 4 marked, flag 5 left as it was.
      {"Windows directory for the OEM INF search",
       {"GetWindowsDirectoryA", ERROR_ACCESS_DENIED, "", 4},
       {caption_get_windows_directory},
       {R, R, F, N},
       0,
       extra_copy,
       [&] { EXPECT_TRUE(sim::file_exists(oem12)); }},
      {"INF folder cannot be searched",
       {"FindFirstFileA", ERROR_ACCESS_DENIED, "inf\\oem*.inf"},
       {caption_find_first_file},
       {R, R, F, N},
       0,
       extra_copy,
       [&] { EXPECT_TRUE(sim::file_exists(oem12)); }},
      {"INF folder search breaks off",
       {"FindNextFileA", ERROR_NOT_ENOUGH_MEMORY, "inf\\oem*.inf", 1},
       {caption_find_next_file},
       {R, R, F, N},
       0,
       extra_copy,
       [&] { EXPECT_TRUE(sim::file_exists(oem12)); }},
      {"Windows directory after a content match",
       {"GetWindowsDirectoryA", ERROR_ACCESS_DENIED, "", 5},
       {caption_get_windows_directory},
       {R, R, F, N},
       0,
       extra_copy,
       [&] { EXPECT_TRUE(sim::file_exists(oem12)); }},
      {"OEM copy found by content in use, and no deletion at restart",
       {"DeleteFileA", ERROR_SHARING_VIOLATION, "inf\\OEM12.inf"},
       {caption_delete_file},
       {R, R, R, F},
       0,
       [&] {
         extra_copy();
         sim::fail("MoveFileExA", ERROR_ACCESS_DENIED);
       },
       [] { EXPECT_FALSE(sim::file_exists(inf_path("OEM12.pnf"))); }},
  };
  for (const fault_row &row : rows) {
    SCOPED_TRACE(row.name);
    sim::machine_win2000();
    reset_process_state();
    install_model(0);
    install_decoys();
    if (row.setup)
      row.setup();
    sim::fail(row.fault);
    sim::answers(std::vector<int>(row.captions.size() + 1, IDOK));
    std::vector<expected_box> expected{consent_box};
    for (const char *caption : row.captions)
      expected.push_back(error_box(row.fault.error, caption));
    if (row.questions) {
      sim::answers({IDCANCEL, IDCANCEL});
      expected.push_back(question_box(1));
      expected.push_back(question_box(2));
    }
    sim::answer(IDCANCEL); // the restart prompt
    expected.push_back(restart_box);
    EXPECT_EQ(uninstaller_main("--complete"), 0);
    expect_boxes(expected);
    expect_flags(0, row.flags);
    expect_decoys_intact();
    if (row.check)
      row.check();
    EXPECT_EQ(sim::leaks().size(), static_cast<size_t>(row.open_keys));
  }
  sim::machine_win2000(); // the last row's machine is checked above
}

} // namespace
