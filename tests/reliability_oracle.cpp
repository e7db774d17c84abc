// The oracle: what the rules of the program allow a run to delete, taken from the machine
// before the run, and which status flags a reported failure must leave set. It reads the
// rules afresh from the catalogue and shares no code with the program.
#include "tests/reliability_internal.h"

#include "core/catalogue.h"
#include "core/run_state.h"
#include "core/texts.h"

#include <algorithm>
#include <cctype>

namespace reliability {

// ---- Snapshot ---------------------------------------------------------------------------

static void walk_keys(const std::string &path, std::vector<snapshot::key> &out) {
  for (const std::string &sub : sim::reg_subkeys(path)) {
    std::string child = path.empty() ? sub : path + "\\" + sub;
    if (!sim::reg_link(child).empty())
      continue; // an alias shows keys that are listed under their own path
    out.push_back(snapshot::key{child, sim::reg_value_list(child)});
    walk_keys(child, out);
  }
}

// Whether a file name is that of an OEM INF copy: "oem", decimal digits, ".inf".
static bool oem_copy_name(const std::string &name) {
  std::string n = lower(name);
  if (n.size() < 8 || n.compare(0, 3, "oem") != 0 || n.compare(n.size() - 4, 4, ".inf") != 0)
    return false;
  return std::all_of(n.begin() + 3, n.end() - 4, ::isdigit);
}

// The "USBTA" line of an OEM INF copy as the platform reads it; false when there is none.
static bool read_usbta_line(const std::string &name, std::string &text) {
  HINF inf = SetupOpenInfFileA(name.c_str(), nullptr, INF_STYLE_WIN4, nullptr);
  if (inf == INVALID_HANDLE_VALUE)
    return false;
  bool found = false;
  DWORD required = 0;
  SetLastError(0);
  SetupGetLineTextA(nullptr, inf, "USBTA", usbta_key, nullptr, 0, &required);
  if (GetLastError() == 0 && required > 0) {
    std::string line(required, '\0');
    SetupGetLineTextA(nullptr, inf, "USBTA", usbta_key, &line[0], required, &required);
    if (GetLastError() == 0) {
      text = line.substr(0, line.find('\0'));
      found = true;
    }
  }
  SetupCloseInfFile(inf);
  return found;
}

static snapshot read_snapshot(const machine_plan &plan) {
  snapshot s;
  s.win98 = plan.win98;
  walk_keys("", s.keys);
  s.devices = plan.devices;
  char folder[MAX_PATH] = {};
  GetWindowsDirectoryA(folder, sizeof folder);
  s.windows_directory = folder;
  GetSystemDirectoryA(folder, sizeof folder);
  s.system_directory = folder;
  if (plan.win98)
    return s;
  for (const std::string &file : sim::file_list()) {
    std::string name = file.substr(file.rfind('\\') + 1);
    std::string text;
    if (ieq(file, s.windows_directory + "\\inf\\" + name) && oem_copy_name(name) &&
        read_usbta_line(name, text))
      s.usbta_text[name] = text;
  }
  for (const std::string &file : sim::file_list()) {
    std::string package = sim::driver_package(file.substr(file.rfind('\\') + 1));
    if (!package.empty() &&
        ieq(file, s.windows_directory + "\\inf" + file.substr(file.rfind('\\'))))
      s.packages[upper(package)] = file;
  }
  return s;
}

// ---- What a run may delete --------------------------------------------------------------

// The datum as a string: up to its first zero byte.
static std::string as_string(const std::string &data) {
  return data.substr(0, data.find('\0'));
}

// "<class>\<instance>": what a "Driver" value names below the class branch.
static bool names_driver_key(const std::string &data) {
  std::vector<std::string> parts = split(data);
  return parts.size() == 2 && !parts[0].empty() && !parts[1].empty();
}

static std::vector<std::string> driver_values(const snapshot::key &k) {
  std::vector<std::string> out;
  for (const sim::reg_value_data &v : k.values)
    if (v.name == "Driver" && names_driver_key(as_string(v.data)))
      out.push_back(win98_class_prefix + as_string(v.data));
  return out;
}

static bool describes_port(const snapshot::key &k, const std::string &prefix) {
  for (const sim::reg_value_data &v : k.values)
    if (v.name == "DeviceDesc" && as_string(v.data).compare(0, prefix.size(), prefix) == 0)
      return true;
  return false;
}

// The keys (with their subtrees) a Windows 98 run may delete for the model.
static std::vector<std::string> win98_key_roots(const snapshot &s, int model) {
  std::vector<std::string> roots;
  std::string enum_key = std::string("Enum\\") + model_hardware_id(model);
  roots.push_back(enum_key);
  roots.push_back(win98_vxd_prefix + std::string(model_vxd_name_1(model)));
  roots.push_back(win98_vxd_prefix + std::string(model_vxd_name_2(model)));
  const size_t enum_depth = split(enum_key).size();
  for (const snapshot::key &k : s.keys) {
    size_t depth = split(k.path).size();
    if (depth == enum_depth + 1 && at_or_below(k.path, enum_key))
      for (const std::string &d : driver_values(k))
        roots.push_back(d);
    if (depth == 4 && at_or_below(k.path, win98_ports) &&
        describes_port(k, model_device_desc_prefix(model))) {
      roots.push_back(k.path);
      for (const std::string &d : driver_values(k))
        roots.push_back(d);
    }
  }
  return roots;
}

// The line begins with the expected text, which ends there, before a field or before a further
// part of the id.
static bool usbta_matches(const std::string &line, int model) {
  std::string expected = lower("USB_TA," + std::string(model_hardware_id(model)));
  if (line.size() < expected.size() || lower(line).compare(0, expected.size(), expected) != 0)
    return false;
  return line.size() == expected.size() || line[expected.size()] == ',' ||
         line[expected.size()] == '&';
}

static std::string pnf_twin(const std::string &name) {
  return name.size() < 3 ? name : name.substr(0, name.size() - 3) + "pnf";
}

// The modem class key behind CurrentControlSet, where an alias points it elsewhere.
static std::string current_control_set() {
  std::string current = sim::reg_link("SYSTEM\\CurrentControlSet");
  return current.empty() ? std::string("SYSTEM\\CurrentControlSet") : current;
}

// The OEM INF copy and its PNF that the model's modem class entries name.
static void add_named_oem_infs(const snapshot &s, int model, std::vector<std::string> &files) {
  std::string class_key =
      current_control_set() + "\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}";
  for (const snapshot::key &k : s.keys) {
    if (split(k.path).size() != split(class_key).size() + 1 || !at_or_below(k.path, class_key))
      continue;
    bool matches = false;
    for (const sim::reg_value_data &v : k.values)
      if (ieq(v.name, "MatchingDeviceId") && ieq(as_string(v.data), model_hardware_id(model)))
        matches = true;
    if (!matches)
      continue;
    for (const sim::reg_value_data &v : k.values) {
      if (v.name != "InfPath")
        continue;
      std::string name = as_string(v.data);
      files.push_back(s.windows_directory + "\\inf\\" + name);
      files.push_back(s.windows_directory + "\\inf\\" + pnf_twin(name));
    }
  }
}

// The files a run may touch for the model, full paths.
static std::vector<std::string> model_files(const snapshot &s, int model) {
  std::vector<std::string> files;
  for (int slot = 0; slot < WIN98_FILE_SLOTS; ++slot) {
    std::string path =
        win98_placement(s.windows_directory, s.system_directory, model_win98_file(model, slot));
    if (!path.empty())
      files.push_back(path);
  }
  if (s.win98)
    return files;
  for (int slot = 0; slot < NT_FILE_SLOTS; ++slot) {
    std::string name = model_nt_file(model, slot);
    if (name.size() < 3)
      continue;
    std::string kind = lower(name.substr(name.size() - 3));
    if (kind == "sys")
      files.push_back(s.system_directory + "\\drivers\\" + name);
    else if (kind == "inf" || kind == "pnf")
      files.push_back(s.windows_directory + "\\inf\\" + name);
  }
  add_named_oem_infs(s, model, files);
  for (const auto &copy : s.usbta_text) {
    if (!usbta_matches(copy.second, model))
      continue;
    files.push_back(s.windows_directory + "\\inf\\" + copy.first);
    files.push_back(s.windows_directory + "\\inf\\" + pnf_twin(copy.first));
  }
  return files;
}

static bool device_lists(const sim::device &d, const std::string &id) {
  if (!d.has_hardware_ids)
    return false;
  std::vector<std::string> entries;
  size_t start = 0;
  for (size_t end; (end = d.hardware_ids.find('\0', start)) != std::string::npos; start = end + 1)
    entries.push_back(d.hardware_ids.substr(start, end - start));
  // Whole entries in any letter case, as Windows compares hardware ids.
  return std::any_of(entries.begin(), entries.end(),
                     [&](const std::string &entry) { return ieq(entry, id); });
}

// A key a Windows 2000 run may delete for the model: the driver key of a device the class
// installer removed (it goes with the device, as on Windows), and in a complete removal
// SYSTEM\ControlSetNNN\Services\<service>[\<subkey>].
static bool nt_key_deletion_allowed(const snapshot &before, const std::string &subject, int model,
                                    bool complete) {
  std::string class_branch = current_control_set() + "\\Control\\Class\\";
  for (const sim::device &d : before.devices)
    if (!d.driver.empty() && device_lists(d, model_hardware_id(model)) &&
        at_or_below(subject, class_branch + d.driver))
      return true;
  std::vector<std::string> parts = split(subject);
  if (!complete || (parts.size() != 4 && parts.size() != 5))
    return false;
  const std::string set = upper(parts[1]);
  bool numbered = set.size() == 13 && set.compare(0, 10, "CONTROLSET") == 0 &&
                  std::all_of(set.begin() + 10, set.end(), ::isdigit);
  return ieq(parts[0], "SYSTEM") && numbered && ieq(parts[2], "Services") &&
         ieq(parts[3], model_nt_service_name(model));
}

static bool model_deletion_allowed(const snapshot &before, const sim::change &change,
                                   const std::string &subject, int model, bool complete) {
  switch (change.kind) {
  case sim::change::device_removed:
  case sim::change::device_removed_at_restart:
    if (!before.win98)
      for (const sim::device &d : before.devices)
        if (ieq(d.instance_id, subject) && device_lists(d, model_hardware_id(model)))
          return true;
    return false;
  case sim::change::key_deleted:
    if (!before.win98)
      return nt_key_deletion_allowed(before, subject, model, complete);
    for (const std::string &root : before.win98_key_roots[model])
      if (at_or_below(subject, root))
        return true;
    return false;
  case sim::change::value_deleted:
    if (before.win98)
      for (int slot = 0; slot < 2; ++slot)
        if (ieq(subject, std::string(win98_vmm32files) + "\\" + model_win98_file(model, slot)))
          return true;
    return false;
  case sim::change::file_deleted:
  case sim::change::file_deleted_at_restart:
  case sim::change::attributes_set:
    for (const std::string &path : before.model_files[model])
      if (ieq(path, subject))
        return true;
    return false;
  case sim::change::package_removed: { // with the copy it was published as
    auto it = before.packages.find(upper(subject));
    if (it != before.packages.end())
      for (const std::string &path : before.model_files[model])
        if (ieq(path, it->second))
          return true;
    return false;
  }
  }
  return false;
}

snapshot take_snapshot(const machine_plan &plan) {
  snapshot s = read_snapshot(plan);
  // Worked out once: every change of the run is checked against them.
  for (int model = 0; model < MODEL_COUNT; ++model) {
    s.model_files[model] = model_files(s, model);
    if (s.win98)
      s.win98_key_roots[model] = win98_key_roots(s, model);
  }
  return s;
}

bool deletion_allowed(const snapshot &before, const sim::change &change, unsigned models,
                      bool complete) {
  std::string subject = strip_hklm(change.subject);
  for (int model = 0; model < MODEL_COUNT; ++model)
    if ((models & (1u << model)) &&
        model_deletion_allowed(before, change, subject, model, complete))
      return true;
  return false;
}

// ---- What a reported failure must record ------------------------------------------------

int (*const flag_getters[6])(int) = {get_win98_registry_status, get_win98_files_status,
                                     get_nt_device_status,      get_nt_service_status,
                                     get_nt_files_status,       get_nt_oem_inf_status};

int flag_bit(int flag) {
  return 1 << flag;
}

static bool is_path_of(const std::string &path, const std::vector<std::string> &paths) {
  for (const std::string &p : paths)
    if (ieq(p, path))
      return true;
  return false;
}

static bool is_directory_caption(const std::string &caption) {
  return caption == caption_get_windows_directory || caption == caption_get_system_directory;
}

// A Windows 2000 report during the detection of a model.
static int nt_confirm_flags(const std::string &caption, bool processed) {
  if (is_directory_caption(caption)) // the file probe's failure mark; the file step rewrites it
    return processed ? REPORT_ONLY : flag_bit(4);
  if (caption == caption_setup_di_get_class_devs ||
      caption == caption_get_device_registry_property || caption == caption_local_alloc ||
      caption == caption_set_file_attributes)
    return REPORT_ONLY;
  return NOT_HERE;
}

// A Windows 2000 report during a file step, by the file it names.
static int nt_file_flags(const snapshot &before, const box_context &context,
                         const std::string &caption) {
  int model = context.model;
  const std::string &subject = context.failed.subject;
  std::vector<std::string> nt_list;
  for (int slot = 0; slot < NT_FILE_SLOTS; ++slot)
    if (model_nt_file(model, slot)[0] != 0)
      nt_list.push_back(nt_placement(model, slot));
  std::vector<std::string> win98_list;
  for (int slot = 0; slot < WIN98_FILE_SLOTS; ++slot)
    win98_list.push_back(win98_placement(before.windows_directory, before.system_directory,
                                         model_win98_file(model, slot)));
  if (caption == caption_set_file_attributes)
    return is_path_of(subject, nt_list) ? flag_bit(4) : REPORT_ONLY;
  if (caption == caption_delete_file) {
    if (context.late)
      return flag_bit(4) | flag_bit(5);
    return is_path_of(subject, nt_list) || is_path_of(subject, win98_list) ? flag_bit(4)
                                                                           : REPORT_ONLY;
  }
  return NOT_HERE;
}

// A Windows 2000 report during the removal steps of a model.
static int nt_step_flags(const snapshot &before, const box_context &context,
                         const std::string &caption) {
  if (caption == caption_setup_di_get_class_devs || caption == caption_call_class_installer ||
      caption == caption_unknown)
    return flag_bit(2);
  if (caption == caption_get_device_registry_property)
    return REPORT_ONLY;
  // A failure of the OEM INF scan is recorded in flag 5, unless a later copy then finds no
  // Windows directory: that ends the scan with the failure mark in flag 4 instead.
  const int oem_scan = flag_bit(4) | flag_bit(5);
  if (caption == caption_local_alloc)
    return context.late ? oem_scan : REPORT_ONLY;
  if (caption == caption_reg_open_key_ex || caption == caption_reg_close_key)
    return upper(context.failed.subject).find("\\SERVICES") != std::string::npos ? flag_bit(3)
                                                                                 : REPORT_ONLY;
  if (caption == caption_reg_delete_key)
    return flag_bit(3);
  if (is_directory_caption(caption))
    return oem_scan;
  // The search of the INF folder ends the OEM INF step as a missing Windows directory does.
  if (caption == caption_find_first_file || caption == caption_find_next_file)
    return flag_bit(4);
  // Windows refusing to uninstall a copy a device uses is never reported; any other failure
  // is followed by the deletion of the copy, which records its own outcome.
  if (caption == caption_setup_uninstall_oem_inf)
    return context.code == std::to_string(ERROR_INF_IN_USE_BY_DEVICES) ? NOT_HERE : REPORT_ONLY;
  return nt_file_flags(before, context, caption);
}

// A Windows 98 report, during the detection or the removal steps of a model.
static int win98_flags(const box_context &context, const std::string &caption, bool processed) {
  const std::string subject = strip_hklm(context.failed.subject);
  if (context.phase == CONFIRM) {
    if (is_directory_caption(caption))
      return processed ? REPORT_ONLY : flag_bit(1);
    if (caption == caption_reg_close_key || caption == caption_set_file_attributes)
      return REPORT_ONLY;
    return NOT_HERE;
  }
  if (caption == caption_reg_open_key_ex) // an instance of the Enum key is skipped
    return at_or_below(subject, win98_ports) || ieq(subject, win98_vmm32files) ? flag_bit(0)
                                                                               : REPORT_ONLY;
  if (caption == caption_reg_close_key)
    return flag_bit(0);
  if (caption == caption_reg_delete_key) {
    // A driver key named by an instance of the Enum key is reported only; the Enum key
    // itself, and everything of the port walk, is recorded.
    std::string class_branch = std::string(win98_class_prefix);
    class_branch.pop_back();
    if (!context.late && at_or_below(subject, class_branch))
      return REPORT_ONLY;
    return flag_bit(0);
  }
  if (is_directory_caption(caption) || caption == caption_set_file_attributes ||
      caption == caption_delete_file)
    return flag_bit(1);
  return NOT_HERE;
}

int required_flags(const machine_plan &plan, const snapshot &before, const box_context &context,
                   const std::string &caption, bool processed) {
  if (caption == caption_load_library || caption == caption_get_proc_address ||
      caption == caption_free_library)
    return REPORT_ONLY; // binding and release: the sequence does nothing, or is over
  if (context.phase == OUTSIDE)
    return NOT_HERE;
  if (plan.win98)
    return win98_flags(context, caption, processed);
  if (context.phase == CONFIRM)
    return nt_confirm_flags(caption, processed);
  return nt_step_flags(before, context, caption);
}

} // namespace reliability
