// A build whose Windows 2000 sequence removes the service keys before the device instances
// (run_nt_removal_swapped.cpp): the summary and the record tag every change with the step that
// made it, in the order the steps ran. Nothing in tools/ knows the order of the steps.
#include "tests/tools_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(swapped_steps, tags_follow_the_steps_as_they_ran) {
  std::string file = ::testing::TempDir() + "swapped_steps.jsonl";
  sim_run run = run_uninstall_sim({"--yes", "--record", file, "--complete"});
  ASSERT_EQ(run.status, 0) << run.err;
  // The steps of model 0's changes in the record, each once, in the order they came.
  std::vector<std::string> steps;
  for (const std::string &line : read_lines(file)) {
    std::string event = record_field(line, "event");
    if (event == "box" || event == "exit" || event == "attributes set" ||
        record_field(line, "model") != "0")
      continue;
    std::string step = record_field(line, "step");
    if (steps.empty() || steps.back() != step)
      steps.push_back(step);
    if (event == "device removed" || record_field(line, "call") == "SetupDiCallClassInstaller") {
      EXPECT_EQ(step, "device instances") << line;
    }
    if (record_field(line, "key").find("\\Services\\Q40PUCOM") != std::string::npos) {
      EXPECT_EQ(step, "service keys") << line;
    }
  }
  EXPECT_EQ(steps,
            (std::vector<std::string>{"service keys", "device instances", "driver and INF files"}));
  const std::string services = "QuendalQ40 PRO For USB, service keys:\n"
                               "  registry keys deleted:\n"
                               "    HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Services\\"
                               "Q40PUCOM\\Enum\n";
  const std::string devices = "QuendalQ40 PRO For USB, device instances:\n"
                              "  device instances removed:\n"
                              "    USB\\Vid_1e7a&Pid_0080\\5&1a2b3c4d&0&1\n";
  size_t services_at = run.out.find(services), devices_at = run.out.find(devices);
  EXPECT_NE(services_at, std::string::npos) << run.out;
  EXPECT_NE(devices_at, std::string::npos) << run.out;
  EXPECT_LT(services_at, devices_at);
}
