// uninstall-sim as its user sees it: the built-in machines run to the end with their boxes,
// answers from --answer, --yes, the terminal or nobody, the summary of a run, the export,
// and refusals of bad input before anything runs.
#include "core/catalogue.h"
#include "core/texts.h"
#include "tests/support.h"
#include "tests/tools_support.h"
#include "tools/builtin_machines.h"
#include "tools/machine_file.h"
#include "tools/reg_file.h"

#include <fstream>
#include <set>
#include <sstream>

namespace {

const expected_box consent_box{text_consent, text_program_caption, MB_OKCANCEL | MB_ICONWARNING};
const expected_box completed_box{text_completed, text_program_caption, MB_OK};
const expected_box restart_box{text_restart_prompt, text_program_caption,
                               MB_OKCANCEL | MB_ICONWARNING};
const expected_box invalid_option_box{text_invalid_option, text_program_caption, MB_ICONERROR};

expected_box not_installed_box(int model) {
  return {std::string(model_display_name(model)) + text_not_installed_suffix, text_program_caption,
          MB_ICONWARNING};
}

expected_box question_box(int model) {
  return {std::string(model_display_name(model)) + text_installed_question_suffix,
          text_program_caption, MB_OKCANCEL | MB_ICONWARNING};
}

expected_box error_box(DWORD code, const char *caption) {
  return {sim::message_text(code), caption, MB_ICONERROR};
}

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

// Whatever of the machine `clean` was on the machine survived the run.
void expect_other_hardware_intact(const char *clean) {
  std::set<std::string> now = lines(registry_dump() + files_and_devices_dump());
  for (const std::string &line : machine_state(clean))
    EXPECT_TRUE(now.count(line)) << "removed: " << line;
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
      {"win2000-failing",
       "--complete",
       {consent_box, error_box(ERROR_ACCESS_DENIED, caption_reg_open_key_ex),
        error_box(ERROR_SHARING_VIOLATION, caption_delete_file), restart_box},
       0,
       true,
       "clean-win2000"},
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
    expect_other_hardware_intact(r.clean);
  }
}

// The typical run: exactly model 0's device (with the driver key Windows deletes along with
// it), service keys and files go, in this order.
TEST(uninstall_sim, summary_of_the_default_machine_lists_exactly_what_was_removed) {
  sim_run run = run_uninstall_sim({"--complete"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(after(run.out, "Exit code: 0\n\n"),
            "What the run changed on the machine:\n"
            "Registry keys deleted (5):\n"
            "  HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Control\\Class\\"
            "{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0001\n"
            "  HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Services\\Q40PUCOM\\Enum\n"
            "  HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Services\\Q40PUCOM\n"
            "  HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet002\\Services\\Q40PUCOM\\Enum\n"
            "  HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet002\\Services\\Q40PUCOM\n"
            "Files deleted (5):\n"
            "  C:\\WINDOWS\\system32\\drivers\\\n"
            "      Q40PUCOM.SYS\n"
            "  C:\\WINDOWS\\inf\\\n"
            "      MDMKORT3.INF\n"
            "      MDMKORT3.PNF\n"
            "      oem3.inf\n"
            "      oem3.PNF\n"
            "Device instances removed (1):\n"
            "  USB\\VID_1E7A&PID_0080\\5&1A2B3C4D&0&1\n");
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
        line.find("VID_1E7A&PID_0080") != std::string::npos ||
        line.find("{4D36E96D-E325-11CE-BFC1-08002BE10318}\\x5C0001") != std::string::npos)
      expected_removed.insert(line);
  EXPECT_EQ(removed, expected_removed);
  EXPECT_EQ(removed.size(), 5u + 13u + 5u + 1u) << "keys, their values, files, device";
}

TEST(uninstall_sim, answers_come_from_the_list_then_from_the_rule_for_the_input) {
  // Model 1 declined: it stays; the list runs out before the restart prompt.
  sim_run run = run_uninstall_sim({"--machine", "win98", "--answer", "ok,cancel"});
  EXPECT_EQ(run.status, 0);
  expect_boxes({consent_box, question_box(1), restart_box});
  EXPECT_EQ(sim::boxes()[1].answer, IDCANCEL);
  EXPECT_EQ(sim::boxes()[2].answer, IDOK);
  EXPECT_NE(run.out.find("answered Cancel (--answer cancel)"), std::string::npos);
  EXPECT_NE(run.out.find("every box after the --answer list is answered OK"), std::string::npos);
  EXPECT_NE(run.out.find("answered OK (input is not a terminal)"), std::string::npos);
  EXPECT_TRUE(sim::reg_key_exists("Enum\\USB\\Vid_1E7A&Pid_0030"));
  EXPECT_TRUE(sim::file_exists("C:\\WINDOWS\\SYSTEM\\Q40PORT.VxD"));
  EXPECT_FALSE(sim::reg_key_exists("Enum\\USB\\Vid_1E7A&Pid_0080"));

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
  EXPECT_NE(run.out.find("1 of the --answer list were not needed"), std::string::npos);

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
    std::vector<reg_op> ops;
    load_error error;
    ASSERT_TRUE(read_reg_file(file, format, ops, error)) << describe(error);
    EXPECT_EQ(format, std::string(machine) == "win98" ? reg_format_regedit4 : reg_format_regedit5);
    sim::reset();
    apply_reg(ops);
    EXPECT_EQ(registry_dump(), after_run) << machine;
  }
  sim_run run = run_uninstall_sim({"--yes", "--export", "/nonexistent/dir/x.reg"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("cannot write"), std::string::npos);
}

TEST(uninstall_sim, bad_input_is_refused_before_anything_runs) {
  std::string file = ::testing::TempDir() + "uninstall_sim_bad.machine";
  std::ofstream(file) << "platform nt 5.0 2195\nfile C:\\x\ndevice\n";
  const struct {
    std::vector<std::string> args;
    std::string message;
  } rows[] = {
      {{"--machine", file}, file + ":3: expected: device"},
      {{"--machine", "no-such-machine"}, "no built-in machine and no readable file"},
      {{"--machine"}, "--machine needs a value"},
      {{"--answer", "ok,maybe"}, "unknown answer 'maybe'"},
      {{"-C", "-D"}, "only one WORD"},
      {{"--", "-C", "-D"}, "only one WORD"},
      {{"--"}, "must be followed by the WORD"},
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
  sim_run help = run_uninstall_sim({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const builtin_machine &b : builtin_machines())
    EXPECT_NE(help.out.find(b.name), std::string::npos);
}

} // namespace
