// The driver files of a model on Windows 98: the presence probe and the file step.
#include "core/catalogue.h"
#include "core/run_state.h"
#include "core/texts.h"
#include "tests/support.h"
#include "tests/win98_support.h"
#include "win98/win98_steps.h"

namespace {

using win98_files = win98_test;
using win98::file_path;

int call_delete(int model) {
  win98::bound_call([=] {
    delete_win98_files(model);
    return 0;
  });
  return get_win98_files_status(model);
}
int call_probe(int model) {
  return win98::bound_call([=] { return win98_files_present(model); });
}

expected_box error_box(DWORD code, const char *caption) {
  return {sim::message_text(code), caption, MB_ICONERROR};
}

TEST_F(win98_files, status_follows_the_number_deleted) {
  struct row {
    const char *label;
    std::vector<int> slots; // the model 0 slots present
    std::vector<int> read_only;
    std::vector<int> undeletable;
    int status;
  } rows[] = {
      {"all", {0, 1, 2, 3, 4, 5, 6, 7, 8}, {}, {}, STATUS_REMOVED},
      {"all, some read-only", {0, 1, 2, 3, 4, 5, 6, 7, 8}, {0, 5}, {}, STATUS_REMOVED},
      {"some", {1, 8}, {}, {}, STATUS_PARTIAL},
      {"none", {}, {}, {}, STATUS_NONE},
      {"one undeletable among deletions", {0, 1, 2, 3, 4, 5, 6, 7, 8}, {}, {4}, STATUS_FAILED},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.label);
    sim::machine_win98();
    reset_process_state();
    win98::install_decoys();
    for (int slot : r.slots)
      sim::file_add(file_path(0, slot));
    for (int slot : r.read_only)
      sim::file_add(file_path(0, slot), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    for (int slot : r.undeletable)
      sim::file_deny_delete(file_path(0, slot), ERROR_SHARING_VIOLATION);
    if (!r.undeletable.empty())
      sim::answer(IDOK);
    EXPECT_EQ(call_delete(0), r.status);
    for (int slot = 0; slot < 9; ++slot) {
      bool kept = false;
      for (int u : r.undeletable)
        kept = kept || u == slot;
      EXPECT_EQ(sim::file_exists(file_path(0, slot)), kept) << file_path(0, slot);
    }
    if (r.undeletable.empty()) {
      EXPECT_TRUE(sim::boxes().empty());
    } else {
      expect_boxes({error_box(ERROR_SHARING_VIOLATION, caption_delete_file)});
    }
    win98::expect_decoys_intact();
  }
}

TEST_F(win98_files, files_are_looked_for_where_their_kind_places_them) {
  // Model 2 writes its extensions in upper case, model 0 in mixed case.
  win98::install_files(2);
  win98::install_decoys();
  // The same names in the other folder are not the model's.
  sim::file_add("C:\\WINDOWS\\INF\\Q-4PORT.VXD");
  sim::file_add("C:\\WINDOWS\\SYSTEM\\Q-4USB.INF");
  sim::file_add("C:\\WINDOWS\\SYSTEM\\DVXQ-4USB.INF");
  EXPECT_EQ(call_delete(2), STATUS_REMOVED);
  for (const char *path :
       {"C:\\WINDOWS\\SYSTEM\\Q-4PORT.VXD", "C:\\WINDOWS\\SYSTEM\\Q-4SV2.SYS",
        "C:\\WINDOWS\\INF\\Q4LAYOUT.PNF", "C:\\WINDOWS\\INF\\OTHER\\DVXQ-4USB.INF"})
    EXPECT_FALSE(sim::file_exists(path)) << path;
  for (const char *path : {"C:\\WINDOWS\\INF\\Q-4PORT.VXD", "C:\\WINDOWS\\SYSTEM\\Q-4USB.INF",
                           "C:\\WINDOWS\\SYSTEM\\DVXQ-4USB.INF"})
    EXPECT_TRUE(sim::file_exists(path)) << path;
  win98::expect_decoys_intact();
}

// The OTHER subfolder missing gives ERROR_PATH_NOT_FOUND, not ERROR_FILE_NOT_FOUND: the file
// step reports it and ends with the failure mark; the probe reports it and goes on.
TEST_F(win98_files, missing_other_folder_is_a_reported_failure) {
  sim::set_windows_directory("C:\\WIN");
  sim::set_system_directory("C:\\WIN\\SYSTEM");
  sim::folder_add("C:\\WIN\\INF");
  sim::file_add("C:\\WIN\\INF\\Q40PUSB.PNF"); // slot 7
  sim::answers({IDOK, IDOK});
  EXPECT_EQ(call_probe(0), 1);
  expect_boxes({error_box(ERROR_PATH_NOT_FOUND, caption_set_file_attributes),
                error_box(ERROR_PATH_NOT_FOUND, caption_set_file_attributes)});
  EXPECT_EQ(get_win98_files_status(0), STATUS_NONE);
  EXPECT_TRUE(sim::file_exists("C:\\WIN\\INF\\Q40PUSB.PNF"));

  sim::answers({IDOK, IDOK});
  EXPECT_EQ(call_delete(0), STATUS_FAILED);
  EXPECT_EQ(sim::boxes().size(), 4u);
  EXPECT_FALSE(sim::file_exists("C:\\WIN\\INF\\Q40PUSB.PNF"));
}

TEST_F(win98_files, probe_stops_at_the_first_existing_file) {
  win98::install_files(1);
  EXPECT_EQ(call_probe(1), 1);
  EXPECT_EQ(sim::call_count("SetFileAttributesA"), 1);
  EXPECT_EQ(sim::call_count("DeleteFileA"), 0);
  EXPECT_EQ(sim::file_list().size(), 13u);
  // Nothing present: every used slot looked at, 0.
  EXPECT_EQ(call_probe(2), 0);
  EXPECT_EQ(sim::call_count("SetFileAttributesA"), 1 + 14);
}

// A folder name that does not fit the 260-byte buffer comes back as the size it needs, with
// the buffer unfilled: it is a failure, never a path built on stale bytes.
TEST_F(win98_files, folder_longer_than_the_buffer_is_a_failure) {
  sim::set_windows_directory("C:\\" + std::string(270, 'W'));
  sim::answer(IDOK);
  call_delete(0);
  EXPECT_EQ(get_win98_files_status(0), STATUS_FAILED);
  expect_boxes({error_box(ERROR_INSUFFICIENT_BUFFER, caption_get_windows_directory)});
  EXPECT_EQ(sim::call_count("SetFileAttributesA"), 0);
}

// A full path over 259 bytes is passed over, never cut: the cut path would name another file.
TEST_F(win98_files, paths_that_do_not_fit_are_passed_over) {
  const std::string windows = "C:\\" + std::string(237, 'W'); // 240 bytes
  sim::set_windows_directory(windows);
  sim::set_system_directory("C:\\S");
  sim::folder_add(windows + "\\INF\\OTHER");
  win98::install_decoys();
  for (int slot = 0; slot < 9; ++slot) {
    std::string name = model_win98_file(0, slot);
    bool inf = slot >= 3;
    sim::file_add((inf ? windows + "\\INF\\" : std::string("C:\\S\\")) + name);
  }
  EXPECT_EQ(call_delete(0), STATUS_PARTIAL);
  // The two OTHER entries (32 bytes) do not fit behind the 245-byte folder; the rest do.
  EXPECT_TRUE(sim::file_exists(windows + "\\INF\\OTHER\\DORVEXA-DORVEXBQ40PUSB.INF"));
  EXPECT_TRUE(sim::file_exists(windows + "\\INF\\OTHER\\DORVEXA-DORVEXBQ40PCOM.INF"));
  EXPECT_FALSE(sim::file_exists(windows + "\\INF\\Q40PUSB.INF"));
  EXPECT_FALSE(sim::file_exists("C:\\S\\Q40PPORT.VxD"));
  EXPECT_EQ(sim::call_count("SetFileAttributesA"), 7);
  EXPECT_TRUE(sim::boxes().empty());
}

} // namespace
