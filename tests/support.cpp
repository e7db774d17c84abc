#include "tests/support.h"

#include "core/entry.h"
#include "core/texts.h"
#include "tools/encoding.h"

std::string cp932(const std::string &utf8) {
  std::string out;
  EXPECT_TRUE(utf8_to_cp932(utf8, out)) << "not convertible to code page 932: " << utf8;
  return out;
}

std::string program_caption() {
  return text_program_caption;
}

static std::string printable(const std::string &bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

void expect_boxes(const std::vector<expected_box> &expected) {
  const std::vector<sim::box> &shown = sim::boxes();
  size_t count = std::max(shown.size(), expected.size());
  for (size_t i = 0; i < count; ++i) {
    if (i >= shown.size()) {
      ADD_FAILURE() << "box " << i << " not shown: " << printable(expected[i].caption) << " | "
                    << printable(expected[i].text);
      continue;
    }
    if (i >= expected.size()) {
      ADD_FAILURE() << "unexpected box " << i << ": " << printable(shown[i].caption) << " | "
                    << printable(shown[i].text);
      continue;
    }
    EXPECT_EQ(printable(shown[i].caption), printable(expected[i].caption)) << "box " << i;
    EXPECT_EQ(printable(shown[i].text), printable(expected[i].text)) << "box " << i;
    EXPECT_EQ(shown[i].type, expected[i].type) << "box " << i;
    EXPECT_FALSE(shown[i].has_owner) << "box " << i;
  }
}

std::wstring widened(const std::string &ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}

std::string narrowed(const std::wstring &text) {
  std::string out;
  for (wchar_t c : text)
    out += c > 0 && c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

void run_as_32_bit_edition_under_wow64(bool edition_64_beside, const std::string &word) {
  set_program_edition(EDITION_32_BIT);
  sim::set_wow64(true);
  sim::set_command_line(L"\"C:\\Quendal\\QuendalUninstall.exe\" " + widened(word));
  if (!edition_64_beside)
    return;
  sim::program_add(L"C:\\Quendal\\QuendalUninstall64.exe", [](const std::wstring &line) {
    set_program_edition(EDITION_64_BIT);
    int exit_code = uninstaller_main(narrowed(cut_wide_command_tail(line.c_str())).c_str());
    set_program_edition(EDITION_32_BIT);
    return static_cast<DWORD>(exit_code);
  });
}

void machine_test::SetUp() {
  reset_process_state();
}

void machine_test::TearDown() {
  EXPECT_EQ(sim::unscripted_boxes(), 0) << "a box was shown that the test did not answer";
  if (expect_no_leaks) {
    std::vector<std::string> open = sim::leaks();
    for (const std::string &line : open)
      ADD_FAILURE() << "left open: " << line;
  }
}

void win2000_test::SetUp() {
  sim::machine_win2000();
  machine_test::SetUp();
}

void win98_test::SetUp() {
  sim::machine_win98();
  machine_test::SetUp();
}
