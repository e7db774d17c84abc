// The simulated INF files: opening, styles and the line text.
#include "sim/sim.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char kInf[] = "; Quendal Q40 modem driver\r\n"
                    "[Version]\r\n"
                    "Signature=\"$WINDOWS NT$\"\r\n"
                    "Class=Modem\r\n"
                    "\r\n"
                    "[usbta]   ; the models\r\n"
                    "%Q40%=USB_TA, USB\\Vid_1E7A&Pid_0080 ; model 0\r\n"
                    "Quoted = \"a, b\" , \" c \" , \"say \"\"hi\"\"\"\r\n"
                    "Long = one, \\\r\n"
                    "       two\r\n"
                    "Str = %Product%, 100%%\r\n"
                    "NoValue =\r\n"
                    "[Strings]\r\n"
                    "Q40=\"QUENDALQ40 PRO USBPort Adapter\"\r\n"
                    "Product=\"Q40 Pro\"\r\n";

class SimInf : public ::testing::Test {
protected:
  void SetUp() override {
    sim::machine_win2000();
    sim::inf_add("OEM3.inf", kInf);
    inf = SetupOpenInfFileA("oem3.INF", nullptr, INF_STYLE_WIN4, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, inf);
  }
  void TearDown() override {
    if (inf != INVALID_HANDLE_VALUE)
      SetupCloseInfFile(inf);
    EXPECT_TRUE(sim::leaks().empty());
  }

  std::string text(const char *section, const char *key) {
    DWORD size = 0;
    if (!SetupGetLineTextA(nullptr, inf, section, key, nullptr, 0, &size))
      return "<error " + std::to_string(GetLastError()) + ">";
    std::string buf(size, '\xEE');
    if (!SetupGetLineTextA(nullptr, inf, section, key, &buf[0], size, &size))
      return "<error " + std::to_string(GetLastError()) + ">";
    EXPECT_EQ('\0', buf[size - 1]);
    return buf.substr(0, size - 1);
  }

  HINF inf = INVALID_HANDLE_VALUE;
};

struct line_case {
  const char *section;
  const char *key;
  const char *text;
};

TEST_F(SimInf, LineTexts) {
  const line_case cases[] = {
      {"USBTA", "QUENDALQ40 PRO USBPort Adapter", "USB_TA,USB\\Vid_1E7A&Pid_0080"},
      {"usbta", "quendalq40 pro usbport adapter", "USB_TA,USB\\Vid_1E7A&Pid_0080"},
      {"USBTA", "Quoted", "a, b, c ,say \"hi\""},
      {"USBTA", "Long", "one,two"},
      {"USBTA", "Str", "Q40 Pro,100%"},
      {"USBTA", "NoValue", ""},
      {"Version", "signature", "$WINDOWS NT$"},
      {"USBTA", "Missing", "<error 3758096642>"},  // ERROR_LINE_NOT_FOUND
      {"Nothing", "Quoted", "<error 3758096641>"}, // ERROR_SECTION_NOT_FOUND
  };
  for (const auto &c : cases)
    EXPECT_EQ(c.text, text(c.section, c.key)) << c.section << " / " << c.key;
}

TEST_F(SimInf, SizesAndLastError) {
  const char *key = "QUENDALQ40 PRO USBPort Adapter";
  const std::string expected = "USB_TA,USB\\Vid_1E7A&Pid_0080";
  DWORD size = 0;
  SetLastError(1234);
  EXPECT_TRUE(SetupGetLineTextA(nullptr, inf, "USBTA", key, nullptr, 0, &size));
  EXPECT_EQ(DWORD(0), GetLastError()); // success clears the last error
  EXPECT_EQ(expected.size() + 1, size);
  char small[8] = "keep";
  EXPECT_FALSE(SetupGetLineTextA(nullptr, inf, "USBTA", key, small, sizeof small, &size));
  EXPECT_EQ(DWORD(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  EXPECT_STREQ("keep", small);
  EXPECT_FALSE(SetupGetLineTextA(nullptr, inf, "USBTA", "none", nullptr, 0, &size));
  EXPECT_EQ(DWORD(ERROR_LINE_NOT_FOUND), GetLastError());
  EXPECT_FALSE(SetupGetLineTextA(nullptr, inf, "None", key, nullptr, 0, &size));
  EXPECT_EQ(DWORD(ERROR_SECTION_NOT_FOUND), GetLastError());
}

TEST_F(SimInf, OpeningRules) {
  sim::inf_add("OEM4.inf", "[Version]\nSignature=$chicago$\n");
  sim::inf_add("OEM5.inf", "[Version]\nSignature=$Windows 3.1$\n[USBTA]\n");
  sim::inf_add("OEM6.inf", "[Strings]\n");

  HINF h = SetupOpenInfFileA("OEM4.inf", nullptr, INF_STYLE_WIN4, nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_EQ(DWORD(0), GetLastError());
  HINF h2 = SetupOpenInfFileA("C:\\WINDOWS\\INF\\OEM4.INF", nullptr, INF_STYLE_WIN4, nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, h2);
  EXPECT_NE(h, h2);
  SetupCloseInfFile(h);
  SetupCloseInfFile(h2);

  for (const char *name : {"OEM5.inf", "OEM6.inf"}) {
    EXPECT_EQ(INVALID_HANDLE_VALUE, SetupOpenInfFileA(name, nullptr, INF_STYLE_WIN4, nullptr));
    EXPECT_EQ(DWORD(ERROR_WRONG_INF_STYLE), GetLastError()) << name;
  }
  EXPECT_EQ(INVALID_HANDLE_VALUE, SetupOpenInfFileA("OEM7.inf", nullptr, INF_STYLE_WIN4, nullptr));
  EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST_F(SimInf, ClosedHandleIsInvalid) {
  SetupCloseInfFile(inf);
  HINF closed = inf;
  inf = INVALID_HANDLE_VALUE;
  DWORD size = 0;
  EXPECT_FALSE(SetupGetLineTextA(nullptr, closed, "USBTA", "Long", nullptr, 0, &size));
  EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
}

TEST_F(SimInf, LeakAndFaultSubjects) {
  EXPECT_EQ(std::vector<std::string>{"open INF oem3.INF"}, sim::leaks());
  sim::fail("SetupOpenInfFileA", ERROR_ACCESS_DENIED, "OEM3.inf");
  EXPECT_EQ(INVALID_HANDLE_VALUE, SetupOpenInfFileA("OEM3.INF", nullptr, INF_STYLE_WIN4, nullptr));
  EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
  sim::fail("SetupGetLineTextA", ERROR_INVALID_DATA, "oem3.inf");
  DWORD size = 0;
  EXPECT_FALSE(SetupGetLineTextA(nullptr, inf, "USBTA", "Long", nullptr, 0, &size));
  EXPECT_EQ(DWORD(ERROR_INVALID_DATA), GetLastError());
}

// What setupapi refuses, with the 1-based ErrorLine; names whose double-byte characters end
// in 0x5C ('\') or 0x5D (']') read whole; a bare name looked for in the INF folder, then in
// the system folder.
TEST_F(SimInf, ParseErrorsDoubleByteNamesAndFolders) {
  const std::string zo = "\x83\x5D", ok = "[Version]\r\nSignature=$Chicago$\r\n[" + zo + "]\r\n";
  sim::file_add("C:\\WINDOWS\\system32\\both.inf", 0, ok + "Key=system\r\n");
  sim::file_add("C:\\WINDOWS\\system32\\sys.inf", 0, ok + "Key=system\r\n");
  const struct {
    std::string name, text;
    DWORD error;
    UINT line;
    std::string key;
  } cases[] = {
      {"a.inf", "Signature=$Chicago$\r\n" + ok, 0xE0000000, 1, ""}, // ERROR_EXPECTED_SECTION_NAME
      {"b.inf", "; c\r\n\r\n" + ok + "[USBTA\r\nx=y\r\n", 0xE0000001, 6,
       ""},                                                 // ..._SECTION_NAME_LINE
      {"c.inf", ok + "[" + zo + "\r\n", 0xE0000001, 4, ""}, // the trail byte is no ']'
      {"\x95\x5C.inf", ok + "Key=\x83\x5C\r\nNext=1\r\n", 0, 0, "\x83\x5C"}, // not continued
      {"both.inf", ok + "Key=inf\r\n", 0, 0, "inf"},
      {"SYS.INF", "", 0, 0, "system"},
  };
  for (const auto &c : cases) {
    if (!c.text.empty())
      sim::inf_add(c.name, c.text);
    UINT line = 99;
    HINF h = SetupOpenInfFileA(c.name.c_str(), nullptr, INF_STYLE_WIN4, &line);
    if (c.error) {
      EXPECT_EQ(INVALID_HANDLE_VALUE, h) << c.name;
      EXPECT_EQ(c.error, GetLastError()) << c.name;
      EXPECT_EQ(c.line, line) << c.name;
      continue;
    }
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << c.name;
    char buf[64];
    DWORD size = 0;
    EXPECT_TRUE(SetupGetLineTextA(nullptr, h, zo.c_str(), "Key", buf, sizeof buf, &size));
    EXPECT_EQ(c.key, buf) << c.name;
    SetupCloseInfFile(h);
  }
}

} // namespace
