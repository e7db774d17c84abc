// Detection and removal of device instances: hardware-id matching, DIF_REMOVE over several
// instances, the growing property size, and the question for models 1 and 2.
#include "core/catalogue.h"
#include "nt/nt_steps.h"
#include "tests/nt_support.h"

namespace {

using namespace nt;
using devices = win2000_test;

// As Windows 2000 writes it, the machine these tests play.
const std::string id0 = spelled::device_id(0, spelling::win2000_xp);

TEST(hardware_ids, whole_entries_of_the_list_within_its_size) {
  using namespace std::string_literals;
  struct row {
    const char *name;
    std::string list;
    int size; // -1: the list's own length
    int found;
  } rows[] = {
      {"only entry", id0 + "\0\0"s, -1, 1},
      {"later entry", "USB\\Vid_1E7A&Pid_0080&Rev_0100\0USB\\Class_02\0"s + id0 + "\0\0"s, -1, 1},
      {"with a suffix only", id0 + "&Rev_0100\0\0"s, -1, 0},
      {"in the catalogue's own spelling", std::string(model_hardware_id(0)) + "\0\0"s, -1, 1},
      {"shorter", "USB\\Vid_1e7a&Pid_008\0\0"s, -1, 0},
      // Windows matches ids in any letter case: the bus driver of Windows 2000 and XP writes
      // lower-case hex digits, that of Vista to 11 capitals.
      {"as Windows 2000 and XP write it",
       "USB\\Vid_1e7a&Pid_0080&Rev_0100\0USB\\Vid_1e7a&Pid_0080\0\0"s, -1, 1},
      {"as Vista to 11 write it", "USB\\VID_1E7A&PID_0080&REV_0100\0USB\\VID_1E7A&PID_0080\0\0"s,
       -1, 1},
      {"the revision entry alone, in capitals", "USB\\VID_1E7A&PID_0080&REV_0100\0\0"s, -1, 0},
      {"a longer product number", "USB\\VID_1E7A&PID_00801\0\0"s, -1, 0},
      {"after the empty string that ends the list", "A\0\0"s + id0 + "\0\0"s, -1, 0},
      {"empty list", "\0\0"s, -1, 0},
      {"no size", id0 + "\0\0"s, 0, 0},
      {"last entry without the list terminator", "A\0"s + id0 + "\0"s, -1, 1},
      {"entry cut by the end of the buffer", "A\0"s + id0, -1, 0},
      {"size ends inside the entry", "A\0"s + id0 + "\0\0"s, 10, 0},
  };
  for (const row &r : rows) {
    // The bytes at the very end of their own block, so a walk past the size reads outside it.
    std::vector<char> block(r.list.begin(), r.list.end());
    DWORD size = r.size < 0 ? static_cast<DWORD>(block.size()) : static_cast<DWORD>(r.size);
    EXPECT_EQ(hardware_ids_contain(0, block.data(), size), r.found) << r.name;
  }
}

struct device_row {
  const char *name;
  std::vector<sim::device> devices;
  int status;
  std::vector<std::string> removed;
  std::vector<const char *> captions; // reports with ERROR_ACCESS_DENIED's text
};

sim::device dev(const std::string &instance, const std::vector<std::string> &ids,
                DWORD remove_error = 0, bool present = true) {
  sim::device d;
  d.instance_id = instance;
  d.hardware_ids = sim::multi_string(ids);
  d.present = present;
  d.remove_error = remove_error;
  return d;
}

sim::device no_ids(const std::string &instance) {
  sim::device d;
  d.instance_id = instance;
  d.has_hardware_ids = false;
  return d;
}

TEST_F(devices, every_matching_instance_goes_and_the_last_one_decides) {
  const DWORD denied = ERROR_ACCESS_DENIED;
  const device_row rows[] = {
      {"none", {}, STATUS_NONE, {}, {}},
      {"others only",
       {dev("A\\1", {"USB\\VID_1E7A&PID_0080&REV_0100"}), dev("A\\2", {"USB\\VID_1E7A&PID_0081"}),
        no_ids("A\\3")},
       STATUS_NONE,
       {},
       {}},
      {"one unplugged", {dev("A\\1", {"X", id0}, 0, false)}, STATUS_REMOVED, {"A\\1"}, {}},
      {"two with others between",
       {dev("A\\1", {id0}), no_ids("A\\2"), dev("A\\3", {"Y"}), dev("A\\4", {"X", id0})},
       STATUS_REMOVED,
       {"A\\1", "A\\4"},
       {}},
      {"first fails, second removed",
       {dev("A\\1", {id0}, denied), dev("A\\2", {id0})},
       STATUS_REMOVED,
       {"A\\2"},
       {caption_call_class_installer}},
      {"first removed, last fails",
       {dev("A\\1", {id0}), dev("A\\2", {id0}, denied)},
       STATUS_FAILED,
       {"A\\1"},
       {caption_call_class_installer}},
  };
  for (const device_row &row : rows) {
    SCOPED_TRACE(row.name);
    sim::machine_win2000();
    reset_process_state();
    for (const sim::device &d : row.devices)
      sim::device_add(d);
    sim::answers(std::vector<int>(row.captions.size(), IDOK));
    bound_run([] { remove_device_nodes(0); });
    EXPECT_EQ(get_nt_device_status(0), row.status);
    std::vector<std::string> removed;
    for (const sim::change &c : sim::changes())
      if (c.kind == sim::change::device_removed)
        removed.push_back(c.subject);
    EXPECT_EQ(removed, row.removed);
    std::vector<expected_box> boxes;
    for (const char *caption : row.captions)
      boxes.push_back(error_box(ERROR_ACCESS_DENIED, caption));
    expect_boxes(boxes);
    EXPECT_TRUE(sim::leaks().empty());
  }
}

TEST_F(devices, a_growing_property_gets_a_new_buffer_each_time) {
  sim::device_add(dev("A\\1", {"X", id0}));
  // The list grows before the second and the third query; the fourth fits.
  int queries = 0;
  sim::on_call("SetupDiGetDeviceRegistryPropertyA", [&queries] {
    ++queries;
    if (queries == 2)
      sim::device_add(dev("A\\1", {"USB\\Class_02&SubClass_02", "X", id0}));
    if (queries == 3)
      sim::device_add(
          dev("A\\1", {"USB\\Class_02&SubClass_02&Prot_01", "USB\\Class_02", "X", id0}));
  });
  bound_run([] { remove_device_nodes(0); });
  EXPECT_EQ(queries, 4);
  EXPECT_EQ(sim::call_count("LocalAlloc"), 3);
  EXPECT_EQ(sim::call_count("LocalFree"), 3);
  EXPECT_EQ(get_nt_device_status(0), STATUS_REMOVED);
  EXPECT_FALSE(sim::device_exists("A\\1"));
  expect_boxes({});
}

TEST_F(devices, read_hardware_ids_hands_over_the_list_and_its_size) {
  const std::string list = sim::multi_string({"X", id0});
  sim::device_add(dev("A\\1", {"X", id0}));
  sim::device_add(no_ids("A\\2"));
  bound_run([&] {
    HDEVINFO set =
        BOUND(nt_setupapi_table, SetupDiGetClassDevsA)(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    SP_DEVINFO_DATA record = {};
    record.cbSize = sizeof record;
    ASSERT_TRUE(BOUND(nt_setupapi_table, SetupDiEnumDeviceInfo)(set, 0, &record));
    DWORD size = 99;
    char *ids = read_hardware_ids(set, &record, &size);
    ASSERT_NE(ids, nullptr);
    EXPECT_EQ(std::string(ids, size), list);
    LocalFree(ids);
    ASSERT_TRUE(BOUND(nt_setupapi_table, SetupDiEnumDeviceInfo)(set, 1, &record));
    EXPECT_EQ(read_hardware_ids(set, &record, &size), nullptr);
    EXPECT_EQ(size, 0u);
    BOUND(nt_setupapi_table, SetupDiDestroyDeviceInfoList)(set);
  });
  expect_boxes({});
}

struct confirm_row {
  const char *name;
  int model;
  std::function<void()> setup;
  std::vector<expected_box> boxes; // besides the question
  bool asked;
  int answer;
  int result;
};

TEST_F(devices, models_1_and_2_are_asked_about_when_a_trace_is_found) {
  const std::string id1 = spelled::device_id(1, spelling::win2000_xp);
  const confirm_row rows[] = {
      {"model 0: no search, no question", 0, [] { install_model(0); }, {}, false, 0, 1},
      {"nothing found", 1, [] { install_decoys(); }, {}, false, 0, 0},
      {"unplugged adapter",
       1,
       [&] { sim::device_add(dev("A\\1", {id1}, 0, false)); },
       {},
       true,
       IDOK,
       1},
      {"file only, cancelled", 1, [] { sim::file_add(sys_file(1)); }, {}, true, IDCANCEL, 0},
      {"the shared modem INF alone",
       2,
       [] { sim::file_add(inf_path("MDMKORT3.INF")); },
       {},
       true,
       IDOK,
       1},
      {"two instances, one question",
       1,
       [&] {
         sim::device_add(dev("A\\1", {id1}));
         sim::device_add(dev("A\\2", {"X", id1}));
       },
       {},
       true,
       IDOK,
       1},
      {"ids with a suffix or of another product",
       1,
       [&] {
         sim::device_add(dev("A\\1", {"USB\\VID_1E7A&PID_0030&REV_0100"}));
         sim::device_add(dev("A\\2", {"USB\\Vid_1e7a&Pid_0031"}));
       },
       {},
       false,
       0,
       0},
      {"the id as Vista to 11 write it",
       1,
       [&] {
         sim::device_add(
             dev("A\\1", {"USB\\VID_1E7A&PID_0030&REV_0100", "USB\\VID_1E7A&PID_0030"}));
       },
       {},
       true,
       IDOK,
       1},
      {"no device list: files do not count",
       1,
       [] {
         sim::file_add(sys_file(1));
         sim::fail("SetupDiGetClassDevsA", ERROR_NOT_ENOUGH_MEMORY);
       },
       {error_box(ERROR_NOT_ENOUGH_MEMORY, caption_setup_di_get_class_devs)},
       false,
       0,
       0},
      {"hardware ids unreadable: that instance does not count",
       1,
       [&] {
         sim::device_add(dev("A\\1", {id1}));
         sim::fail("SetupDiGetDeviceRegistryPropertyA", ERROR_ACCESS_DENIED, "A\\1");
       },
       {error_box(ERROR_ACCESS_DENIED, caption_get_device_registry_property)},
       false,
       0,
       0},
      {"file probe fails on one file, finds the next",
       1,
       [] {
         sim::file_add(inf_path("MDMKORT3.PNF"));
         sim::file_add(sys_file(1));
         sim::file_deny_attributes(sys_file(1), ERROR_ACCESS_DENIED);
       },
       {error_box(ERROR_ACCESS_DENIED, caption_set_file_attributes)},
       true,
       IDOK,
       1},
  };
  for (const confirm_row &row : rows) {
    SCOPED_TRACE(row.name);
    sim::machine_win2000();
    reset_process_state();
    row.setup();
    sim::answers(std::vector<int>(row.boxes.size(), IDOK));
    if (row.asked)
      sim::answer(row.answer);
    EXPECT_EQ(bound_call([&] { return confirm_model_removal(row.model); }), row.result);
    std::vector<expected_box> boxes = row.boxes;
    if (row.asked)
      boxes.push_back(question_box(row.model));
    expect_boxes(boxes);
    if (row.model == 0) { // nothing looked at beyond the binding
      EXPECT_EQ(sim::call_count("SetupDiGetClassDevsA") + sim::call_count("SetFileAttributesA"), 0);
    }
    EXPECT_TRUE(sim::leaks().empty());
  }
}

TEST_F(devices, found_by_device_the_question_comes_even_when_the_file_probe_fails) {
  sim::device_add(dev("A\\1", {spelled::device_id(2, spelling::win2000_xp)}));
  sim::fail("GetSystemDirectoryA", ERROR_ACCESS_DENIED);
  sim::answer(IDOK);
  sim::answer(IDOK);
  EXPECT_EQ(bound_call([] { return confirm_model_removal(2); }), 1);
  expect_boxes({error_box(ERROR_ACCESS_DENIED, caption_get_system_directory), question_box(2)});
  EXPECT_EQ(get_nt_files_status(2), STATUS_FAILED);
}

} // namespace
