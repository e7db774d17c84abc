// The simulated file system: directories, path rules, attributes and deletion.
#include "sim/sim.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

class SimFiles : public ::testing::Test {
protected:
  void SetUp() override { sim::machine_win2000(); }
};

struct dir_case {
  UINT size;
  UINT result;
  bool written;
};

TEST_F(SimFiles, DirectoryReturnValueRules) {
  // "C:\WINDOWS" has 10 characters.
  const dir_case cases[] = {{0, 11, false}, {10, 11, false}, {11, 10, true}, {260, 10, true}};
  for (const auto &c : cases) {
    char buf[260];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(c.result, GetWindowsDirectoryA(buf, c.size)) << c.size;
    if (c.written) {
      EXPECT_STREQ("C:\\WINDOWS", buf);
    } else {
      EXPECT_EQ('x', buf[0]);
    }
  }
  char buf[260];
  EXPECT_EQ(19u, GetSystemDirectoryA(buf, sizeof buf));
  EXPECT_STREQ("C:\\WINDOWS\\system32", buf);
  EXPECT_EQ(20u, GetSystemDirectoryA(nullptr, 0));
}

TEST_F(SimFiles, Win98SystemDirectory) {
  sim::machine_win98();
  char buf[260];
  EXPECT_EQ(17u, GetSystemDirectoryA(buf, sizeof buf));
  EXPECT_STREQ("C:\\WINDOWS\\SYSTEM", buf);
  EXPECT_TRUE(sim::folder_exists("c:\\windows\\inf\\other"));
  EXPECT_FALSE(sim::folder_exists("C:\\WINDOWS\\system32"));
}

TEST_F(SimFiles, PathsAreCaseInsensitiveWithBothSeparatorsAndDots) {
  sim::file_add("C:\\WINDOWS\\system32\\drivers\\Q40PUSB.SYS");
  for (const char *p :
       {"c:\\windows\\SYSTEM32\\drivers\\q40pusb.sys", "C:/WINDOWS/system32/drivers/Q40PUSB.SYS",
        "C:\\WINDOWS\\inf\\..\\system32\\.\\drivers\\Q40PUSB.SYS",
        "C:\\WINDOWS\\\\system32\\drivers\\Q40PUSB.SYS"})
    EXPECT_TRUE(sim::file_exists(p)) << p;
  EXPECT_TRUE(SetFileAttributesA("C:\\WINDOWS\\inf\\..\\system32\\drivers\\q40pusb.sys",
                                 FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(DeleteFileA("c:/windows/system32/drivers/Q40PUSB.SYS"));
  EXPECT_FALSE(sim::file_exists("C:\\WINDOWS\\system32\\drivers\\Q40PUSB.SYS"));
}

// Double-byte characters are never split: 表 (0x95 0x5C) is no separator and ポ (0x83 0x7C)
// no '|'; ヂ (0x83 0x61) and ア (0x83 0x41) stay two names.
TEST_F(SimFiles, DoubleByteNamesAreKeptWhole) {
  const std::string hyo = "\x95\x5C", po = "\x83\x7C", di = "\x83\x61", a = "\x83\x41";
  const std::string folder = "C:\\WINDOWS\\" + hyo;
  sim::file_add(folder + "\\" + po + ".inf");
  sim::file_add(folder + "\\" + di + ".inf");
  EXPECT_TRUE(sim::folder_exists(folder));
  EXPECT_FALSE(sim::folder_exists("C:\\WINDOWS\\\x95"));
  EXPECT_FALSE(sim::file_exists(folder + "\\" + a + ".inf"));
  EXPECT_TRUE(SetFileAttributesA((folder + "\\" + po + ".inf").c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(DeleteFileA((folder + "/" + po + ".inf").c_str()));
  EXPECT_EQ(std::vector<std::string>{folder + "\\" + di + ".inf"}, sim::file_list());
  EXPECT_FALSE(SetFileAttributesA((folder + "\\" + po + ".inf").c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError()); // its folder is there
}

struct missing_case {
  const char *path;
  DWORD error;
};

TEST_F(SimFiles, MissingFileVersusMissingFolder) {
  const missing_case cases[] = {
      {"C:\\WINDOWS\\inf\\OEM3.inf", ERROR_FILE_NOT_FOUND},
      {"C:\\WINDOWS\\inf\\OTHER\\DVXQ40USB.INF", ERROR_PATH_NOT_FOUND},
      {"D:\\nothing\\x.sys", ERROR_PATH_NOT_FOUND},
      {"C:\\x.sys", ERROR_FILE_NOT_FOUND},
  };
  for (const auto &c : cases) {
    SetLastError(0);
    EXPECT_FALSE(SetFileAttributesA(c.path, FILE_ATTRIBUTE_NORMAL)) << c.path;
    EXPECT_EQ(c.error, GetLastError()) << c.path;
    SetLastError(0);
    EXPECT_FALSE(DeleteFileA(c.path)) << c.path;
    EXPECT_EQ(c.error, GetLastError()) << c.path;
  }
  EXPECT_TRUE(sim::changes().empty());
}

TEST_F(SimFiles, ReadOnlyFileNeedsItsAttributesReset) {
  const char *path = "C:\\WINDOWS\\inf\\OEM3.inf";
  sim::file_add(path, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_FALSE(DeleteFileA(path));
  EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_TRUE(sim::file_exists(path));
  EXPECT_TRUE(SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_NORMAL), sim::file_attributes(path));
  EXPECT_TRUE(DeleteFileA(path));
  ASSERT_EQ(2u, sim::changes().size());
  EXPECT_EQ(sim::change::attributes_set, sim::changes()[0].kind);
  EXPECT_EQ(sim::change::file_deleted, sim::changes()[1].kind);
  EXPECT_EQ(path, sim::changes()[1].subject);
}

TEST_F(SimFiles, FolderCannotBeDeleted) {
  EXPECT_FALSE(DeleteFileA("C:\\WINDOWS\\inf"));
  EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_TRUE(sim::folder_exists("C:\\WINDOWS\\inf"));
  EXPECT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY), sim::file_attributes("C:\\WINDOWS\\inf"));
}

TEST_F(SimFiles, DeniedOperations) {
  sim::file_add("C:\\WINDOWS\\system32\\drivers\\a.sys");
  sim::file_add("C:\\WINDOWS\\system32\\drivers\\b.sys");
  sim::file_deny_delete("C:\\WINDOWS\\system32\\drivers\\a.sys", ERROR_SHARING_VIOLATION);
  sim::file_deny_attributes("C:\\WINDOWS\\system32\\drivers\\b.sys", ERROR_ACCESS_DENIED);
  EXPECT_FALSE(DeleteFileA("C:\\WINDOWS\\system32\\drivers\\a.sys"));
  EXPECT_EQ(DWORD(ERROR_SHARING_VIOLATION), GetLastError());
  EXPECT_FALSE(SetFileAttributesA("C:\\WINDOWS\\system32\\drivers\\b.sys", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_EQ(2u, sim::file_list().size());
  EXPECT_TRUE(sim::changes().empty());
  // Windows 98 has MoveFileExA only as a stub: nothing is deleted at restart there.
  sim::machine_win98();
  sim::file_add("C:\\WINDOWS\\SYSTEM\\a.sys");
  EXPECT_FALSE(MoveFileExA("C:\\WINDOWS\\SYSTEM\\a.sys", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_EQ(DWORD(ERROR_CALL_NOT_IMPLEMENTED), GetLastError());
  EXPECT_TRUE(sim::pending_deletions().empty());
}

TEST_F(SimFiles, FaultedCallsChangeNothing) {
  sim::file_add("C:\\WINDOWS\\inf\\OEM3.inf");
  sim::fail("DeleteFileA", ERROR_SHARING_VIOLATION, "oem3.INF");
  sim::fail("GetWindowsDirectoryA", ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_FALSE(DeleteFileA("C:\\WINDOWS\\inf\\OEM3.inf"));
  EXPECT_EQ(DWORD(ERROR_SHARING_VIOLATION), GetLastError());
  EXPECT_TRUE(sim::file_exists("C:\\WINDOWS\\inf\\OEM3.inf"));
  char buf[260] = "untouched";
  EXPECT_EQ(0u, GetWindowsDirectoryA(buf, sizeof buf));
  EXPECT_EQ(DWORD(ERROR_NOT_ENOUGH_MEMORY), GetLastError());
  EXPECT_STREQ("untouched", buf);
}

// The folder search: the entries of one folder that match the pattern's last part ('*', '?',
// any letter case), folders included, in NTFS order (by upper-cased name), as they were when
// the search began; the end, an empty match and a missing folder each with Windows' error.
TEST_F(SimFiles, FolderSearch) {
  for (const char *name : {"oem10.inf", "OEM2.INF", "oem2.pnf", "oemsetup.inf", "mdmgen.inf"})
    sim::file_add(std::string("C:\\WINDOWS\\inf\\") + name, FILE_ATTRIBUTE_ARCHIVE, "12345");
  sim::folder_add("C:\\WINDOWS\\inf\\oem7.inf");
  sim::file_add("C:\\WINDOWS\\inf\\OTHER\\oem5.inf");
  const struct {
    const char *pattern;
    std::vector<std::string> names;
    DWORD error; // of FindFirstFileA, when nothing is found
  } cases[] = {
      {"C:\\WINDOWS\\inf\\oem*.inf", {"oem10.inf", "OEM2.INF", "oem7.inf", "oemsetup.inf"}, 0},
      {"c:/windows/INF/OEM?.*", {"OEM2.INF", "oem2.pnf", "oem7.inf"}, 0},
      {"C:\\WINDOWS\\inf\\oem*.sys", {}, ERROR_FILE_NOT_FOUND},
      {"C:\\WINDOWS\\nothing\\oem*.inf", {}, ERROR_PATH_NOT_FOUND},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.pattern);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(c.pattern, &found);
    if (c.names.empty()) {
      EXPECT_EQ(INVALID_HANDLE_VALUE, search);
      EXPECT_EQ(c.error, GetLastError());
      continue;
    }
    ASSERT_NE(INVALID_HANDLE_VALUE, search);
    std::vector<std::string> names;
    do {
      names.push_back(found.cFileName);
      bool folder = names.back() == "oem7.inf" || names.back() == "OTHER";
      EXPECT_EQ(folder, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
          << found.cFileName;
      DeleteFileA("C:\\WINDOWS\\inf\\mdmgen.inf"); // the search goes on as it began
    } while (FindNextFileA(search, &found));
    EXPECT_EQ(DWORD(ERROR_NO_MORE_FILES), GetLastError());
    EXPECT_EQ(c.names, names);
    EXPECT_EQ(1u, sim::leaks().size()); // the open search
    EXPECT_TRUE(FindClose(search));
    EXPECT_TRUE(sim::leaks().empty());
    EXPECT_FALSE(FindClose(search));
    sim::file_add("C:\\WINDOWS\\inf\\mdmgen.inf");
  }
}

TEST_F(SimFiles, FileListIsSortedCaseInsensitively) {
  sim::file_add("C:\\WINDOWS\\inf\\oem10.inf");
  sim::file_add("C:\\WINDOWS\\INF\\OEM1.INF");
  sim::file_add("C:\\WINDOWS\\system32\\drivers\\Q40PUSB.SYS");
  EXPECT_EQ((std::vector<std::string>{"C:\\WINDOWS\\INF\\OEM1.INF", "C:\\WINDOWS\\inf\\oem10.inf",
                                      "C:\\WINDOWS\\system32\\drivers\\Q40PUSB.SYS"}),
            sim::file_list());
}

TEST_F(SimFiles, SetWindowsDirectoryCreatesTheFolder) {
  sim::set_windows_directory("D:\\WINNT");
  sim::set_system_directory("D:\\WINNT\\system32");
  EXPECT_TRUE(sim::folder_exists("d:\\winnt\\SYSTEM32"));
  char buf[260];
  EXPECT_EQ(8u, GetWindowsDirectoryA(buf, sizeof buf));
  EXPECT_STREQ("D:\\WINNT", buf);
}

} // namespace
