// The simulated registry: names, enumeration size rules, deletion on NT and Windows 98,
// the CurrentControlSet alias, access checks, handles, faults and accounting.
#include "sim/sim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

namespace {

class SimRegistry : public ::testing::Test {
protected:
  void SetUp() override { sim::machine_win2000(); }

  HKEY open(const char *path, REGSAM access = KEY_ALL_ACCESS) {
    HKEY k = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access, &k)) << path;
    return k;
  }
};

TEST_F(SimRegistry, NamesAreCaseInsensitiveAndCasePreserving) {
  sim::reg_set_string("Software\\Quendal\\Drivers", "InfPath", "oem3.inf");
  HKEY k = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\quendal", 0, KEY_READ, &k));
  char name[260];
  DWORD n = sizeof name;
  ASSERT_EQ(ERROR_SUCCESS, RegEnumKeyExA(k, 0, name, &n, nullptr, nullptr, nullptr, nullptr));
  EXPECT_STREQ("Drivers", name);
  EXPECT_EQ(7u, n);
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(k));
  EXPECT_TRUE(sim::reg_value_exists("software\\QUENDAL\\drivers", "INFPATH"));
  EXPECT_EQ(std::string("oem3.inf", 9), sim::reg_value("Software\\Quendal\\Drivers", "infpath"));
}

TEST_F(SimRegistry, SubkeysSortCaseInsensitivelyValuesKeepCreationOrder) {
  // Upper-cased byte by byte: full-width ａ (0x82 0x81) as Ａ (0x82 0x60), before ソ (0x83 0x5C)
  // and half-width ｱ (0xB1), a trail byte never folded (ヂ is 0x83 0x61).
  for (const char *name :
       {"\xB1", "b", "\x83\x61", "C", "a", "\x83\x5C", "B_", "0001", "\x82\x81", "Ab", "\x82\x60x"})
    sim::reg_add_key(std::string("T\\") + name);
  EXPECT_EQ((std::vector<std::string>{"0001", "a", "Ab", "b", "B_", "C", "\x82\x81", "\x82\x60x",
                                      "\x83\x5C", "\x83\x61", "\xB1"}),
            sim::reg_subkeys("T"));
  sim::reg_set_dword("T", "zeta", 1);
  sim::reg_set_dword("T", "Alpha", 2);
  sim::reg_set_dword("T", "ZETA", 3); // rewrites the first, keeps its place and name
  EXPECT_EQ((std::vector<std::string>{"zeta", "Alpha"}), sim::reg_values("T"));
  EXPECT_EQ(std::string("\x03\0\0\0", 4), sim::reg_value("T", "zeta"));
}

struct name_size_case {
  DWORD in;
  LONG result;
  DWORD out;
};

TEST_F(SimRegistry, EnumKeyNameSizeRules) {
  sim::reg_add_key("T\\Ports"); // 5 characters
  const name_size_case cases[] = {{0, ERROR_MORE_DATA, 0},
                                  {5, ERROR_MORE_DATA, 5},
                                  {6, ERROR_SUCCESS, 5},
                                  {260, ERROR_SUCCESS, 5}};
  HKEY k = open("T");
  for (const auto &c : cases) {
    char name[260];
    std::memset(name, 'x', sizeof name);
    DWORD n = c.in;
    EXPECT_EQ(c.result, RegEnumKeyExA(k, 0, name, &n, nullptr, nullptr, nullptr, nullptr)) << c.in;
    EXPECT_EQ(c.out, n) << c.in;
    if (c.result == ERROR_SUCCESS) {
      EXPECT_STREQ("Ports", name);
    } else {
      EXPECT_EQ('x', name[0]);
    }
  }
  DWORD n = 260;
  char name[260];
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyExA(k, 1, name, &n, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(k));
}

TEST_F(SimRegistry, EnumValueSizeRulesAndRawData) {
  std::string data("ab\0cd", 5); // unterminated, with an inner zero
  sim::reg_set_value("T", "Raw", REG_BINARY, data);
  sim::reg_set_value("T", std::string(259, 'N'), REG_SZ, std::string("x\0", 2));
  sim::reg_set_value("T", "Big", REG_BINARY, std::string(261, 'd'));
  HKEY k = open("T");
  char name[260];
  BYTE buf[260];
  DWORD n = 260, type = 0, size = 260;
  ASSERT_EQ(ERROR_SUCCESS, RegEnumValueA(k, 0, name, &n, nullptr, &type, buf, &size));
  EXPECT_STREQ("Raw", name);
  EXPECT_EQ(3u, n);
  EXPECT_EQ(DWORD(REG_BINARY), type);
  EXPECT_EQ(5u, size);
  EXPECT_EQ(0, std::memcmp(buf, data.data(), 5));

  n = 3; // name "Raw" needs 4
  size = 260;
  EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueA(k, 0, name, &n, nullptr, &type, buf, &size));
  n = 260;
  size = 4; // datum of 5 bytes
  EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueA(k, 0, name, &n, nullptr, &type, buf, &size));
  EXPECT_EQ(5u, size);
  n = 260;
  size = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegEnumValueA(k, 0, name, &n, nullptr, &type, nullptr, &size));
  EXPECT_EQ(5u, size); // no data buffer: just the size

  n = 260; // a 259-character name fits exactly
  size = 260;
  EXPECT_EQ(ERROR_SUCCESS, RegEnumValueA(k, 1, name, &n, nullptr, &type, buf, &size));
  EXPECT_EQ(259u, n);
  n = 260;
  size = 260; // 261 bytes do not fit in 260
  EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueA(k, 2, name, &n, nullptr, &type, buf, &size));
  n = 260;
  size = 260;
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumValueA(k, 3, name, &n, nullptr, &type, buf, &size));
  RegCloseKey(k);
}

TEST_F(SimRegistry, OpenAcceptsTrailingBackslashAndEmptySubkey) {
  HKEY cls =
      open("SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\");
  HKEY again = nullptr, again2 = nullptr;
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(cls, "", 0, KEY_READ, &again));
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(cls, nullptr, 0, KEY_READ, &again2));
  EXPECT_NE(cls, again);
  EXPECT_NE(again, again2);
  HKEY missing = reinterpret_cast<HKEY>(1);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Nope\\Deeper", 0, KEY_READ, &missing));
  EXPECT_EQ(nullptr, missing);
  for (HKEY k : {cls, again, again2})
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(k));
  EXPECT_TRUE(sim::leaks().empty());
}

struct deny_case {
  REGSAM denied;
  REGSAM requested;
  LONG result;
};

TEST_F(SimRegistry, AccessDenial) {
  const deny_case cases[] = {
      {KEY_WRITE, KEY_ALL_ACCESS, ERROR_ACCESS_DENIED},
      {KEY_WRITE, KEY_WRITE, ERROR_ACCESS_DENIED},
      {KEY_WRITE, KEY_READ, ERROR_SUCCESS},
      {KEY_ALL_ACCESS, KEY_READ, ERROR_ACCESS_DENIED},
      {0, KEY_ALL_ACCESS, ERROR_SUCCESS},
  };
  for (const auto &c : cases) {
    sim::machine_win2000();
    sim::reg_deny("Enum\\Root\\Ports", c.denied);
    HKEY k = nullptr;
    EXPECT_EQ(c.result, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\Root\\Ports", 0, c.requested, &k))
        << std::hex << c.denied << " " << c.requested;
    if (k)
      RegCloseKey(k);
  }
}

TEST_F(SimRegistry, NtDeleteKeyRefusesSubkeysAndReportsAbsence) {
  sim::reg_add_key("SYSTEM\\CurrentControlSet\\Services\\Q40PUSB\\Enum");
  HKEY services = open("SYSTEM\\CurrentControlSet\\Services\\");
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(services, "Q40PUSB"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(services, "Absent"));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(services, "q40pusb\\ENUM"));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(services, "Q40PUSB"));
  EXPECT_FALSE(sim::reg_key_exists("SYSTEM\\ControlSet001\\Services\\Q40PUSB"));
  ASSERT_EQ(2u, sim::changes().size());
  EXPECT_EQ(sim::change::key_deleted, sim::changes()[0].kind);
  EXPECT_EQ("HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Services\\Q40PUSB\\Enum",
            sim::changes()[0].subject);
  EXPECT_EQ("HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Services\\Q40PUSB",
            sim::changes()[1].subject);
  RegCloseKey(services);
}

TEST_F(SimRegistry, DeleteWithTrailingBackslashDeletesTheNamedKey) {
  // "Class\" names the key Class itself: on Windows 98 the whole class branch goes.
  sim::machine_win98();
  sim::reg_add_key("System\\CurrentControlSet\\Services\\Class\\Modem\\0000");
  EXPECT_EQ(ERROR_SUCCESS,
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\Class\\"));
  EXPECT_FALSE(sim::reg_key_exists("System\\CurrentControlSet\\Services\\Class"));
  EXPECT_TRUE(sim::reg_key_exists("System\\CurrentControlSet\\Services\\VxD"));
}

TEST_F(SimRegistry, Win98DeletesSubtreeRecordingParentFirst) {
  sim::machine_win98();
  EXPECT_TRUE(sim::is_win98());
  sim::reg_add_key("Enum\\USB\\VID_1E7A&PID_0080\\5&1\\Sub");
  sim::reg_add_key("Enum\\USB\\VID_1E7A&PID_0080\\6&2");
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Enum\\USB\\VID_1E7A&PID_0080"));
  EXPECT_FALSE(sim::reg_key_exists("Enum\\USB\\VID_1E7A&PID_0080"));
  EXPECT_TRUE(sim::reg_key_exists("Enum\\USB"));
  std::vector<std::string> got;
  for (auto &c : sim::changes())
    got.push_back(c.subject);
  EXPECT_EQ((std::vector<std::string>{"HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_1E7A&PID_0080",
                                      "HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_1E7A&PID_0080\\5&1",
                                      "HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_1E7A&PID_0080\\5&1\\Sub",
                                      "HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_1E7A&PID_0080\\6&2"}),
            got);
}

TEST_F(SimRegistry, HandleToDeletedKeyAnswersKeyDeleted) {
  sim::machine_win98();
  sim::reg_add_key("Enum\\Root\\Ports\\0000\\Sub");
  HKEY k = open("Enum\\Root\\Ports\\0000");
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Enum\\Root\\Ports"));
  char name[260];
  DWORD n = 260, size = 260;
  EXPECT_EQ(ERROR_KEY_DELETED, RegEnumKeyExA(k, 0, name, &n, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(ERROR_KEY_DELETED, RegEnumValueA(k, 0, name, &n, nullptr, nullptr, nullptr, &size));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(k));
}

TEST_F(SimRegistry, DeleteValue) {
  sim::machine_win98();
  sim::reg_set_string("System\\CurrentControlSet\\control\\VMM32Files", "q40pport.vxd", "");
  HKEY k = open("System\\CurrentControlSet\\control\\VMM32Files", KEY_WRITE);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(k, "absent.vxd"));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(k, "Q40PPORT.VXD"));
  EXPECT_TRUE(sim::reg_values("System\\CurrentControlSet\\control\\VMM32Files").empty());
  ASSERT_EQ(1u, sim::changes().size());
  EXPECT_EQ(sim::change::value_deleted, sim::changes()[0].kind);
  EXPECT_EQ("HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\control\\VMM32Files\\q40pport.vxd",
            sim::changes()[0].subject);
  EXPECT_EQ(ERROR_SUCCESS, RegFlushKey(k));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(k));
}

TEST_F(SimRegistry, CloseKeyHandles) {
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_LOCAL_MACHINE));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(nullptr));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)));
  HKEY k = open("SYSTEM");
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(k));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(k)); // a freed handle is invalid
  char name[260];
  DWORD n = 260;
  EXPECT_EQ(ERROR_INVALID_HANDLE,
            RegEnumKeyExA(k, 0, name, &n, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(SimRegistry, CurrentControlSetIsAnAliasOfControlSet001) {
  EXPECT_EQ((std::vector<std::string>{"ControlSet001", "CurrentControlSet"}),
            sim::reg_subkeys("SYSTEM"));
  sim::reg_add_key("SYSTEM\\ControlSet001\\Services\\Q40PUSB");
  EXPECT_TRUE(sim::reg_key_exists("SYSTEM\\CurrentControlSet\\Services\\Q40PUSB"));
  HKEY services = open("SYSTEM\\CurrentControlSet\\Services");
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(services, "Q40PUSB"));
  EXPECT_FALSE(sim::reg_key_exists("SYSTEM\\ControlSet001\\Services\\Q40PUSB"));
  EXPECT_EQ(
      std::vector<std::string>{"open key HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services"},
      sim::leaks());
  RegCloseKey(services);
  EXPECT_TRUE(sim::leaks().empty());
}

TEST_F(SimRegistry, FaultsByFunctionSubjectAndNth) {
  sim::reg_add_key("Enum\\Root\\Ports\\0000");
  sim::fail("RegCloseKey", ERROR_INVALID_HANDLE, "Enum\\Root\\Ports");
  sim::fail("RegOpenKeyExA", ERROR_ACCESS_DENIED, "", 2);
  HKEY a = open("Enum\\Root\\Ports\\0000");
  HKEY b = nullptr;
  EXPECT_EQ(ERROR_ACCESS_DENIED,
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\Root\\Ports", 0, KEY_ALL_ACCESS, &b));
  HKEY c = open("Enum\\Root\\Ports");
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(a));        // other subject
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(c)); // the rule fires, the key stays open
  EXPECT_EQ(1u, sim::leaks().size());
  EXPECT_EQ(3, sim::call_count("RegOpenKeyExA"));
  EXPECT_EQ("HKEY_LOCAL_MACHINE\\Enum\\Root\\Ports", sim::calls().back().subject);
}

TEST_F(SimRegistry, FailingDeleteChangesNothing) {
  sim::reg_add_key("SYSTEM\\CurrentControlSet\\Services\\Q40PUSB");
  sim::fault f;
  f.function = "RegDeleteKeyA";
  f.error = ERROR_ACCESS_DENIED;
  f.subject = "services\\q40pusb";
  f.times = 1;
  sim::fail(f);
  HKEY services = open("SYSTEM\\CurrentControlSet\\Services");
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(services, "Q40PUSB"));
  EXPECT_TRUE(sim::reg_key_exists("SYSTEM\\ControlSet001\\Services\\Q40PUSB"));
  EXPECT_TRUE(sim::changes().empty());
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(services, "Q40PUSB")); // fired once only
  RegCloseKey(services);
}

TEST_F(SimRegistry, ResetEmptiesTheRegistry) {
  sim::reset();
  EXPECT_TRUE(sim::reg_subkeys("").empty());
  EXPECT_FALSE(sim::is_win98());
}

} // namespace

namespace {

TEST_F(SimRegistry, NtChecksTheHandlesAccessWin98DoesNot) {
  sim::reg_set_dword("Enum\\Root\\Ports\\0000", "x", 1);
  char name[260];
  DWORD n = 260;
  HKEY w = open("Enum\\Root\\Ports", KEY_WRITE);
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegEnumKeyExA(w, 0, name, &n, nullptr, nullptr, nullptr, nullptr));
  RegCloseKey(w);
  sim::machine_win98();
  w = open("Enum\\Root\\Ports", KEY_WRITE);
  n = 260;
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyExA(w, 0, name, &n, nullptr, nullptr, nullptr, nullptr));
  RegCloseKey(w);
}

TEST_F(SimRegistry, LinkTargetCreatedThroughTheAlias) {
  sim::reg_set_string("SYSTEM\\CurrentControlSet\\Services\\Q40PUSB", "ImagePath", "x");
  EXPECT_EQ((std::vector<std::string>{"Q40PUSB"}),
            sim::reg_subkeys("SYSTEM\\ControlSet001\\Services"));
  auto values = sim::reg_value_list("SYSTEM\\ControlSet001\\Services\\Q40PUSB");
  ASSERT_EQ(1u, values.size());
  EXPECT_EQ("ImagePath", values[0].name);
  EXPECT_EQ(DWORD(REG_SZ), values[0].type);
  EXPECT_EQ(std::string("x\0", 2), values[0].data);
}

} // namespace

namespace {

TEST_F(SimRegistry, SetupDeletionHelpers) {
  sim::reg_set_dword("Enum\\A\\B", "v", 1);
  sim::reg_set_dword("Enum\\A", "w", 2);
  sim::reg_delete_value("enum\\a", "W");
  EXPECT_FALSE(sim::reg_value_exists("Enum\\A", "w"));
  sim::reg_delete_key("Enum\\A");
  EXPECT_FALSE(sim::reg_key_exists("Enum\\A\\B"));
  EXPECT_TRUE(sim::reg_key_exists("Enum"));
  EXPECT_EQ("SYSTEM\\ControlSet001", sim::reg_link("SYSTEM\\currentcontrolset"));
  EXPECT_EQ("", sim::reg_link("SYSTEM\\ControlSet001"));
  sim::reg_delete_key("SYSTEM\\CurrentControlSet"); // the alias, not its target
  EXPECT_FALSE(sim::reg_key_exists("SYSTEM\\CurrentControlSet"));
  EXPECT_TRUE(sim::reg_key_exists("SYSTEM\\ControlSet001\\Services"));
  EXPECT_TRUE(sim::changes().empty());
}

} // namespace

namespace {

// Code page 932: ソ 表 能 end in 0x5C; ヂ (0x83 0x61) and ア (0x83 0x41) differ in a byte
// that ASCII would upper-case; ａ and Ａ, а and А are one letter in two cases.
TEST_F(SimRegistry, NamesKeepDoubleByteCharactersWhole) {
  const std::string so = "\x83\x5C", hyo_no = "\x95\x5C\x94\x5C", soft = "SOFTWARE\\\x83\x5C";
  sim::reg_add_key(soft + "\\" + hyo_no);
  EXPECT_EQ(std::vector<std::string>{so}, sim::reg_subkeys("SOFTWARE"));
  HKEY parent = open((soft + "\\").c_str()); // the backslash goes, the trail byte stays
  char name[260];
  DWORD n = sizeof name;
  ASSERT_EQ(ERROR_SUCCESS, RegEnumKeyExA(parent, 0, name, &n, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(hyo_no, std::string(name, n));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(parent, name));
  EXPECT_EQ("HKEY_LOCAL_MACHINE\\" + soft + "\\" + hyo_no, sim::changes().back().subject);
  RegCloseKey(parent);
  const std::pair<std::string, std::string> same[] = {
      {"\x82\x81", "\x82\x60"}, {"\x84\x70", "\x84\x40"}, {"\x84\x80", "\x84\x4F"}};
  for (const auto &names : same) {
    sim::reg_add_key("T\\" + names.first);
    EXPECT_TRUE(sim::reg_key_exists("T\\" + names.second)) << names.first;
  }
  EXPECT_FALSE(sim::reg_key_exists("T\\\x82\x81\x83\x41"));
  sim::reg_add_key("T\\\x83\x61");
  EXPECT_FALSE(sim::reg_key_exists("T\\\x83\x41"));
}

TEST_F(SimRegistry, WindowsLimitsOnNamesAndDepth) {
  auto levels = [](int n) {
    std::string path = "k";
    for (int i = 1; i < n; ++i)
      path += "\\k";
    return path;
  };
  const struct {
    std::string key, value;
    bool accepted;
  } cases[] = {
      {"T\\" + std::string(255, 'n'), "", true},
      {"T\\" + std::string(256, 'n'), "", false},
      {"T\\" + std::string(254, 'n') + "\x83\x5C", "", true}, // 255 characters in 256 bytes
      {"T", std::string(16383, 'v'), true},
      {"T", std::string(16384, 'v'), false},
      {levels(512), "", true},
      {levels(513), "", false},
      // Through the alias the depth is that of SYSTEM\ControlSet001\...
      {"SYSTEM\\CurrentControlSet\\" + levels(510), "", true},
      {"SYSTEM\\CurrentControlSet\\" + levels(511), "", false},
  };
  for (const auto &c : cases) {
    sim::machine_win2000();
    EXPECT_EQ(c.accepted, sim::reg_set_dword(c.key, c.value, 1)) << c.key.size();
    EXPECT_EQ(c.accepted, sim::reg_key_exists(c.key)) << c.key.size();
    EXPECT_EQ(c.accepted, sim::reg_key_exists("T") || sim::reg_key_exists("k") ||
                              sim::reg_key_exists("SYSTEM\\ControlSet001\\k"))
        << "nothing is left of a refusal";
  }
  // The deepest tree goes in one Windows 98 deletion, recorded parent first.
  sim::machine_win98();
  ASSERT_TRUE(sim::reg_add_key(levels(512)));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "k"));
  ASSERT_EQ(512u, sim::changes().size());
  EXPECT_EQ("HKEY_LOCAL_MACHINE\\" + levels(512), sim::changes().back().subject);
}

// Enumeration by index while keys are deleted and added lists what a fresh list would: the
// cursor that makes walks cheap never shows a stale order.
TEST_F(SimRegistry, EnumerationByIndexFollowsDeletionsAndAdditions) {
  std::vector<std::string> model;
  auto add = [&model](const std::string &name) {
    sim::reg_add_key("T\\" + name);
    model.insert(std::lower_bound(model.begin(), model.end(), name), name);
  };
  for (int i = 0; i < 60; ++i)
    add(std::to_string(1000 + i * 7 % 60));
  HKEY t = open("T");
  unsigned seed = 7;
  for (int step = 0; step < 400; ++step) {
    seed = seed * 1103515245u + 12345u;
    // Mostly upward walks, as the uninstaller makes, and some jumps.
    DWORD index = step % 4 ? (step / 4) % (model.size() + 1) : (seed >> 8) % (model.size() + 2);
    char name[260];
    DWORD n = sizeof name;
    LONG r = RegEnumKeyExA(t, index, name, &n, nullptr, nullptr, nullptr, nullptr);
    ASSERT_EQ(index < model.size() ? ERROR_SUCCESS : ERROR_NO_MORE_ITEMS, r) << step;
    if (r != ERROR_SUCCESS)
      continue;
    ASSERT_EQ(model[index], name) << "step " << step;
    if ((seed >> 4) % 3 == 0) {
      ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(t, name));
      model.erase(model.begin() + index);
    } else if ((seed >> 4) % 3 == 1) {
      add(std::to_string(2000 + step));
    }
  }
  RegCloseKey(t);
}

// Loading names a key before its values and keys in their order, and the simulation takes
// each path from where the previous one left off; these turns must not reuse it: a parent
// deleted since, another letter case or doubled backslashes, a key before the previous one,
// and CurrentControlSet once Select\Current names another set.
TEST_F(SimRegistry, EachPathResolvesAfreshWhereThePreviousOneNoLongerHolds) {
  sim::reg_add_key("SYSTEM\\ControlSet002\\Services");
  sim::reg_set_dword("T\\A\\B", "v", 1);
  sim::reg_delete_key("T\\A");
  sim::reg_set_dword("T\\A\\B\\C", "w", 2);
  EXPECT_EQ(std::vector<std::string>{}, sim::reg_values("T\\A\\B"));
  sim::reg_set_dword("t\\a\\\\b\\c\\", "x", 3);
  EXPECT_EQ((std::vector<std::string>{"w", "x"}), sim::reg_values("T\\A\\B\\C"));
  for (const char *key : {"k1", "k3", "k2", "k3", "k1"})
    sim::reg_set_dword(std::string("T\\S\\") + key, key, 1);
  EXPECT_EQ((std::vector<std::string>{"k1", "k2", "k3"}), sim::reg_subkeys("T\\S"));
  EXPECT_EQ(std::vector<std::string>{"k2"}, sim::reg_values("T\\S\\k2"));
  sim::reg_set_dword("SYSTEM\\CurrentControlSet\\Services\\S", "Start", 3);
  sim::reg_set_dword("SYSTEM\\Select", "Current", 2);
  sim::reg_set_dword("SYSTEM\\CurrentControlSet\\Services\\S", "Start", 4);
  EXPECT_EQ(std::string("\x03\0\0\0", 4),
            sim::reg_value("SYSTEM\\ControlSet001\\Services\\S", "Start"));
  EXPECT_EQ(std::string("\x04\0\0\0", 4),
            sim::reg_value("SYSTEM\\ControlSet002\\Services\\S", "Start"));
}

// Keys built apart from the machine and moved in end as if added one by one: a new branch
// moves whole, an existing key takes the values (one of the same name replaced in its place)
// and the subkeys, and a key under an alias goes where the alias leads once the rest is in,
// so that a Select after CurrentControlSet counts.
TEST_F(SimRegistry, KeysBuiltApartMoveInAsIfAddedOneByOne) {
  sim::reg_add_key("SYSTEM\\ControlSet002\\Services");
  sim::reg_set_dword("SYSTEM\\ControlSet001\\Services\\Serial", "Start", 1);
  sim::reg_set_dword("SYSTEM\\ControlSet001\\Services\\Serial", "Type", 1);
  std::shared_ptr<sim::registry_tree> tree = sim::registry_tree_new();
  sim::tree_set_value(*tree, "SYSTEM\\ControlSet001\\Services\\Serial", "Type", REG_DWORD,
                      std::string("\x10\0\0\0", 4));
  sim::tree_set_value(*tree, "SYSTEM\\ControlSet001\\Services\\Serial", "Group", REG_SZ,
                      std::string("Base\0", 5));
  sim::tree_add_key(*tree, "SYSTEM\\ControlSet001\\Services\\Serial\\Enum");
  sim::tree_add_key(*tree, "SYSTEM\\CurrentControlSet\\Services\\New\\Enum");
  sim::tree_set_value(*tree, "SYSTEM\\Select", "Current", REG_DWORD, std::string("\x02\0\0\0", 4));
  sim::tree_add_key(*tree, "Software\\Quendal\\Gone");
  sim::tree_delete_key(*tree, "Software\\Quendal\\Gone");
  sim::tree_add_key(*tree, "Software\\Quendal\\Kept");
  sim::reg_import(*tree);
  EXPECT_EQ((std::vector<std::string>{"Start", "Type", "Group"}),
            sim::reg_values("SYSTEM\\ControlSet001\\Services\\Serial"));
  EXPECT_EQ(std::string("\x10\0\0\0", 4),
            sim::reg_value("SYSTEM\\ControlSet001\\Services\\Serial", "Type"));
  EXPECT_TRUE(sim::reg_key_exists("SYSTEM\\ControlSet001\\Services\\Serial\\Enum"));
  EXPECT_TRUE(sim::reg_key_exists("SYSTEM\\ControlSet002\\Services\\New\\Enum"));
  EXPECT_FALSE(sim::reg_key_exists("SYSTEM\\ControlSet001\\Services\\New"));
  EXPECT_EQ(std::vector<std::string>{"Kept"}, sim::reg_subkeys("Software\\Quendal"));
  EXPECT_EQ("SYSTEM\\ControlSet001", sim::reg_link("SYSTEM\\CurrentControlSet"));
}

TEST_F(SimRegistry, CurrentControlSetFollowsSelectCurrent) {
  // Select\Current (0: none) and the control set behind CurrentControlSet.
  const std::pair<DWORD, const char *> cases[] = {
      {0, "ControlSet001"}, {2, "ControlSet002"}, {3, "ControlSet001"}}; // 3: no such set
  for (const auto &c : cases) {
    sim::machine_win2000();
    sim::reg_add_key("SYSTEM\\ControlSet002\\Services");
    if (c.first)
      sim::reg_set_dword("SYSTEM\\Select", "Current", c.first);
    HKEY k = open("SYSTEM\\CurrentControlSet\\Services");
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(k));
    sim::reg_add_key("SYSTEM\\CurrentControlSet\\Services\\Added");
    EXPECT_TRUE(sim::reg_key_exists(std::string("SYSTEM\\") + c.second + "\\Services\\Added"))
        << c.first;
  }
}

} // namespace
