// Shared test support: every test is a fresh process state on a fresh simulated machine, and
// every run must leave nothing open and show no box the test did not answer.
#pragma once

#include "core/hosted/reset.h"
#include "sim/sim.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The Japanese texts in UTF-8, converted to code page 932 for comparison with what is shown.
std::string cp932(const std::string &utf8);

// The program caption and the texts the entry shows, in code page 932.
std::string program_caption();

struct expected_box {
  std::string text;
  std::string caption;
  UINT type;
};

// Compares the boxes shown with the expected ones, in order, with readable failures.
void expect_boxes(const std::vector<expected_box> &expected);

// The program as the 32-bit edition on 64-bit Windows, where it runs under WOW64, started with
// `word` behind its name; with `edition_64_beside`, QuendalUninstall64.exe lies in its folder
// and runs the uninstaller's own logic, as the 64-bit edition, on the same machine.
void run_as_32_bit_edition_under_wow64(bool edition_64_beside, const std::string &word);
// ASCII text as a wide string; a wide string as ASCII text, '?' for any other character.
std::wstring widened(const std::string &ascii);
std::string narrowed(const std::wstring &text);

// Fixture for whole-run and step tests. Subclasses choose the machine in SetUp.
class machine_test : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;
  // Set to false in a test that leaves something open on purpose.
  bool expect_no_leaks = true;
};

class win2000_test : public machine_test {
protected:
  void SetUp() override;
};

class win98_test : public machine_test {
protected:
  void SetUp() override;
};
