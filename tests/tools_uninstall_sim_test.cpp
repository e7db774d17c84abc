// uninstall-sim as its user sees it: the built-in machines run to the end with their boxes,
// answers from --answer, --yes, the terminal or nobody, the summary of a run, the export,
// and refusals of bad input before anything runs.
#include "core/catalogue.h"
#include "core/texts.h"
#include "tests/support.h"
#include "tests/tools_support.h"
#include "tools/builtin_machines.h"
#include "tools/encoding.h"
#include "tools/machine_file.h"
#include "tools/reg_file.h"
#include "tools/terminal.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

namespace {

std::set<std::string> lines(const std::string &text) {
  std::set<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    out.insert(line);
  return out;
}

// The registry, files and devices of a built-in machine before any run.
std::set<std::string> machine_state(const char *name) {
  machine_description machine;
  load_error error;
  EXPECT_TRUE(read_machine_text(find_builtin_machine(name)->text, name, "", machine, error));
  apply_machine(machine);
  return lines(registry_dump() + files_and_devices_dump());
}

std::set<std::string> upper_lines(const std::set<std::string> &lines) {
  std::set<std::string> out;
  for (std::string line : lines) {
    for (char &c : line)
      c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    out.insert(line);
  }
  return out;
}

// A built-in machine's Windows folder as the upper-cased dumps write it ("C:\X5CWINNT").
std::string dumped_windows_folder(const char *name) {
  machine_description machine;
  load_error error;
  EXPECT_TRUE(read_machine_text(find_builtin_machine(name)->text, name, "", machine, error));
  std::string out;
  for (char c : windows_directory(machine))
    out += c == '\\' ? std::string("\\X5C") : std::string(1, static_cast<char>(toupper(c)));
  return out;
}

// Whatever of the machine `clean` was on the machine `name` survived the run. Names are
// compared without regard to letter case, as Windows compares them: the clean machine may
// spell the other hardware's ids as another version does, and its Windows folder may be
// another version's (C:\WINNT on Windows 2000, C:\Windows on Vista and later).
void expect_other_hardware_intact(const char *name, const char *clean) {
  std::set<std::string> now = upper_lines(lines(registry_dump() + files_and_devices_dump()));
  const std::string from = "FILE " + dumped_windows_folder(clean);
  const std::string to = "FILE " + dumped_windows_folder(name);
  for (std::string line : upper_lines(machine_state(clean))) {
    if (line.compare(0, from.size(), from) == 0)
      line.replace(0, from.size(), to);
    EXPECT_TRUE(now.count(line)) << "removed: " << line;
  }
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string after(const std::string &text, const std::string &marker) {
  size_t at = text.find(marker);
  return at == std::string::npos ? std::string() : text.substr(at + marker.size());
}

struct machine_row {
  const char *machine;
  const char *word;
  std::vector<expected_box> boxes;
  int status;
  bool restart;
  const char *clean; // the machine whose content must survive
};

TEST(uninstall_sim, built_in_machines_run_to_the_end) {
  const machine_row rows[] = {
      {"win2000", "--complete", {consent_box, restart_box}, 0, true, "clean-win2000"},
      {"win2000", "", {consent_box, completed_box}, 0, false, "clean-win2000"},
      {"win98", "", {consent_box, question_box(1), restart_box}, 0, true, "clean-win98"},
      {"win98", "--complete", {invalid_option_box}, 255, false, "win98"},
      {"clean-win2000",
       "--complete",
       {consent_box, not_installed_box(0), completed_box},
       0,
       false,
       "clean-win2000"},
      {"clean-win98",
       "",
       {consent_box, not_installed_box(0), completed_box},
       0,
       false,
       "clean-win98"},
      {"win7", "--complete", {consent_box, restart_box}, 0, true, "clean-win2000"},
      // The driver file held open is deleted at restart, without a box.
      {"win2000-failing",
       "--complete",
       {consent_box, error_box(ERROR_ACCESS_DENIED, caption_reg_open_key_ex), restart_box},
       0,
       true,
       "clean-win2000"},
      // Its summary below lists all that the run changed.
      {"win11", "", {consent_box, restart_box}, 0, true, nullptr},
  };
  for (const machine_row &r : rows) {
    SCOPED_TRACE(std::string(r.machine) + " " + r.word);
    sim_run run = run_uninstall_sim({"--machine", r.machine, "--yes", "--", r.word});
    EXPECT_EQ(run.status, r.status) << run.err;
    expect_boxes(r.boxes);
    EXPECT_EQ(sim::restart().exit_windows_calls, r.restart ? 1 : 0);
    EXPECT_EQ(run.out.find("Restart: ") != std::string::npos, r.restart);
    EXPECT_NE(run.out.find("Exit code: " + std::to_string(r.status == 255 ? -1 : r.status)),
              std::string::npos);
    EXPECT_TRUE(sim::leaks().empty());
    EXPECT_EQ(run.out.find("Left open"), std::string::npos);
    if (r.clean)
      expect_other_hardware_intact(r.machine, r.clean);
  }
}

// The typical run: exactly model 0's device (with the driver key Windows deletes along with
// it), service keys and files go, in this order.
TEST(uninstall_sim, summary_of_the_default_machine_lists_exactly_what_was_removed) {
  sim_run run = run_uninstall_sim({"--complete"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(after(run.out, "Exit code: 0\n\n"),
            "Totals: 11 removed, 0 kept, 0 failed, 0 not known\n"
            "\n"
            "Models:\n"
            "  QuendalQ40 PRO For USB (model 0): removed\n"
            "  QuendalQ-40 For USB (model 1): not found\n"
            "  QuendalQ-4 For USB (model 2): not found\n"
            "\n"
            "What the run removed, by model and step:\n"
            "QuendalQ40 PRO For USB, device instances:\n"
            "  device instances removed:\n"
            "    USB\\Vid_1e7a&Pid_0080\\5&1a2b3c4d&0&1\n"
            "      with it Windows deleted HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Control\\"
            "Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0001\n"
            "QuendalQ40 PRO For USB, service keys:\n"
            "  registry keys deleted:\n"
            "    HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Services\\Q40PUCOM\\Enum\n"
            "    HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Services\\Q40PUCOM\n"
            "    HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet002\\Services\\Q40PUCOM\\Enum\n"
            "    HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet002\\Services\\Q40PUCOM\n"
            "QuendalQ40 PRO For USB, driver and INF files:\n"
            "  files deleted in C:\\WINNT\\system32\\drivers\\:\n"
            "    Q40PUCOM.SYS\n"
            "  files deleted in C:\\WINNT\\inf\\:\n"
            "    MDMKORT3.INF\n"
            "    MDMKORT3.PNF\n"
            "    oem3.inf\n"
            "    oem3.PNF\n");
  // Everything else on the machine is as it was: the decoy modem's class entry included.
  std::set<std::string> now = lines(registry_dump() + files_and_devices_dump());
  std::set<std::string> removed;
  for (const std::string &line : machine_state("win2000"))
    if (!now.count(line))
      removed.insert(line);
  std::set<std::string> expected_removed;
  for (const std::string &line : removed)
    if (line.find("Q40PUCOM") != std::string::npos || line.find("oem3.") != std::string::npos ||
        line.find("MDMKORT3") != std::string::npos ||
        line.find("Vid_1e7a&Pid_0080") != std::string::npos ||
        line.find("{4D36E96D-E325-11CE-BFC1-08002BE10318}\\x5C0001") != std::string::npos)
      expected_removed.insert(line);
  EXPECT_EQ(removed, expected_removed);
  EXPECT_EQ(removed.size(), 5u + 13u + 5u + 1u) << "keys, their values, files, device";
}

// On Windows 7 the copy's driver package leaves the store with it (the other vendor's stays).
// When model 1's adapter was installed from the same copy, Windows keeps the copy for it while
// model 0's steps run: no failure; accepted, model 1's steps take the copy and its package;
// declined, the copy is kept, and the summary says why.
TEST(uninstall_sim, summary_shows_driver_packages_removed_and_kept_for_a_device) {
  const std::string package = "C:\\Windows\\system32\\DriverStore\\FileRepository\\"
                              "q40pusb.inf_x86_neutral_3f2a1c0d4b5e6f70";
  const std::string removed = "  driver packages removed from the store:\n    " + package;
  sim_run run = run_uninstall_sim({"--machine", "win7", "--complete"});
  EXPECT_NE(run.out.find(removed), std::string::npos);
  EXPECT_FALSE(sim::driver_package("oem1.inf").empty());
  std::string file = ::testing::TempDir() + "uninstall_sim_shared_copy.machine";
  std::ofstream(file) << find_builtin_machine("win7")->text << R"(
registry
  [HKEY_LOCAL_MACHINE\SYSTEM\ControlSet001\Control\Class\{4D36E96D-E325-11CE-BFC1-08002BE10318}\0002]
  "DriverDesc"="QuendalQ-40 For USB"
  "MatchingDeviceId"="usb\\vid_1e7a&pid_0030"
  "InfPath"="oem3.inf"
device USB\VID_1E7A&PID_0030\5&1a2b3c4d&0&2 USB\VID_1E7A&PID_0030&REV_0100 USB\VID_1E7A&PID_0030 driver={4D36E96D-E325-11CE-BFC1-08002BE10318}\0002
)";
  const std::string kept = "file C:\\Windows\\inf\\oem3.inf and its driver package " + package +
                           "  (a device that was not removed still uses it: Windows refused to "
                           "uninstall it during QuendalQ40 PRO For USB, driver and INF files)";
  for (const char *answer : {"ok,ok,cancel", "ok,cancel,cancel"}) {
    SCOPED_TRACE(answer);
    bool accepted = answer[3] == 'o';
    run = run_uninstall_sim({"--machine", file, "--answer", answer, "--complete"});
    expect_boxes({consent_box, question_box(1), restart_box});
    EXPECT_EQ(run.out.find("Failures"), std::string::npos);
    EXPECT_EQ(run.out.find(kept) == std::string::npos, accepted) << run.out;
    EXPECT_EQ(run.out.find("QuendalQ-40 For USB, driver and INF files:\n") != std::string::npos,
              accepted);
    EXPECT_EQ(run.out.find(removed) != std::string::npos, accepted);
    EXPECT_EQ(sim::file_exists("C:\\Windows\\inf\\oem3.inf"), !accepted);
  }
}

TEST(uninstall_sim, answers_come_from_the_list_then_from_the_rule_for_the_input) {
  // Model 1 declined: it stays; the list runs out before the restart prompt.
  sim_run run = run_uninstall_sim({"--machine", "win98", "--answer", "OK,Cancel"});
  EXPECT_EQ(run.status, 0);
  expect_boxes({consent_box, question_box(1), restart_box});
  EXPECT_EQ(sim::boxes()[1].answer, IDCANCEL);
  EXPECT_EQ(sim::boxes()[2].answer, IDOK);
  EXPECT_NE(run.out.find("answered Cancel (--answer Cancel)"), std::string::npos);
  EXPECT_NE(run.out.find("every box after the --answer list is answered OK"), std::string::npos);
  EXPECT_NE(run.out.find("answered OK (input is not a terminal)"), std::string::npos);
  EXPECT_TRUE(sim::reg_key_exists("Enum\\USB\\VID_1E7A&PID_0030"));
  EXPECT_TRUE(sim::file_exists("C:\\WINDOWS\\SYSTEM\\Q40PORT.VxD"));
  EXPECT_FALSE(sim::reg_key_exists("Enum\\USB\\VID_1E7A&PID_0080"));

  // Cancel at the consent: nothing is touched.
  run = run_uninstall_sim({"--answer", "cancel", "--complete"});
  EXPECT_EQ(run.status, 0);
  expect_boxes({consent_box});
  EXPECT_NE(run.out.find("Nothing on the machine was changed."), std::string::npos);

  // Declining the restart: no restart, and an answer left over is mentioned.
  run = run_uninstall_sim({"--answer", "ok,close,ok", "--yes", "--complete"});
  expect_boxes({consent_box, restart_box});
  EXPECT_EQ(sim::restart().exit_windows_calls, 0);
  EXPECT_EQ(run.out.find("Restart: "), std::string::npos);
  EXPECT_NE(run.out.find("Note: the run showed 2 boxes; the rest of the --answer list was not "
                         "needed: ok\n"),
            std::string::npos);

  // An answer the box has no button for presses its default button, and says so.
  run = run_uninstall_sim({"--machine", "clean-win98", "--answer", "ok,cancel,ok"});
  expect_boxes({consent_box, not_installed_box(0), completed_box});
  EXPECT_NE(run.out.find("no such button"), std::string::npos);
}

TEST(uninstall_sim, yes_and_no_terminal_answer_every_box_ok) {
  sim_run with_yes = run_uninstall_sim({"--yes", "--complete"});
  EXPECT_EQ(with_yes.out.find("not a terminal"), std::string::npos);
  EXPECT_NE(with_yes.out.find("answered OK (--yes)"), std::string::npos);
  EXPECT_EQ(sim::restart().exit_windows_calls, 1);
  sim_run without = run_uninstall_sim({"--complete"});
  EXPECT_NE(without.out.find("Standard input is not a terminal: every box is answered OK."),
            std::string::npos);
  EXPECT_EQ(sim::restart().exit_windows_calls, 1);
  for (const sim::box &b : sim::boxes())
    EXPECT_EQ(b.answer, IDOK);
}

TEST(uninstall_sim, terminal_keys_answer_the_boxes) {
  // An unknown key is ignored, Enter gives the default button, c cancels the restart.
  std::string keys = "x\nc";
  sim_run run = run_uninstall_sim({"--complete"}, &keys);
  expect_boxes({consent_box, restart_box});
  EXPECT_EQ(sim::boxes()[1].answer, IDCANCEL);
  EXPECT_EQ(sim::restart().exit_windows_calls, 0);
  EXPECT_EQ(run.out.find("not a terminal"), std::string::npos);
  // The input ending closes the box: Cancel at the consent.
  std::string none;
  run = run_uninstall_sim({"--complete"}, &none);
  expect_boxes({consent_box});
  EXPECT_EQ(sim::boxes()[0].answer, IDCANCEL);
  EXPECT_NE(run.out.find("input ended"), std::string::npos);
}

TEST(uninstall_sim, boxes_are_drawn_with_caption_text_icon_and_keys) {
  sim_run run = run_uninstall_sim({"--machine", "clean-win2000", "--yes"});
  for (const char *part :
       {"\u250c\u2500 QuendalQ40 PRO For USB \u30c9\u30e9\u30a4\u30d0\u30a2\u30f3\u30a4\u30f3"
        "\u30b9\u30c8\u30fc\u30e9 ",
        "/!\\  QuendalQ40 PRO For USB \u30c9\u30e9\u30a4\u30d0\u3092\u524a\u9664\u3057\u307e"
        "\u3059\u3002",
        "\u3088\u308d\u3057\u3044\u3067\u3059\u304b\uff1f", "[ OK ]  [ Cancel ]",
        "warning icon | Enter: OK | o: OK | c: Cancel | Esc: Cancel",
        "no icon | Enter: OK | o: OK | Esc: OK"})
    EXPECT_NE(run.out.find(part), std::string::npos) << part;
  EXPECT_EQ(run.out.find("\x1b["), std::string::npos) << "no colour unless asked for";
  run = run_uninstall_sim({"--yes"}, nullptr, true);
  EXPECT_NE(run.out.find("\x1b[1m"), std::string::npos);
}

// On a narrow terminal the text wraps inside the frame: English at blanks, Japanese between
// characters of two columns each; every line keeps within the width.
TEST(uninstall_sim, boxes_wrap_inside_their_frame_on_narrow_terminals) {
  const sim::box boxes[] = {
      {sim::message_text(ERROR_SHARING_VIOLATION), caption_delete_file, MB_ICONERROR, false, 0},
      {text_restart_prompt, text_program_caption, MB_OKCANCEL | MB_ICONWARNING, false, 0}};
  for (const sim::box &box : boxes)
    for (size_t columns : {60u, 40u}) {
      std::istringstream lines(render_box(box, false, columns));
      std::string line, words;
      for (int n = 0; std::getline(lines, line); ++n) {
        EXPECT_LE(display_width(line), columns) << line;
        const std::string left = "  \u2502 ", right = " \u2502";
        if (line.compare(0, left.size(), left) == 0) {
          EXPECT_EQ(line.substr(line.size() - right.size()), right) << line;
          words += line.substr(left.size(), line.size() - left.size() - right.size());
        }
      }
      // Nothing of the text is lost: the same characters, blanks and breaks aside.
      auto solid = [](std::string t) {
        t.erase(std::remove_if(t.begin(), t.end(),
                               [](char c) { return c == ' ' || c == '\n' || c == '\r'; }),
                t.end());
        return t;
      };
      EXPECT_NE(solid(words).find(solid(display_utf8(box.text))), std::string::npos) << words;
    }
}

TEST(uninstall_sim, the_word_is_passed_exactly) {
  const struct {
    std::vector<std::string> args;
    std::vector<expected_box> boxes;
    int status;
  } rows[] = {
      {{"--yes", "-C  "}, {invalid_option_box}, 255},
      {{"--yes", "--", "--yes"}, {invalid_option_box}, 255},
      {{"--yes", "--COMPLETE"}, {invalid_option_box}, 255},
      {{"--yes", "-C"}, {consent_box, restart_box}, 0},
      {{"--yes", "--", ""}, {consent_box, completed_box}, 0},
      // Windows drops the blanks after the program name: nothing but blanks is no word.
      {{"--yes", "--", " "}, {consent_box, completed_box}, 0},
      {{"--yes", "  -C"}, {consent_box, restart_box}, 0},
  };
  for (const auto &r : rows) {
    sim_run run = run_uninstall_sim(r.args);
    EXPECT_EQ(run.status, r.status) << r.args.back();
    expect_boxes(r.boxes);
  }
}

TEST(uninstall_sim, export_writes_the_registry_after_the_run) {
  std::string file = ::testing::TempDir() + "uninstall_sim_export.reg";
  for (const char *machine : {"win2000", "win98"}) {
    sim_run run = run_uninstall_sim({"--machine", machine, "--yes", "--export", file});
    EXPECT_EQ(run.status, 0) << run.err;
    std::string after_run = registry_dump();
    reg_format format;
    reg_op_list ops;
    load_error error;
    ASSERT_TRUE(read_reg_file(file, format, ops, error)) << describe(error);
    EXPECT_EQ(format, std::string(machine) == "win98" ? reg_format_regedit4 : reg_format_regedit5);
    sim::reset();
    apply_reg(ops);
    EXPECT_EQ(registry_dump(), after_run) << machine;
  }
  // A write that fails after the run gives the reason.
  sim_run full = run_uninstall_sim({"--yes", "--export", "/dev/full"});
  EXPECT_EQ(full.status, 1);
  EXPECT_NE(full.err.find("cannot write /dev/full: No space left on device"), std::string::npos);
  // A file that cannot be written is reported with the reason before anything runs, and an
  // export opened for the run is not left behind empty.
  for (const char *option : {"--export", "--record"}) {
    sim::reset();
    std::remove(file.c_str());
    sim_run run = run_uninstall_sim({"--yes", "--export", file, option, "/nonexistent/dir/x"});
    EXPECT_EQ(run.status, 1) << option;
    EXPECT_NE(run.err.find("cannot write /nonexistent/dir/x: No such file or directory"),
              std::string::npos);
    EXPECT_TRUE(run.out.empty());
    EXPECT_TRUE(sim::calls().empty());
    EXPECT_FALSE(std::ifstream(file).good()) << option;
  }
}

// The lines of the summary under a heading, up to the next heading.
std::string summary_block(const std::string &summary, const std::string &heading) {
  size_t at = summary.find("\n" + heading + "\n");
  if (at == std::string::npos)
    return "";
  size_t end = at + heading.size() + 2;
  while (end < summary.size() && summary[end] == ' ')
    end = summary.find('\n', end) + 1;
  return summary.substr(at, end - at);
}

// What the summary shows of a change in the record.
std::string summary_text(const std::string &line) {
  std::string event = record_field(line, "event");
  if (event == "value deleted")
    return "value \"" + record_field(line, "value") + "\"";
  if (event == "file deleted" || event == "file deleted at restart") {
    std::string file = record_field(line, "file");
    return file.substr(file.rfind('\\') + 1);
  }
  for (const char *field : {"key", "device", "folder"})
    if (!record_field(line, field).empty())
      return record_field(line, field);
  return "?";
}

// The record and the summary are two views of one account. For every built-in machine, with
// and without --complete: the record begins with its format line and ends with the exit code;
// every change carries its model and step, and the summary lists each removal under that
// model and step; both count the same removals, failures and kept items; models come in order,
// a model's question after the changes of the models before it and before its own.
TEST(uninstall_sim, summary_and_record_are_views_of_one_account) {
  std::string file = ::testing::TempDir() + "uninstall_sim_record.jsonl";
  const std::set<std::string> change_events = {"key deleted",
                                               "value deleted",
                                               "file deleted",
                                               "device removed",
                                               "package removed",
                                               "file deleted at restart",
                                               "device removed at restart"};
  for (const builtin_machine &b : builtin_machines())
    for (const char *word : {"--complete", ""}) {
      SCOPED_TRACE(std::string(b.name) + " " + word);
      sim_run run = run_uninstall_sim({"--machine", b.name, "--yes", "--record", file, "--", word});
      std::vector<std::string> record = read_lines(file);
      ASSERT_GE(record.size(), 2u) << run.err;
      EXPECT_EQ(record.front(), "{\"format\":\"uninstall-sim record\",\"version\":3}");
      EXPECT_EQ(record.back(), "{\"event\":\"exit\",\"code\":" +
                                   std::to_string(run.status == 255 ? -1 : run.status) + "}");
      int removed = 0, failed = 0, kept = 0, not_known = 0, last_model = 0;
      for (const std::string &line : record) {
        std::string event = record_field(line, "event");
        failed += event == "failure";
        kept += event == "kept";
        not_known += event == "not known";
        if (event == "box" && record_field(line, "step") == "question") {
          EXPECT_GE(std::stoi(record_field(line, "model")), last_model) << line;
        }
        if (!change_events.count(event) && event != "attributes set")
          continue;
        std::string model = record_field(line, "model"), step = record_field(line, "step");
        ASSERT_TRUE(model.size() == 1 && model[0] >= '0' && model[0] <= '2') << line;
        ASSERT_FALSE(step.empty() || step == "null") << line;
        EXPECT_GE(std::stoi(model), last_model) << line;
        last_model = std::stoi(model);
        if (event == "attributes set")
          continue;
        ++removed;
        std::string heading = std::string(model_display_name(last_model)) + ", " + step + ":";
        EXPECT_NE(summary_block(run.out, heading).find(summary_text(line)), std::string::npos)
            << line << "\n----\n"
            << run.out;
      }
      EXPECT_NE(run.out.find("Totals: " + std::to_string(removed) + " removed, " +
                             std::to_string(kept) + " kept, " + std::to_string(failed) +
                             " failed, " + std::to_string(not_known) + " not known\n"),
                std::string::npos)
          << run.out;
    }
}

// On the win11 machine the loaded driver's file, deleted at restart, is not kept, and the
// record has the device and the file at restart.
TEST(uninstall_sim, what_windows_finishes_at_restart_is_removed_not_kept) {
  std::string file = ::testing::TempDir() + "uninstall_sim_win11.jsonl";
  sim_run run = run_uninstall_sim({"--machine", "win11", "--yes", "--record", file});
  EXPECT_NE(run.out.find("Totals: 8 removed, 0 kept, 0 failed"), std::string::npos) << run.out;
  std::vector<std::string> at_restart;
  for (const std::string &line : read_lines(file))
    if (line.find(" at restart\"") != std::string::npos)
      at_restart.push_back(record_field(line, "event") + " " + summary_text(line));
  EXPECT_EQ(at_restart, (std::vector<std::string>{
                            "device removed at restart USB\\VID_1E7A&PID_0080\\5&1a2b3c4d&0&1",
                            "file deleted at restart Q40PUCOM.SYS"}));
}

TEST(uninstall_sim, bad_input_is_refused_before_anything_runs) {
  std::string file = ::testing::TempDir() + "uninstall_sim_bad.machine";
  std::ofstream(file) << "platform nt 5.0 2195\nfile C:\\x\ndevice\n";
  std::string reg_file = ::testing::TempDir() + "uninstall_sim_input.reg";
  std::ofstream(reg_file) << "REGEDIT4\r\n";
  std::string uses_reg = ::testing::TempDir() + "uninstall_sim_uses.machine";
  std::ofstream(uses_reg) << "platform nt 5.0 2195\nregistry uninstall_sim_input.reg\n";
  std::string output = ::testing::TempDir() + "uninstall_sim_out";
  std::string nothing_file = ::testing::TempDir() + "uninstall_sim_nothing.machine";
  std::ofstream(nothing_file)
      << "platform nt 5.0 2195\nfail SetupDiCallClassInstaller 5 USB\\X\\1\n";
  const struct {
    std::vector<std::string> args;
    std::string message;
  } rows[] = {
      {{"--machine", file}, file + ":3: expected: device"},
      {{"--machine", "no-such-machine"}, "no built-in machine and no readable file"},
      {{"--machine"}, "--machine needs a value"},
      {{"--answer", "ok,maybe"}, "'maybe' is no button"},
      {{"--answer", "ok,no"}, "'no' is no button of the uninstaller's boxes"},
      {{"--export", ""}, "--export needs a value, not an empty word"},
      {{"--record", ""}, "--record needs a value, not an empty word"},
      {{"--snapshot", "x", "--machine", "win98"}, "either --machine or --snapshot"},
      {{"--snapshot", "/nonexistent"}, "/nonexistent: cannot be read as a snapshot folder"},
      {{"--machine", nothing_file}, nothing_file + ":2: 'USB\\X\\1' names nothing"},
      {{"-C", "-D"}, "only one WORD"},
      {{"--", "-C", "-D"}, "only one WORD"},
      {{"--"}, "must be followed by the WORD"},
      {{"--answer=ok,maybe"}, "'maybe' is no button"},
      {{"--export="}, "--export needs a value, not an empty word"},
      {{"--machine=" + file}, file + ":3: expected: device"},
      // An output never overwrites an input, nor the other output.
      {{"--machine", uses_reg, "--export", uses_reg}, "--export " + uses_reg + " would write over"},
      {{"--machine", uses_reg, "--record=" + reg_file},
       "--record " + reg_file + " would write over"},
      {{"--record", output, "--export", output}, "--export and --record name the same file"},
  };
  for (const auto &r : rows) {
    sim::reset();
    sim_run run = run_uninstall_sim(r.args);
    EXPECT_EQ(run.status, 2) << r.message;
    EXPECT_NE(run.err.find(r.message), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_TRUE(sim::calls().empty()) << r.message;
    EXPECT_TRUE(sim::boxes().empty()) << r.message;
  }
  EXPECT_EQ(read_file(reg_file), "REGEDIT4\r\n");
  EXPECT_FALSE(std::ifstream(output).good());
  sim_run help = run_uninstall_sim({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const builtin_machine &b : builtin_machines())
    EXPECT_NE(help.out.find(b.name), std::string::npos);
}

// Every removal under the model and step that made it. Windows 98: model 1 declined, model 2
// found by a file of its own takes model 1's serial port entry with its shorter description
// prefix, which is flagged; a failed deletion is listed with its caption, its code's name and
// its file, and what stayed as kept. Windows 2000: model 1 declined, model 2's device goes in
// model 2's step, and a file model 0 shares with the declined model is flagged. A failure
// before any model's steps says so.
TEST(uninstall_sim, summary_says_which_model_and_step_did_what) {
  const struct {
    const char *machine, *extra, *answers;
    std::vector<std::string> parts;
  } rows[] = {
      {"win98",
       "file C:\\WINDOWS\\SYSTEM\\Q-4USB.SYS\nfail DeleteFileA ERROR_ACCESS_DENIED Q40PUSB.INF\n",
       "ok,ok,cancel,ok",
       {"  QuendalQ40 PRO For USB (model 0): removed in part (1 failure, 1 kept)\n"
        "  QuendalQ-40 For USB (model 1): declined\n"
        "  QuendalQ-4 For USB (model 2): removed\n",
        "QuendalQ-4 For USB, serial port entries:\n"
        "  registry keys deleted:\n"
        "    HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Ports\\0002"
        "  <- an entry of QuendalQ-40 For USB (declined), removed by this model's rule\n",
        "QuendalQ40 PRO For USB, Enum entries:\n",
        "    HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_1E7A&PID_0080\n"
        "        HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_1E7A&PID_0080\\7&2B3C1A&0&1\n",
        "  \"Function : DeleteFile()\": ERROR_ACCESS_DENIED (5)\n"
        "      file C:\\WINDOWS\\inf\\Q40PUSB.INF\n"
        "      during QuendalQ40 PRO For USB, driver files\n",
        "Kept:\n  file C:\\WINDOWS\\inf\\Q40PUSB.INF  (its removal failed during QuendalQ40 PRO "
        "For USB, driver files)\n  file C:\\WINDOWS\\SYSTEM\\Q40PORT.VxD  (attributes set to "
        "normal during QuendalQ-40 For USB, detection)\n"}},
      {"win2000",
       "device USB\\Vid_1e7a&Pid_0030\\5&1a2b3c4d&0&2 USB\\Vid_1e7a&Pid_0030&Rev_0100 "
       "USB\\Vid_1e7a&Pid_0030\n"
       "device USB\\Vid_1e7a&Pid_0016\\5&1a2b3c4d&0&3 USB\\Vid_1e7a&Pid_0016&Rev_0100 "
       "USB\\Vid_1e7a&Pid_0016\n",
       "ok,cancel,ok",
       {"  QuendalQ-40 For USB (model 1): declined\n"
        "  QuendalQ-4 For USB (model 2): removed\n",
        "QuendalQ-4 For USB, device instances:\n"
        "  device instances removed:\n"
        "    USB\\Vid_1e7a&Pid_0016\\5&1a2b3c4d&0&3\n"}},
      // The modem INF that every model lists goes with model 0 while model 1 keeps its device.
      {"win2000",
       "device USB\\Vid_1e7a&Pid_0030\\5&1a2b3c4d&0&2 USB\\Vid_1e7a&Pid_0030&Rev_0100 "
       "USB\\Vid_1e7a&Pid_0030\n",
       "ok,cancel",
       {"    MDMKORT3.INF  <- also an entry of QuendalQ-40 For USB (declined)\n"
        "    MDMKORT3.PNF  <- also an entry of QuendalQ-40 For USB (declined)\n"
        "    oem3.inf\n"}},
      {"clean-win2000",
       "fail LoadLibraryA ERROR_MOD_NOT_FOUND setupapi\n",
       "ok",
       {"  QuendalQ40 PRO For USB (model 0): not examined\n",
        "  \"Function : LoadLibrary()\": ERROR_MOD_NOT_FOUND (126)\n      module setupapi\n"
        "      during the start, before any model's steps\n"}},
  };
  std::string file = ::testing::TempDir() + "uninstall_sim_models.machine";
  for (const auto &r : rows) {
    std::ofstream(file) << find_builtin_machine(r.machine)->text << r.extra;
    sim_run run = run_uninstall_sim({"--machine", file, "--answer", r.answers});
    EXPECT_EQ(run.status, 0) << run.err;
    for (const std::string &part : r.parts)
      EXPECT_NE(run.out.find(part), std::string::npos) << part << "\n----\n" << run.out;
    // Each folder is headed once per step, though the deletions move between folders.
    std::string inf_heading = "files deleted in C:\\WINDOWS\\INF\\:";
    size_t first = run.out.find(inf_heading);
    EXPECT_TRUE(first == std::string::npos ||
                run.out.find(inf_heading, first + 1) == std::string::npos);
  }
}

// A machine that describes its devices only by their Enum keys, as a real registry does:
// the device goes with both its keys, which the summary shows as Windows' doing; the other
// device, whose "Driver" is malformed, keeps its keys and the class branch stays whole.
TEST(uninstall_sim, devices_come_from_the_enum_keys_of_a_registry) {
  std::string file = ::testing::TempDir() + "uninstall_sim_enum.machine";
  // As Windows XP writes it.
  std::ofstream(file) << R"(platform nt 5.1 2600
registry
  [HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\USB\Vid_1e7a&Pid_0080\5&1]
  "HardwareID"=hex(7):55,53,42,5c,56,69,64,5f,31,65,37,61,26,50,69,64,5f,30,30,38,30,26,52,65,\
    76,5f,30,31,30,30,00,55,53,42,5c,56,69,64,5f,31,65,37,61,26,50,69,64,5f,30,30,38,30,00,00
  "Driver"="{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0001"
  [HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\USB\Vid_046d&Pid_c00e\6&2]
  "HardwareID"=hex(7):55,53,42,5c,56,69,64,5f,30,34,36,64,26,50,69,64,5f,63,30,30,65,00,00
  "Driver"="\\"
  [HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\ROOT\LEGACY_BEEP\0000]
  "Class"="LegacyDriver"
  [HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Class\{4D36E96D-E325-11CE-BFC1-08002BE10318}\0001]
  "MatchingDeviceId"="usb\\vid_1e7a&pid_0080"
)";
  sim_run run = run_uninstall_sim({"--machine", file, "--yes"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("    USB\\Vid_1e7a&Pid_0080\\5&1\n"
                         "      with it Windows deleted HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\"
                         "Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0001\n"
                         "      with it Windows deleted HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\"
                         "Enum\\USB\\Vid_1e7a&Pid_0080\\5&1\n"),
            std::string::npos)
      << run.out;
  // An instance without "HardwareID" is a device without hardware ids, passed over.
  EXPECT_EQ(sim::device_list(),
            (std::vector<std::string>{"ROOT\\LEGACY_BEEP\\0000", "USB\\Vid_046d&Pid_c00e\\6&2"}));
  EXPECT_EQ(run.out.find("Failures"), std::string::npos);
  EXPECT_TRUE(sim::reg_key_exists("SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_046d&Pid_c00e\\6&2"));
  EXPECT_TRUE(sim::reg_key_exists(
      "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}"));
}

// ---- Snapshots ----------------------------------------------------------------------------

void write_snapshot(const std::string &folder,
                    const std::vector<std::pair<std::string, std::string>> &files) {
  std::string command =
      "rm -rf '" + folder + "' && mkdir -p '" + folder + "/OEMINF' '" + folder + "/OTHERINF'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  for (const auto &f : files)
    std::ofstream(folder + "/" + f.first, std::ios::binary) << f.second;
}

// A Windows 10 machine with model 0 installed, its device an Enum key, its OEM INF copy a
// Unicode file with a character code page 932 lacks, its listings in the formats of Windows
// 10 (attrib) and XP (a "not found" message), with Japanese names whose second bytes are
// 0x5C and 0x7C (表, ポ), a name with a '?' the console could not show, and a copy left from
// an earlier snapshot that no listing shows. Taken once from an ordinary prompt and once from
// a 32-bit prompt on 64-bit Windows, which reads the system folder through Sysnative.
std::vector<std::pair<std::string, std::string>> nt_snapshot(bool wow64) {
  machine_state("win2000");
  sim::reg_set_value(
      "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_1E7A&PID_0080\\5&1a2b3c4d&0&1", "HardwareID",
      REG_MULTI_SZ,
      sim::multi_string({"USB\\VID_1E7A&PID_0080&REV_0100", "USB\\VID_1E7A&PID_0080"}));
  std::string registry, problem;
  EXPECT_TRUE(write_reg(reg_format_regedit5, registry, problem));
  std::string drivers =
      wow64 ? "C:\\WINDOWS\\Sysnative\\drivers\\" : "C:\\WINDOWS\\system32\\drivers\\";
  return {{"VER.TXT", "\r\nMicrosoft Windows [Version 10.0.19045.3803]\r\n"},
          {"WHERE.TXT", "windows C:\\WINDOWS\r\nfamily nt\r\nsystem C:\\WINDOWS\\system32\r\n" +
                            std::string(wow64 ? "wow64 C:\\WINDOWS\\Sysnative\r\n" : "")},
          {"SYSTEM.REG", registry},
          {"INF.DIR", cp932(".\r\n..\r\noem3.inf\r\nMDMKORT3.INF\r\nmdmgen.inf\r\n表示.inf\r\n")},
          {"INF.ATT", cp932("A            C:\\WINDOWS\\inf\\oem3.inf\r\n"
                            "A    R       C:\\WINDOWS\\inf\\MDMKORT3.INF\r\n"
                            "A  SHR       C:\\WINDOWS\\inf\\mdmgen.inf\r\n"
                            "A            C:\\WINDOWS\\inf\\表示.inf\r\n")},
          {"SYSTEM.DIR", ""},
          {"SYSTEM.ATT", cp932("ファイルが見つかりません - C:\\WINDOWS\\system32\\*.*\r\n")},
          {"DRIVERS.DIR", cp932("Q40PUCOM.SYS\r\nserial.sys\r\nポート.sys\r\nCaf?.sys\r\n")},
          {"DRIVERS.ATT", cp932("A  SH      " + drivers + "Q40PUCOM.SYS\r\n" + "       I    " +
                                drivers + "serial.sys\r\nA          " + drivers +
                                "ポート.sys\r\nA          " + drivers + "Caf?.sys\r\n")},
          {"OEMINF/oem3.inf",
           utf16_file("[Version]\n; Café\n[USBTA]\n\"Q\" = USB_TA,USB\\Vid_1E7A&Pid_0080\n")},
          {"OEMINF/oem9.inf", "[Version]\r\n"}};
}

// The built-in Windows 98 SE machine as snapshot.bat writes it, without Enum\Root\Ports (Setup
// found no serial port of its own); a Japanese maker's INF in inf\OTHER.
std::vector<std::pair<std::string, std::string>> win98_snapshot() {
  machine_state("win98");
  sim::reg_delete_key("Enum\\Root\\Ports");
  std::string registry, problem;
  EXPECT_TRUE(write_reg(reg_format_regedit4, registry, problem));
  return {{"VER.TXT", "\r\nWindows 98 [Version 4.10.2222]\r\n"},
          {"WHERE.TXT", "windows C:\\WINDOWS\r\nfamily win98\r\nsystem C:\\WINDOWS\\SYSTEM\r\n"},
          {"SYSTEM.REG", registry},
          {"ENUM.REG", "REGEDIT4\r\n\r\n"},
          {"INF.DIR", "Q40PUSB.INF\r\n"},
          {"INF.ATT", "  A          C:\\WINDOWS\\INF\\Q40PUSB.INF\r\n"},
          {"OTHER.DIR", cp932("ソニー表示.INF\r\n")},
          {"OTHER.ATT", cp932("  A          C:\\WINDOWS\\INF\\OTHER\\ソニー表示.INF\r\n")},
          {"OTHERINF/" + cp932("ソニー表示.INF"), "[Version]\r\n"},
          {"SYSTEM.DIR", "Q40PORT.VxD\r\n"},
          {"SYSTEM.ATT", "  A  R       C:\\WINDOWS\\SYSTEM\\Q40PORT.VXD\r\n"},
          {"DRIVERS.DIR", "File not found\r\n"},
          {"DRIVERS.ATT", "File not found - C:\\WINDOWS\\SYSTEM\\DRIVERS\\*.*\r\n"}};
}

TEST(uninstall_sim, snapshots_of_real_machines_are_rehearsed) {
  std::string nt = ::testing::TempDir() + "snapshot_nt";
  for (bool wow64 : {false, true}) {
    SCOPED_TRACE(wow64 ? "32-bit prompt" : "64-bit prompt");
    write_snapshot(nt, nt_snapshot(wow64));
    sim_run run = run_uninstall_sim({"--snapshot=" + nt, "--yes", "--complete"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Machine: snapshot " + nt + " (Microsoft Windows [Version 10.0.19045"),
              std::string::npos);
    EXPECT_EQ(run.out.find("read through C:\\WINDOWS\\Sysnative") != std::string::npos, wow64);
    expect_boxes({consent_box, restart_box});
    for (const char *gone : {"C:\\WINDOWS\\inf\\oem3.inf", "C:\\WINDOWS\\inf\\MDMKORT3.INF",
                             "C:\\WINDOWS\\system32\\drivers\\Q40PUCOM.SYS"})
      EXPECT_FALSE(sim::file_exists(gone)) << gone;
    EXPECT_TRUE(sim::device_list().empty());
    // Names read whole, the '?' kept as written; a copy no listing shows is not on the machine.
    for (const char *kept :
         {"C:\\WINDOWS\\inf\\表示.inf", "C:\\WINDOWS\\system32\\drivers\\ポート.sys",
          "C:\\WINDOWS\\system32\\drivers\\Caf?.sys"})
      EXPECT_TRUE(sim::file_exists(cp932(kept))) << kept;
    EXPECT_FALSE(sim::file_exists("C:\\WINDOWS\\inf\\oem9.inf"));
    EXPECT_FALSE(sim::folder_exists("C:\\WINDOWS\\Sysnative"));
    EXPECT_FALSE(sim::reg_key_exists("SYSTEM\\ControlSet001\\Services\\Q40PUCOM"));
    // Attribute columns of Windows 2000 and of Windows 8 and later (I: not content indexed).
    EXPECT_EQ(sim::file_attributes("C:\\WINDOWS\\inf\\mdmgen.inf"),
              static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_SYSTEM |
                                 FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(sim::file_attributes("C:\\WINDOWS\\system32\\drivers\\serial.sys"),
              static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
    // One warning a kind: the '?' name, the stale copy, the INF's character.
    EXPECT_NE(run.err.find("DRIVERS.DIR: warning: 'Caf?.sys': a '?' is a character the console "
                           "could not show"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("oem9.inf: warning: a copy that no listing"), std::string::npos);
    EXPECT_NE(run.err.find("oem3.inf: warning: 1 characters outside code page 932"),
              std::string::npos);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 3) << run.err;
  }

  std::string w98 = ::testing::TempDir() + "snapshot_98";
  const std::vector<std::pair<std::string, std::string>> w98_files = win98_snapshot();
  write_snapshot(w98, w98_files);
  sim_run run = run_uninstall_sim({"--snapshot", w98, "--yes"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  // Nothing the snapshot does not show is added: no Enum\Root\Ports, as on the real machine,
  // where the uninstaller goes on to its restart.
  EXPECT_FALSE(sim::reg_key_exists("Enum\\Root\\Ports"));
  expect_boxes({consent_box, question_box(1), restart_box});
  EXPECT_EQ(sim::file_list(),
            std::vector<std::string>{cp932("C:\\WINDOWS\\INF\\OTHER\\ソニー表示.INF")})
      << files_and_devices_dump();

  // A Wine prefix that plays Windows 98 to one program: its cmd reports another version.
  std::ofstream(w98 + "/VER.TXT") << "\r\nMicrosoft Windows 6.1.7601\r\n";
  std::remove((w98 + "/ENUM.REG").c_str());
  run = run_uninstall_sim({"--snapshot", w98, "--yes"});
  expect_boxes({consent_box, question_box(1), restart_box});
  EXPECT_NE(run.err.find("rehearsing as Windows 98 SE"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("ENUM.REG is missing from the snapshot"), std::string::npos) << run.err;
  // Windows 95 is rehearsed as what it is, and refused as the uninstaller refuses it.
  std::ofstream(w98 + "/VER.TXT") << "\r\nWindows 95. [Version 4.00.950]\r\n";
  run = run_uninstall_sim({"--snapshot", w98, "--yes"});
  EXPECT_EQ(run.status, 255) << run.out;
  EXPECT_EQ(sim::changes().size(), 0u);
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA(&version);
  EXPECT_EQ(version.dwBuildNumber, 0x040003B6u);
  write_snapshot(w98, w98_files);

  // What cannot be read is refused with its file and line, before anything runs. The Japanese
  // names above read whole; a real '\' or '|' does not.
  const struct {
    const char *file, *text, *message;
  } bad[] = {{"SYSTEM.ATT", "A  C:\\WINDOWS\\SYSTEM\\X.VXD\r\nAccess denied - C:\\X\r\n",
              "SYSTEM.ATT:2: cannot read this attrib line"},
             {"INF.DIR", "\r\nC:\\WINDOWS\\INF\r\n", "INF.DIR:2: cannot read this dir /b line"},
             {"INF.DIR", "a|b.inf\r\n", "INF.DIR:1: cannot read this dir /b line"},
             {"WHERE.TXT", "windows C:\\WINDOWS\r\nsystem SYSTEM\r\n", "WHERE.TXT:2: expected"},
             {"VER.TXT", "Windows\r\n", "VER.TXT: holds no Windows version"}};
  for (const auto &b : bad) {
    std::ofstream(w98 + "/" + b.file, std::ios::binary) << b.text;
    sim::reset();
    run = run_uninstall_sim({"--snapshot", w98, "--yes"});
    EXPECT_EQ(run.status, 2) << b.message;
    EXPECT_NE(run.err.find(w98 + "/" + b.message), std::string::npos) << run.err;
    EXPECT_TRUE(sim::calls().empty());
    write_snapshot(w98, w98_files);
  }
}

// What a snapshot cannot show is "not known" wherever the run depends on it: in the summary
// under its own heading and in the record, never assumed in silence.
TEST(uninstall_sim, snapshots_say_what_they_cannot_show) {
  std::string folder = ::testing::TempDir() + "snapshot_unknown";
  std::vector<std::pair<std::string, std::string>> files = nt_snapshot(false);
  files.erase(std::remove_if(files.begin(), files.end(),
                             [](const std::pair<std::string, std::string> &f) {
                               return f.first == "DRIVERS.ATT" || f.first == "OEMINF/oem3.inf";
                             }),
              files.end());
  write_snapshot(folder, files);
  std::string record = ::testing::TempDir() + "snapshot_unknown.jsonl";
  sim_run run = run_uninstall_sim({"--snapshot", folder, "--yes", "--record=" + record});
  EXPECT_EQ(run.status, 0) << run.err;
  // Each reason once, with what the run used of it below.
  std::string not_known = after(run.out, "Not known (the snapshot cannot show it):\n");
  auto listed = [&](const std::string &why, const std::string &subject) {
    size_t at = not_known.find("  " + why + ":\n");
    size_t end = at == std::string::npos ? at : not_known.find("\n  ", at + why.size() + 4);
    std::string group = at == std::string::npos ? "" : not_known.substr(at, end - at);
    return ascii_upper(group).find("\n    " + ascii_upper(subject)) != std::string::npos;
  };
  EXPECT_TRUE(listed("INF.DIR lists it, but its copy is not in OEMINF: its text is not known "
                     "(the rehearsal reads it as empty)",
                     "C:\\WINDOWS\\inf\\oem3.inf"))
      << run.out;
  EXPECT_TRUE(listed("DRIVERS.ATT is missing from the snapshot: the attributes of the files in "
                     "this folder are not known (the rehearsal takes each as archive only)",
                     "C:\\WINDOWS\\system32\\drivers\\Q40PUCOM.SYS"));
  EXPECT_TRUE(listed("whether a program or a loaded driver held it open: a snapshot cannot show "
                     "it, and the rehearsal deleted it as a file nothing uses",
                     "C:\\WINDOWS\\system32\\drivers\\Q40PUCOM.SYS"));
  EXPECT_TRUE(listed("whether the driver package it was published from left the driver store "
                     "with it: a snapshot does not list the store's package folders",
                     "C:\\WINDOWS\\inf\\oem3.inf"));
  EXPECT_NE(run.err.find("INF.DIR: warning: 'oem3.inf': INF.DIR lists it, but its copy"),
            std::string::npos)
      << run.err;
  std::string events = read_file(record);
  EXPECT_NE(events.find("\",\"why\":\"INF.DIR lists it, but its copy is not in OEMINF"),
            std::string::npos)
      << events;
  EXPECT_EQ(events.substr(events.rfind("{\"event\"")), "{\"event\":\"exit\",\"code\":0}\n");
  // Neither output may go into the snapshot folder.
  for (const char *option : {"--export", "--record"})
    for (const std::string &target :
         {folder + "/SYSTEM.REG",
          folder + "/../" + folder.substr(folder.rfind('/') + 1) + "/after.reg"}) {
      sim::reset();
      run = run_uninstall_sim({"--snapshot", folder, option, target});
      EXPECT_EQ(run.status, 2) << option << " " << target;
      EXPECT_NE(run.err.find("would write over what the machine is read from (" + folder + ")"),
                std::string::npos)
          << run.err;
      EXPECT_TRUE(sim::calls().empty());
    }
  EXPECT_FALSE(std::ifstream(folder + "/after.reg").good());
  EXPECT_EQ(read_file(folder + "/SYSTEM.REG").compare(0, 2, "\xFF\xFE"), 0);
  // A machine file shows what it describes: nothing is unknown there.
  run = run_uninstall_sim({"--yes"});
  EXPECT_EQ(run.out.find("Not known"), std::string::npos);
}

// The check after the real run. BEFORE is the Windows 10 snapshot above; AFTER is what the real
// run left, made here from the rehearsal's own export and listings, then changed as a real run
// might have gone otherwise. Windows' own changes elsewhere are ignored.
TEST(uninstall_sim, compare_checks_the_snapshot_after_the_real_run) {
  std::string before = ::testing::TempDir() + "compare_before";
  std::string after = ::testing::TempDir() + "compare_after";
  std::string exported = ::testing::TempDir() + "compare_after.reg";
  std::vector<std::pair<std::string, std::string>> before_files = nt_snapshot(false);
  write_snapshot(before, before_files);
  // The snapshot after the run: the rehearsal's registry, the deleted files unlisted.
  auto after_files = [&](const char *word, const std::string &extra_drivers,
                         const std::string &extra_registry) {
    sim_run run = run_uninstall_sim({"--snapshot", before, "--yes", "--export", exported, word});
    EXPECT_EQ(run.status, 0) << run.err;
    std::vector<std::pair<std::string, std::string>> files = before_files;
    for (auto &f : files) {
      if (f.first == "SYSTEM.REG")
        f.second = read_file(exported) + utf16_file(extra_registry).substr(2);
      if (f.first == "INF.DIR")
        f.second = cp932("mdmgen.inf\r\n表示.inf\r\n");
      if (f.first == "INF.ATT")
        f.second = cp932("A  SHR       C:\\WINDOWS\\inf\\mdmgen.inf\r\n"
                         "A            C:\\WINDOWS\\inf\\表示.inf\r\n");
      if (f.first == "DRIVERS.DIR")
        f.second = cp932("serial.sys\r\nポート.sys\r\nCaf?.sys\r\n" + extra_drivers);
      if (f.first == "DRIVERS.ATT")
        f.second = f.second.substr(f.second.find("\r\n") + 2); // Q40PUCOM.SYS
    }
    files.erase(std::remove_if(files.begin(), files.end(),
                               [](const std::pair<std::string, std::string> &f) {
                                 return f.first.compare(0, 7, "OEMINF/") == 0;
                               }),
                files.end());
    return files;
  };
  const std::string services = "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Services\\";
  const struct {
    const char *name;
    const char *word;
    std::string drivers, registry; // AFTER beyond what the rehearsal left
    int status;
    std::vector<std::string> parts;
  } rows[] = {
      {"as rehearsed, Windows' own changes ignored",
       "--complete",
       "beep.sys\r\n",
       services + "Beep]\n\"Start\"=dword:00000001\n",
       0,
       {"  as rehearsed: ", "The real run went as rehearsed.\n"}},
      {"the driver file left behind",
       "--complete",
       "Q40PUCOM.SYS\r\n",
       "",
       3,
       {"  Left behind (the rehearsal removed them; the real run left them):\n"
        "    file C:\\WINDOWS\\system32\\drivers\\Q40PUCOM.SYS  (removed in the rehearsal by "
        "QuendalQ40 PRO For USB, driver and INF files)\n",
        "The real run did not go as rehearsed: 1 left behind.\n"}},
      {"a service key the default removal keeps, gone; a model's entry appeared",
       "",
       "",
       "[-HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet002\\Services\\Q40PUCOM]\n"
       "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Control\\Class\\"
       "{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0009]\n"
       "\"MatchingDeviceId\"=\"usb\\\\vid_1e7a&pid_0016\"\n",
       3,
       {"  Removed unexpectedly (the rehearsal kept them; the real run did not):\n"
        "    key HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet002\\Services\\Q40PUCOM  "
        "(QuendalQ40 PRO For USB)\n      with 1 key below it\n",
        "  Appeared (not there before the run):\n    key HKEY_LOCAL_MACHINE\\SYSTEM\\"
        "ControlSet001\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0009  "
        "(QuendalQ-4 For USB)\n",
        "The real run did not go as rehearsed: 2 removed unexpectedly, 1 appeared.\n"}},
      {"a kept entry changed",
       "",
       "",
       services + "Q40PUCOM]\n\"Start\"=dword:00000004\n",
       3,
       {"  Changed otherwise (their values are not those the rehearsal left):\n"
        "    key HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Services\\Q40PUCOM  "
        "(QuendalQ40 PRO For USB)\n"}},
  };
  std::string record = ::testing::TempDir() + "compare.jsonl";
  for (const auto &r : rows) {
    SCOPED_TRACE(r.name);
    write_snapshot(after, after_files(r.word, r.drivers, r.registry));
    sim_run run = run_uninstall_sim(
        {"--snapshot", before, "--compare", after, "--yes", "--record", record, r.word});
    EXPECT_EQ(run.status, r.status) << run.err;
    for (const std::string &part : r.parts)
      EXPECT_NE(run.out.find(part), std::string::npos) << part << "\n----\n" << run.out;
    // The record carries the comparison, each entry once.
    std::vector<std::string> lines = read_lines(record);
    size_t compared = std::count_if(lines.begin(), lines.end(), [](const std::string &line) {
      return record_field(line, "event") == "compared";
    });
    EXPECT_GT(compared, 5u);
    for (const std::string &line : lines)
      if (record_field(line, "event") == "compared" &&
          record_field(line, "subject").find("Q40PUCOM.SYS") != std::string::npos) {
        EXPECT_EQ(record_field(line, "result"), r.drivers.find("Q40PUCOM") == std::string::npos
                                                    ? "removed as rehearsed"
                                                    : "left behind");
        EXPECT_EQ(record_field(line, "step"), "driver and INF files");
      }
  }
  // Windows 98, model 1 kept: the VxD key a real run left is found by the step that removed it
  // in the rehearsal; model 1's entries, kept, are still there.
  std::string w98_before = ::testing::TempDir() + "compare_98_before";
  std::vector<std::pair<std::string, std::string>> w98_files = win98_snapshot();
  write_snapshot(w98_before, w98_files);
  sim_run run = run_uninstall_sim(
      {"--snapshot", w98_before, "--answer", "ok,cancel,ok", "--export", exported});
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char *left : {"", "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\"
                               "VxD\\Q40PPORT]\r\n\"StaticVxD\"=\"Q40PPORT.VxD\"\r\n"}) {
    std::vector<std::pair<std::string, std::string>> files = w98_files;
    for (auto &f : files)
      if (f.first == "SYSTEM.REG")
        f.second = read_file(exported) + left;
      else if (f.first == "INF.DIR" || f.first == "INF.ATT")
        f.second = "";
    write_snapshot(after, files);
    run = run_uninstall_sim({"--snapshot", w98_before, "--compare", after, "--answer",
                             "ok,cancel,ok", "--record", record});
    EXPECT_EQ(run.status, *left ? 3 : 0) << run.out;
    EXPECT_NE(run.out.find(*left ? "  Left behind (the rehearsal removed them; the real run left "
                                   "them):\n    key HKEY_LOCAL_MACHINE\\System\\CurrentControlSet"
                                   "\\Services\\VxD\\Q40PPORT  (removed in the rehearsal by "
                                   "QuendalQ40 PRO For USB, VxD entries)\n"
                                 : "The real run went as rehearsed.\n"),
              std::string::npos)
        << run.out;
    std::string kept_port;
    for (const std::string &line : read_lines(record))
      if (record_field(line, "subject").find("VMM32Files\\Q40PORT.VxD") != std::string::npos)
        kept_port = record_field(line, "result") + " " + record_field(line, "model");
    EXPECT_EQ(kept_port, "kept as rehearsed 1");
  }

  // Refused before anything runs: no snapshot before, an unreadable one after, another machine.
  std::string w98 = ::testing::TempDir() + "compare_98";
  write_snapshot(w98, {{"VER.TXT", "\r\nWindows 98 [Version 4.10.2222]\r\n"},
                       {"WHERE.TXT", "windows C:\\WINDOWS\r\nfamily win98\r\nsystem "
                                     "C:\\WINDOWS\\SYSTEM\r\n"},
                       {"SYSTEM.REG", "REGEDIT4\r\n\r\n"},
                       {"ENUM.REG", "REGEDIT4\r\n\r\n"}});
  const struct {
    std::vector<std::string> args;
    std::string message;
  } refused[] = {
      {{"--compare", after}, "--compare needs --snapshot"},
      {{"--snapshot", before, "--compare", "/nonexistent"}, "/nonexistent: cannot be read"},
      {{"--snapshot", before, "--compare", w98}, w98 + ": not a snapshot of the machine of"},
      {{"--snapshot", w98_before, "--compare", after, "--record", after + "/x.jsonl"},
       "would write over what the machine is read from (" + after + ")"},
  };
  for (const auto &r : refused) {
    sim::reset();
    sim_run run = run_uninstall_sim(r.args);
    EXPECT_EQ(run.status, 2) << r.message;
    EXPECT_NE(run.err.find(r.message), std::string::npos) << run.err;
    EXPECT_TRUE(sim::calls().empty());
  }
}

// A warning of one kind is printed once, with how many there were and where the first is;
// --verbose prints every one.
TEST(uninstall_sim, warnings_are_summarised_by_kind) {
  std::string folder = ::testing::TempDir() + "snapshot_warnings";
  write_snapshot(folder, nt_snapshot(false));
  // The export goes on with 600 printers whose names hold a character code page 932 lacks,
  // and a value of odd length; the copy of oem3.inf has one such character as well.
  std::string text = "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Control\\Print\\Printers]\n";
  for (int i = 0; i < 600; ++i)
    text += "\"Printer" + std::to_string(i) + "\"=\"Quendal\xC2\xAE\"\n";
  text += "\"odd\"=hex(2):41,00,42\n";
  std::string reg = folder + "/SYSTEM.REG";
  std::ofstream(reg, std::ios::binary | std::ios::app) << utf16_file(text).substr(2);
  sim_run run = run_uninstall_sim({"--snapshot", folder, "--yes"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("uninstall-sim: warning: characters outside code page 932 read as '?': "
                         "601 times, the first at " +
                         reg + ":"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find(": warning: value skipped: UTF-16 string data with an odd number"),
            std::string::npos);
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 4) << run.err;
  run = run_uninstall_sim({"--snapshot", folder, "--yes", "--verbose"});
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 604);
}

} // namespace
