// .reg files: both formats read into the same registry, exports read back unchanged, and
// malformed files refused with their line.
#include "tests/support.h"
#include "tests/tools_support.h"
#include "tools/machine_file.h"
#include "tools/reg_file.h"
#include "tools/snapshot.h"

#include <filesystem>
#include <fstream>

namespace {

// The same content in both formats. "値ソ" ends in 0x83 0x5C: its trail byte is a backslash
// in code page 932, right before the closing quote.
const char sample_body[] = R"(
; comment lines are skipped
[HKEY_LOCAL_MACHINE\SOFTWARE\Sample]
@="default"
"Plain"="text"
"Escaped"="say \"hi\" in C:\\dir\\"
"Empty"=""
"Count"=dword:0000002a
"Binary"=hex:00,01,fe,FF
"NoBytes"=hex:
"None"=hex(0):01,02
"BigEndian"=hex(5):00,00,00,01
"Qword"=hex(b):01,00,00,00,00,00,00,00
"Long"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\
  17,18,19,\
  1a
"名前"="値ソ"
"Old"=-

[HKEY_LOCAL_MACHINE\SOFTWARE\Sample\日本語キー表示能予]
"x"=dword:1

[-HKEY_LOCAL_MACHINE\SOFTWARE\Gone]
)";

const char regedit4_strings[] = R"(
[HKEY_LOCAL_MACHINE\SOFTWARE\Sample]
"Expand"=hex(2):25,53,79,73,74,65,6d,52,6f,6f,74,25,00
"Multi"=hex(7):61,00,83,5c,00,00
)";

const char regedit5_strings[] = R"(
[HKEY_LOCAL_MACHINE\SOFTWARE\Sample]
"Expand"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,00,\
  25,00,00,00
"Multi"=hex(7):61,00,00,00,bd,30,00,00,00,00
)";

// Content that the sample replaces or deletes.
void existing_content() {
  sim::reg_set_string("SOFTWARE\\Sample", "Old", "x");
  sim::reg_add_key("SOFTWARE\\Gone\\Sub");
}

// "\k\k..." with `levels` names.
std::string deep_path(int levels) {
  std::string path;
  for (int i = 0; i < levels; ++i)
    path += "\\k";
  return path;
}

bool load(const std::string &bytes, reg_format &format, load_error &error) {
  std::vector<reg_op> ops;
  if (!read_reg_text(bytes, "sample.reg", format, ops, error))
    return false;
  apply_reg(ops);
  return true;
}

std::string load_sample(const std::string &bytes, reg_format expected_format) {
  sim::machine_win2000();
  existing_content();
  reg_format format = reg_format_regedit4;
  load_error error;
  EXPECT_TRUE(load(bytes, format, error)) << describe(error);
  EXPECT_EQ(format, expected_format);
  return registry_dump();
}

std::string regedit4_sample() {
  return cp932(std::string("REGEDIT4\n") + sample_body + regedit4_strings);
}

std::string regedit5_sample() {
  return utf16_file(std::string("Windows Registry Editor Version 5.00\n") + sample_body +
                    regedit5_strings);
}

TEST(reg_file, both_formats_give_the_same_registry) {
  std::string from4 = load_sample(regedit4_sample(), reg_format_regedit4);
  std::string from5 = load_sample(regedit5_sample(), reg_format_regedit5);
  EXPECT_EQ(from4, from5);
}

TEST(reg_file, every_value_form_is_read) {
  load_sample(regedit5_sample(), reg_format_regedit5);
  const std::string key = "SOFTWARE\\Sample";
  struct row {
    std::string name;
    DWORD type;
    std::string data;
  } rows[] = {
      {"", REG_SZ, std::string("default", 8)},
      {"Plain", REG_SZ, std::string("text", 5)},
      {"Escaped", REG_SZ, std::string("say \"hi\" in C:\\dir\\", 20)},
      {"Empty", REG_SZ, std::string(1, '\0')},
      {"Count", REG_DWORD, std::string("\x2a\0\0\0", 4)},
      {"Binary", REG_BINARY, std::string("\x00\x01\xfe\xff", 4)},
      {"NoBytes", REG_BINARY, ""},
      {"None", 0, "\x01\x02"},
      {"BigEndian", 5, std::string("\0\0\0\x01", 4)},
      {"Qword", 11, std::string("\x01\0\0\0\0\0\0\0", 8)},
      {"Expand", REG_EXPAND_SZ, std::string("%SystemRoot%", 13)},
      {"Multi", REG_MULTI_SZ,
       cp932("a") + std::string(1, '\0') + cp932("ソ") + std::string(2, '\0')},
      {cp932("名前"), REG_SZ, cp932("値ソ") + std::string(1, '\0')},
  };
  std::vector<sim::reg_value_data> values = sim::reg_value_list(key);
  for (const row &r : rows) {
    bool found = false;
    for (const sim::reg_value_data &v : values)
      if (v.name == r.name) {
        found = true;
        EXPECT_EQ(v.type, r.type) << r.name;
        EXPECT_EQ(v.data, r.data) << r.name;
      }
    EXPECT_TRUE(found) << r.name;
  }
  std::string long_data;
  for (int i = 0; i <= 0x1a; ++i)
    long_data += static_cast<char>(i);
  EXPECT_EQ(sim::reg_value(key, "Long"), long_data);
  EXPECT_FALSE(sim::reg_value_exists(key, "Old"));
  EXPECT_FALSE(sim::reg_key_exists("SOFTWARE\\Gone"));
  // 表, 示... end in 0x5C: one key, not four nested ones.
  EXPECT_EQ(sim::reg_subkeys(key), std::vector<std::string>{cp932("日本語キー表示能予")});
  EXPECT_EQ(sim::reg_value(key + "\\" + cp932("日本語キー表示能予"), "x"),
            std::string("\1\0\0\0", 4));
}

TEST(reg_file, operations_keep_their_lines) {
  reg_format format;
  std::vector<reg_op> ops;
  load_error error;
  ASSERT_TRUE(
      read_reg_text(cp932(std::string("REGEDIT4\n") + sample_body), "s.reg", format, ops, error));
  ASSERT_GE(ops.size(), 3u);
  EXPECT_EQ(ops[0].kind, reg_op::add_key);
  EXPECT_EQ(ops[0].line, 4);
  EXPECT_EQ(ops[1].line, 5);
  EXPECT_EQ(ops.back().kind, reg_op::delete_key);
  EXPECT_EQ(ops.back().key, "SOFTWARE\\Gone");
  EXPECT_EQ(ops.back().line, 24);
}

// Exporting and loading the export again gives the same registry, and the same file.
TEST(reg_file, round_trip_in_both_formats) {
  for (reg_format format : {reg_format_regedit4, reg_format_regedit5}) {
    load_sample(regedit4_sample(), reg_format_regedit4);
    // Data that a "text" value cannot carry, and names that need escapes.
    sim::reg_set_value("SOFTWARE\\Odd", "line break", REG_SZ, std::string("a\r\nb", 5));
    sim::reg_set_value("SOFTWARE\\Odd", "no terminator", REG_SZ, "abc");
    sim::reg_set_value("SOFTWARE\\Odd", "short dword", REG_DWORD, "\x01\x02");
    sim::reg_set_value("SOFTWARE\\Odd", "q\"uo\\te", REG_EXPAND_SZ, std::string("x\0", 2));
    sim::reg_add_key("SOFTWARE\\Odd\\Empty");
    sim::reg_set_dword("SOFTWARE\\Odd" + deep_path(510), "deepest", 1); // 512 levels
    std::string before = registry_dump();
    std::string exported, problem;
    ASSERT_TRUE(write_reg(format, exported, problem)) << problem;
    EXPECT_EQ(exported.find("CurrentControlSet"), std::string::npos) << "aliases are left out";

    sim::machine_win2000();
    reg_format read_format;
    load_error error;
    ASSERT_TRUE(load(exported, read_format, error)) << describe(error);
    EXPECT_EQ(read_format, format);
    EXPECT_EQ(registry_dump(), before) << "format " << format;
    std::string again;
    ASSERT_TRUE(write_reg(format, again, problem));
    EXPECT_EQ(again, exported);
  }
}

TEST(reg_file, export_is_written_as_the_tools_write_it) {
  sim::machine_win98();
  sim::reg_set_string("Enum\\Root\\Ports\\0000", "DeviceDesc", "COM \"1\"");
  sim::reg_set_dword("Enum\\Root\\Ports\\0000", "Flags", 0x1234);
  std::string long_data(30, '\x41');
  sim::reg_set_value("Enum\\Root\\Ports\\0000", "Long", REG_BINARY, long_data);
  std::string text, problem;
  ASSERT_TRUE(write_reg(reg_format_regedit4, text, problem));
  EXPECT_EQ(text.compare(0, 12, "REGEDIT4\r\n\r\n"), 0);
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Enum\\Root\\Ports\\0000]\r\n"
                      "\"DeviceDesc\"=\"COM \\\"1\\\"\"\r\n"
                      "\"Flags\"=dword:00001234\r\n"
                      "\"Long\"=hex:41,41,41,41,41,41,41,41,41,41,41,41,41,41,41,41,41,41,41,41,"
                      "41,41,\\\r\n  41,41,41,41,41,41,41,41\r\n\r\n"),
            std::string::npos)
      << text;
  std::string unicode;
  ASSERT_TRUE(write_reg(reg_format_regedit5, unicode, problem));
  EXPECT_EQ(unicode.compare(0, 4, std::string("\xFF\xFEW\0", 4)), 0);
}

TEST(reg_file, names_with_line_breaks_are_not_exported) {
  sim::machine_win2000();
  sim::reg_set_string("SOFTWARE\\X", "two\nlines", "x");
  std::string text, problem;
  EXPECT_FALSE(write_reg(reg_format_regedit5, text, problem));
  EXPECT_NE(problem.find("line break"), std::string::npos);
}

// A file that Windows could not have written is refused with its line. A value whose name
// or data cannot be read is skipped with a warning naming its first line, as regedit exports
// such values as they are: the lines that carry it on go with it, and the next value is read.
TEST(reg_file, malformed_input_is_refused_or_skipped_with_its_line) {
  enum { refused, skipped };
  struct row {
    std::string text; // REGEDIT4 text after the header line
    int line;
    const char *what;
    int outcome;
  } rows[] = {
      {"\"a\"=\"b\"\n", 2, "before the first [key]", refused},
      {"[HKEY_LOCAL_MACHINE\\X\n", 2, "must end with ']'", refused},
      {"[HKEY_LOCAL_MACHINE\\" + std::string(256, 'k') + "]\n", 2, "256 characters", refused},
      {"[HKEY_LOCAL_MACHINE\\X]\n\"" + std::string(16384, 'v') + "\"=\"\"\n", 3, "16384 characters",
       refused},
      {"[HKEY_LOCAL_MACHINE" + deep_path(513) + "]\n", 2, "513 levels deep", refused},
      {"\n[HKEY_LOCAL_MACHINE" + deep_path(50000) + "]\n", 3, "50000 levels deep", refused},
      {"[HKEY_NOWHERE\\X]\n", 2, "unknown root key", refused},
      {"[HKEY_LOCAL_MACHINE\\A\\\\B]\n", 2, "empty key name", refused},
      {"[-HKEY_LOCAL_MACHINE\\X]\n\"a\"=\"b\"\n", 3, "under a [-key]", refused},
      {"[HKEY_LOCAL_MACHINE\\X]\nname=1\n", 3, "expected a [key] line", refused},
      {"[HKEY_LOCAL_MACHINE\\X]\n\"a\"=\"open\n", 3, "not closed", skipped},
      // A string with a line break, as regedit writes it: the rest of it goes too.
      {"[HKEY_LOCAL_MACHINE\\X]\n\"a\"=\"two\nlines\"\n", 3, "not closed", skipped},
      {"[HKEY_LOCAL_MACHINE\\X]\n\"a\"=\"tab\\there\"\n", 3, "unknown escape", skipped},
      {"[HKEY_LOCAL_MACHINE\\X]\n\"a\" \"b\"\n", 3, "expected '='", skipped},
      {"[HKEY_LOCAL_MACHINE\\X]\n\"a\"=dword:123456789\n", 3, "dword:", skipped},
      {"[HKEY_LOCAL_MACHINE\\X]\n\"a\"=dword:\n", 3, "dword:", skipped},
      {"[HKEY_LOCAL_MACHINE\\X]\n\"a\"=dword:12 34\n", 3, "after the dword", skipped},
      {"[HKEY_LOCAL_MACHINE\\X]\n\"a\"=hex:0g\n", 3, "bad hex byte", skipped},
      {"[HKEY_LOCAL_MACHINE\\X]\n\"a\"=hex:00,,01\n", 3, "bad hex byte", skipped},
      {"[HKEY_LOCAL_MACHINE\\X]\n\"a\"=hex:00,01,\n", 3, "missing after the last ','", skipped},
      {"[HKEY_LOCAL_MACHINE\\X]\n\"a\"=hex:00 01\n", 3, "expected ','", skipped},
      {"[HKEY_LOCAL_MACHINE\\X]\n\"a\"=hex(zz):00\n", 3, "bad value type", skipped},
      {"[HKEY_LOCAL_MACHINE\\X]\n\"a\"=hex:00,\\\n  01,\\\n  zz\n", 3, "bad hex byte", skipped},
      {"[HKEY_LOCAL_MACHINE\\X]\n\"a\"=text\n", 3, "unknown value data", skipped},
      {"[HKEY_LOCAL_MACHINE\\X]\n\"a\"=\"x\" y\n", 3, "after the string", skipped},
      {"[HKEY_LOCAL_MACHINE\\X]\n\"a\"=-x\n", 3, "after '=-'", skipped},
      // Windows 2000 to 11: hex(2) data of odd length, which regedit exports as it is.
      {"[HKEY_LOCAL_MACHINE\\X]\n\"a\"=hex(2):41,00,42\n", 3, "odd number of bytes", skipped},
  };
  for (const row &r : rows) {
    for (reg_format written : {reg_format_regedit4, reg_format_regedit5}) {
      bool unicode = written == reg_format_regedit5;
      if (unicode != (std::string(r.what) == "odd number of bytes") && r.outcome == skipped)
        continue;
      std::string text = r.text + (r.outcome == skipped ? "\"next\"=dword:1\n" : "");
      std::string bytes = unicode ? utf16_file("Windows Registry Editor Version 5.00\n" + text)
                                  : "REGEDIT4\r\n" + text;
      reg_format format;
      std::vector<reg_op> ops;
      load_error error;
      std::vector<load_error> warnings;
      bool read = read_reg_text(bytes, "bad.reg", format, ops, error, &warnings);
      if (r.outcome == refused) {
        EXPECT_FALSE(read) << r.text;
        EXPECT_EQ(error.file, "bad.reg");
        EXPECT_EQ(error.line, r.line) << r.text;
        EXPECT_NE(error.what.find(r.what), std::string::npos) << r.text << " -> " << error.what;
        break;
      }
      ASSERT_TRUE(read) << r.text << " -> " << describe(error);
      ASSERT_EQ(warnings.size(), 1u) << r.text;
      EXPECT_EQ(warnings[0].line, r.line) << r.text;
      EXPECT_EQ(warnings[0].kind, "malformed values skipped");
      EXPECT_NE(describe_warning(warnings[0])
                    .find("bad.reg:" + std::to_string(r.line) + ": warning: value skipped: "),
                std::string::npos);
      EXPECT_NE(warnings[0].what.find(r.what), std::string::npos) << warnings[0].what;
      ASSERT_EQ(ops.size(), 2u) << r.text;
      EXPECT_EQ(ops[1].name, "next");
    }
  }
}

// regedit writes keys in name order: CurrentControlSet (a copy of the set the machine runs on)
// comes before SYSTEM\Select, which names that set. On a machine that runs on ControlSet002
// the copy's content belongs there, not on ControlSet001.
TEST(reg_file, select_applies_wherever_the_export_has_it) {
  const char body[] = "Windows Registry Editor Version 5.00\n\n"
                      "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Services\\Serial]\n"
                      "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet002\\Services\\Q40PUCOM]\n"
                      "\"Start\"=dword:00000003\n"
                      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Q40PUCOM]\n"
                      "\"Start\"=dword:00000004\n"
                      "[HKEY_LOCAL_MACHINE\\SYSTEM\\Select]\n"
                      "\"Current\"=dword:00000002\n"
                      "\"Default\"=dword:00000002\n";
  // As a machine's .reg file, and as a snapshot's export (its keys read apart from the
  // machine, CurrentControlSet's replayed through the link after them).
  std::string folder = ::testing::TempDir() + "select_snapshot";
  std::filesystem::create_directories(folder);
  std::ofstream(folder + "/WHERE.TXT") << "windows C:\\WINDOWS\r\nfamily nt\r\nsystem "
                                          "C:\\WINDOWS\\system32\r\n";
  std::ofstream(folder + "/VER.TXT") << "\r\nMicrosoft Windows [Version 10.0.19045.3803]\r\n";
  std::ofstream(folder + "/SYSTEM.REG", std::ios::binary) << utf16_file(body);
  for (bool snapshot : {false, true}) {
    sim::machine_win2000();
    reg_format format;
    load_error error;
    machine_description m;
    if (snapshot) {
      ASSERT_TRUE(read_snapshot(folder, m, error)) << describe(error);
      apply_machine(m);
    } else {
      ASSERT_TRUE(load(utf16_file(body), format, error)) << describe(error);
    }
    EXPECT_FALSE(sim::reg_key_exists("SYSTEM\\ControlSet001\\Services\\Q40PUCOM")) << snapshot;
    EXPECT_EQ(std::string("\x04\0\0\0", 4),
              sim::reg_value("SYSTEM\\ControlSet002\\Services\\Q40PUCOM", "Start"))
        << snapshot;
    EXPECT_FALSE(sim::reg_key_exists("SYSTEM\\CurrentControlSet\\Services\\Serial")) << snapshot;
  }
}

// A Unicode export is read a block of key sections at a time: what it holds, its warnings and
// their lines are those of the same bytes read whole, sections, continuation lines and lines
// with characters beyond ASCII falling across the blocks wherever they may.
TEST(reg_file, a_large_file_reads_as_the_same_text_read_whole) {
  std::string text = "Windows Registry Editor Version 5.00\n\n";
  for (int i = 0; text.size() < (6u << 20); ++i) {
    text += "[HKEY_LOCAL_MACHINE\\SYSTEM\\DriverDatabase\\DeviceIds\\k" + std::to_string(i) +
            "]\n\"v\"=hex(2):41,00,42,00,\\\n  43,00,00,00\n" +
            (i % 997 == 0 ? "\"Name\"=\"caf\xC3\xA9 \xE8\xA1\xA8\"\n" : "") +
            (i % 1499 == 0 ? "\"Odd\"=hex(2):41,00,42\n" : "");
    // A value of a megabyte, as AppCompatCache holds, in continuation lines across a block.
    if (i == 10000) {
      text += "\"Big\"=hex:00";
      for (int b = 1; b < (1 << 20); ++b)
        text += b % 25 ? ",01" : ",\\\n  02";
      text += "\n";
    }
    text += "\n";
  }
  std::string bytes = utf16_file(text);
  std::string path = ::testing::TempDir() + "large.reg";
  std::ofstream(path, std::ios::binary) << bytes;
  reg_format format_whole, format_file;
  std::vector<reg_op> whole, file;
  load_error error;
  std::vector<load_error> warnings_whole, warnings_file;
  ASSERT_TRUE(read_reg_text(bytes, path, format_whole, whole, error, &warnings_whole));
  reg_op_list list;
  ASSERT_TRUE(read_reg_file(path, format_file, list, error, &warnings_file)) << describe(error);
  for_each_reg_op(list, [&file](const reg_op &op) { file.push_back(op); });
  ASSERT_EQ(whole.size(), file.size());
  for (size_t i = 0; i < whole.size(); ++i)
    ASSERT_TRUE(whole[i].kind == file[i].kind && whole[i].key == file[i].key &&
                whole[i].name == file[i].name && whole[i].type == file[i].type &&
                whole[i].data == file[i].data && whole[i].line == file[i].line)
        << i;
  ASSERT_EQ(warnings_whole.size(), warnings_file.size());
  EXPECT_GT(warnings_whole.size(), 10u);
  for (size_t i = 0; i < warnings_whole.size(); ++i)
    EXPECT_EQ(describe_warning(warnings_whole[i]), describe_warning(warnings_file[i]));
}

TEST(reg_file, malformed_files_as_a_whole) {
  struct row {
    std::string bytes;
    int line;
    const char *what;
  } rows[] = {
      {"REGEDIT5\r\n", 1, "the first line must be"},
      {"", 1, "the first line must be"},
      {"\xEF\xBB\xBFREGEDIT4\r\n", 1, "not an encoding"},
      {utf16_file("Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\X]\n") + "A", 3,
       "middle of a UTF-16 character"},
  };
  for (const row &r : rows) {
    reg_format format;
    std::vector<reg_op> ops;
    load_error error;
    EXPECT_FALSE(read_reg_text(r.bytes, "bad.reg", format, ops, error));
    EXPECT_EQ(error.line, r.line) << r.what;
    EXPECT_NE(error.what.find(r.what), std::string::npos) << r.what << " -> " << error.what;
    EXPECT_EQ(describe(error), "bad.reg:" + std::to_string(r.line) + ": " + error.what);
  }
}

// A whole-registry export: the other roots are skipped, characters that code page 932 lacks
// are read as '?', each with a warning naming its line; HKEY_LOCAL_MACHINE is kept.
TEST(reg_file, real_exports_are_read_with_warnings) {
  std::string text = "Windows Registry Editor Version 5.00\n"
                     "\n"
                     "[HKEY_CURRENT_USER\\Software\\X]\n"
                     "\"a\"=hex:00,\\\n"
                     "  01\n"
                     "\n"
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\xC2\xAE Windows\xC2\xAE]\n"
                     "\"Name\"=hex(2):41,00,3d,d8,00,de,00,00\n"
                     "[HKEY_CLASSES_ROOT\\.txt]\n"
                     "@=\"txtfile\"\n";
  reg_format format;
  std::vector<reg_op> ops;
  load_error error;
  std::vector<load_error> warnings;
  ASSERT_TRUE(read_reg_text(utf16_file(text), "full.reg", format, ops, error, &warnings))
      << describe(error);
  sim::machine_win2000();
  apply_reg(ops);
  EXPECT_EQ(sim::reg_subkeys("SOFTWARE"), std::vector<std::string>{"Microsoft? Windows?"});
  EXPECT_EQ(sim::reg_value("SOFTWARE\\Microsoft? Windows?", "Name"), std::string("A?\0", 3));
  std::vector<std::string> shown;
  for (const load_error &w : warnings)
    shown.push_back(describe_warning(w));
  const std::string lost =
      " outside code page 932 read as '?', as Windows' ANSI functions see them";
  EXPECT_EQ(shown, (std::vector<std::string>{
                       "full.reg:3: warning: section of HKEY_CURRENT_USER skipped: only "
                       "HKEY_LOCAL_MACHINE is simulated",
                       "full.reg:7: warning: 2 characters" + lost,
                       "full.reg:8: warning: string data: 1 character" + lost,
                       "full.reg:9: warning: section of HKEY_CLASSES_ROOT skipped: only "
                       "HKEY_LOCAL_MACHINE is simulated"}));
}

} // namespace
