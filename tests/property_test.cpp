// Property test: random machines of both families (the models' real entries in any state next
// to decoys), random answers to every box and random faults in random calls. Every run must
// delete only what the catalogue names, show only boxes the program may show at that point,
// record every reported failure that its rules record, close with the box the status table
// calls for, leave nothing open and exit with 0. A failing run prints C++ that repeats it.
//
// RELIABILITY_SEEDS sets the number of machines per family: by default 250, and 5,000 where
// CI=true (as CI services set it, and .ci/run does), for a deeper search than a developer's
// `make test` waits for. RELIABILITY_FIRST_SEED sets the first seed.
#include "tests/reliability_support.h"

#include "core/hosted/reset.h"
#include "core/run_state.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

unsigned long environment_number(const char *name, unsigned long fallback) {
  const char *text = std::getenv(name);
  return text && *text ? std::strtoul(text, nullptr, 10) : fallback;
}

enum { RUNS_PER_MACHINE = 4 };

struct totals {
  int machines = 0;
  int runs = 0;
  int faulted_runs = 0;
  size_t changes = 0;
};

// Builds the machine of `seed`, then runs it RUNS_PER_MACHINE times: once without faults,
// then with random faults and answers. Returns false after the first failing run.
bool check_seed(bool win98, uint64_t seed, totals &sum) {
  ++sum.machines;
  for (int variant = 0; variant < RUNS_PER_MACHINE; ++variant) {
    reliability::random_source machine_random(seed * 2 + (win98 ? 1 : 0));
    reliability::machine_plan plan;
    if (win98)
      reliability::generate_win98_machine(plan, machine_random);
    else
      reliability::generate_nt_machine(plan, machine_random);
    reliability::random_source run_random(seed * 7919 + static_cast<uint64_t>(variant) * 104729 +
                                          (win98 ? 3 : 0));
    if (variant > 0)
      reliability::generate_faults(plan, run_random);
    reliability::snapshot before = reliability::take_snapshot(plan);
    // The decoys lie outside every rule even with all three models removed.
    for (const std::string &file : plan.decoy_files)
      if (reliability::deletion_allowed(before, {sim::change::file_deleted, file}, 7, true))
        ADD_FAILURE() << "generator: decoy file within the rules: " << file;
    for (const std::string &key : plan.decoy_keys)
      if (reliability::deletion_allowed(before, {sim::change::key_deleted, key}, 7, true))
        ADD_FAILURE() << "generator: decoy key within the rules: " << key;
    reliability::run_record run =
        reliability::run_uninstaller(plan, reliability::random_answers(run_random));
    ++sum.runs;
    sum.faulted_runs += plan.faults.empty() ? 0 : 1;
    sum.changes += sim::changes().size();
    std::vector<std::string> problems = reliability::check_run(plan, before, run);
    if (!problems.empty()) {
      std::string text;
      for (const std::string &p : problems)
        text += "  " + p + "\n";
      ADD_FAILURE() << (win98 ? "Windows 98" : "Windows 2000") << " machine of seed " << seed
                    << ", run " << variant << ":\n"
                    << text << "To repeat it:\n"
                    << reliability::reproduction(plan, run);
      return false;
    }
  }
  return true;
}

void check_family(bool win98) {
  const char *ci = std::getenv("CI");
  bool deep = ci && std::string(ci) == "true";
  unsigned long count = environment_number("RELIABILITY_SEEDS", deep ? 5000 : 250);
  unsigned long first = environment_number("RELIABILITY_FIRST_SEED", 1);
  totals sum;
  int failures = 0;
  for (unsigned long seed = first; seed < first + count && failures < 5; ++seed)
    if (!check_seed(win98, seed, sum))
      ++failures;
  std::printf("%s: %d machines, %d runs (%d with faults), %zu changes checked\n",
              win98 ? "Windows 98" : "Windows 2000", sum.machines, sum.runs, sum.faulted_runs,
              sum.changes);
}

TEST(property, windows_2000_runs_touch_only_the_catalogue) {
  check_family(false);
}

TEST(property, windows_98_runs_touch_only_the_catalogue) {
  check_family(true);
}

// The checks themselves: a run that did what the program must not do is caught.
bool mentions(const std::vector<std::string> &problems, const std::string &text) {
  for (const std::string &p : problems)
    if (p.find(text) != std::string::npos)
      return true;
  return false;
}

reliability::machine_plan model0_nt_machine() {
  reliability::machine_plan plan;
  plan.command_tail = "--complete";
  reliability::start_machine(plan, false);
  sim::device d;
  d.instance_id = "USB\\Vid_1e7a&Pid_0080\\5&1a2b3c4d&0&1"; // as Windows 2000 writes it
  d.hardware_ids = sim::multi_string({"USB\\Vid_1e7a&Pid_0080&Rev_0100", "USB\\Vid_1e7a&Pid_0080"});
  reliability::add_device(plan, d);
  reliability::set_value(plan, "SYSTEM\\ControlSet001\\Services\\Q40PUCOM", "Start", REG_DWORD,
                         std::string("\3\0\0\0", 4));
  reliability::add_file(plan, "C:\\WINDOWS\\system32\\drivers\\Q40PUCOM.SYS",
                        FILE_ATTRIBUTE_READONLY);
  reliability::add_file(plan, "C:\\WINDOWS\\system32\\Q40PUCOM.SYS", FILE_ATTRIBUTE_ARCHIVE);
  plan.decoy_files.push_back("C:\\WINDOWS\\system32\\Q40PUCOM.SYS");
  return plan;
}

TEST(property_checks, a_deletion_outside_the_catalogue_is_caught) {
  reliability::machine_plan plan = model0_nt_machine();
  // On Vista, another product's copy published from a package.
  reliability::set_nt_platform(plan, 6, 0, false);
  reliability::add_file(plan, "C:\\WINDOWS\\inf\\oem50.inf", FILE_ATTRIBUTE_ARCHIVE);
  reliability::add_driver_package(plan, "oem50.inf", "other.inf_x86_50", "");
  reliability::snapshot before = reliability::take_snapshot(plan);
  reliability::run_record run = reliability::run_uninstaller(plan, nullptr);
  EXPECT_TRUE(reliability::check_run(plan, before, run).empty());
  DeleteFileA("C:\\WINDOWS\\system32\\Q40PUCOM.SYS");
  SetupUninstallOEMInfA("oem50.inf", 0, nullptr);
  std::vector<std::string> problems = reliability::check_run(plan, before, run);
  EXPECT_TRUE(mentions(problems, "change outside the catalogue's reach"));
  EXPECT_TRUE(mentions(problems, "decoy file deleted"));
  EXPECT_TRUE(
      mentions(problems, "kind 5 C:\\WINDOWS\\system32\\DriverStore\\FileRepository\\other"));
}

TEST(property_checks, a_reported_failure_without_its_flag_is_caught) {
  reliability::machine_plan plan = model0_nt_machine();
  reliability::add_fault(plan,
                         sim::fault{"SetupDiCallClassInstaller", ERROR_ACCESS_DENIED, "", 1, 1});
  reliability::snapshot before = reliability::take_snapshot(plan);
  reliability::run_record run = reliability::run_uninstaller(plan, nullptr);
  EXPECT_TRUE(reliability::check_run(plan, before, run).empty());
  set_nt_device_status(0, STATUS_NONE);
  EXPECT_TRUE(
      mentions(reliability::check_run(plan, before, run), "reported failure left no status flag"));
}

TEST(property_checks, a_closing_box_against_the_status_table_is_caught) {
  reliability::machine_plan plan = model0_nt_machine();
  plan.command_tail = "";
  reliability::snapshot before = reliability::take_snapshot(plan);
  reliability::run_record run = reliability::run_uninstaller(plan, nullptr);
  EXPECT_TRUE(reliability::check_run(plan, before, run).empty());
  set_nt_service_status(2, STATUS_FAILED);
  EXPECT_TRUE(mentions(reliability::check_run(plan, before, run), "closing box"));
}

TEST(property_checks, a_handle_left_open_is_caught) {
  reliability::machine_plan plan = model0_nt_machine();
  reliability::snapshot before = reliability::take_snapshot(plan);
  reliability::run_record run = reliability::run_uninstaller(plan, nullptr);
  HKEY key = nullptr;
  RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet001", 0, KEY_READ, &key);
  EXPECT_TRUE(mentions(reliability::check_run(plan, before, run), "left open"));
  RegCloseKey(key);
}

} // namespace
