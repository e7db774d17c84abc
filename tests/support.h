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

// The program as the 32-bit edition on 64-bit Windows, where it runs under WOW64, started from
// `folder` with `word` behind its name. Beside it, QuendalUninstall64.exe may be the 64-bit
// edition, which runs the uninstaller's own logic on the same machine, or a copy of the
// 32-bit program under that name, which must never be started.
enum beside_edition { NO_EDITION_BESIDE, EDITION_64_BESIDE, A_32_BIT_COPY_BESIDE };
void run_as_32_bit_edition_under_wow64(beside_edition beside, const std::string &word,
                                       const std::wstring &folder = L"C:\\Quendal");
// ASCII text as a wide string; a wide string as ASCII text, '?' for any other character;
// UTF-8 text as a wide string.
std::wstring widened(const std::string &ascii);
std::string narrowed(const std::wstring &text);
std::wstring from_utf8(const std::string &utf8);

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
