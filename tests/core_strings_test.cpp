// Code-page-932 string operations and file kinds.
#include "core/catalogue.h"
#include "core/cp932.h"
#include "core/file_kind.h"
#include "tests/support.h"

#include <cstring>

namespace {

int sign(int value) {
  return (value > 0) - (value < 0);
}

TEST(cp932_strings, comparisons) {
  struct row {
    const char *a, *b;
    int exact, nocase;
  } rows[] = {
      {"Driver", "Driver", 0, 0},
      {"driver", "Driver", 1, 0},
      {"InfPath", "INFPATH", 1, 0},
      {"USB\\Vid_1E7A&Pid_0080", "usb\\vid_1e7a&pid_0080", -1, 0},
      {"abc", "abcd", -1, -1},
      {"", "", 0, 0},
      {"\x82\x60", "\x82\x81", -1, 0},  // full-width A and a
      {"\x83\x9F", "\x83\xBF", -1, 0},  // Greek Alpha and alpha
      {"\x84\x4F", "\x84\x80", -1, 0},  // Cyrillic O and o, across the code page's gap
      {"\x83\x41", "\x83\x61", -1, -1}, // katakana: no case
      // A trail byte that looks like a letter is not case-folded on its own.
      {"\x83\x61", "\x83\x41", 1, 1},
      // Half-width katakana sorts before any double-byte character.
      {"\xB1", "\x81\x40", -1, -1},
  };
  for (const row &r : rows) {
    EXPECT_EQ(sign(cp932_compare(r.a, r.b)), r.exact) << r.a << " / " << r.b;
    EXPECT_EQ(sign(cp932_compare_nocase(r.a, r.b)), r.nocase) << r.a << " / " << r.b;
  }
}

TEST(cp932_strings, bounded_comparisons) {
  // Characters: a double-byte character counts once.
  EXPECT_EQ(cp932_compare_chars("Q40PUCOMX", "Q40PUCOM", 8), 0);
  EXPECT_NE(cp932_compare_chars("Q40UCOM", "Q40UCOMX", 8), 0);
  EXPECT_EQ(cp932_compare_chars("\x83\x41\x83\x42x", "\x83\x41\x83\x42y", 2), 0);
  EXPECT_NE(cp932_compare_chars("\x83\x41\x83\x42x", "\x83\x41\x83\x42y", 3), 0);
  // Bytes: a description beginning with the prefix matches; a shorter one does not.
  EXPECT_EQ(cp932_compare_bytes("QUENDALQ40 PRO USBPort", "QUENDALQ40 PRO", 14), 0);
  EXPECT_NE(cp932_compare_bytes("QUENDALQ40", "QUENDALQ40 PRO", 14), 0);
  EXPECT_NE(cp932_compare_bytes("quendalq40 pro", "QUENDALQ40 PRO", 14), 0);
  // The bound cuts a double-byte character: only its lead byte is compared.
  EXPECT_EQ(cp932_compare_bytes("a\x83\x41", "a\x83\x42", 2), 0);
  EXPECT_NE(cp932_compare_bytes("a\x83\x41", "a\x83\x42", 3), 0);
}

TEST(cp932_strings, lower_keeps_double_byte_characters_together) {
  char text[] = "USB_TA,USB\\Vid_1E7A&Pid_0080 \x82\x60\x83\x41\x83\x61";
  cp932_lower(text);
  // ASCII and the full-width A are lowered; katakana whose trail byte looks like 'A' or 'a' is not.
  EXPECT_STREQ(text, "usb_ta,usb\\vid_1e7a&pid_0080 \x82\x81\x83\x41\x83\x61");
}

// Names whose double-byte characters end in 0x5C or 0x7C: ソ (83 5C), 表 (95 5C), 能 (94 5C),
// 十 (8F 5C), 予 (97 5C), ポ (83 7C). Walks by character find only the real separators.
TEST(cp932_strings, walks_never_stop_inside_a_character) {
  const struct {
    const char *text;
    size_t characters, first_separator, last_separator;
  } rows[] = {
      {"\x83\x5C\x83\x74\x83\x67.dll", 7, 10, 10},    // ソフト.dll: no separator
      {"C:\\inf\\\x95\x5C\x8E\xA6.inf", 13, 2, 6},    // C:\inf\表示.inf
      {"\x94\x5C\x8F\x5C\x97\x5C|\x83\x7C", 5, 6, 6}, // 能十予|ポ
      {"a\x83", 2, 2, 2},                             // a lead byte at the end
      {"", 0, 0, 0},
  };
  for (const auto &r : rows) {
    size_t size = std::strlen(r.text);
    EXPECT_EQ(cp932_char_count(r.text, size), r.characters) << r.text;
    EXPECT_EQ(cp932_find_first_of(r.text, size, "\\|"), r.first_separator) << r.text;
    EXPECT_EQ(cp932_find_last_of(r.text, size, "\\|"), r.last_separator) << r.text;
  }
  // Folding changes letters only, and never a trail byte: ヂ (83 61) stays apart from ア (83 41).
  char text[] = "a\x83\x61\x82\x81\x95\x5Cz";
  cp932_upper_bytes(text, sizeof text - 1);
  EXPECT_STREQ(text, "A\x83\x61\x82\x60\x95\x5CZ");
  for (unsigned c = 0; c < 0x10000; ++c)
    EXPECT_EQ(cp932_upper_char(cp932_lower_char(cp932_upper_char(c))), cp932_upper_char(c)) << c;
}

TEST(cp932_strings, copy_is_bounded_terminated_and_zero_filled) {
  char target[NAME_SIZE];
  memset(target, 'x', sizeof target);
  cp932_copy(target, sizeof target, "OEM12.inf");
  EXPECT_STREQ(target, "OEM12.inf");
  for (size_t i = strlen("OEM12.inf"); i < sizeof target; ++i)
    ASSERT_EQ(target[i], 0) << "byte " << i;

  // 258 ASCII bytes, then a double-byte character over bytes 258 and 259: it does not fit
  // with the terminator, so the copy ends before it.
  std::string name(258, 'a');
  name += "\x83\x41";
  memset(target, 'x', sizeof target);
  cp932_copy(target, sizeof target, name.c_str());
  EXPECT_EQ(strlen(target), 258u);
  EXPECT_EQ(target[258], 0);
  EXPECT_EQ(target[259], 0);

  // 257 ASCII bytes: the double-byte character fits exactly before the terminator.
  name = std::string(257, 'a') + "\x83\x41";
  cp932_copy(target, sizeof target, name.c_str());
  EXPECT_EQ(strlen(target), 259u);

  // Longer than the buffer: cut so that the terminator fits.
  name = std::string(400, 'b');
  cp932_copy(target, sizeof target, name.c_str());
  EXPECT_EQ(strlen(target), 259u);

  // A lead byte right before the terminator is copied as a single byte.
  cp932_copy(target, sizeof target, "ab\x83");
  EXPECT_STREQ(target, "ab\x83");
}

TEST(cp932_strings, append_never_cuts) {
  char path[16] = "C:\\WINDOWS";
  EXPECT_EQ(append_text(path, sizeof path, "\\inf\\"), 1);
  EXPECT_STREQ(path, "C:\\WINDOWS\\inf\\");
  EXPECT_EQ(append_text(path, sizeof path, "a"), 0) << "needs 17 bytes with the terminator";
  EXPECT_STREQ(path, "C:\\WINDOWS\\inf\\");

  char number[32] = "ControlSet";
  EXPECT_EQ(append_number(number, sizeof number, 1, 3), 1);
  EXPECT_STREQ(number, "ControlSet001");
  char oem[32] = "OEM";
  EXPECT_EQ(append_number(oem, sizeof oem, 99, 0), 1);
  EXPECT_STREQ(oem, "OEM99");
  char small[4] = "";
  EXPECT_EQ(append_number(small, sizeof small, 1000, 3), 0);
  EXPECT_STREQ(small, "");

  char unterminated[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(append_text(unterminated, sizeof unterminated, ""), 0);
  EXPECT_EQ(bounded_length(unterminated, sizeof unterminated), 4u);
}

TEST(file_kind, by_last_three_characters_in_any_case) {
  struct row {
    const char *name;
    int kind;
  } rows[] = {
      {"Q40PPORT.VxD", FILE_KIND_VXD}, {"Q-4PORT.VXD", FILE_KIND_VXD},
      {"Q40PUSB.SYS", FILE_KIND_SYS},  {"OTHER\\DVXQ40USB.INF", FILE_KIND_INF},
      {"MDMKORT3.PNF", FILE_KIND_PNF}, {"driversys", FILE_KIND_SYS},
      {"oem3.inf ", FILE_KIND_OTHER},  {"inf", FILE_KIND_INF},
      {"nf", FILE_KIND_OTHER},         {"", FILE_KIND_OTHER},
      {nullptr, FILE_KIND_OTHER},      {"readme.txt", FILE_KIND_OTHER},
  };
  for (const row &r : rows)
    EXPECT_EQ(classify_file_kind(r.name), r.kind) << (r.name ? r.name : "(null)");

  // Where each kind lies in the two lists ("" for no folder), and the path that does not fit.
  struct placement_row {
    const char *name, *nt_path, *win98_path;
  } places[] = {
      {"Q40PUCOM.SYS", "C:\\W\\S\\drivers\\Q40PUCOM.SYS", "C:\\W\\S\\Q40PUCOM.SYS"},
      {"Q-4PORT.VXD", "", "C:\\W\\S\\Q-4PORT.VXD"},
      {"OTHER\\DVXQ40USB.INF", "C:\\W\\inf\\OTHER\\DVXQ40USB.INF",
       "C:\\W\\inf\\OTHER\\DVXQ40USB.INF"},
      {"MDMKORT3.PNF", "C:\\W\\inf\\MDMKORT3.PNF", "C:\\W\\inf\\MDMKORT3.PNF"},
      {"readme.txt", "", ""},
      {"long-name-that-does-not-fit.inf", "", ""},
  };
  for (const placement_row &r : places) {
    char path[32] = "x";
    EXPECT_EQ(nt_file_path(path, sizeof path, "C:\\W", "C:\\W\\S", r.name), r.nt_path[0] != 0);
    EXPECT_STREQ(path, r.nt_path) << r.name;
    EXPECT_EQ(win98_file_path(path, sizeof path, "C:\\W", "C:\\W\\S", r.name),
              r.win98_path[0] != 0);
    EXPECT_STREQ(path, r.win98_path) << r.name;
  }

  // Only the first 259 bytes of a name are looked at.
  std::string long_name = std::string(255, 'a') + ".sys" + ".txt";
  EXPECT_EQ(classify_file_kind(long_name.c_str()), FILE_KIND_SYS);
}

TEST(file_kind, pnf_twin_rewrites_the_last_three_characters) {
  struct row {
    const char *name, *twin;
    int rewritten;
  } rows[] = {
      {"oem7.inf", "oem7.pnf", 1},
      {"OEM12.INF", "OEM12.pnf", 1},
      {"x\x83\x41\x83\x42", "pnf", 1}, // two double-byte characters among the last three
      {"oem\x83\x41nf", "oempnf", 1},  // a double-byte character counts as one
      {"ab", "ab", 0},
  };
  for (const row &r : rows) {
    char field[NAME_SIZE];
    memset(field, 'x', sizeof field);
    cp932_copy(field, sizeof field, r.name);
    EXPECT_EQ(set_pnf_extension(field, sizeof field), r.rewritten) << r.name;
    EXPECT_STREQ(field, r.twin);
    for (size_t i = strlen(r.twin); i < sizeof field; ++i)
      ASSERT_EQ(field[i], 0) << r.name << " byte " << i;
  }
}

} // namespace
