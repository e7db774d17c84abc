// The check after the real run: the places the uninstaller's rules reach, read on each machine
// with the catalogue's own predicates, and compared entry by entry.
#include "tools/compare.h"

#include "core/catalogue.h"
#include "core/file_kind.h"
#include "core/hosted/account.h"
#include "tools/encoding.h"

#include <algorithm>
#include <functional>

static const char hklm[] = "HKEY_LOCAL_MACHINE\\";
static const char modem_class[] = "Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}";
static const char class_branch_98[] = "System\\CurrentControlSet\\Services\\Class\\";
static const char vxd_branch_98[] = "System\\CurrentControlSet\\Services\\VxD\\";
static const char vmm32files_98[] = "System\\CurrentControlSet\\control\\VMM32Files";

static std::string id_of(int kind, const std::string &subject) {
  return std::to_string(kind) + ":" + ascii_upper(subject);
}

// A key's values, whatever order they were written in.
static std::string values_text(std::vector<sim::reg_value_data> values) {
  std::sort(values.begin(), values.end(),
            [](const sim::reg_value_data &a, const sim::reg_value_data &b) {
              return ascii_upper(a.name) < ascii_upper(b.name);
            });
  std::string out;
  for (const sim::reg_value_data &v : values)
    out += ascii_upper(v.name) + '\0' + std::to_string(v.type) + '\0' + v.data + '\n';
  return out;
}

static const sim::reg_value_data *value_named(const std::vector<sim::reg_value_data> &values,
                                              const char *name) {
  for (const sim::reg_value_data &v : values)
    if (ascii_iequal(v.name, name))
      return &v;
  return nullptr;
}

// A string value's text up to its terminator.
static std::string string_of(const sim::reg_value_data *v) {
  return v && (v->type == REG_SZ || v->type == REG_EXPAND_SZ)
             ? v->data.substr(0, v->data.find('\0'))
             : std::string();
}

namespace {

struct gatherer {
  reached_places places;
  std::string windows;
  std::map<std::string, int> files; // upper-cased path -> the model whose rule reaches it

  void add(int kind, const std::string &subject, const std::string &content, int model) {
    std::string id = id_of(kind, subject);
    places.looked_at.insert(id);
    if (places.entries.emplace(id, reached_entry{kind, subject, content, model}).second)
      places.order.push_back(id);
  }
  // A key with every key below it.
  void add_tree(const std::string &path, int model) {
    sim::reg_visit(path, [&](const std::string &key, const std::vector<sim::reg_value_data> &v) {
      add(SUBJECT_KEY, hklm + key, values_text(v), model);
    });
  }
  void look_at(int kind, const std::string &subject) {
    places.looked_at.insert(id_of(kind, subject));
  }
  void add_file(const std::string &path, int model) { files.emplace(ascii_upper(path), model); }
  // An INF and the PNF Windows keeps beside it.
  void add_inf(const std::string &path, int model) {
    add_file(path, model);
    if (path.size() > 3)
      add_file(path.substr(0, path.size() - 3) + "PNF", model);
  }
};

} // namespace

static int first_model(const std::function<bool(int)> &names) {
  for (int model = 0; model < MODEL_COUNT; ++model)
    if (names(model))
      return model;
  return -1;
}

static bool is_control_set(const std::string &name) {
  return name.size() == 13 && ascii_iequal(name.substr(0, 10), "ControlSet") &&
         std::all_of(name.begin() + 10, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

static std::vector<std::string> children(const std::string &path) {
  std::vector<std::string> out;
  for (const std::string &name : sim::reg_subkeys(path))
    if (sim::reg_link(path + "\\" + name).empty())
      out.push_back(path + "\\" + name);
  return out;
}

static void reach_control_set(gatherer &g, const std::string &root) {
  for (const std::string &service : children(root + "\\Services")) {
    g.look_at(SUBJECT_KEY, hklm + service);
    std::string name = service.substr(service.rfind('\\') + 1);
    int model = first_model([&](int m) { return service_key_names_model(m, name.c_str()); });
    if (model >= 0)
      g.add_tree(service, model);
  }
  for (const std::string &driver : children(root + "\\" + modem_class)) {
    g.look_at(SUBJECT_KEY, hklm + driver);
    std::vector<sim::reg_value_data> values = sim::reg_value_list(driver);
    int model = first_model([&](int m) {
      for (const sim::reg_value_data &v : values)
        if (matching_device_id_names_model(m, v.name.c_str(), string_of(&v).c_str()))
          return true;
      return false;
    });
    if (model < 0)
      continue;
    g.add_tree(driver, model);
    std::string inf = string_of(value_named(values, "InfPath"));
    if (!inf.empty() && find_char_of(inf, "\\/:") == std::string::npos)
      g.add_inf(g.windows + "\\inf\\" + inf, model);
  }
  for (const std::string &enumerator : children(root + "\\Enum"))
    for (const std::string &device : children(enumerator))
      for (const std::string &instance : children(device)) {
        g.look_at(SUBJECT_KEY, hklm + instance);
        std::vector<sim::reg_value_data> values = sim::reg_value_list(instance);
        const sim::reg_value_data *ids = value_named(values, "HardwareID");
        if (!ids || ids->type != REG_MULTI_SZ)
          continue;
        int model = first_model([&](int m) {
          for (size_t at = 0; at < ids->data.size() && ids->data[at];
               at = ids->data.find('\0', at) + 1)
            if (hardware_id_entry_names_model(m, ids->data.c_str() + at))
              return true;
          return false;
        });
        if (model >= 0)
          g.add_tree(instance, model);
      }
}

// The driver key a Windows 98 instance's "Driver" value names.
static void reach_driver_key(gatherer &g, const std::string &instance, int model) {
  std::string driver = string_of(value_named(sim::reg_value_list(instance), "Driver"));
  if (driver.empty() || !driver_value_names_one_key(driver.c_str()))
    return;
  g.look_at(SUBJECT_KEY, hklm + std::string(class_branch_98) + driver);
  g.add_tree(class_branch_98 + driver, model);
}

static void reach_win98_registry(gatherer &g) {
  for (int model = 0; model < MODEL_COUNT; ++model) {
    std::string device = std::string("Enum\\") + model_hardware_id(model);
    g.look_at(SUBJECT_KEY, hklm + device);
    g.add_tree(device, model);
    for (const std::string &instance : children(device))
      reach_driver_key(g, instance, model);
    for (const char *vxd : {model_vxd_name_1(model), model_vxd_name_2(model)})
      if (*vxd) {
        g.look_at(SUBJECT_KEY, hklm + std::string(vxd_branch_98) + vxd);
        g.add_tree(vxd_branch_98 + std::string(vxd), model);
      }
    for (int slot = 0; slot < 2; ++slot) {
      std::string subject =
          hklm + std::string(vmm32files_98) + "\\" + model_win98_file(model, slot);
      g.look_at(SUBJECT_VALUE, subject);
      std::vector<sim::reg_value_data> values = sim::reg_value_list(vmm32files_98);
      const sim::reg_value_data *v = value_named(values, model_win98_file(model, slot));
      if (*model_win98_file(model, slot) && v)
        g.add(SUBJECT_VALUE, subject, std::to_string(v->type) + '\0' + v->data, model);
    }
  }
  for (const std::string &port : children("Enum\\Root\\Ports")) {
    g.look_at(SUBJECT_KEY, hklm + port);
    // The uninstaller reads "DeviceDesc" in exactly this spelling.
    bool described = false;
    std::string text;
    for (const sim::reg_value_data &v : sim::reg_value_list(port))
      if (v.name == "DeviceDesc" && v.type == REG_SZ) {
        described = true;
        text = string_of(&v);
      }
    int model = first_model(
        [&](int m) { return described && port_description_names_model(m, text.c_str()); });
    if (model < 0)
      continue;
    g.add_tree(port, model);
    reach_driver_key(g, port, model);
  }
}

// The models' listed files, placed as the uninstaller places them.
static void reach_listed_files(gatherer &g, const machine_description &machine) {
  std::string system = system_directory(machine);
  for (int model = 0; model < MODEL_COUNT; ++model) {
    char path[NAME_SIZE];
    for (int slot = 0; slot < NT_FILE_SLOTS && !machine.win98; ++slot)
      if (*model_nt_file(model, slot) && nt_file_path(path, sizeof path, g.windows.c_str(),
                                                      system.c_str(), model_nt_file(model, slot)))
        g.add_file(path, model);
    for (int slot = 0; slot < WIN98_FILE_SLOTS; ++slot)
      if (*model_win98_file(model, slot) &&
          win98_file_path(path, sizeof path, g.windows.c_str(), system.c_str(),
                          model_win98_file(model, slot)))
        g.add_file(path, model);
  }
}

reached_places reach_of(const machine_description &machine) {
  gatherer g;
  g.windows = windows_directory(machine);
  if (machine.win98) {
    reach_win98_registry(g);
  } else {
    for (const std::string &set : children("SYSTEM"))
      if (is_control_set(set.substr(7)))
        reach_control_set(g, set);
  }
  reach_listed_files(g, machine);
  // Every INF of the INF folder that names a model's hardware id: the OEM INF copies.
  std::string inf_folder = ascii_upper(g.windows + "\\inf\\");
  for (const machine_file_entry &f : machine.files) {
    std::string path = ascii_upper(f.path);
    if (f.folder || path.compare(0, inf_folder.size(), inf_folder) != 0 || path.size() < 4 ||
        path.compare(path.size() - 4, 4, ".INF") != 0)
      continue;
    std::string text = ascii_upper(f.contents);
    int model = first_model(
        [&](int m) { return text.find(ascii_upper(model_hardware_id(m))) != std::string::npos; });
    if (model >= 0)
      g.add_inf(f.path, model);
  }
  for (const machine_file_entry &f : machine.files) {
    if (f.folder)
      continue;
    g.look_at(SUBJECT_FILE, f.path);
    auto reached = g.files.find(ascii_upper(f.path));
    if (reached != g.files.end())
      g.add(SUBJECT_FILE, f.path, "", reached->second);
  }
  return g.places;
}

std::map<std::string, reached_entry> look_up(const reached_places &places) {
  std::map<std::string, reached_entry> now;
  for (const std::string &id : places.order) {
    reached_entry e = places.entries.at(id);
    bool there = false;
    if (e.kind == SUBJECT_FILE) {
      there = sim::file_exists(e.subject);
    } else if (e.kind == SUBJECT_KEY) {
      std::string key = below_hklm(e.subject);
      there = sim::reg_key_exists(key);
      e.content = there ? values_text(sim::reg_value_list(key)) : "";
    } else {
      std::string key = below_hklm(e.subject);
      std::string name = key.substr(key.rfind('\\') + 1);
      key.resize(key.rfind('\\'));
      const sim::reg_value_data *v = nullptr;
      std::vector<sim::reg_value_data> values = sim::reg_value_list(key);
      v = value_named(values, name.c_str());
      there = v != nullptr;
      e.content = there ? std::to_string(v->type) + '\0' + v->data : "";
    }
    if (there)
      now.emplace(id, e);
  }
  return now;
}

std::vector<run_event> compare_runs(const reached_places &before,
                                    const std::map<std::string, reached_entry> &rehearsed,
                                    const reached_places &after,
                                    const std::map<std::string, reached_entry> &after_of_before,
                                    const run_account &account) {
  // Where the rehearsal removed each entry.
  std::map<std::string, std::pair<int, int>> removed_by;
  for (const run_event &e : account.events) {
    if (e.kind != EVENT_CHANGE)
      continue;
    int kind = e.change == sim::change::key_deleted     ? SUBJECT_KEY
               : e.change == sim::change::value_deleted ? SUBJECT_VALUE
               : e.change == sim::change::file_deleted  ? SUBJECT_FILE
                                                        : SUBJECT_NONE;
    if (kind != SUBJECT_NONE)
      removed_by.emplace(id_of(kind, e.subject), std::make_pair(e.model, e.step));
  }
  std::vector<run_event> out;
  auto add = [&](const reached_entry &entry, compare_result result, int model, int step) {
    run_event e = event_of(EVENT_COMPARED);
    e.result = result;
    e.subject_kind = entry.kind;
    e.subject = entry.subject;
    e.model = model;
    e.step = step;
    out.push_back(e);
  };
  for (const std::string &id : before.order) {
    const reached_entry &entry = before.entries.at(id);
    auto kept = rehearsed.find(id);
    auto there = after_of_before.find(id);
    if (kept == rehearsed.end()) {
      auto where = removed_by.find(id);
      std::pair<int, int> step =
          where != removed_by.end() ? where->second : std::make_pair(entry.model, -1);
      add(entry, there == after_of_before.end() ? COMPARED_REMOVED : COMPARED_LEFT, step.first,
          step.second);
    } else if (there == after_of_before.end()) {
      add(entry, COMPARED_UNEXPECTED, entry.model, -1);
    } else {
      add(entry, kept->second.content == there->second.content ? COMPARED_KEPT : COMPARED_CHANGED,
          entry.model, -1);
    }
  }
  for (const std::string &id : after.order)
    if (!before.entries.count(id)) {
      const reached_entry &entry = after.entries.at(id);
      add(entry, before.looked_at.count(id) ? COMPARED_CHANGED : COMPARED_APPEARED, entry.model,
          -1);
    }
  return out;
}

bool went_as_rehearsed(const std::vector<run_event> &compared) {
  for (const run_event &e : compared)
    if (e.result != COMPARED_REMOVED && e.result != COMPARED_KEPT)
      return false;
  return true;
}

static const struct {
  compare_result result;
  const char *heading;
} lists[] = {
    {COMPARED_LEFT, "Left behind (the rehearsal removed them; the real run left them)"},
    {COMPARED_UNEXPECTED, "Removed unexpectedly (the rehearsal kept them; the real run did not)"},
    {COMPARED_APPEARED, "Appeared (not there before the run)"},
    {COMPARED_CHANGED, "Changed otherwise (their values are not those the rehearsal left)"},
};

// One kind of difference, a key's subtree under the key.
static std::string render_list(const std::vector<run_event> &compared, compare_result result) {
  std::string out, top;
  int below = 0;
  auto close = [&]() {
    if (below)
      out +=
          "      with " + std::to_string(below) + (below == 1 ? " key" : " keys") + " below it\n";
    below = 0;
  };
  for (const run_event &e : compared) {
    if (e.result != result)
      continue;
    if (!top.empty() && e.subject.size() > top.size() && e.subject[top.size()] == '\\' &&
        ascii_iequal(e.subject.substr(0, top.size()), top)) {
      ++below;
      continue;
    }
    close();
    top = e.subject_kind == SUBJECT_KEY ? e.subject : "";
    out += std::string("    ") + subject_kind_name(e.subject_kind) + " " + display_utf8(e.subject);
    if (e.model >= 0 && e.model < MODEL_COUNT)
      out += e.step >= 0
                 ? "  (removed in the rehearsal by " + std::string(model_display_name(e.model)) +
                       ", " + step_name(e.step) + ")"
                 : "  (" + std::string(model_display_name(e.model)) + ")";
    out += "\n";
  }
  close();
  return out;
}

std::string render_comparison(const std::vector<run_event> &compared, const std::string &after,
                              bool colour) {
  int counts[COMPARE_RESULT_COUNT] = {};
  for (const run_event &e : compared)
    ++counts[e.result];
  std::string out = std::string(colour ? "\x1b[36m" : "") +
                    "Compared with the snapshot after the real run (" + after +
                    "):" + (colour ? "\x1b[0m" : "") + "\n";
  out += "  as rehearsed: " + std::to_string(counts[COMPARED_REMOVED]) + " removed and gone, " +
         std::to_string(counts[COMPARED_KEPT]) + " kept and still there\n";
  std::string differences;
  for (const auto &l : lists) {
    if (!counts[l.result])
      continue;
    out += std::string("  ") + l.heading + ":\n" + render_list(compared, l.result);
    differences += (differences.empty() ? "" : ", ") + std::to_string(counts[l.result]) + " " +
                   compare_result_names[l.result];
  }
  out += went_as_rehearsed(compared)
             ? "The real run went as rehearsed.\n"
             : "The real run did not go as rehearsed: " + differences + ".\n";
  return out;
}
