// The simulated system: modules, messages, version, local memory, tokens, message boxes,
// faults, hooks and the call log.
#include "sim/sim.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

class SimSystem : public ::testing::Test {
protected:
  void SetUp() override { sim::machine_win2000(); }
};

template <class F> FARPROC as_proc(F f) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(f));
}

TEST_F(SimSystem, LoadLibraryNames) {
  for (const char *name :
       {"setupapi", "SETUPAPI.DLL", "SetupApi.dll", "kernel32", "ADVAPI32", "user32.dll"}) {
    HMODULE h = LoadLibraryA(name);
    EXPECT_NE(nullptr, h) << name;
    EXPECT_TRUE(FreeLibrary(h)) << name;
  }
  for (const char *name : {"cfgmgr32", "setupapi32", ""}) {
    EXPECT_EQ(nullptr, LoadLibraryA(name)) << name;
  }
  EXPECT_EQ(nullptr, LoadLibraryA("newdev.dll"));
  EXPECT_EQ(DWORD(ERROR_MOD_NOT_FOUND), GetLastError());
  EXPECT_TRUE(sim::leaks().empty());
}

TEST_F(SimSystem, ModulesAreReferenceCounted) {
  HMODULE a = LoadLibraryA("setupapi");
  HMODULE b = LoadLibraryA("SETUPAPI.dll");
  EXPECT_EQ(a, b);
  EXPECT_EQ(std::vector<std::string>{"loaded module setupapi (2 references)"}, sim::leaks());
  EXPECT_TRUE(FreeLibrary(a));
  EXPECT_NE(nullptr, GetProcAddress(a, "SetupCloseInfFile"));
  EXPECT_TRUE(FreeLibrary(b));
  EXPECT_TRUE(sim::leaks().empty());
  EXPECT_FALSE(FreeLibrary(a));
  EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
  EXPECT_FALSE(FreeLibrary(nullptr));
  EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
}

struct export_case {
  const char *module;
  const char *name;
  FARPROC expected;
};

TEST_F(SimSystem, ExportsAreTheSimulationsFunctions) {
  const export_case cases[] = {
      {"setupapi", "SetupDiGetClassDevsA", as_proc(&SetupDiGetClassDevsA)},
      {"setupapi", "SetupCloseInfFile", as_proc(&SetupCloseInfFile)},
      {"advapi32", "RegOpenKeyExA", as_proc(&RegOpenKeyExA)},
      {"advapi32", "RegDeleteValueA", as_proc(&RegDeleteValueA)},
      {"advapi32", "AdjustTokenPrivileges", as_proc(&AdjustTokenPrivileges)},
      {"kernel32", "DeleteFileA", as_proc(&DeleteFileA)},
      {"kernel32", "GetWindowsDirectoryA", as_proc(&GetWindowsDirectoryA)},
      {"user32", "MessageBoxA", as_proc(&MessageBoxA)},
      {"user32", "ExitWindowsEx", as_proc(&ExitWindowsEx)},
      {"kernel32", "RegOpenKeyExA", nullptr}, // wrong module
      {"advapi32", "regopenkeyexa", nullptr}, // export names are case-sensitive
      {"setupapi", "SetupDiGetClassDevsW", nullptr},
  };
  for (const auto &c : cases) {
    HMODULE h = LoadLibraryA(c.module);
    SetLastError(0);
    EXPECT_EQ(c.expected, GetProcAddress(h, c.name)) << c.module << "!" << c.name;
    if (!c.expected) {
      EXPECT_EQ(DWORD(ERROR_PROC_NOT_FOUND), GetLastError()) << c.name;
    }
    FreeLibrary(h);
  }
  // Called through the pointer, the function works.
  HMODULE k = LoadLibraryA("kernel32");
  typedef UINT(WINAPI * dir_fn)(LPSTR, UINT);
  dir_fn dir = reinterpret_cast<dir_fn>(
      reinterpret_cast<void (*)()>(GetProcAddress(k, "GetWindowsDirectoryA")));
  char buf[260];
  EXPECT_EQ(10u, dir(buf, sizeof buf));
  FreeLibrary(k);
}

TEST_F(SimSystem, RemovedModulesAndExports) {
  sim::module_remove("setupapi");
  sim::export_remove("advapi32", "RegEnumValueA");
  EXPECT_EQ(nullptr, LoadLibraryA("setupapi"));
  EXPECT_EQ(DWORD(ERROR_MOD_NOT_FOUND), GetLastError());
  HMODULE a = LoadLibraryA("advapi32");
  EXPECT_EQ(nullptr, GetProcAddress(a, "RegEnumValueA"));
  EXPECT_EQ(DWORD(ERROR_PROC_NOT_FOUND), GetLastError());
  EXPECT_NE(nullptr, GetProcAddress(a, "RegEnumKeyExA"));
  FreeLibrary(a);
}

TEST_F(SimSystem, FormatMessageAllocatesWithLocalAlloc) {
  LPSTR text = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                           ERROR_ACCESS_DENIED, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                           reinterpret_cast<LPSTR>(&text), 0, nullptr);
  ASSERT_NE(nullptr, text);
  EXPECT_STREQ("Access is denied.\r\n", text);
  EXPECT_EQ(std::strlen(text), n);
  EXPECT_EQ(1u, sim::leaks().size());
  EXPECT_EQ(nullptr, LocalFree(text));
  EXPECT_TRUE(sim::leaks().empty());

  LPSTR untouched = reinterpret_cast<LPSTR>(0x1234);
  EXPECT_EQ(0u,
            FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                           0xE0000102L, 0x400, reinterpret_cast<LPSTR>(&untouched), 0, nullptr));
  EXPECT_EQ(DWORD(ERROR_MR_MID_NOT_FOUND), GetLastError());
  EXPECT_EQ(reinterpret_cast<LPSTR>(0x1234), untouched);

  sim::set_message_text(5, "Zugriff verweigert.\r\n");
  EXPECT_EQ("Zugriff verweigert.\r\n", sim::message_text(5));
  sim::remove_message_text(2);
  EXPECT_EQ("", sim::message_text(2));
  for (DWORD code : {3u, 6u, 8u, 13u, 32u, 87u, 122u, 126u, 127u, 234u, 259u, 1018u}) {
    std::string t = sim::message_text(code);
    ASSERT_GE(t.size(), 3u) << code;
    EXPECT_EQ("\r\n", t.substr(t.size() - 2)) << code;
  }
}

TEST_F(SimSystem, LocalMemory) {
  BYTE *p = static_cast<BYTE *>(LocalAlloc(LMEM_ZEROINIT, 64));
  ASSERT_NE(nullptr, p);
  for (int i = 0; i < 64; ++i)
    ASSERT_EQ(0, p[i]);
  EXPECT_EQ(std::vector<std::string>{"local memory block of 64 byte(s)"}, sim::leaks());
  EXPECT_EQ(nullptr, LocalFree(p));
  EXPECT_EQ(nullptr, LocalFree(nullptr));
  int stack = 0;
  EXPECT_EQ(&stack, LocalFree(&stack));
  EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
  sim::fail("LocalAlloc", ERROR_NOT_ENOUGH_MEMORY, "", 1);
  EXPECT_EQ(nullptr, LocalAlloc(LPTR, 8));
  EXPECT_EQ(DWORD(ERROR_NOT_ENOUGH_MEMORY), GetLastError());
  EXPECT_TRUE(sim::leaks().empty());
  EXPECT_EQ(0, lstrlenA(nullptr));
  EXPECT_EQ(5, lstrlenA("Ports"));
}

TEST_F(SimSystem, Version) {
  OSVERSIONINFOA v;
  std::memset(&v, 0, sizeof v);
  v.dwOSVersionInfoSize = 100;
  EXPECT_FALSE(GetVersionExA(&v));
  EXPECT_EQ(DWORD(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  v.dwOSVersionInfoSize = sizeof v;
  ASSERT_TRUE(GetVersionExA(&v));
  EXPECT_EQ(DWORD(VER_PLATFORM_WIN32_NT), v.dwPlatformId);
  EXPECT_EQ(5u, v.dwMajorVersion);
  EXPECT_EQ(0u, v.dwMinorVersion);
  EXPECT_EQ(2195u, v.dwBuildNumber);

  sim::machine_win98();
  ASSERT_TRUE(GetVersionExA(&v));
  EXPECT_EQ(DWORD(VER_PLATFORM_WIN32_WINDOWS), v.dwPlatformId);
  EXPECT_EQ(4u, v.dwMajorVersion);
  EXPECT_EQ(10u, v.dwMinorVersion);
  EXPECT_EQ(0x040A08AEu, v.dwBuildNumber);
  EXPECT_EQ(reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)), GetCurrentProcess());
}

TEST_F(SimSystem, RestartIsRecordedNotActedOn) {
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
  TOKEN_PRIVILEGES tp;
  ASSERT_TRUE(LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &tp.Privileges[0].Luid));
  tp.PrivilegeCount = 1;
  tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr));
  EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT, 0));
  const sim::restart_record &r = sim::restart();
  EXPECT_EQ(1, r.open_process_token_calls);
  EXPECT_EQ(DWORD(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY), r.token_access);
  EXPECT_EQ(SE_SHUTDOWN_NAME, r.privilege_looked_up);
  EXPECT_TRUE(r.system_name_null);
  EXPECT_EQ(1, r.adjust_calls);
  EXPECT_FALSE(r.disable_all);
  EXPECT_EQ(1u, r.privilege_count);
  EXPECT_EQ(sim::shutdown_privilege_luid().LowPart, r.privilege_luid.LowPart);
  EXPECT_EQ(DWORD(SE_PRIVILEGE_ENABLED), r.privilege_attributes);
  EXPECT_EQ(0u, r.buffer_length);
  EXPECT_TRUE(r.previous_state_null);
  EXPECT_TRUE(r.return_length_null);
  EXPECT_EQ(1, r.exit_windows_calls);
  EXPECT_EQ(UINT(EWX_REBOOT), r.exit_flags);
  EXPECT_EQ(0u, r.exit_reason);
}

TEST_F(SimSystem, MessageBoxesAnswerFromTheScriptThenTheUser) {
  sim::answers({IDOK, IDCANCEL});
  EXPECT_EQ(IDOK, MessageBoxA(nullptr, "Remove?", "Quendal", MB_OKCANCEL));
  EXPECT_EQ(IDCANCEL, MessageBoxA(reinterpret_cast<HWND>(0x10), "Again?", "Quendal", MB_OKCANCEL));
  EXPECT_EQ(IDCANCEL, MessageBoxA(nullptr, "Unscripted", "Quendal", MB_OK)); // default user
  EXPECT_EQ(1, sim::unscripted_boxes());
  sim::set_user([](const sim::box &b) { return b.type == MB_OKCANCEL ? IDOK : IDCANCEL; });
  EXPECT_EQ(IDOK, MessageBoxA(nullptr, "\x83\x82\x83\x66\x83\x80", "Q", MB_OKCANCEL));
  ASSERT_EQ(4u, sim::boxes().size());
  EXPECT_EQ("Remove?", sim::boxes()[0].text);
  EXPECT_FALSE(sim::boxes()[0].has_owner);
  EXPECT_TRUE(sim::boxes()[1].has_owner);
  EXPECT_EQ(IDCANCEL, sim::boxes()[2].answer);
  EXPECT_EQ("\x83\x82\x83\x66\x83\x80", sim::boxes()[3].text); // bytes as given
  EXPECT_EQ(1, sim::unscripted_boxes());
}

TEST_F(SimSystem, FaultTimesAndNth) {
  sim::fault f;
  f.function = "LoadLibraryA";
  f.error = ERROR_MOD_NOT_FOUND;
  f.subject = "advapi32";
  f.nth = 0;
  f.times = 2;
  sim::fail(f);
  EXPECT_EQ(nullptr, LoadLibraryA("advapi32"));
  HMODULE k = LoadLibraryA("kernel32");
  EXPECT_NE(nullptr, k);
  EXPECT_EQ(nullptr, LoadLibraryA("advapi32"));
  HMODULE a = LoadLibraryA("advapi32");
  EXPECT_NE(nullptr, a);
  sim::fail("GetProcAddress", ERROR_PROC_NOT_FOUND, "RegCloseKey", 2);
  EXPECT_NE(nullptr, GetProcAddress(a, "RegCloseKey"));
  EXPECT_EQ(nullptr, GetProcAddress(a, "RegCloseKey"));
  EXPECT_NE(nullptr, GetProcAddress(a, "RegCloseKey"));
  FreeLibrary(a);
  EXPECT_EQ(std::vector<std::string>{"loaded module kernel32 (1 reference)"}, sim::leaks());
  FreeLibrary(k);
  EXPECT_TRUE(sim::leaks().empty());
}

TEST_F(SimSystem, HooksRunBeforeFaultsAndTheCallLogKeepsOrder) {
  int seen = 0;
  sim::on_call("DeleteFileA", [&] {
    ++seen;
    sim::file_add("C:\\WINDOWS\\late.sys");
  });
  EXPECT_TRUE(DeleteFileA("C:\\WINDOWS\\late.sys"));
  EXPECT_EQ(1, seen);
  ASSERT_FALSE(sim::calls().empty());
  EXPECT_EQ("DeleteFileA", sim::calls().back().function);
  EXPECT_EQ("C:\\WINDOWS\\late.sys", sim::calls().back().subject);
  EXPECT_EQ(1, sim::call_count("DeleteFileA"));
}

TEST_F(SimSystem, ResetPutsEverythingBack) {
  sim::answer(IDOK);
  LocalAlloc(LPTR, 4);
  LoadLibraryA("user32");
  SetLastError(5);
  sim::fail("MessageBoxA", 5);
  sim::reset();
  EXPECT_TRUE(sim::leaks().empty());
  EXPECT_TRUE(sim::calls().empty());
  EXPECT_EQ(0u, GetLastError());
  EXPECT_EQ(IDCANCEL, MessageBoxA(nullptr, "t", "c", MB_OK)); // no answer left, no fault
  EXPECT_EQ(1, sim::unscripted_boxes());
}

} // namespace
