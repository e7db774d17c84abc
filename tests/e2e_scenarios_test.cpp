// The end-to-end scenarios of e2e/scenarios/*.scenario played on the simulated machine: the
// same machine, answers, boxes, exit code and removed entries that e2e/run.py checks under
// Wine. A scenario that passes under Wine and fails here (or the other way round) shows a
// difference between the simulation and Windows. The format is described in e2e/scenario.py.
#include "core/entry.h"
#include "tests/support.h"
#include "tools/machine_file.h"
#include "tools/reg_file.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace {

const char scenario_folder[] = E2E_SCENARIO_DIR;

struct scenario_box {
  int answer = IDOK;
  UINT type = 0;
  std::string caption; // UTF-8; empty: the program caption
  std::string text;
};

struct scenario {
  bool win98 = false;
  std::vector<std::string> ways; // empty: the family's default
  bool has_word = false;
  std::string word;
  std::string version;                // Wine's name; "": Windows 2000 here
  std::string program_folder = "e2e"; // below C:\, UTF-8
  std::vector<std::string> registry;  // REGEDIT4 lines, UTF-8
  int registry_line = 0;
  std::vector<std::string> folders;
  std::vector<std::pair<std::string, std::string>> files; // machine path, bytes
  std::set<std::string> read_only;                        // machine paths of read-only files
  std::set<std::string> in_use; // machine paths of files held open while the program runs
  std::vector<std::pair<DWORD, std::string>> messages; // system texts, UTF-8
  std::vector<scenario_box> boxes;
  bool record = false;
  bool has_exit_code = false;
  int exit_code = 0;
  std::vector<std::string> gone_keys;
  std::vector<std::pair<std::string, std::string>> gone_values;
  std::vector<std::string> gone_files;
  std::vector<std::string> normal_files;  // stay, with their attributes set to normal
  std::vector<std::string> pending_files; // stay, deleted at the next restart
};

std::string trim(const std::string &s) {
  size_t begin = s.find_first_not_of(" \t\r");
  if (begin == std::string::npos)
    return std::string();
  return s.substr(begin, s.find_last_not_of(" \t\r") - begin + 1);
}

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(tolower(c)); });
  return s;
}

bool starts_with(const std::string &s, const std::string &prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

// \n a line feed, \r a carriage return, \X the character X.
std::string unescape(const std::string &text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    char c = text[++i];
    out += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
  }
  return out;
}

UINT parse_box_type(const std::string &text) {
  static const std::map<std::string, UINT> names = {
      {"MB_OK", 0x0},
      {"MB_OKCANCEL", 0x1},
      {"MB_ICONERROR", 0x10},
      {"MB_ICONHAND", 0x10},
      {"MB_ICONQUESTION", 0x20},
      {"MB_ICONWARNING", 0x30},
      {"MB_ICONEXCLAMATION", 0x30},
      {"MB_ICONINFORMATION", 0x40},
  };
  UINT value = 0;
  std::stringstream parts(text);
  std::string part;
  while (std::getline(parts, part, '|')) {
    part = trim(part);
    auto it = names.find(part);
    value |= it != names.end() ? it->second : static_cast<UINT>(std::stoul(part, nullptr, 0));
  }
  return value;
}

bool read_lines(const std::string &path, std::vector<std::string> &lines) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    lines.push_back(line);
  }
  return true;
}

// The lines of a scenario with each "include FILE" replaced by that file's lines.
void expand_includes(const std::string &path, std::vector<std::string> &out) {
  std::vector<std::string> lines;
  ASSERT_TRUE(read_lines(path, lines)) << "cannot read " << path;
  std::string folder = path.substr(0, path.find_last_of('/') + 1);
  for (const std::string &line : lines) {
    std::string t = trim(line);
    if (starts_with(t, "include "))
      expand_includes(folder + trim(t.substr(8)), out);
    else
      out.push_back(line);
  }
}

void parse_scenario(const std::string &path, scenario &sc) {
  std::vector<std::string> lines;
  expand_includes(path, lines);
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string line = trim(lines[i]);
    if (line.empty() || line[0] == '#')
      continue;
    size_t blank = line.find(' ');
    std::string directive = line.substr(0, blank);
    std::string rest = blank == std::string::npos ? std::string() : trim(line.substr(blank));
    // The lines after this one up to "end".
    auto block = [&](std::vector<std::string> &out) {
      while (++i < lines.size() && trim(lines[i]) != "end")
        out.push_back(lines[i]);
      ASSERT_LT(i, lines.size()) << path << ": a block without 'end'";
    };
    SCOPED_TRACE(path + ": " + line);
    if (directive == "mode") {
      ASSERT_TRUE(rest == "nt" || rest == "win98");
      sc.win98 = rest == "win98";
    } else if (directive == "ways") {
      std::stringstream words(rest);
      for (std::string way; words >> way;)
        sc.ways.push_back(way);
    } else if (directive == "word") {
      sc.has_word = true;
      sc.word = rest;
    } else if (directive == "version") {
      sc.version = rest;
    } else if (directive == "program-folder") {
      sc.program_folder = rest;
    } else if (directive == "wine-gone" && starts_with(rest, "file ")) {
      // Gone under Wine only, where Wine differs from Windows: Windows keeps it, and so does
      // the simulation.
    } else if (directive == "in-use" && starts_with(rest, "file ")) {
      sc.in_use.insert(trim(rest.substr(5)));
    } else if (directive == "left-behind" && starts_with(rest, "file ")) {
      // What the comparison of the snapshots under Wine finds; the file is not gone here.
    } else if (directive == "registry") {
      if (sc.registry.empty())
        sc.registry_line = static_cast<int>(i) + 2;
      block(sc.registry);
    } else if (directive == "folder") {
      sc.folders.push_back(rest);
    } else if (directive == "file") {
      std::string content = "quendal test file\r\n";
      if (rest.size() >= 2 && rest.compare(rest.size() - 2, 2, "<<") == 0) {
        rest = trim(rest.substr(0, rest.size() - 2));
        std::vector<std::string> text;
        block(text);
        content.clear();
        for (const std::string &t : text)
          content += cp932(t) + "\r\n";
      }
      const std::string read_only = " read-only";
      if (rest.size() > read_only.size() &&
          rest.compare(rest.size() - read_only.size(), read_only.size(), read_only) == 0) {
        rest = trim(rest.substr(0, rest.size() - read_only.size()));
        sc.read_only.insert(rest);
      }
      sc.files.emplace_back(rest, content);
    } else if (directive == "message") {
      size_t split = rest.find(' ');
      sc.messages.emplace_back(static_cast<DWORD>(std::stoul(rest.substr(0, split))),
                               unescape(trim(rest.substr(split))));
    } else if (directive == "box") {
      scenario_box box;
      std::string answer = rest.substr(0, rest.find(' '));
      ASSERT_TRUE(answer == "OK" || answer == "CANCEL");
      box.answer = answer == "OK" ? IDOK : IDCANCEL;
      box.type = parse_box_type(trim(rest.substr(answer.size())));
      sc.boxes.push_back(box);
    } else if (directive == "caption" && !sc.boxes.empty()) {
      sc.boxes.back().caption = unescape(rest);
    } else if (directive == "text" && !sc.boxes.empty()) {
      sc.boxes.back().text = unescape(rest);
    } else if (directive == "exit") {
      sc.has_exit_code = true;
      sc.exit_code = std::stoi(rest);
    } else if (directive == "gone") {
      std::string kind = rest.substr(0, rest.find(' '));
      std::string what = trim(rest.substr(kind.size()));
      if (kind == "key") {
        sc.gone_keys.push_back(what);
      } else if (kind == "value") {
        size_t split = what.find(' ');
        sc.gone_values.emplace_back(what.substr(0, split), trim(what.substr(split)));
      } else {
        ASSERT_EQ(kind, "file");
        sc.gone_files.push_back(what);
      }
    } else if (directive == "normal" && starts_with(rest, "file ")) {
      sc.normal_files.push_back(trim(rest.substr(5)));
    } else if (directive == "pending" && starts_with(rest, "file ")) {
      sc.pending_files.push_back(trim(rest.substr(5)));
    } else if (directive == "record") {
      sc.record = true;
    } else {
      FAIL() << "unknown directive";
    }
  }
}

// ---- The machine --------------------------------------------------------------------------

// Where %WINDIR% and %SYSTEM% lie on the simulated machine of the family.
std::string machine_path(const scenario &sc, const std::string &path) {
  size_t split = path.find('\\');
  std::string root = path.substr(0, split);
  std::string rest = split == std::string::npos ? std::string() : path.substr(split);
  if (root == "%WINDIR%")
    return "C:\\WINDOWS" + rest;
  EXPECT_EQ(root, "%SYSTEM%") << path;
  return (sc.win98 ? "C:\\WINDOWS\\SYSTEM" : "C:\\WINDOWS\\system32") + rest;
}

// Under Wine a device instance is seeded as its registry key below
// SYSTEM\CurrentControlSet\Enum with "HardwareID" (and "ClassGUID", without which Wine does
// not enumerate it). On the simulated Windows 2000 machine such a key becomes a device with
// those hardware ids whose driver key is its "Driver" value; the key itself is not loaded.
const char nt_enum_branch[] = "system\\currentcontrolset\\enum\\";

void take_devices(std::vector<reg_op> &ops, std::vector<sim::device> &devices) {
  std::map<std::string, sim::device> found; // lower-case key path -> device
  for (const reg_op &op : ops) {
    std::string key = lower(op.key);
    if (op.kind == reg_op::set_value && starts_with(key, nt_enum_branch) &&
        lower(op.name) == "hardwareid") {
      sim::device &d = found[key];
      d.instance_id = op.key.substr(sizeof nt_enum_branch - 1);
      d.hardware_ids = op.data;
    }
  }
  for (const reg_op &op : ops) {
    auto it = found.find(lower(op.key));
    if (it != found.end() && op.kind == reg_op::set_value && lower(op.name) == "driver")
      it->second.driver = op.data.substr(0, op.data.find('\0'));
  }
  ops.erase(std::remove_if(ops.begin(), ops.end(),
                           [&](const reg_op &op) { return found.count(lower(op.key)) != 0; }),
            ops.end());
  for (auto &entry : found)
    devices.push_back(entry.second);
}

void set_up_machine(const scenario &sc) {
  machine_description machine;
  machine.source = "scenario";
  machine.win98 = sc.win98;
  if (sc.win98) {
    machine.major = 4;
    machine.minor = 10;
    machine.build = 0x040A08AE;
  }
  // The versions Wine plays by these names.
  static const struct {
    const char *name;
    DWORD major, minor, build;
  } versions[] = {
      {"win2k", 5, 0, 2195}, {"winxp", 5, 1, 2600}, {"win7", 6, 1, 7601}, {"win10", 10, 0, 19043}};
  for (const auto &v : versions)
    if (sc.version == v.name) {
      machine.major = v.major;
      machine.minor = v.minor;
      machine.build = v.build;
    }
  std::vector<std::string> lines;
  for (const std::string &line : sc.registry)
    lines.push_back(cp932(line));
  load_error error;
  std::vector<reg_op> ops;
  ASSERT_TRUE(read_reg_body(lines, sc.registry_line, reg_format_regedit4, "scenario", ops, error))
      << describe(error);
  if (!sc.win98)
    take_devices(ops, machine.devices);
  for (const reg_op &op : ops)
    add_reg_op(machine.registry, op);
  for (const std::string &folder : sc.folders) {
    machine_file_entry entry;
    entry.path = machine_path(sc, folder);
    entry.folder = true;
    machine.files.push_back(entry);
  }
  for (const auto &file : sc.files) {
    machine_file_entry entry;
    entry.path = machine_path(sc, file.first);
    entry.contents = file.second;
    if (sc.read_only.count(file.first))
      entry.attributes = FILE_ATTRIBUTE_READONLY;
    // Held open by another program, which shares it for reading only.
    if (sc.in_use.count(file.first))
      entry.delete_error = ERROR_SHARING_VIOLATION;
    machine.files.push_back(entry);
  }
  apply_machine(machine);
  for (const auto &message : sc.messages)
    sim::set_message_text(message.first, cp932(message.second));
}

// ---- Snapshots ----------------------------------------------------------------------------

// Lower case, below HKEY_LOCAL_MACHINE, and ControlSet001 named as CurrentControlSet: the
// simulation keeps the keys in ControlSet001 behind the alias, Wine the other way round.
std::string canonical_key(const std::string &path) {
  std::string key = lower(path);
  for (const char *root : {"hkey_local_machine\\", "hklm\\"})
    if (starts_with(key, root))
      key = key.substr(strlen(root));
  const std::string numbered = "system\\controlset001";
  if (starts_with(key, numbered) && (key.size() == numbered.size() || key[numbered.size()] == '\\'))
    key = "system\\currentcontrolset" + key.substr(numbered.size());
  return key;
}

struct snapshot {
  std::map<std::string, std::map<std::string, std::string>> keys; // key -> value -> type+data
  std::map<std::string, DWORD> files;                             // lower path -> attributes
};

void snap_key(const std::string &path, snapshot &s) {
  if (!path.empty() && !sim::reg_link(path).empty())
    return; // an alias shows its target's keys a second time
  auto &values = s.keys[canonical_key(path)];
  for (const sim::reg_value_data &v : sim::reg_value_list(path))
    values[lower(v.name)] = std::to_string(v.type) + ":" + v.data;
  for (const std::string &sub : sim::reg_subkeys(path))
    snap_key(path.empty() ? sub : path + "\\" + sub, s);
}

snapshot take_snapshot() {
  snapshot s;
  snap_key("", s);
  s.keys.erase("");
  for (const std::string &device : sim::device_list())
    s.keys[canonical_key(std::string("SYSTEM\\CurrentControlSet\\Enum\\") + device)];
  for (const std::string &file : sim::file_list())
    s.files[lower(file)] = sim::file_attributes(file);
  return s;
}

bool below(const std::string &key, const std::string &root) {
  return key == root || starts_with(key, root + "\\");
}

bool has_key_below(const snapshot &s, const std::string &root) {
  for (const auto &key : s.keys)
    if (below(key.first, root))
      return true;
  return false;
}

// Everything the scenario names as gone is gone and was there before; nothing else changed.
void expect_changes(const scenario &sc, const snapshot &before, const snapshot &after) {
  std::vector<std::string> roots;
  for (const std::string &key : sc.gone_keys) {
    std::string root = canonical_key(key);
    roots.push_back(root);
    EXPECT_TRUE(has_key_below(before, root)) << "key expected to go was never there: " << key;
    EXPECT_FALSE(has_key_below(after, root)) << "key still there: " << key;
  }
  std::set<std::pair<std::string, std::string>> gone_values;
  for (const auto &value : sc.gone_values) {
    auto key = canonical_key(value.first);
    gone_values.emplace(key, lower(value.second));
    auto it = before.keys.find(key);
    EXPECT_TRUE(it != before.keys.end() && it->second.count(lower(value.second)))
        << "value expected to go was never there: " << value.first << " " << value.second;
  }
  for (const auto &key : before.keys) {
    auto it = after.keys.find(key.first);
    if (it == after.keys.end()) {
      bool expected = std::any_of(roots.begin(), roots.end(),
                                  [&](const std::string &root) { return below(key.first, root); });
      EXPECT_TRUE(expected) << "key removed unexpectedly: " << key.first;
      continue;
    }
    for (const auto &value : key.second) {
      auto now = it->second.find(value.first);
      if (now == it->second.end() && gone_values.count({key.first, value.first}))
        continue;
      EXPECT_TRUE(now != it->second.end() && now->second == value.second)
          << "value changed: " << key.first << " " << value.first;
    }
    for (const auto &value : it->second)
      EXPECT_TRUE(key.second.count(value.first))
          << "value added: " << key.first << " " << value.first;
  }
  for (const auto &value : gone_values) {
    auto it = after.keys.find(value.first);
    EXPECT_FALSE(it != after.keys.end() && it->second.count(value.second))
        << "value still there: " << value.first << " " << value.second;
  }
  for (const auto &key : after.keys)
    EXPECT_TRUE(before.keys.count(key.first)) << "key added: " << key.first;

  std::set<std::string> gone_files;
  for (const std::string &file : sc.gone_files) {
    std::string path = lower(machine_path(sc, file));
    gone_files.insert(path);
    EXPECT_TRUE(before.files.count(path)) << "file expected to go was never there: " << file;
  }
  // A file deleted at restart stays for now, its attributes set to normal first.
  std::vector<std::string> stay_normal = sc.normal_files;
  stay_normal.insert(stay_normal.end(), sc.pending_files.begin(), sc.pending_files.end());
  std::set<std::string> normal_files;
  for (const std::string &file : stay_normal) {
    std::string path = lower(machine_path(sc, file));
    normal_files.insert(path);
    EXPECT_TRUE(before.files.count(path)) << "file expected to stay was never there: " << file;
    auto it = after.files.find(path);
    EXPECT_TRUE(it != after.files.end() && it->second == FILE_ATTRIBUTE_NORMAL)
        << "file expected to stay with normal attributes: " << file;
  }
  for (const auto &file : before.files) {
    auto it = after.files.find(file.first);
    if (it == after.files.end()) {
      EXPECT_TRUE(gone_files.count(file.first)) << "file removed unexpectedly: " << file.first;
    } else if (!normal_files.count(file.first)) {
      EXPECT_EQ(it->second, file.second) << "attributes changed: " << file.first;
    }
  }
  for (const auto &file : after.files)
    EXPECT_TRUE(before.files.count(file.first)) << "file added: " << file.first;
}

// ---- The test -----------------------------------------------------------------------------

std::vector<std::string> scenario_names() {
  std::vector<std::string> names;
  if (DIR *dir = opendir(scenario_folder)) {
    while (dirent *entry = readdir(dir)) {
      std::string name = entry->d_name;
      const std::string suffix = ".scenario";
      if (name.size() > suffix.size() &&
          name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
        names.push_back(name.substr(0, name.size() - suffix.size()));
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The ways of e2e/scenario.py, played on the simulated machine of the scenario: the edition
// that runs and what the machine answers about WOW64.
void set_up_way(const std::string &way, const scenario &sc) {
  std::wstring folder = L"C:\\" + from_utf8(sc.program_folder);
  if (way == "win32")
    set_program_edition(EDITION_32_BIT); // kernel32 without IsWow64Process, as on Windows 2000
  else if (way == "win64")
    set_program_edition(EDITION_64_BIT);
  else if (way == "wow64")
    run_as_32_bit_edition_under_wow64(EDITION_64_BESIDE, sc.word, folder);
  else if (way == "wow64-alone")
    run_as_32_bit_edition_under_wow64(NO_EDITION_BESIDE, sc.word, folder);
  else if (way == "wow64-32-bit-as-64")
    run_as_32_bit_edition_under_wow64(A_32_BIT_COPY_BESIDE, sc.word, folder);
  else
    ADD_FAILURE() << "unknown way " << way;
}

class e2e_scenario : public machine_test, public ::testing::WithParamInterface<std::string> {};

TEST(e2e_scenarios, the_folder_holds_scenarios) {
  EXPECT_FALSE(scenario_names().empty()) << "no scenarios in " << scenario_folder;
}

TEST_P(e2e_scenario, plays_on_the_simulation_as_under_wine) {
  scenario sc;
  parse_scenario(std::string(scenario_folder) + "/" + GetParam() + ".scenario", sc);
  if (HasFatalFailure())
    return;
  if (sc.record)
    GTEST_SKIP() << "a recorded scenario has nothing to compare";
  if (sc.ways.empty())
    sc.ways = sc.win98 ? std::vector<std::string>{"win32"}
                       : std::vector<std::string>{"win32", "win64", "wow64"};
  expect_no_leaks = false; // checked after each way instead
  for (const std::string &way : sc.ways) {
    SCOPED_TRACE("played the way " + way);
    reset_process_state();
    set_up_machine(sc);
    if (HasFatalFailure())
      return;
    set_up_way(way, sc);
    snapshot before = take_snapshot();
    std::vector<int> answers;
    std::vector<expected_box> expected;
    for (const scenario_box &box : sc.boxes) {
      answers.push_back(box.answer);
      expected.push_back({cp932(box.text),
                          box.caption.empty() ? program_caption() : cp932(box.caption), box.type});
    }
    sim::answers(answers);
    int exit_code = uninstaller_main(sc.has_word ? sc.word.c_str() : "");
    expect_boxes(expected);
    ASSERT_TRUE(sc.has_exit_code);
    EXPECT_EQ(exit_code, sc.exit_code);
    expect_changes(sc, before, take_snapshot());
    std::vector<std::string> pending;
    for (const std::string &file : sim::pending_deletions())
      pending.push_back(lower(file));
    std::vector<std::string> expected_pending;
    for (const std::string &file : sc.pending_files)
      expected_pending.push_back(lower(machine_path(sc, file)));
    EXPECT_EQ(pending, expected_pending) << "the files deleted at restart";
    for (const std::string &open : sim::leaks())
      ADD_FAILURE() << "left open: " << open;
  }
}

INSTANTIATE_TEST_SUITE_P(scenarios, e2e_scenario, ::testing::ValuesIn(scenario_names()),
                         [](const ::testing::TestParamInfo<std::string> &info) {
                           std::string name = info.param;
                           for (char &c : name)
                             if (!isalnum(static_cast<unsigned char>(c)))
                               c = '_';
                           return name;
                         });

} // namespace
