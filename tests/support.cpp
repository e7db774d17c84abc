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

std::wstring from_utf8(const std::string &utf8) {
  std::wstring out;
  for (size_t i = 0; i < utf8.size();) {
    unsigned char lead = static_cast<unsigned char>(utf8[i]);
    int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    unsigned code = extra ? lead & (0x3F >> extra) : lead;
    for (int k = 1; k <= extra && i + k < utf8.size(); ++k)
      code = code << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    out += static_cast<wchar_t>(code);
    i += 1 + extra;
  }
  return out;
}

void run_as_32_bit_edition_under_wow64(beside_edition beside, const std::string &word,
                                       const std::wstring &folder) {
  set_program_edition(EDITION_32_BIT);
  sim::set_wow64(true);
  sim::set_program_path(folder + L"\\QuendalUninstall.exe");
  sim::set_command_line(L"\"" + folder + L"\\QuendalUninstall.exe\" " + widened(word));
  if (beside == NO_EDITION_BESIDE)
    return;
  if (beside == A_32_BIT_COPY_BESIDE) {
    sim::program_add(
        folder + L"\\QuendalUninstall64.exe",
        [](const std::wstring &) {
          ADD_FAILURE() << "the 32-bit copy named as the 64-bit edition was started";
          return DWORD(0xFFFFFFFF);
        },
        SCS_32BIT_BINARY);
    return;
  }
  sim::program_add(folder + L"\\QuendalUninstall64.exe", [](const std::wstring &line) {
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
