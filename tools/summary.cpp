// The summary of a rehearsal: a view of its account. Every removal, failure and kept item
// already carries its model and step; the summary groups them, and tells from the machine as it
// was before the run whose entry each removed item is.
#include "tools/summary.h"

#include "core/catalogue.h"
#include "core/hosted/account.h"
#include "tools/encoding.h"
#include "tools/error_names.h"

#include <algorithm>
#include <map>
#include <unordered_set>

namespace {

const char modem_class_key[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}";

} // namespace

static bool starts_with_path(const std::string &path, const std::string &prefix) {
  return path.size() >= prefix.size() && ascii_iequal(path.substr(0, prefix.size()), prefix) &&
         (path.size() == prefix.size() || path[prefix.size()] == '\\');
}

static std::string component(const std::string &path, size_t index) {
  size_t start = 0;
  for (size_t i = 0; i < index; ++i) {
    start = path.find('\\', start);
    if (start == std::string::npos)
      return "";
    ++start;
  }
  return path.substr(start, path.find('\\', start) - start);
}

static unsigned bit(int model) {
  return 1u << model;
}

// ---- Before the run ---------------------------------------------------------------------

static std::string string_value(const std::string &key, const char *name) {
  for (const sim::reg_value_data &v : sim::reg_value_list(key))
    if (ascii_iequal(v.name, name) && v.type == REG_SZ)
      return v.data.substr(0, v.data.find('\0'));
  return "";
}

// The model whose description prefix a port's "DeviceDesc" begins with, the longest prefix
// winning: the port is that model's, even when a shorter prefix matches it as well.
static int port_owner(const std::string &description) {
  int owner = -1;
  int longest = 0;
  for (int model = 0; model < MODEL_COUNT; ++model) {
    int length = model_device_desc_prefix_length(model);
    if (length > longest &&
        description.compare(0, static_cast<size_t>(length), model_device_desc_prefix(model)) == 0) {
      owner = model;
      longest = length;
    }
  }
  return owner;
}

static const char class_branch_98[] = "SYSTEM\\CURRENTCONTROLSET\\SERVICES\\CLASS\\";

entry_owners capture_owners(const machine_description &machine) {
  entry_owners owners;
  if (machine.win98) {
    for (const std::string &port : sim::reg_subkeys("Enum\\Root\\Ports")) {
      std::string path = "Enum\\Root\\Ports\\" + port;
      int owner = port_owner(string_value(path, "DeviceDesc"));
      if (owner < 0)
        continue;
      owners.keys[ascii_upper(path)] |= bit(owner);
      std::string driver = string_value(path, "Driver");
      if (!driver.empty())
        owners.keys[class_branch_98 + ascii_upper(driver)] |= bit(owner);
    }
    for (int model = 0; model < MODEL_COUNT; ++model) {
      std::string device = std::string("Enum\\") + model_hardware_id(model);
      for (const std::string &instance : sim::reg_subkeys(device)) {
        std::string driver = string_value(device + "\\" + instance, "Driver");
        if (!driver.empty())
          owners.keys[class_branch_98 + ascii_upper(driver)] |= bit(model);
      }
    }
  }
  // An INF file is the entry of every model whose hardware id it names, its PNF twin too.
  for (const machine_file_entry &f : machine.files) {
    std::string path = ascii_upper(f.path);
    if (f.contents.empty() || path.size() < 4 || path.compare(path.size() - 4, 4, ".INF") != 0)
      continue;
    std::string text = ascii_upper(f.contents);
    unsigned mask = 0;
    for (int model = 0; model < MODEL_COUNT; ++model)
      if (text.find(ascii_upper(model_hardware_id(model))) != std::string::npos)
        mask |= bit(model);
    if (mask) {
      owners.files[path] |= mask;
      owners.files[path.substr(0, path.size() - 3) + "PNF"] |= mask;
    }
  }
  // The OEM INF copy a model's modem class driver key names is that model's entry as well:
  // one vendor INF may serve several models.
  for (const std::string &driver :
       machine.win98 ? std::vector<std::string>() : sim::reg_subkeys(modem_class_key)) {
    std::string key = std::string(modem_class_key) + "\\" + driver;
    std::string inf = string_value(key, "InfPath");
    for (int model = 0; model < MODEL_COUNT && !inf.empty(); ++model)
      if (ascii_iequal(string_value(key, "MatchingDeviceId"), model_hardware_id(model))) {
        std::string path = ascii_upper(windows_directory(machine) + "\\inf\\" + inf);
        owners.files[path] |= bit(model);
        owners.files[path.substr(0, path.size() - 3) + "PNF"] |= bit(model);
      }
  }
  // A package is the entry of the models whose entry its published copy is.
  for (const machine_package &p : machine.packages) {
    std::string folder = sim::driver_package(p.oem_inf);
    if (folder.empty())
      continue;
    owners.package_folders[ascii_upper(p.oem_inf)] = folder;
    auto it = owners.files.find(ascii_upper(windows_directory(machine) + "\\inf\\" + p.oem_inf));
    owners.packages[ascii_upper(folder)] = it == owners.files.end() ? 0 : it->second;
  }
  return owners;
}

// ---- Whose entry an item is -------------------------------------------------------------

static unsigned lookup_prefixes(const std::unordered_map<std::string, unsigned> &map,
                                const std::string &upper_path) {
  if (map.empty())
    return 0;
  // The recorded entries are at most six levels deep (Services\Class\<class>\<instance>
  // below System\CurrentControlSet): deeper prefixes need no look-up, which keeps the cost
  // of a key deleted deep in a subtree to one pass over its path.
  unsigned mask = 0;
  int levels = 0;
  for (size_t at = upper_path.find('\\'); at != std::string::npos && ++levels <= 6;
       at = upper_path.find('\\', at + 1)) {
    auto it = map.find(upper_path.substr(0, at));
    if (it != map.end())
      mask |= it->second;
  }
  auto it = map.find(upper_path);
  return it != map.end() ? mask | it->second : mask;
}

static bool vxd_of(int model, const std::string &name) {
  std::string base = name.substr(0, name.find('.'));
  return ascii_iequal(base, model_vxd_name_1(model)) ||
         (*model_vxd_name_2(model) && ascii_iequal(base, model_vxd_name_2(model)));
}

static unsigned key_owners(const entry_owners &owners, const std::string &path) {
  unsigned mask = lookup_prefixes(owners.keys, ascii_upper(path));
  // SYSTEM\<control set>\Services\<service>, or ...\Services\VxD\<VxD> on Windows 98.
  bool services =
      ascii_iequal(component(path, 0), "SYSTEM") && ascii_iequal(component(path, 2), "Services");
  for (int model = 0; model < MODEL_COUNT; ++model) {
    if (starts_with_path(path, std::string("Enum\\") + model_hardware_id(model)))
      mask |= bit(model);
    if (services && ascii_iequal(component(path, 3), model_nt_service_name(model)))
      mask |= bit(model);
    if (services && ascii_iequal(component(path, 3), "VxD") && vxd_of(model, component(path, 4)))
      mask |= bit(model);
  }
  return mask;
}

static unsigned value_owners(const entry_owners &owners, const std::string &path) {
  size_t slash = path.rfind('\\');
  std::string key = path.substr(0, slash);
  unsigned mask = key_owners(owners, key);
  if (ascii_iequal(key.substr(key.rfind('\\') + 1), "VMM32Files"))
    for (int model = 0; model < MODEL_COUNT; ++model)
      if (vxd_of(model, path.substr(slash + 1)))
        mask |= bit(model);
  return mask;
}

static bool ends_with_name(const std::string &path, const char *name) {
  size_t n = std::string(name).size();
  return n && path.size() > n && path[path.size() - n - 1] == '\\' &&
         ascii_iequal(path.substr(path.size() - n), name);
}

static unsigned file_owners(const entry_owners &owners, const std::string &path) {
  auto it = owners.files.find(ascii_upper(path));
  unsigned mask = it != owners.files.end() ? it->second : 0;
  for (int model = 0; model < MODEL_COUNT; ++model) {
    for (int slot = 0; slot < NT_FILE_SLOTS; ++slot)
      if (ends_with_name(path, model_nt_file(model, slot)))
        mask |= bit(model);
    for (int slot = 0; slot < WIN98_FILE_SLOTS; ++slot)
      if (ends_with_name(path, model_win98_file(model, slot)))
        mask |= bit(model);
  }
  return mask;
}

// ---- Gathering ------------------------------------------------------------------------

namespace {

// One listed item, the models whose entry it is, and the model whose step removed it.
struct item {
  std::string text;
  unsigned owners = 0;
  int model = -1;
};

struct folder_items {
  std::string folder;
  std::vector<item> files;
};

// The removals of one model's step, by kind, each kind in the order it happened.
struct group {
  std::vector<item> devices; // a device, then what Windows deleted with it
  std::vector<item> packages;
  std::vector<item> keys;
  std::vector<item> values;
  std::vector<folder_items> folders;
  std::unordered_map<std::string, size_t> folder_index;
  std::vector<folder_items> restart_folders; // files in use, deleted at the next restart
  std::unordered_map<std::string, size_t> restart_folder_index;
  std::string subtree; // the last key deleted whole with its subtree (Windows 98)
};

// What became of a model, counted over its steps.
struct model_record {
  unsigned steps = 0;
  bool asked = false;
  int answer = 0;
  int removed = 0; // removals, not attribute resets
  int failures = 0;
  int kept = 0;
};

// Everything the summary shows, gathered in one pass over the events.
struct summary_state {
  const entry_owners &owners;
  // The groups by model (-1: none) and step, in the order their first removal happened.
  std::map<std::pair<int, int>, size_t> group_index;
  std::vector<std::pair<std::pair<int, int>, group>> groups;
  model_record models[MODEL_COUNT];
  std::vector<const run_event *> failures;
  std::vector<const run_event *> kept;
  std::vector<const run_event *> not_known;
  int removed = 0;
  bool changed = false;    // attribute resets included
  bool at_restart = false; // Windows finishes part of the removal at the next restart
};

} // namespace

static bool in_model(const run_event &e) {
  return e.model >= 0 && e.model < MODEL_COUNT;
}

static std::string folder_of(const std::string &path) {
  size_t slash = rfind_char_of(path, "\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A file listed under its folder, the folders in the order they first appear.
static void add_file(std::vector<folder_items> &folders,
                     std::unordered_map<std::string, size_t> &index, const std::string &path,
                     unsigned owners, int model) {
  std::string folder = folder_of(path);
  auto it = index.find(ascii_upper(folder));
  if (it == index.end()) {
    it = index.emplace(ascii_upper(folder), folders.size()).first;
    folders.push_back(folder_items{folder, {}});
  }
  folders[it->second].files.push_back(
      item{display_utf8(path.substr(folder.size())), owners, model});
}

static void take_change(summary_state &s, const run_event &e) {
  s.changed = true;
  if (e.change == sim::change::attributes_set)
    return;
  ++s.removed;
  if (in_model(e))
    ++s.models[e.model].removed;
  auto at = s.group_index.emplace(std::make_pair(e.model, e.step), s.groups.size());
  if (at.second)
    s.groups.push_back({at.first->first, group()});
  group &g = s.groups[at.first->second].second;
  switch (e.change) {
  case sim::change::device_removed:
    g.devices.push_back(item{display_utf8(e.subject)});
    break;
  case sim::change::device_removed_at_restart:
    g.devices.push_back(item{display_utf8(e.subject) +
                             "  (Windows could not stop it: it finishes the removal at the "
                             "restart it asked for)"});
    s.at_restart = true;
    break;
  case sim::change::key_deleted:
    if (e.call == "SetupDiCallClassInstaller") {
      g.devices.push_back(item{"  with it Windows deleted " + display_utf8(e.subject)});
    } else {
      // A key below the one deleted just before is of the subtree that a Windows 98
      // RegDeleteKeyA took along; on NT a key with subkeys cannot be deleted.
      bool below = !g.subtree.empty() && e.subject.size() > g.subtree.size() &&
                   e.subject[g.subtree.size()] == '\\' &&
                   ascii_iequal(e.subject.substr(0, g.subtree.size()), g.subtree);
      if (!below)
        g.subtree = e.subject;
      g.keys.push_back(item{(below ? "    " : "") + display_utf8(e.subject),
                            key_owners(s.owners, below_hklm(e.subject)), e.model});
    }
    break;
  case sim::change::value_deleted: {
    size_t slash = e.subject.rfind('\\');
    g.values.push_back(item{display_utf8(e.subject.substr(0, slash)) + "  value \"" +
                                display_utf8(e.subject.substr(slash + 1)) + "\"",
                            value_owners(s.owners, below_hklm(e.subject)), e.model});
    break;
  }
  case sim::change::file_deleted:
    add_file(g.folders, g.folder_index, e.subject, file_owners(s.owners, e.subject), e.model);
    break;
  case sim::change::file_deleted_at_restart:
    add_file(g.restart_folders, g.restart_folder_index, e.subject, file_owners(s.owners, e.subject),
             e.model);
    s.at_restart = true;
    break;
  case sim::change::package_removed: {
    auto it = s.owners.packages.find(ascii_upper(e.subject));
    g.packages.push_back(
        item{display_utf8(e.subject), it == s.owners.packages.end() ? 0 : it->second, e.model});
    break;
  }
  case sim::change::attributes_set:
    break;
  }
}

static void gather(summary_state &s, const run_account &account) {
  for (int model = 0; model < MODEL_COUNT; ++model)
    s.models[model].steps = account.steps_begun[model];
  for (const run_event &e : account.events) {
    switch (e.kind) {
    case EVENT_CHANGE:
      take_change(s, e);
      break;
    case EVENT_BOX:
      // The box of a model's question step is the question.
      if (in_model(e) && e.step == STEP_QUESTION && !s.models[e.model].asked) {
        s.models[e.model].asked = true;
        s.models[e.model].answer = e.box.answer;
      }
      break;
    case EVENT_FAILURE:
      s.failures.push_back(&e);
      if (in_model(e))
        ++s.models[e.model].failures;
      break;
    case EVENT_KEPT:
      s.kept.push_back(&e);
      if (in_model(e))
        ++s.models[e.model].kept;
      break;
    case EVENT_NOT_KNOWN:
      s.not_known.push_back(&e);
      break;
    default:
      break;
    }
  }
}

// ---- Rendering --------------------------------------------------------------------------

static const char cyan[] = "\x1b[36m";
static const char bold[] = "\x1b[1m";
static const char plain[] = "\x1b[0m";

static std::string paint(bool colour, const char *code, const std::string &text) {
  return colour ? code + text + plain : text;
}

static std::string count(int n, const char *one, const char *many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

static bool declined(const model_record &m) {
  return m.asked && m.answer != IDOK;
}

static bool removal_ran(const model_record &m) {
  for (int step = 0; step < STEP_COUNT; ++step)
    if ((m.steps & (1u << step)) && is_removal_step(step))
      return true;
  return false;
}

// "removed" only when its steps removed something and nothing failed or stayed.
static std::string model_outcome(const model_record &m) {
  std::string counts =
      " (" + count(m.failures, "failure", "failures") + ", " + std::to_string(m.kept) + " kept)";
  if (declined(m))
    return "declined";
  if (removal_ran(m)) {
    if (m.failures == 0 && m.kept == 0)
      return m.removed ? "removed" : "not found";
    return (m.removed ? "removed in part" : "not removed") + counts;
  }
  if (m.steps)
    return m.failures ? "not found" + counts : "not found";
  return "not examined";
}

static std::string place(int model, int step) {
  if (model < 0 || model >= MODEL_COUNT)
    return step == STEP_CLOSING ? "the closing, after every model's steps"
                                : "the start, before any model's steps";
  return std::string(model_display_name(model)) + ", " + step_name(step);
}

static std::string model_names(const summary_state &s, unsigned models) {
  std::string out;
  for (int model = 0; model < MODEL_COUNT; ++model)
    if (models & bit(model))
      out += std::string(out.empty() ? "" : " and of ") + model_display_name(model) +
             (declined(s.models[model]) ? " (declined)" : "");
  return out;
}

// An entry of other models that a model's rule took: always worth a flag; an entry the step's
// model shares with a declined model (the modem INF all models list): flagged as well.
static std::string owner_note(const summary_state &s, const item &i) {
  if (i.model < 0 || i.owners == 0)
    return "";
  if (!(i.owners & bit(i.model)))
    return "  <- an entry of " + model_names(s, i.owners) + ", removed by this model's rule";
  unsigned declined_others = 0;
  for (int model = 0; model < MODEL_COUNT; ++model)
    if (model != i.model && (i.owners & bit(model)) && declined(s.models[model]))
      declined_others |= bit(model);
  return declined_others ? "  <- also an entry of " + model_names(s, declined_others) : "";
}

static void list(const summary_state &s, std::string &out, const char *title,
                 const std::vector<item> &items, const char *indent) {
  if (items.empty())
    return;
  out += std::string("  ") + title + ":\n";
  for (const item &i : items)
    out += indent + i.text + owner_note(s, i) + "\n";
}

static void render_group(const summary_state &s, const group &g, std::string &out) {
  list(s, out, "device instances removed", g.devices, "    ");
  list(s, out, "driver packages removed from the store", g.packages, "    ");
  list(s, out, "registry keys deleted", g.keys, "    ");
  list(s, out, "registry values deleted", g.values, "    ");
  for (const folder_items &f : g.folders)
    list(s, out, ("files deleted in " + display_utf8(f.folder)).c_str(), f.files, "    ");
  for (const folder_items &f : g.restart_folders)
    list(s, out, ("files in use, deleted at restart in " + display_utf8(f.folder)).c_str(), f.files,
         "    ");
}

static std::string subject_text(const run_event &e) {
  std::string kind = subject_kind_name(e.subject_kind);
  return (kind.empty() ? "" : kind + " ") + display_utf8(e.subject);
}

static void render_failures(const summary_state &s, bool colour, std::string &out) {
  if (s.failures.empty())
    return;
  out += "\n" +
         paint(colour, cyan,
               "Failures the uninstaller reported (" + std::to_string(s.failures.size()) + "):") +
         "\n";
  for (const run_event *f : s.failures) {
    out += "  \"" + display_utf8(f->caption) + "\": " + describe_error(f->code) + "\n";
    if (!f->subject.empty())
      out += "      " + subject_text(*f) + "\n";
    out += "      during " + place(f->model, f->step) + "\n";
  }
}

// A kept OEM INF copy names the driver package it was published from, which stays with it.
static std::string package_note(const summary_state &s, const run_event &e) {
  std::string name = ascii_upper(e.subject.substr(e.subject.rfind('\\') + 1));
  auto package = s.owners.package_folders.find(name);
  return package == s.owners.package_folders.end()
             ? std::string()
             : " and its driver package " + display_utf8(package->second);
}

static void render_kept(const summary_state &s, bool colour, std::string &out) {
  std::vector<std::string> lines;
  for (const run_event *k : s.kept)
    lines.push_back(subject_text(*k) + package_note(s, *k) + "  (" + k->why + " during " +
                    place(k->model, k->step) + ")");
  for (int model = 0; model < MODEL_COUNT; ++model)
    if (declined(s.models[model]))
      lines.push_back(std::string("the entries of ") + model_display_name(model) +
                      " (declined); any that another model's rule removed are flagged above");
  if (lines.empty())
    return;
  out += "\n" + paint(colour, cyan, "Kept:") + "\n";
  for (const std::string &line : lines)
    out += "  " + line + "\n";
}

// What the run used that the snapshot could not show, by reason.
static void render_not_known(const summary_state &s, bool colour, std::string &out) {
  if (s.not_known.empty())
    return;
  out += "\n" + paint(colour, cyan, "Not known (the snapshot cannot show it):") + "\n";
  std::vector<std::string> reasons;
  for (const run_event *i : s.not_known)
    if (std::find(reasons.begin(), reasons.end(), i->why) == reasons.end())
      reasons.push_back(i->why);
  for (const std::string &why : reasons) {
    out += "  " + why + ":\n";
    for (const run_event *i : s.not_known)
      if (i->why == why)
        out += "    " + display_utf8(i->subject) + "\n";
  }
}

std::string render_summary(const run_account &account, const entry_owners &owners, bool colour) {
  summary_state s{owners, {}, {}, {}, {}, {}, {}, 0, false, false};
  gather(s, account);
  std::string out =
      paint(colour, bold,
            "Totals: " + std::to_string(s.removed) + " removed, " + std::to_string(s.kept.size()) +
                " kept, " + std::to_string(s.failures.size()) + " failed, " +
                std::to_string(s.not_known.size()) + " not known") +
      "\n\n" + paint(colour, cyan, "Models:") + "\n";
  for (int model = 0; model < MODEL_COUNT; ++model)
    out += std::string("  ") + model_display_name(model) + " (model " + std::to_string(model) +
           "): " + model_outcome(s.models[model]) + "\n";
  out += "\n";
  std::string removals;
  for (const auto &entry : s.groups) {
    removals += paint(colour, cyan, place(entry.first.first, entry.first.second) + ":") + "\n";
    render_group(s, entry.second, removals);
  }
  if (!s.changed)
    out += "Nothing on the machine was changed.\n";
  else if (removals.empty())
    out += "Nothing on the machine was removed.\n";
  else
    out += paint(colour, bold, "What the run removed, by model and step:") + "\n" + removals;
  if (s.at_restart)
    out += "\nWindows finishes part of the removal only at the next restart (marked above).\n";
  render_failures(s, colour, out);
  render_kept(s, colour, out);
  render_not_known(s, colour, out);
  return out;
}
