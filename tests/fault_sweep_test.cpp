// Fault sweep: a clean run of each built-in machine is recorded, and then, for every distinct
// platform call site of that run, the run is repeated with that call failing, once with each
// error code its step tells apart and once with a code it does not. Every such run must end
// normally (exit code 0 and a closing box), report the failure under the failed call's caption
// where its step reports it, record it where its step records it, delete only what the
// catalogue names and leave nothing open.
#include "tests/reliability_support.h"

#include "core/texts.h"
#include "tools/builtin_machines.h"
#include "tools/encoding.h"
#include "tools/machine_file.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace {

struct scenario {
  const char *machine;
  const char *command_tail;
};

const scenario scenarios[] = {
    {"win2000", "--complete"},         {"win2000", ""},        {"clean-win2000", ""},
    {"clean-win2000", "-C"},           {"win98", ""},          {"clean-win98", ""},
    {"win2000-failing", "--complete"}, {"win7", "--complete"}, {"win11", ""},
};

// The codes a caller tells apart, for the functions whose callers tell any apart; every
// function is also failed with ERROR_ACCESS_DENIED, which no caller singles out.
const std::map<std::string, std::vector<DWORD>> distinguished_codes = {
    {"SetFileAttributesA", {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND}},
    {"SetupDiGetDeviceRegistryPropertyA", {ERROR_INVALID_DATA, ERROR_INSUFFICIENT_BUFFER}},
    {"SetupDiEnumDeviceInfo", {ERROR_NO_MORE_ITEMS}},
    {"RegEnumKeyExA", {ERROR_NO_MORE_ITEMS, ERROR_MORE_DATA}},
    {"RegEnumValueA", {ERROR_NO_MORE_ITEMS, ERROR_MORE_DATA}},
    {"RegOpenKeyExA", {ERROR_FILE_NOT_FOUND}},
    {"RegDeleteValueA", {ERROR_FILE_NOT_FOUND}},
    {"RegDeleteKeyA", {ERROR_FILE_NOT_FOUND}},
    {"SetupOpenInfFileA", {ERROR_FILE_NOT_FOUND}},
    {"SetupGetLineTextA", {ERROR_LINE_NOT_FOUND}},
    {"SetupUninstallOEMInfA",
     {ERROR_FILE_NOT_FOUND, ERROR_NOT_AN_INSTALLED_OEM_INF, ERROR_INF_IN_USE_BY_DEVICES}},
    {"DeleteFileA", {ERROR_SHARING_VIOLATION}},
    {"FindFirstFileA", {ERROR_FILE_NOT_FOUND}},
    {"FindNextFileA", {ERROR_NO_MORE_FILES}},
};

// Calls that cannot fail, or whose failure the simulation answers by keeping a resource that
// the program has handed back (a release has nothing left to do on failure), and the run's own
// marks in the call log: not swept.
const std::set<std::string> not_swept = {"(step)",
                                         "(failure)",
                                         "(kept)",
                                         "GetLastError",
                                         "SetLastError",
                                         "GetCurrentProcess",
                                         "lstrlenA",
                                         "MessageBoxA",
                                         "LocalFree",
                                         "SetupDiDestroyDeviceInfoList",
                                         "SetupCloseInfFile",
                                         "FindClose"};

// The caption under which a failure of the function is reported, "" when it never is.
std::string caption_of(const std::string &function) {
  static const std::map<std::string, const char *> captions = {
      {"RegOpenKeyExA", caption_reg_open_key_ex},
      {"RegCloseKey", caption_reg_close_key},
      {"RegDeleteKeyA", caption_reg_delete_key},
      {"GetWindowsDirectoryA", caption_get_windows_directory},
      {"GetSystemDirectoryA", caption_get_system_directory},
      {"SetFileAttributesA", caption_set_file_attributes},
      {"DeleteFileA", caption_delete_file},
      {"LoadLibraryA", caption_load_library},
      {"GetProcAddress", caption_get_proc_address},
      {"FreeLibrary", caption_free_library},
      {"SetupDiGetClassDevsA", caption_setup_di_get_class_devs},
      {"SetupDiGetDeviceRegistryPropertyA", caption_get_device_registry_property},
      {"LocalAlloc", caption_local_alloc},
      {"SetupDiCallClassInstaller", caption_call_class_installer},
      {"SetupDiEnumDeviceInfo", caption_unknown},
      {"GetVersionExA", caption_get_version_ex},
      {"SetupUninstallOEMInfA", caption_setup_uninstall_oem_inf},
      {"FindFirstFileA", caption_find_first_file},
      {"FindNextFileA", caption_find_next_file},
      // Called only after DeleteFileA failed: when it fails too, the deletion is reported.
      {"MoveFileExA", caption_delete_file},
  };
  auto it = captions.find(function);
  return it == captions.end() ? std::string() : it->second;
}

// A call site: the function and its subject with numbers made alike (OEM7.inf and OEM8.inf,
// ControlSet001 and ControlSet002, instance 0000 and 0001 are one site each).
std::string site_of(const sim::call &c) {
  std::string site = c.function + " ";
  for (char ch : c.subject)
    site += (ch >= '0' && ch <= '9')
                ? '#'
                : static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return site;
}

reliability::machine_plan load(const scenario &s) {
  const builtin_machine *builtin = find_builtin_machine(s.machine);
  EXPECT_NE(builtin, nullptr) << s.machine;
  machine_description machine;
  load_error error;
  EXPECT_TRUE(read_machine_text(builtin->text, s.machine, ".", machine, error)) << describe(error);
  apply_machine(machine);
  reliability::machine_plan plan;
  plan.win98 = machine.win98;
  plan.command_tail = s.command_tail;
  plan.devices = machine.devices;
  plan.faults = machine.faults;
  plan.origin = std::string("built-in machine ") + s.machine;
  return plan;
}

struct sweep_totals {
  int sites = 0;
  int runs = 0;
  std::set<std::string> functions;
  std::set<std::pair<std::string, DWORD>> codes; // function and error code
};

struct site {
  sim::call call;
  int nth; // the call's ordinal among the calls of its function
};

// The first call of every site of a run.
std::vector<site> call_sites(const std::vector<sim::call> &calls) {
  std::set<std::string> seen;
  std::map<std::string, int> ordinals;
  std::vector<site> sites;
  for (const sim::call &c : calls) {
    int nth = ++ordinals[c.function];
    if (not_swept.count(c.function) || !seen.insert(site_of(c)).second)
      continue;
    sites.push_back({c, nth});
  }
  return sites;
}

// Functions whose every failure is reported, whatever the code.
const std::set<std::string> always_reported = {"LoadLibraryA",
                                               "GetProcAddress",
                                               "FreeLibrary",
                                               "SetupDiGetClassDevsA",
                                               "SetupDiCallClassInstaller",
                                               "GetWindowsDirectoryA",
                                               "GetSystemDirectoryA",
                                               "LocalAlloc",
                                               "DeleteFileA"};

// A report that follows the failed call names it.
void check_report_of(const site &target, DWORD code, const reliability::machine_plan &plan,
                     const reliability::run_record &faulted, const std::string &where) {
  // On the Windows 2000 family a file in use is deleted at restart instead.
  bool scheduled = target.call.function == "DeleteFileA" && !plan.win98 &&
                   (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION);
  const std::vector<sim::call> &after = sim::calls();
  int count = 0;
  for (size_t i = faulted.first_call; i < after.size(); ++i) {
    if (after[i].function != target.call.function || ++count != target.nth)
      continue;
    size_t j = i + 1;
    while (j < after.size() &&
           (after[j].function == "GetLastError" || after[j].function == "FormatMessageA"))
      ++j;
    bool reported = j < after.size() && after[j].function == "MessageBoxA" &&
                    after[j].subject != text_program_caption;
    // A failed FormatMessageA is part of a report of another call: its box is that one's.
    if (reported && target.call.function != "FormatMessageA") {
      EXPECT_EQ(after[j].subject, caption_of(target.call.function))
          << where << ": reported under another caption";
      // The run's account has the report with its caption, code and the failed call's subject.
      const sim::mark *mark = nullptr;
      for (const sim::mark &m : sim::marks())
        if (!mark && m.call > j && m.kind == sim::mark::failure)
          mark = &m;
      ASSERT_NE(mark, nullptr) << where << ": no failure in the account";
      EXPECT_EQ(mark->caption, after[j].subject) << where;
      // A failed scheduling reports the deletion's own failure, with its code.
      if (target.call.function != "MoveFileExA") {
        EXPECT_EQ(mark->code, code) << where;
      }
      EXPECT_TRUE(mark->subject.empty() || ascii_iequal(mark->subject, target.call.subject))
          << where << ": the account names " << mark->subject;
    }
    // A function a library may lack is looked up without a report.
    if (always_reported.count(target.call.function) &&
        target.call.subject != "SetupUninstallOEMInfA" &&
        target.call.subject != "SetupDiGetDeviceInstallParamsA" && !scheduled) {
      EXPECT_TRUE(reported) << where << ": not reported";
    }
    return;
  }
}

void check_faulted_run(const scenario &s, const site &target, DWORD code, sweep_totals &totals) {
  reliability::machine_plan plan = load(s);
  plan.faults.push_back(sim::fault{target.call.function, code, "", target.nth, 1});
  reliability::snapshot before = reliability::take_snapshot(plan);
  reliability::run_record faulted = reliability::run_uninstaller(plan, nullptr);
  ++totals.runs;
  totals.functions.insert(target.call.function);
  totals.codes.insert({target.call.function, code});
  std::string where = target.call.function + " (" + target.call.subject + ", call " +
                      std::to_string(target.nth) + ") failing with " + std::to_string(code);
  if (target.call.function == "GetVersionExA") {
    // The platform is unknown: the report, the refusal, exit code -1, nothing touched.
    EXPECT_EQ(faulted.exit_code, -1) << where;
    ASSERT_EQ(sim::boxes().size(), 2u) << where;
    EXPECT_EQ(sim::boxes()[0].caption, caption_get_version_ex) << where;
    EXPECT_EQ(sim::boxes()[1].text, text_unsupported_platform) << where;
    EXPECT_TRUE(sim::changes().empty()) << where;
    return;
  }
  for (const std::string &p : reliability::check_run(plan, before, faulted))
    ADD_FAILURE() << where << ": " << p;
  check_report_of(target, code, plan, faulted, where);
}

void sweep(const scenario &s, sweep_totals &totals) {
  SCOPED_TRACE(std::string(s.machine) + " " + s.command_tail);
  reliability::machine_plan clean = load(s);
  reliability::snapshot before = reliability::take_snapshot(clean);
  reliability::run_record run = reliability::run_uninstaller(clean, nullptr);
  for (const std::string &p : reliability::check_run(clean, before, run))
    ADD_FAILURE() << "clean run: " << p;
  std::vector<sim::call> calls(sim::calls().begin() + static_cast<long>(run.first_call),
                               sim::calls().end());
  std::vector<site> sites = call_sites(calls);
  totals.sites += static_cast<int>(sites.size());
  for (const site &target : sites) {
    std::vector<DWORD> codes = {ERROR_ACCESS_DENIED};
    auto distinguished = distinguished_codes.find(target.call.function);
    if (distinguished != distinguished_codes.end())
      codes.insert(codes.end(), distinguished->second.begin(), distinguished->second.end());
    for (DWORD code : codes)
      check_faulted_run(s, target, code, totals);
  }
}

TEST(fault_sweep, every_call_site_of_every_builtin_machine_fails_gracefully) {
  sweep_totals totals;
  for (const scenario &s : scenarios)
    sweep(s, totals);
  std::printf("fault sweep: %zu scenarios, %d call sites of %zu functions, %zu function and "
              "error code pairs, %d faulted runs\n",
              sizeof scenarios / sizeof *scenarios, totals.sites, totals.functions.size(),
              totals.codes.size(), totals.runs);
}

} // namespace
