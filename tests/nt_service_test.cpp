// The service key across control sets: the walk, the 8-character name rule, nested subkeys,
// and the outcome kept over all sets.
#include "core/catalogue.h"
#include "nt/nt_steps.h"
#include "tests/nt_support.h"

namespace {

using namespace nt;
using service_keys = win2000_test;

struct walk_row {
  const char *name;
  int model;
  std::function<void()> setup;
  int status;
  std::vector<std::pair<DWORD, const char *>> reports;
  std::vector<std::string> kept;    // keys that must still exist
  std::vector<std::string> deleted; // keys that must be gone
};

void service(int set, const std::string &name) {
  sim::reg_set_dword(services_key(set) + "\\" + name, "Start", 3);
}

TEST_F(service_keys, the_walk_over_the_control_sets) {
  const std::string key1 = service_key(1, 0), key2 = service_key(2, 0), key3 = service_key(3, 0);
  const walk_row rows[] = {
      {"nowhere", 0, [] { install_control_set(2); }, STATUS_NONE, {}, {}, {}},
      // The current set is ControlSet001: deleted through it, then found gone in 001. The
      // deletion counts although the last set visited found nothing.
      {"current set only", 0, [] { service(1, "Q40PUCOM"); }, STATUS_REMOVED, {}, {}, {key1}},
      {"current set and ControlSet002",
       0,
       [] {
         service(1, "Q40PUCOM");
         service(2, "Q40PUCOM");
         sim::reg_add_key(service_key(2, 0) + "\\Enum");
       },
       STATUS_REMOVED,
       {},
       {},
       {key1, key2}},
      {"only ControlSet002", 0, [] { service(2, "Q40PUCOM"); }, STATUS_REMOVED, {}, {}, {key2}},
      {"a gap ends the walk",
       0,
       [] {
         service(1, "Q40PUCOM");
         service(3, "Q40PUCOM");
       },
       STATUS_REMOVED,
       {},
       {key3},
       {key1}},
      {"a nested subkey keeps the key; later sets go on",
       0,
       [] {
         service(1, "Q40PUCOM");
         sim::reg_add_key(service_key(1, 0) + "\\Enum");
         sim::reg_add_key(service_key(1, 0) + "\\Parameters\\Deep");
         service(2, "Q40PUCOM");
       },
       STATUS_FAILED,
       // Reported in the current set and again in ControlSet001, the same key.
       {{ERROR_ACCESS_DENIED, caption_reg_delete_key},
        {ERROR_ACCESS_DENIED, caption_reg_delete_key}},
       {key1 + "\\Parameters\\Deep"},
       {key1 + "\\Enum", key2}},
      {"other letter case is not the service",
       0,
       [] { service(1, "q40pucom"); },
       STATUS_NONE,
       {},
       {services_key(1) + "\\q40pucom"},
       {}},
      // Eight characters are compared: a longer name beginning with them is taken for the
      // service, and opening the service itself then fails.
      {"longer name after eight characters",
       0,
       [] { service(1, "Q40PUCOMX"); },
       STATUS_FAILED,
       {{ERROR_FILE_NOT_FOUND, caption_reg_open_key_ex},
        {ERROR_FILE_NOT_FOUND, caption_reg_open_key_ex}},
       {services_key(1) + "\\Q40PUCOMX"},
       {}},
      // Deleted through the current set; ControlSet001 then still holds the longer name alone.
      {"longer name next to the service",
       0,
       [] {
         service(1, "Q40PUCOMX");
         service(1, "Q40PUCOM");
       },
       STATUS_FAILED,
       {{ERROR_FILE_NOT_FOUND, caption_reg_open_key_ex}},
       {services_key(1) + "\\Q40PUCOMX"},
       {key1}},
      {"seven-character name: exact only",
       1,
       [] {
         service(1, "Q40UCOMX");
         service(1, "Q40UCO");
       },
       STATUS_NONE,
       {},
       {services_key(1) + "\\Q40UCOMX", services_key(1) + "\\Q40UCO"},
       {}},
      {"current Services key not opened: nothing visited",
       0,
       [] {
         service(2, "Q40PUCOM");
         sim::reg_deny(services_key(1), KEY_WRITE);
       },
       STATUS_NONE,
       {},
       {key2},
       {}},
  };
  for (const walk_row &row : rows) {
    SCOPED_TRACE(row.name);
    sim::machine_win2000();
    reset_process_state();
    row.setup();
    sim::answers(std::vector<int>(row.reports.size(), IDOK));
    bound_run([&] { remove_service_keys(row.model); });
    EXPECT_EQ(get_nt_service_status(row.model), row.status);
    std::vector<expected_box> boxes;
    for (const auto &report : row.reports)
      boxes.push_back(error_box(report.first, report.second));
    expect_boxes(boxes);
    for (const std::string &key : row.kept)
      EXPECT_TRUE(sim::reg_key_exists(key)) << key;
    for (const std::string &key : row.deleted)
      EXPECT_FALSE(sim::reg_key_exists(key)) << key;
    EXPECT_TRUE(sim::leaks().empty());
  }
}

TEST_F(service_keys, every_services_key_is_flushed_and_closed_before_the_next_opens) {
  install_control_set(2);
  bound_run([] { remove_service_keys(0); });
  std::vector<std::string> sequence;
  for (const sim::call &c : sim::calls())
    if (c.function == "RegOpenKeyExA" || c.function == "RegFlushKey" || c.function == "RegCloseKey")
      sequence.push_back(c.function + " " + c.subject);
  const std::string root = "HKEY_LOCAL_MACHINE\\";
  EXPECT_EQ(sequence, (std::vector<std::string>{
                          "RegOpenKeyExA " + root + services_key(0),
                          "RegFlushKey " + root + services_key(0),
                          "RegCloseKey " + root + services_key(0),
                          "RegOpenKeyExA " + root + services_key(1),
                          "RegFlushKey " + root + services_key(1),
                          "RegCloseKey " + root + services_key(1),
                          "RegOpenKeyExA " + root + services_key(2),
                          "RegFlushKey " + root + services_key(2),
                          "RegCloseKey " + root + services_key(2),
                          "RegOpenKeyExA " + root + services_key(3),
                      }));
}

TEST_F(service_keys, no_key_given) {
  EXPECT_EQ(remove_service_key(nullptr, 0), STATUS_FAILED);
  EXPECT_EQ(find_service_subkey(nullptr, 0), 0);
  EXPECT_EQ(delete_direct_subkeys(nullptr), STATUS_FAILED);
  EXPECT_TRUE(sim::calls().empty());
}

} // namespace
