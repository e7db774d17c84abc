// The snapshot machines of tools/machines/, which uninstall-sim offers by name: real Windows
// versions and languages, byte for byte as tools/snapshot.bat writes them. Each is embedded
// whole, read whole (its version, the control set it runs on, its names with 0x5C and 0x7C
// trail bytes, its INF copies) and rehearsed to the end, removing exactly what the real run
// removes.
#include "core/catalogue.h"
#include "tests/tools_support.h"
#include "tools/builtin_machines.h"
#include "tools/encoding.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

struct snapshot_row {
  const char *machine;
  DWORD version;                        // major * 100 + minor
  const char *current_set;              // the control set CurrentControlSet stands for (NT)
  std::vector<const char *> other_sets; // the machine's other control sets
  std::vector<std::string> names;       // files the listings name (UTF-8) that must be read whole
  const char *word;
  std::vector<expected_box> boxes;
  std::vector<std::string> removed_keys = {};   // roots of the subtrees the run removes
  std::vector<std::string> removed_values = {}; // "key|value" removed from keys that stay
  std::vector<std::string> removed_files = {};
  std::vector<std::string> removed_devices = {};
};

// What a complete run removes of model 0 or 1 on a Windows 2000-family machine: the device
// instance with its modem class driver key `driver_key` (Windows deletes it with the device),
// the service key in every control set, the driver file, the modem INF and the OEM INF copy.
void add_nt_model(snapshot_row &r, int model, const std::string &windir, const std::string &device,
                  const char *driver_key, const std::string &oem) {
  std::string service = model_nt_service_name(model);
  std::string current = std::string("SYSTEM\\") + r.current_set + "\\";
  r.removed_keys.push_back(current + "Enum\\" + device);
  r.removed_keys.push_back(current + "Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\" +
                           driver_key);
  r.removed_keys.push_back(current + "Services\\" + service);
  for (const char *set : r.other_sets)
    r.removed_keys.push_back(std::string("SYSTEM\\") + set + "\\Services\\" + service);
  for (const std::string &file :
       {"system32\\drivers\\" + service + ".SYS", std::string("inf\\MDMKORT3.INF"),
        std::string("inf\\MDMKORT3.PNF"), "inf\\" + oem,
        "inf\\" + oem.substr(0, oem.size() - 3) + "PNF"})
    r.removed_files.push_back(windir + "\\" + file);
  r.removed_devices.push_back(device);
}

std::vector<snapshot_row> rows() {
  // Windows 98: both models, by their Enum keys, ports, VxD entries and files.
  const std::string ccs = "System\\CurrentControlSet\\";
  snapshot_row win98{"win98se-ja",
                     410,
                     nullptr,
                     {},
                     {"C:\\WINDOWS\\SYSTEM\\ソフトキーボード.dll", "C:\\WINDOWS\\INF\\表示.INF",
                      "C:\\WINDOWS\\INF\\OTHER\\ソニーSNYDSC.INF",
                      "C:\\WINDOWS\\INF\\OTHER\\ポラロイドPDC.INF"},
                     "",
                     {consent_box, question_box(1), restart_box},
                     {"Enum\\USB\\VID_1E7A&PID_0080", "Enum\\USB\\VID_1E7A&PID_0030",
                      "Enum\\Root\\Ports\\0000", "Enum\\Root\\Ports\\0001"}};
  for (int model = 0; model < 2; ++model) {
    for (const char *cls : {"Modem\\000", "Ports\\000"})
      win98.removed_keys.push_back(ccs + "Services\\Class\\" + cls + std::to_string(model + 1));
    for (const char *vxd : {model_vxd_name_1(model), model_vxd_name_2(model)})
      win98.removed_keys.push_back(ccs + "Services\\VxD\\" + vxd);
    for (int slot = 0; slot < WIN98_FILE_SLOTS; ++slot) {
      std::string file = model_win98_file(model, slot);
      if (slot < 2)
        win98.removed_values.push_back(ccs + "control\\VMM32Files|" + file);
      if (!file.empty())
        win98.removed_files.push_back((slot < 3 ? "C:\\WINDOWS\\SYSTEM\\" : "C:\\WINDOWS\\INF\\") +
                                      file);
    }
  }

  snapshot_row win2000{"win2000-ja",
                       500,
                       "ControlSet001",
                       {"ControlSet002"},
                       {"C:\\WINNT\\system32\\ソフトキーボード.dll", "C:\\WINNT\\inf\\表示.inf"},
                       "--complete",
                       {consent_box, restart_box}};
  add_nt_model(win2000, 0, "C:\\WINNT", "USB\\Vid_1e7a&Pid_0080\\5&1f0c2a43&0&1", "0000",
               "oem2.inf");

  // XP runs on ControlSet002: the devices and driver keys go there, the service keys from all.
  snapshot_row xp{"winxp-ja",
                  501,
                  "ControlSet002",
                  {"ControlSet001", "ControlSet003"},
                  {"C:\\WINDOWS\\system32\\ソフトキーボード.dll",
                   "C:\\WINDOWS\\system32\\十字キー設定.dll",
                   "C:\\WINDOWS\\system32\\drivers\\ポート拡張.sys", "C:\\WINDOWS\\inf\\表示.inf"},
                  "--complete",
                  {consent_box, question_box(1), restart_box}};
  add_nt_model(xp, 0, "C:\\WINDOWS", "USB\\Vid_1e7a&Pid_0080\\5&2b0c3f1a&0&2", "0000", "oem3.inf");
  add_nt_model(xp, 1, "C:\\WINDOWS", "USB\\Vid_1e7a&Pid_0030\\5&2b0c3f1a&0&3", "0001", "oem4.inf");

  std::vector<snapshot_row> all = {win98, win2000, xp};
  const struct {
    const char *machine, *instance, *oem;
    std::vector<std::string> names;
  } modern[] = {
      {"win10-ja",
       "5&3753427A&0&3",
       "oem12.inf",
       {"C:\\Windows\\system32\\ソフトキーボード.dll", "C:\\Windows\\system32\\予定表同期.dll",
        "C:\\Windows\\system32\\drivers\\ポート拡張.sys", "C:\\Windows\\inf\\表示.inf"}},
      {"win10-en", "5&1F6B2E9C&0&2", "oem9.inf", {}},
      {"win11-ja",
       "5&2C9E1F&0&3",
       "oem15.inf",
       {"C:\\Windows\\system32\\ソフトキーボード.dll", "C:\\Windows\\system32\\ポイント表示.dll",
        "C:\\Windows\\inf\\表示.inf"}},
      // A Japanese name in an English listing: the characters code page 437 lacks are '?'.
      {"win11-en", "5&12A4B6C8&0&4", "oem21.inf", {"C:\\Windows\\system32\\????????.dll"}},
      // From a 32-bit prompt the listings went through Sysnative; the driver file is still the
      // one in system32\drivers that the 64-bit edition deletes.
      {"win11-ja-32bit-cmd",
       "5&3A7C1E5B&0&2",
       "oem18.inf",
       {"C:\\Windows\\system32\\ソフトキーボード.dll", "C:\\Windows\\system32\\ポイント表示.dll",
        "C:\\Windows\\inf\\表示.inf"}},
  };
  for (const auto &m : modern) {
    snapshot_row r{m.machine, 1000,         "ControlSet001",           {},
                   m.names,   "--complete", {consent_box, restart_box}};
    add_nt_model(r, 0, "C:\\Windows", std::string("USB\\VID_1E7A&PID_0080\\") + m.instance, "0000",
                 m.oem);
    all.push_back(r);
  }
  return all;
}

std::string file_bytes(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// The program carries every file of the machine's folder, byte for byte.
void expect_embedded_whole(const builtin_machine &machine) {
  std::map<std::string, std::string> on_disk, in_program;
  fs::path folder = fs::path(MACHINES_DIR) / machine.name;
  for (const fs::directory_entry &e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file() && e.path().filename() != "README.md")
      on_disk[fs::relative(e.path(), folder).generic_string()] = file_bytes(e.path());
  for (const builtin_file &f : machine.snapshot)
    in_program[f.path] = std::string(f.bytes, f.size);
  EXPECT_TRUE(in_program == on_disk) << "rebuild after changing tools/machines";
}

// Every INF copy is the text of the file its listing names, and nothing else has a text.
void expect_copies_read(const builtin_machine &machine, const machine_description &m) {
  size_t copies = 0, with_text = 0;
  for (const builtin_file &f : machine.snapshot) {
    std::string path = f.path;
    size_t slash = path.find('/');
    std::string folder = path.substr(0, slash);
    if (folder != "OEMINF" && folder != "OTHERINF")
      continue;
    ++copies;
    std::string tail = ascii_upper(
        cp932((folder == "OEMINF" ? "\\inf\\" : "\\inf\\OTHER\\") + path.substr(slash + 1)));
    bool found = false;
    for (const machine_file_entry &e : m.files) {
      std::string p = ascii_upper(e.path);
      found = found || (p.size() > tail.size() && !e.contents.empty() &&
                        p.compare(p.size() - tail.size(), tail.size(), tail) == 0);
    }
    EXPECT_TRUE(found) << path;
  }
  for (const machine_file_entry &e : m.files)
    with_text += !e.contents.empty();
  EXPECT_EQ(with_text, copies);
}

struct machine_state {
  std::set<std::string> keys, values, files, devices;
};

void collect_keys(const std::string &path, machine_state &s) {
  for (const std::string &name : sim::reg_subkeys(path)) {
    std::string key = path.empty() ? name : path + "\\" + name;
    if (!sim::reg_link(key).empty())
      continue; // CurrentControlSet: the same keys again
    s.keys.insert(ascii_upper(key));
    for (const sim::reg_value_data &v : sim::reg_value_list(key))
      s.values.insert(ascii_upper(key) + "|" + ascii_upper(v.name));
    collect_keys(key, s);
  }
}

machine_state current_state() {
  machine_state s;
  collect_keys("", s);
  for (const std::string &f : sim::file_list())
    s.files.insert(ascii_upper(f));
  for (const std::string &d : sim::device_list())
    s.devices.insert(ascii_upper(d));
  return s;
}

std::set<std::string> minus(const std::set<std::string> &a, const std::set<std::string> &b) {
  std::set<std::string> out;
  for (const std::string &x : a)
    if (!b.count(x))
      out.insert(x);
  return out;
}

std::set<std::string> upper_cp932(const std::vector<std::string> &utf8) {
  std::set<std::string> out;
  for (const std::string &s : utf8)
    out.insert(ascii_upper(cp932(s)));
  return out;
}

// Exactly the expected subtrees, values, files and devices are gone; nothing was added.
void expect_removed(const snapshot_row &r, const machine_state &before,
                    const machine_state &after) {
  std::set<std::string> keys, values = upper_cp932(r.removed_values);
  for (const std::string &root : upper_cp932(r.removed_keys)) {
    for (const std::string &k : before.keys)
      if (k == root || k.rfind(root + "\\", 0) == 0)
        keys.insert(k);
    for (const std::string &v : before.values)
      if (v.rfind(root + "|", 0) == 0 || v.rfind(root + "\\", 0) == 0)
        values.insert(v);
  }
  EXPECT_EQ(minus(before.keys, after.keys), keys);
  EXPECT_EQ(minus(before.values, after.values), values);
  EXPECT_EQ(minus(before.files, after.files), upper_cp932(r.removed_files));
  EXPECT_EQ(minus(before.devices, after.devices), upper_cp932(r.removed_devices));
  EXPECT_TRUE(minus(after.keys, before.keys).empty());
}

} // namespace

// Every snapshot machine: embedded whole; read as its Windows wrote it (version, the control
// set Select names with the device's volatile keys in it alone, every listed name whole, every
// INF copy); rehearsed with --machine NAME to the end with the real run's boxes and removals.
TEST(snapshot_machines, are_read_whole_and_lose_what_the_real_run_removes) {
  std::set<std::string> folders, tested;
  for (const fs::directory_entry &e : fs::directory_iterator(MACHINES_DIR))
    if (e.is_directory())
      folders.insert(e.path().filename().string());
  for (const snapshot_row &r : rows()) {
    SCOPED_TRACE(r.machine);
    tested.insert(r.machine);
    const builtin_machine *builtin = find_builtin_machine(r.machine);
    ASSERT_NE(builtin, nullptr);
    expect_embedded_whole(*builtin);
    machine_description m;
    load_error error;
    if (!read_builtin_snapshot(*builtin, m, error)) {
      ADD_FAILURE() << describe(error);
      continue;
    }
    apply_machine(m);
    EXPECT_EQ(m.win98, r.current_set == nullptr);
    EXPECT_EQ(m.major * 100 + m.minor, r.version);
    for (const std::string &name : r.names)
      EXPECT_TRUE(sim::file_exists(cp932(name))) << name;
    if (r.current_set) {
      std::string control = "\\Enum\\" + r.removed_devices.front() + "\\Control";
      EXPECT_TRUE(sim::reg_key_exists("SYSTEM\\CurrentControlSet" + control));
      EXPECT_TRUE(sim::reg_key_exists(std::string("SYSTEM\\") + r.current_set + control));
      for (const char *other : r.other_sets)
        EXPECT_FALSE(sim::reg_key_exists(std::string("SYSTEM\\") + other + control)) << other;
    }
    expect_copies_read(*builtin, m);
    machine_state before = current_state();
    sim_run run = run_uninstall_sim({"--machine", r.machine, "--yes", "--", r.word});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(std::string("Machine: ") + r.machine + ": "), std::string::npos);
    expect_boxes(r.boxes);
    EXPECT_TRUE(sim::leaks().empty());
    expect_removed(r, before, current_state());
  }
  EXPECT_EQ(tested, folders);
}

// Without a temporary folder to unpack into, the machine is refused before anything runs.
TEST(snapshot_machines, need_a_temporary_folder) {
  std::string saved = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
  setenv("TMPDIR", "/nonexistent/tmp", 1);
  sim::reset();
  sim_run run = run_uninstall_sim({"--machine", "win10-en", "--yes"});
  saved.empty() ? unsetenv("TMPDIR") : setenv("TMPDIR", saved.c_str(), 1);
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("uninstall-sim: win10-en: cannot be unpacked: "), std::string::npos)
      << run.err;
  EXPECT_TRUE(sim::calls().empty());
}
