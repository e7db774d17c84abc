// Machine files: every directive sets up what it says, and malformed files are refused with
// the file and line.
#include "tests/support.h"
#include "tests/tools_support.h"
#include "tools/builtin_machines.h"
#include "tools/machine_file.h"

#include <fstream>

namespace {

std::string temp_directory() {
  std::string directory = ::testing::TempDir() + "machine_file_test";
  std::string command = "mkdir -p '" + directory + "'";
  EXPECT_EQ(std::system(command.c_str()), 0);
  return directory;
}

void write_file(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

TEST(machine_file, every_directive_sets_the_machine_up) {
  std::string directory = temp_directory();
  write_file(directory + "/extra.reg", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Extra]\r\n"
                                       "\"From\"=\"file\"\r\n");
  write_file(
      directory + "/q.inf",
      "[Version]\r\nSignature=\"$Windows NT$\"\r\n[USBTA]\r\nX=USB_TA,USB\\Vid_1E7A&Pid_0030\r\n");
  write_file(directory + "/test.machine", "\xEF\xBB\xBF"
                                          R"(# a Windows XP machine
platform nt 5.1 2600
windows-directory C:\WINNT
system-directory "C:\WINNT\system 32"
folder C:\WINNT\inf\OTHER
file C:\WINNT\system32\drivers\Q40PUCOM.SYS read-only hidden delete-error=32
file C:\WINNT\inf\MDMKORT3.INF attributes-error=0x5
device USB\Vid_1e7a&Pid_0080\5&1a2b3c4d&0&1 USB\Vid_1e7a&Pid_0080&Rev_0100 USB\Vid_1e7a&Pid_0080 remove-error=5
device ROOT\LEGACY\0000 absent
inf oem7.inf q.inf read-only
inf oem8.inf
  [Version]
  Signature="$Windows NT$"
  [USBTA]

  "モデム" = USB_TA,USB\Vid_1E7A&Pid_0080
registry extra.reg
registry
  [HKEY_LOCAL_MACHINE\SOFTWARE\Inline]
  "名前"="値"
link SOFTWARE\Alias SOFTWARE\Inline
deny-key SOFTWARE\Inline write
fail SetupOpenInfFileA ERROR_FILE_NOT_FOUND oem9.inf nth=1 times=1
)");
  machine_description machine;
  load_error error;
  ASSERT_TRUE(read_machine_file(directory + "/test.machine", machine, error)) << describe(error);
  EXPECT_FALSE(machine.win98);
  EXPECT_EQ(export_format(machine), reg_format_regedit4); // the included file's format
  apply_machine(machine);

  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  ASSERT_TRUE(GetVersionExA(&version));
  EXPECT_EQ(version.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
  EXPECT_EQ(version.dwMajorVersion, 5u);
  EXPECT_EQ(version.dwMinorVersion, 1u);
  EXPECT_EQ(version.dwBuildNumber, 2600u);
  char path[MAX_PATH];
  ASSERT_GT(GetSystemDirectoryA(path, sizeof path), 0u);
  EXPECT_STREQ(path, "C:\\WINNT\\system 32");

  EXPECT_TRUE(sim::folder_exists("C:\\WINNT\\inf\\OTHER"));
  EXPECT_EQ(sim::file_attributes("C:\\WINNT\\system32\\drivers\\Q40PUCOM.SYS"),
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(sim::file_attributes("C:\\WINNT\\inf\\MDMKORT3.INF"),
            static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_TRUE(
      SetFileAttributesA("C:\\WINNT\\system32\\drivers\\Q40PUCOM.SYS", FILE_ATTRIBUTE_NORMAL));
  EXPECT_FALSE(DeleteFileA("C:\\WINNT\\system32\\drivers\\Q40PUCOM.SYS"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(SetFileAttributesA("C:\\WINNT\\inf\\MDMKORT3.INF", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  ASSERT_EQ(sim::device_list().size(), 2u);
  EXPECT_TRUE(sim::device_exists("USB\\Vid_1e7a&Pid_0080\\5&1a2b3c4d&0&1"));
  EXPECT_TRUE(sim::device_exists("ROOT\\LEGACY\\0000"));

  EXPECT_EQ(sim::file_attributes("C:\\WINNT\\inf\\oem7.inf"),
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  // The INF texts are read through the INF functions, the inline one converted to code page 932.
  char line[256];
  struct inf_row {
    const char *name;
    std::string key, text;
  } infs[] = {{"oem7.inf", "X", "USB_TA,USB\\Vid_1E7A&Pid_0030"},
              {"oem8.inf", cp932("モデム"), "USB_TA,USB\\Vid_1E7A&Pid_0080"}};
  for (const inf_row &row : infs) {
    HINF inf = SetupOpenInfFileA(row.name, nullptr, INF_STYLE_WIN4, nullptr);
    ASSERT_NE(inf, INVALID_HANDLE_VALUE) << row.name;
    EXPECT_TRUE(
        SetupGetLineTextA(nullptr, inf, "USBTA", row.key.c_str(), line, sizeof line, nullptr))
        << row.name;
    EXPECT_EQ(line, row.text);
    SetupCloseInfFile(inf);
  }

  EXPECT_EQ(sim::reg_value("SOFTWARE\\Extra", "From"), std::string("file", 5));
  EXPECT_EQ(sim::reg_value("SOFTWARE\\Alias", cp932("名前")), cp932("値") + '\0');
  EXPECT_EQ(sim::reg_link("SOFTWARE\\Alias"), "SOFTWARE\\Inline");
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Inline", 0, KEY_ALL_ACCESS, &key),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(SetupOpenInfFileA("oem9.inf", nullptr, INF_STYLE_WIN4, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(sim::leaks().size(), 0u);
}

TEST(machine_file, win98_platform_and_export_format) {
  machine_description machine;
  load_error error;
  ASSERT_TRUE(read_machine_text("platform win98 4.10 0x040A08AE\n", "m", "", machine, error));
  EXPECT_EQ(export_format(machine), reg_format_regedit4);
  apply_machine(machine);
  EXPECT_TRUE(sim::is_win98());
  EXPECT_TRUE(sim::reg_key_exists("Enum\\Root\\Ports"));
  ASSERT_TRUE(read_machine_text("platform nt 5.0 2195\n", "m", "", machine, error));
  EXPECT_EQ(export_format(machine), reg_format_regedit5);
}

TEST(machine_file, malformed_files_are_refused_with_their_line) {
  struct row {
    std::string text;
    int line;
    const char *what;
  } rows[] = {
      {"", 0, "no platform line"},
      {"# only a comment\nfile C:\\x\n", 2, "first directive must be"},
      {"platform nt 5 2195\n", 1, "MAJOR.MINOR"},
      {"platform dos 6.22 0\n", 1, "expected: platform"},
      {"platform nt 5.0 build\n", 1, "must be a number"},
      {"platform nt 5.0 2195\nplatform nt 5.0 2195\n", 2, "second platform"},
      {"platform nt 5.0 2195\nfile\n", 2, "expected: file"},
      {"platform nt 5.0 2195\nfile C:\\x sticky\n", 2, "unknown file option 'sticky'"},
      {"platform nt 5.0 2195\nfile WINDOWS\\x\n", 2, "not a full path"},
      {"platform nt 5.0 2195\nwindows-directory C:\n", 2, "not a full path"},
      {"platform nt 5.0 2195\nfile C:\\x delete-error=lots\n", 2, "must be a number"},
      {"platform nt 5.0 2195\nfile \"C:\\x y\n", 2, "not closed"},
      {"platform nt 5.0 2195\ndevice\n", 2, "expected: device"},
      {"platform nt 5.0 2195\ndevice X\\1 remove-error=x\n", 2, "must be a number"},
      {"platform nt 5.0 2195\ninf oem1.inf\nfile C:\\x\n", 2, "needs a FILE or indented"},
      {"platform nt 5.0 2195\ninf oem1.inf missing.inf\n", 2, "cannot read the INF"},
      {"platform nt 5.0 2195\nregistry\n", 2, "needs a FILE or indented"},
      {"platform nt 5.0 2195\nregistry missing.reg\n", 2, "cannot read the .reg file"},
      {"platform nt 5.0 2195\nregistry\n  \"v\"=dword:1\n  [HKEY_LOCAL_MACHINE\\A]\n", 3,
       "before the first [key]"},
      {"platform nt 5.0 2195\nlink A\n", 2, "expected: link"},
      {"platform nt 5.0 2195\ndeny-key A sometimes\n", 2, "write|all"},
      {"platform nt 5.0 2195\nfail RegOpenKeyExA lots\n", 2, "must be a number"},
      {"platform nt 5.0 2195\nfail RegOpenKeyExA 5 x y\n", 2, "unknown fail option"},
      {"platform nt 5.0 2195\nreboot now\n", 2, "unknown directive 'reboot'"},
      {"platform nt 5.0 2195\n   [HKEY_LOCAL_MACHINE\\A]\n", 2, "indented line outside"},
      {"platform nt 5.0 2195\nfile C:\\\xff\n", 2, "not UTF-8"},
      {"platform nt 5.0 2195\ndevice \\USB\\1\n", 2, "not a device instance id"},
      {"platform nt 5.0 2195\ndevice USB\\X\\1 driver=\\\n", 2, "not a driver key"},
      {"platform nt 5.0 2195\ndevice USB\\X\\1 driver={A}\\1\\2\n", 2, "not a driver key"},
      {"platform win98 4.10 2222\ndeny-key Enum write\n", 2, "no registry security"},
      {"platform nt 5.0 2195\nfail DeleteFile 5\n", 2, "unknown function 'DeleteFile'"},
      {"platform nt 5.0 2195\nfail GetLastError 5\n", 2, "cannot fail"},
      {"platform nt 5.0 2195\nfail GetWindowsDirectoryA 5 C:\\W\n", 2, "has no subject"},
      {"platform nt 5.0 2195\nfail RegOpenKeyExA 5 HKLM\\SYSTEM\n", 2, "HKEY_LOCAL_MACHINE\\..."},
      {"platform nt 5.0 2195\nfail RegDeleteKeyA 5 C:\\x\n", 2, "is a file path"},
      {"platform nt 5.0 2195\nfail DeleteFileA 5 HKEY_LOCAL_MACHINE\\A\n", 2, "is a key path"},
      {"platform nt 5.0 2195\nfail LoadLibraryA 126 setupapi.dll\n", 2, "unknown module"},
      {"platform nt 5.0 2195\nfail GetProcAddress 127 RegOpenKeyEx\n", 2, "unknown function"},
      {"platform nt 5.0 2195\nfail RegOpenKeyExA ERROR_NOPE\n", 2, "must be a number"},
  };
  for (const row &r : rows) {
    machine_description machine;
    load_error error;
    EXPECT_FALSE(read_machine_text(r.text, "bad.machine", "", machine, error)) << r.text;
    EXPECT_EQ(error.file, "bad.machine") << r.text;
    EXPECT_EQ(error.line, r.line) << r.text;
    EXPECT_NE(error.what.find(r.what), std::string::npos) << r.text << " -> " << error.what;
  }
}

// Functions that are only called on something that exists: a subject naming nothing could
// never match. Probes (RegOpenKeyExA, SetFileAttributesA) may name what is absent.
TEST(machine_file, fault_subjects_must_name_something_on_the_machine) {
  const struct {
    const char *rule;
    bool accepted;
  } rows[] = {
      {"fail RegCloseKey 6 SYSTEM\\Nowhere", false},
      {"fail RegCloseKey 6 HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services", true},
      {"fail RegEnumKeyExA 5 ControlSet001\\Services", true},
      {"fail RegDeleteValueA 5 Nowhere\\Value", false},
      {"fail DeleteFileA 5 Q40PUCOM.SYS", false},
      {"fail DeleteFileA 5 mdmgen.inf", true},
      {"fail SetupDiCallClassInstaller 5 USB\\X\\1", false},
      {"fail SetupGetLineTextA 5 oem1.inf", true},
      {"fail RegOpenKeyExA 5 SYSTEM\\Nowhere", true},
      {"fail SetFileAttributesA 5 C:\\WINDOWS\\inf\\none.inf", true},
  };
  for (const auto &r : rows) {
    machine_description machine;
    load_error error;
    ASSERT_TRUE(read_machine_text(find_builtin_machine("clean-win2000")->text + r.rule + "\n", "m",
                                  "", machine, error))
        << describe(error);
    apply_machine(machine);
    EXPECT_EQ(check_machine(machine, error), r.accepted) << r.rule;
    if (!r.accepted) {
      EXPECT_EQ(error.line, machine.fault_lines[0]);
      EXPECT_NE(error.what.find("names nothing on this machine"), std::string::npos);
    }
  }
}

// Errors and warnings of an included .reg file name that file; the machine's inputs are the
// machine file and what it includes.
TEST(machine_file, an_error_in_an_included_reg_file_names_that_file) {
  std::string directory = temp_directory();
  write_file(directory + "/broken.reg",
             "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"x\"=hex:zz\r\n");
  write_file(directory + "/uses.machine", "platform nt 5.0 2195\nregistry broken.reg\n");
  machine_description machine;
  load_error error;
  ASSERT_TRUE(read_machine_file(directory + "/uses.machine", machine, error)) << describe(error);
  ASSERT_EQ(machine.warnings.size(), 1u);
  EXPECT_EQ(describe_warning(machine.warnings[0]),
            directory + "/broken.reg:4: warning: " + machine.warnings[0].what);
  EXPECT_EQ(machine.inputs,
            (std::vector<std::string>{directory + "/uses.machine", directory + "/broken.reg"}));
  write_file(directory + "/broken.reg", "REGEDIT4\r\n\r\n[HKEY_NOWHERE\\A]\r\n");
  EXPECT_FALSE(read_machine_file(directory + "/uses.machine", machine, error));
  EXPECT_EQ(describe(error), directory + "/broken.reg:3: " + error.what);
}

TEST(machine_file, built_in_machines_are_well_formed) {
  for (const builtin_machine &b : builtin_machines()) {
    machine_description machine;
    load_error error;
    // The snapshots are read as snapshots (tools_snapshot_machines_test.cpp).
    if (!b.snapshot.empty())
      continue;
    EXPECT_TRUE(read_machine_text(b.text, b.name, "", machine, error)) << describe(error);
  }
  EXPECT_EQ(find_builtin_machine("no such machine"), nullptr);
}

} // namespace
