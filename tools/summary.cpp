// The summary of a rehearsal.
//
// Attribution. The removal sequence walks the models 0, 1, 2 and runs a fixed series of steps
// for each, and every step begins with a call that no other step makes at that point:
//
//   Windows 2000 family
//     detection (models 1, 2)  SetupDiGetClassDevsA when no modem class scan precedes it
//     modem class scan         RegOpenKeyExA of the modem class key
//     device instances         SetupDiGetClassDevsA after the scan
//     service keys             RegOpenKeyExA of CurrentControlSet\Services
//     driver and INF files     GetWindowsDirectoryA after the device or service step
//     OEM INF copies           FindFirstFileA after the file step
//   Windows 98 family
//     detection (models 1, 2)  RegOpenKeyExA of Enum\<the model's hardware id>
//     Enum entries             the same key again (model 0: its first opening)
//     serial port entries      RegOpenKeyExA of Enum\Root\Ports
//     VxD entries              RegOpenKeyExA of System\CurrentControlSet\control\VMM32Files
//     driver files             GetWindowsDirectoryA after the registry steps
//
// Walking sim::calls() once with these openers gives every call its model and step, and each
// change carries the index of its call. Changes made inside a SetupDiCallClassInstaller call
// other than the device's own removal are what Windows deleted along with the device.
//
// Failures. The uninstaller reports a failed call at once: FormatMessageA with the code, then
// an error box whose caption names the function ("Function : RegOpenKeyEx()"). The failed
// call is the latest call of that function, and its subject is the key, file or device.
#include "tools/summary.h"

#include "core/catalogue.h"
#include "core/texts.h"
#include "tools/encoding.h"
#include "tools/error_names.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <unordered_set>

namespace {

enum step_id {
  step_detection,
  step_modem_scan,
  step_devices,
  step_services,
  step_nt_files,
  step_oem_infs,
  step_enum_entries,
  step_ports,
  step_vxd,
  step_98_files,
  step_count
};

const char *const step_names[step_count] = {
    "detection",    "modem class scan",     "device instances",
    "service keys", "driver and INF files", "OEM INF copies",
    "Enum entries", "serial port entries",  "VxD entries",
    "driver files"};

struct position {
  int model = -1; // -1: before the first step
  int step = -1;
};

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

// The changes of one model's step, by kind, each kind in the order it happened.
struct group {
  std::vector<item> devices; // a device, then what Windows deleted with it
  std::vector<item> packages;
  std::vector<item> keys;
  std::vector<item> values;
  std::vector<folder_items> folders;
  std::unordered_map<std::string, size_t> folder_index;
  std::vector<folder_items> restart_folders; // files deleted at the next restart
  std::unordered_map<std::string, size_t> restart_folder_index;
  std::vector<item> attributes;
  size_t last_key_call = static_cast<size_t>(-1);
  bool used = false;
};

struct failure {
  std::string caption;
  DWORD code;
  bool has_code;
  std::string function; // the failed call, "" when the caption names none
  std::string subject;
  position where;
};

struct model_record {
  bool examined = false;
  bool removal_ran = false;
  bool asked = false;
  int answer = 0;
  bool changed = false;
};

struct kept_file {
  std::string path;
  position where;
};

// An OEM INF copy handed to SetupUninstallOEMInfA. The uninstaller deletes the pair itself
// after every answer but one: Windows refusing because a device that was not removed still
// uses the copy, which it neither reports nor follows with a deletion.
struct uninstall_call {
  std::string name; // the bare name, as passed
  position where;
  bool followed = false; // the pair's own deletion came after it
};

const char hklm[] = "HKEY_LOCAL_MACHINE\\";
const char modem_class_key[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}";

} // namespace

// A call's subject below HKEY_LOCAL_MACHINE, without trailing backslashes.
static std::string below_hklm(const std::string &subject) {
  std::string out = subject;
  if (ascii_iequal(out.substr(0, sizeof hklm - 1), hklm))
    out = out.substr(sizeof hklm - 1);
  return trim_backslashes(out);
}

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

// ---- Walking the calls ------------------------------------------------------------------

static bool opens(const sim::call &c, const std::string &key) {
  return c.function == "RegOpenKeyExA" && ascii_iequal(below_hklm(c.subject), key);
}

static void next_nt_position(const sim::call &c, position &p) {
  if (opens(c, modem_class_key)) {
    // Model 0 starts here at once; models 1 and 2 after their detection.
    p.model = p.step == step_detection ? p.model : p.model + 1;
    p.step = step_modem_scan;
  } else if (c.function == "SetupDiGetClassDevsA") {
    if (p.step == step_modem_scan) {
      p.step = step_devices;
    } else {
      p.model = p.model < 1 ? 1 : p.model + 1;
      p.step = step_detection;
    }
  } else if (opens(c, "SYSTEM\\CurrentControlSet\\Services") && p.step == step_devices) {
    p.step = step_services;
  } else if (c.function == "GetWindowsDirectoryA" &&
             (p.step == step_devices || p.step == step_services)) {
    p.step = step_nt_files;
  } else if (c.function == "FindFirstFileA" && p.step == step_nt_files) {
    p.step = step_oem_infs;
  }
}

static void next_win98_position(const sim::call &c, position &p) {
  if (c.function != "RegOpenKeyExA" && c.function != "GetWindowsDirectoryA")
    return;
  for (int model = 0; model < MODEL_COUNT; ++model)
    if (opens(c, std::string("Enum\\") + model_hardware_id(model))) {
      bool removal = (p.step == step_detection && p.model == model) || (model == 0 && p.model < 0);
      p.model = model;
      p.step = removal ? step_enum_entries : step_detection;
      return;
    }
  bool registry = p.step == step_enum_entries || p.step == step_ports || p.step == step_vxd;
  if (opens(c, "Enum\\Root\\Ports") && p.step == step_enum_entries)
    p.step = step_ports;
  else if (opens(c, "System\\CurrentControlSet\\control\\VMM32Files") && registry)
    p.step = step_vxd;
  else if (c.function == "GetWindowsDirectoryA" && registry)
    p.step = step_98_files;
}

// The function a report's caption names: "Function : RegOpenKeyEx()" is RegOpenKeyExA, and
// "Function : CallClassInstaller()" SetupDiCallClassInstaller.
static std::string captioned_function(const std::string &caption,
                                      const std::unordered_map<std::string, size_t> &last_call) {
  static const char prefix[] = "Function : ";
  if (caption.compare(0, sizeof prefix - 1, prefix) != 0)
    return "";
  std::string name = caption.substr(sizeof prefix - 1);
  if (name.size() > 2 && name.compare(name.size() - 2, 2, "()") == 0)
    name.resize(name.size() - 2);
  size_t latest = 0;
  std::string found;
  for (const std::string &candidate :
       {name, name + "A", "SetupDi" + name, "SetupDi" + name + "A"}) {
    auto it = last_call.find(candidate);
    if (it != last_call.end() && (found.empty() || it->second > latest)) {
      found = candidate;
      latest = it->second;
    }
  }
  return found;
}

static bool is_question(const sim::box &box, int model) {
  return box.text == std::string(model_display_name(model)) + text_installed_question_suffix;
}

namespace {

// Everything the summary shows, gathered in one pass.
struct summary_state {
  const run_view &run;
  group groups[MODEL_COUNT + 1][step_count]; // the last row: before the first step
  model_record models[MODEL_COUNT];
  std::vector<failure> failures;
  std::vector<kept_file> attributes;
  std::vector<uninstall_call> uninstalls;
  std::unordered_set<std::string> deleted_files; // upper-cased, at restart included
  bool restart_asked = false;                    // something is finished only at the next restart
};

} // namespace

static group &group_of(summary_state &s, const position &p) {
  group &g = p.model < 0 ? s.groups[MODEL_COUNT][0] : s.groups[p.model][p.step];
  g.used = true;
  return g;
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

static void take_change(summary_state &s, const sim::change &c, const position &p) {
  group &g = group_of(s, p);
  const std::string &function = s.run.calls[c.call].function;
  if (p.model >= 0 && p.step != step_detection)
    s.models[p.model].changed = true;
  switch (c.kind) {
  case sim::change::device_removed:
    g.devices.push_back(item{display_utf8(c.subject)});
    break;
  case sim::change::key_deleted:
    if (function == "SetupDiCallClassInstaller") {
      g.devices.push_back(item{"  with it Windows deleted " + display_utf8(c.subject)});
    } else {
      // Further keys of one call are the subtree that a Windows 98 RegDeleteKeyA took along.
      bool subkey = g.last_key_call == c.call;
      g.keys.push_back(item{(subkey ? "    " : "") + display_utf8(c.subject),
                            key_owners(s.run.owners, below_hklm(c.subject)), p.model});
      g.last_key_call = c.call;
    }
    break;
  case sim::change::value_deleted: {
    size_t slash = c.subject.rfind('\\');
    g.values.push_back(item{display_utf8(c.subject.substr(0, slash)) + "  value \"" +
                                display_utf8(c.subject.substr(slash + 1)) + "\"",
                            value_owners(s.run.owners, below_hklm(c.subject)), p.model});
    break;
  }
  case sim::change::device_removed_at_restart:
    g.devices.push_back(item{display_utf8(c.subject) +
                             "  (Windows could not stop it: it finishes the removal at the "
                             "restart it asked for)"});
    s.restart_asked = true;
    break;
  case sim::change::file_deleted:
    add_file(g.folders, g.folder_index, c.subject, file_owners(s.run.owners, c.subject), p.model);
    s.deleted_files.insert(ascii_upper(c.subject));
    break;
  case sim::change::file_deleted_at_restart:
    add_file(g.restart_folders, g.restart_folder_index, c.subject,
             file_owners(s.run.owners, c.subject), p.model);
    s.deleted_files.insert(ascii_upper(c.subject));
    s.restart_asked = true;
    break;
  case sim::change::attributes_set:
    s.attributes.push_back(kept_file{c.subject, p});
    break;
  case sim::change::package_removed: {
    auto it = s.run.owners.packages.find(ascii_upper(c.subject));
    g.packages.push_back(
        item{display_utf8(c.subject), it == s.run.owners.packages.end() ? 0 : it->second, p.model});
    break;
  }
  }
}

static void take_box(summary_state &s, const sim::box &box, const position &p,
                     const std::unordered_map<std::string, size_t> &last_call,
                     const std::string &last_code) {
  for (int model = 0; model < MODEL_COUNT; ++model)
    if (is_question(box, model)) {
      s.models[model].asked = true;
      s.models[model].answer = box.answer;
    }
  if ((box.type & 0xF0) != MB_ICONERROR || box.caption.compare(0, 11, "Function : ") != 0)
    return;
  failure f;
  f.caption = box.caption;
  f.has_code = !last_code.empty();
  f.code = f.has_code ? static_cast<DWORD>(std::strtoul(last_code.c_str(), nullptr, 10)) : 0;
  f.function = captioned_function(box.caption, last_call);
  if (!f.function.empty())
    f.subject = s.run.calls[last_call.at(f.function)].subject;
  f.where = p;
  s.failures.push_back(f);
}

static void walk(summary_state &s) {
  const run_view &run = s.run;
  std::unordered_map<std::string, size_t> last_call;
  std::string last_code;
  position p;
  size_t next_change = 0, next_box = 0;
  for (size_t i = 0; i < run.calls.size(); ++i) {
    const sim::call &c = run.calls[i];
    if (run.win98)
      next_win98_position(c, p);
    else
      next_nt_position(c, p);
    if (p.model >= 0) {
      s.models[p.model].examined = true;
      if (p.step != step_detection)
        s.models[p.model].removal_ran = true;
    }
    if (c.function == "SetupUninstallOEMInfA")
      s.uninstalls.push_back(uninstall_call{c.subject, p});
    else if (c.function == "SetFileAttributesA" && !s.uninstalls.empty() &&
             s.uninstalls.back().where.model == p.model &&
             s.uninstalls.back().where.step == p.step &&
             ends_with_name(c.subject, s.uninstalls.back().name.c_str()))
      s.uninstalls.back().followed = true;
    if (c.function == "FormatMessageA")
      last_code = c.subject;
    else if (c.function != "MessageBoxA")
      last_call[c.function] = i;
    for (; next_change < run.changes.size() && run.changes[next_change].call <= i; ++next_change)
      take_change(s, run.changes[next_change], p);
    for (; next_box < run.boxes.size() && run.boxes[next_box].call <= i; ++next_box)
      take_box(s, run.boxes[next_box].box, p, last_call, last_code);
  }
}

// ---- Rendering --------------------------------------------------------------------------

static const char cyan[] = "\x1b[36m";
static const char bold[] = "\x1b[1m";
static const char plain[] = "\x1b[0m";

static std::string paint(bool colour, const char *code, const std::string &text) {
  return colour ? code + text + plain : text;
}

static std::string model_outcome(const model_record &m) {
  if (m.removal_ran)
    return m.changed ? "removed" : "its steps ran and found nothing of it";
  if (m.asked && m.answer != IDOK)
    return "declined at its question; its entries were kept";
  if (m.examined)
    return "not found, passed over without a question";
  return "not examined";
}

static std::string place(const position &p) {
  if (p.model < 0)
    return "the start, before any model's steps";
  return std::string(model_display_name(p.model)) + ", " + step_names[p.step];
}

static bool declined(const model_record &m) {
  return m.asked && m.answer != IDOK && !m.removal_ran;
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
    list(s, out,
         ("files in use, deleted at restart (scheduled) in " + display_utf8(f.folder)).c_str(),
         f.files, "    ");
}

static const char *subject_word(const std::string &function) {
  if (function.compare(0, 3, "Reg") == 0)
    return "key ";
  if (function == "DeleteFileA" || function == "SetFileAttributesA")
    return "file ";
  if (function.compare(0, 7, "SetupDi") == 0)
    return "device ";
  if (function.compare(0, 5, "Setup") == 0)
    return "INF ";
  if (function == "LoadLibraryA" || function == "FreeLibrary")
    return "module ";
  if (function == "GetProcAddress")
    return "function ";
  return "";
}

static bool is_removal(const std::string &function) {
  return function == "DeleteFileA" || function == "RegDeleteKeyA" ||
         function == "RegDeleteValueA" || function == "SetupDiCallClassInstaller";
}

static void render_failures(const summary_state &s, bool colour, std::string &out) {
  if (s.failures.empty())
    return;
  out += "\n" +
         paint(colour, cyan,
               "Failures the uninstaller reported (" + std::to_string(s.failures.size()) + "):") +
         "\n";
  for (const failure &f : s.failures) {
    out += "  \"" + display_utf8(f.caption) +
           "\": " + (f.has_code ? describe_error(f.code) : std::string("no code")) + "\n";
    if (!f.subject.empty())
      out += "      " + std::string(subject_word(f.function)) + display_utf8(f.subject) + "\n";
    out += "      during " + place(f.where) + "\n";
  }
}

static void render_kept(const summary_state &s, bool colour, std::string &out) {
  std::vector<std::string> lines;
  std::unordered_set<std::string> listed; // a file whose removal failed is listed as such
  for (const failure &f : s.failures)
    if (is_removal(f.function))
      listed.insert(ascii_upper(f.subject));
  for (const kept_file &k : s.attributes)
    if (!s.deleted_files.count(ascii_upper(k.path)) && listed.insert(ascii_upper(k.path)).second)
      lines.push_back(display_utf8(k.path) + "  (attributes set to normal during " +
                      place(k.where) + ")");
  for (const failure &f : s.failures)
    if (is_removal(f.function) && !f.subject.empty())
      lines.push_back(subject_word(f.function) + display_utf8(f.subject) +
                      "  (its removal failed)");
  // A copy refused for every model that tried is listed once; one that a later model's step
  // uninstalled is gone and not listed.
  std::unordered_set<std::string> gone;
  for (const std::string &path : s.deleted_files)
    gone.insert(path.substr(path.rfind('\\') + 1));
  for (const uninstall_call &u : s.uninstalls) {
    std::string name = ascii_upper(u.name);
    if (u.followed || gone.count(name) || !listed.insert(name).second)
      continue;
    auto package = s.run.owners.package_folders.find(name);
    lines.push_back("INF " + display_utf8(u.name) + " with its PNF" +
                    (package == s.run.owners.package_folders.end()
                         ? std::string()
                         : " and its driver package " + display_utf8(package->second)) +
                    "  (a device that was not removed still uses it: Windows refused to "
                    "uninstall it during " +
                    place(u.where) + ")");
  }
  for (int model = 0; model < MODEL_COUNT; ++model) {
    const model_record &m = s.models[model];
    if (declined(m))
      lines.push_back(std::string("the entries of ") + model_display_name(model) +
                      " (declined); any that another model's rule removed are flagged above");
  }
  if (lines.empty())
    return;
  out += "\n" + paint(colour, cyan, "Kept:") + "\n";
  for (const std::string &line : lines)
    out += "  " + line + "\n";
}

// What the run used that the snapshot could not show, by reason.
static void render_not_known(const run_view &run, bool colour, std::string &out) {
  if (run.not_known.empty())
    return;
  out += "\n" + paint(colour, cyan, "Not known (the snapshot cannot show it):") + "\n";
  std::vector<std::string> reasons;
  for (const not_known_item &i : run.not_known)
    if (std::find(reasons.begin(), reasons.end(), i.why) == reasons.end())
      reasons.push_back(i.why);
  for (const std::string &why : reasons) {
    out += "  " + why + ":\n";
    for (const not_known_item &i : run.not_known)
      if (i.why == why)
        out += "    " + display_utf8(i.subject) + "\n";
  }
}

std::string render_summary(const run_view &run, bool colour) {
  summary_state s{run, {}, {}, {}, {}, {}, {}, false};
  walk(s);
  std::string out = paint(colour, cyan, "Models:") + "\n";
  for (int model = 0; model < MODEL_COUNT; ++model)
    out += std::string("  ") + model_display_name(model) + " (model " + std::to_string(model) +
           "): " + model_outcome(s.models[model]) + "\n";
  out += "\n";
  std::string removals;
  for (int model = 0; model <= MODEL_COUNT; ++model)
    for (int step = 0; step < step_count; ++step) {
      const group &g = s.groups[model][step];
      if (!g.used || (g.devices.empty() && g.packages.empty() && g.keys.empty() &&
                      g.values.empty() && g.folders.empty() && g.restart_folders.empty()))
        continue;
      position p{model < MODEL_COUNT ? model : -1, step};
      removals += paint(colour, cyan, place(p) + ":") + "\n";
      render_group(s, g, removals);
    }
  if (run.changes.empty())
    out += "Nothing on the machine was changed.\n";
  else if (removals.empty())
    out += "Nothing on the machine was removed.\n";
  else
    out += paint(colour, bold, "What the run removed, by model and step:") + "\n" + removals;
  if (s.restart_asked)
    out += "\nWindows finishes part of the removal only at the next restart (listed above as "
           "such).\n";
  render_failures(s, colour, out);
  render_kept(s, colour, out);
  render_not_known(run, colour, out);
  return out;
}
