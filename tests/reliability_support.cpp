#include "tests/reliability_support.h"

#include "core/catalogue.h"
#include "core/entry.h"
#include "core/hosted/reset.h"
#include "core/run_state.h"
#include "core/texts.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>

namespace reliability {

// ---- Randomness -------------------------------------------------------------------------

uint64_t random_source::next() {
  state += 0x9E3779B97F4A7C15ull;
  uint64_t z = state;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

uint32_t random_source::below(uint32_t bound) {
  return bound == 0 ? 0 : static_cast<uint32_t>(next() % bound);
}

bool random_source::chance(int percent) {
  return static_cast<int>(below(100)) < percent;
}

// ---- Text helpers -----------------------------------------------------------------------

static std::string upper(std::string s) {
  for (char &c : s)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

static std::string lower(std::string s) {
  for (char &c : s)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

static bool ieq(const std::string &a, const std::string &b) {
  return upper(a) == upper(b);
}

// `path` is `root` or lies below it (without regard to case).
static bool at_or_below(const std::string &path, const std::string &root) {
  std::string p = upper(path), r = upper(root);
  return p == r || (p.size() > r.size() && p.compare(0, r.size(), r) == 0 && p[r.size()] == '\\');
}

static std::string strip_hklm(const std::string &path) {
  static const std::string root = "HKEY_LOCAL_MACHINE\\";
  if (path.size() >= root.size() && ieq(path.substr(0, root.size()), root))
    return path.substr(root.size());
  return path;
}

static std::vector<std::string> split(const std::string &path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path) {
    if (c == '\\') {
      parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  parts.push_back(part);
  return parts;
}

// A C++ string literal of the bytes (octal escapes, so that no escape runs into the next
// character); wrapped in std::string(..., size) when the bytes hold a zero.
static std::string literal(const std::string &bytes) {
  std::string out = "\"";
  for (unsigned char c : bytes) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '?') {
      out += "\\?";
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char escape[8];
      snprintf(escape, sizeof escape, "\\%03o", c);
      out += escape;
    }
  }
  out += "\"";
  if (bytes.find('\0') != std::string::npos)
    return "std::string(" + out + ", " + std::to_string(bytes.size()) + ")";
  return out;
}

static std::string four_digits(int n) {
  char text[16];
  snprintf(text, sizeof text, "%04d", n);
  return text;
}

static std::string three_digits(int n) {
  char text[16];
  snprintf(text, sizeof text, "%03d", n);
  return text;
}

// ---- Builders ---------------------------------------------------------------------------

void start_machine(machine_plan &plan, bool win98) {
  std::string tail = plan.command_tail;
  plan = machine_plan();
  plan.command_tail = tail;
  plan.win98 = win98;
  if (win98)
    sim::machine_win98();
  else
    sim::machine_win2000();
  plan.code.push_back(win98 ? "sim::machine_win98();" : "sim::machine_win2000();");
}

void add_key(machine_plan &plan, const std::string &path) {
  sim::reg_add_key(path);
  plan.code.push_back("sim::reg_add_key(" + literal(path) + ");");
}

void set_value(machine_plan &plan, const std::string &path, const std::string &name, DWORD type,
               const std::string &data) {
  sim::reg_set_value(path, name, type, data);
  plan.code.push_back("sim::reg_set_value(" + literal(path) + ", " + literal(name) + ", " +
                      std::to_string(type) + ", " + literal(data) + ");");
}

void set_string(machine_plan &plan, const std::string &path, const std::string &name,
                const std::string &text) {
  sim::reg_set_string(path, name, text);
  plan.code.push_back("sim::reg_set_string(" + literal(path) + ", " + literal(name) + ", " +
                      literal(text) + ");");
}

void add_link(machine_plan &plan, const std::string &alias, const std::string &target) {
  sim::reg_add_link(alias, target);
  plan.code.push_back("sim::reg_add_link(" + literal(alias) + ", " + literal(target) + ");");
}

void delete_key(machine_plan &plan, const std::string &path) {
  sim::reg_delete_key(path);
  plan.code.push_back("sim::reg_delete_key(" + literal(path) + ");");
}

void add_file(machine_plan &plan, const std::string &path, DWORD attributes,
              const std::string &contents) {
  sim::file_add(path, attributes, contents);
  plan.code.push_back("sim::file_add(" + literal(path) + ", " + std::to_string(attributes) + ", " +
                      literal(contents) + ");");
}

void add_folder(machine_plan &plan, const std::string &path) {
  sim::folder_add(path);
  plan.code.push_back("sim::folder_add(" + literal(path) + ");");
}

void add_device(machine_plan &plan, const sim::device &device) {
  sim::device_add(device);
  plan.devices.push_back(device);
  plan.code.push_back("sim::device_add(sim::device{" + literal(device.instance_id) + ", " +
                      literal(device.hardware_ids) + ", " +
                      (device.has_hardware_ids ? "true" : "false") + ", " +
                      (device.present ? "true" : "false") + ", " +
                      std::to_string(device.remove_error) + ", " + literal(device.driver) + "});");
}

void set_directories(machine_plan &plan, const std::string &windows, const std::string &system) {
  sim::set_windows_directory(windows);
  sim::set_system_directory(system);
  plan.code.push_back("sim::set_windows_directory(" + literal(windows) + ");");
  plan.code.push_back("sim::set_system_directory(" + literal(system) + ");");
}

void deny_key(machine_plan &plan, const std::string &path, REGSAM mask) {
  sim::reg_deny(path, mask);
  plan.code.push_back("sim::reg_deny(" + literal(path) + ", " + std::to_string(mask) + ");");
}

void deny_file_attributes(machine_plan &plan, const std::string &path, DWORD error) {
  sim::file_deny_attributes(path, error);
  plan.code.push_back("sim::file_deny_attributes(" + literal(path) + ", " + std::to_string(error) +
                      ");");
}

void deny_file_delete(machine_plan &plan, const std::string &path, DWORD error) {
  sim::file_deny_delete(path, error);
  plan.code.push_back("sim::file_deny_delete(" + literal(path) + ", " + std::to_string(error) +
                      ");");
}

// Now and then an entry that exists but cannot be changed: a key without write or delete
// rights, a file in use or without rights to its attributes.
static void deny_some(machine_plan &plan, random_source &random) {
  if (!random.chance(30))
    return;
  std::vector<std::string> keys;
  for (const std::string &line : plan.code) {
    size_t open = line.find("(\"");
    if (line.compare(0, 14, "sim::reg_set_s") == 0 || line.compare(0, 14, "sim::reg_set_v") == 0 ||
        line.compare(0, 12, "sim::reg_add") == 0)
      keys.push_back(line.substr(open + 2, line.find('"', open + 2) - open - 2));
  }
  std::vector<std::string> files;
  for (const std::string &line : plan.code)
    if (line.compare(0, 13, "sim::file_add") == 0) {
      size_t open = line.find("(\"");
      files.push_back(line.substr(open + 2, line.find('"', open + 2) - open - 2));
    }
  auto unescape = [](std::string text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i)
      out += text[i] == '\\' && i + 1 < text.size() ? text[++i] : text[i];
    return out;
  };
  for (int n = 1 + static_cast<int>(random.below(2)); n > 0; --n) {
    if (!keys.empty() && random.chance(50)) {
      static const REGSAM masks[] = {KEY_WRITE, DELETE, KEY_ALL_ACCESS};
      deny_key(plan, unescape(keys[random.below(static_cast<uint32_t>(keys.size()))]),
               masks[random.below(3)]);
    } else if (!files.empty()) {
      std::string file = unescape(files[random.below(static_cast<uint32_t>(files.size()))]);
      if (random.chance(50))
        deny_file_delete(plan, file, ERROR_SHARING_VIOLATION);
      else
        deny_file_attributes(plan, file, ERROR_ACCESS_DENIED);
    }
  }
}

void add_fault(machine_plan &plan, const sim::fault &fault) {
  plan.faults.push_back(fault);
}

// ---- The machines -----------------------------------------------------------------------

static const char modem_class_path[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}";
static const char usbta_key[] = "QUENDALQ40 PRO USBPort Adapter";
static const char win98_class_prefix[] = "System\\CurrentControlSet\\Services\\Class\\";
static const char win98_vxd_prefix[] = "System\\CurrentControlSet\\Services\\VxD\\";
static const char win98_vmm32files[] = "System\\CurrentControlSet\\control\\VMM32Files";
static const char win98_ports[] = "Enum\\Root\\Ports";

static std::string case_variant(const std::string &s, random_source &random) {
  switch (random.below(3)) {
  case 0:
    return lower(s);
  case 1:
    return upper(s);
  default:
    return s;
  }
}

// The text with the character at `index` (from the end when negative) changed to its
// neighbour: a digit or letter one up, wrapping.
static std::string one_char_changed(std::string s, int index) {
  size_t at = index < 0 ? s.size() + index : static_cast<size_t>(index);
  char &c = s[at];
  if (c >= '0' && c <= '9')
    c = c == '9' ? '0' : static_cast<char>(c + 1);
  else if (c >= 'a' && c <= 'z')
    c = c == 'z' ? 'a' : static_cast<char>(c + 1);
  else if (c >= 'A' && c <= 'Z')
    c = c == 'Z' ? 'A' : static_cast<char>(c + 1);
  else
    c = 'X';
  return s;
}

static std::string without_last(const std::string &s) {
  return s.substr(0, s.size() - 1);
}

// An unused number in [low, high].
static int fresh_number(random_source &random, std::set<int> &used, int low, int high) {
  for (;;) {
    int n = low + static_cast<int>(random.below(static_cast<uint32_t>(high - low + 1)));
    if (used.insert(n).second)
      return n;
  }
}

static std::string usbta_inf_text(const std::string &line, random_source &random) {
  std::string text = "; copied by Windows\r\n[Version]\r\nSignature=\"$Windows NT$\"\r\n"
                     "Class=Modem\r\n[USBTA]\r\n";
  if (random.chance(50))
    text += "%Q40%=" + line + "\r\n";
  else
    text += std::string("\"") + usbta_key + "\" = " + line + "\r\n";
  text += std::string("[Strings]\r\nQ40=\"") + usbta_key + "\"\r\n";
  return text;
}

static std::string nt_services(int set) {
  return "SYSTEM\\ControlSet" + three_digits(set) + "\\Services";
}

// The line of an OEM INF that names the model, in one of the spellings that match.
static std::string matching_usbta_line(int model, random_source &random) {
  std::string id = model_hardware_id(model);
  switch (random.below(4)) {
  case 0:
    return "USB_TA," + id;
  case 1:
    return "USB_TA, " + lower(id);
  case 2:
    return "usb_ta," + upper(id) + ",Modem6";
  default:
    return "USB_TA," + id + "&Rev_0100";
  }
}

// A line that names no model.
static std::string other_usbta_line(int model, random_source &random) {
  std::string id = model_hardware_id(model);
  switch (random.below(4)) {
  case 0:
    return "USB_TA," + one_char_changed(id, -1);
  case 1:
    return "USB_TA," + without_last(id);
  case 2:
    return "USB_TB," + id;
  default:
    return id;
  }
}

static void add_oem_copy(machine_plan &plan, random_source &random, int number,
                         const std::string &inf_text, bool decoy) {
  std::string base = std::string(random.chance(50) ? "oem" : "OEM") + std::to_string(number);
  std::string inf = "C:\\WINDOWS\\inf\\" + base + ".inf";
  std::string pnf = "C:\\WINDOWS\\inf\\" + base + ".pnf";
  add_file(plan, inf, FILE_ATTRIBUTE_ARCHIVE, inf_text);
  if (decoy)
    plan.decoy_files.push_back(inf);
  if (random.chance(60)) {
    add_file(plan, pnf, random.chance(30) ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_ARCHIVE);
    if (decoy)
      plan.decoy_files.push_back(pnf);
  }
}

static std::string nt_placement(int model, int slot) {
  std::string name = model_nt_file(model, slot);
  std::string kind = lower(name.substr(name.size() - 3));
  if (kind == "sys")
    return "C:\\WINDOWS\\system32\\drivers\\" + name;
  return "C:\\WINDOWS\\inf\\" + name;
}

static std::string win98_placement(const std::string &windows, const std::string &system,
                                   const std::string &name) {
  if (name.size() < 3)
    return std::string();
  std::string kind = lower(name.substr(name.size() - 3));
  if (kind == "sys" || kind == "vxd")
    return system + "\\" + name;
  if (kind == "inf" || kind == "pnf")
    return windows + "\\inf\\" + name;
  return std::string();
}

void generate_nt_machine(machine_plan &plan, random_source &random) {
  static const char *const tails[] = {"", "--complete", "-C", "--default", "-D"};
  plan.command_tail = tails[random.below(5)];
  start_machine(plan, false);
  int sets = 1 + static_cast<int>(random.below(3));
  for (int set = 2; set <= sets; ++set)
    add_key(plan, nt_services(set));
  if (random.chance(15))
    add_key(plan, nt_services(sets + 2)); // after a gap: never visited
  if (sets >= 2 && random.chance(25)) {
    // The current control set is the second one.
    delete_key(plan, "SYSTEM\\CurrentControlSet");
    add_link(plan, "SYSTEM\\CurrentControlSet", "SYSTEM\\ControlSet002");
    add_key(plan, modem_class_path);
  }
  if (random.chance(50))
    add_folder(plan, "C:\\WINDOWS\\inf\\OTHER");
  std::set<int> oem_numbers;
  int driver_keys = 0;
  int devices = 0;
  for (int model = 0; model < MODEL_COUNT; ++model) {
    if (!random.chance(60))
      continue;
    std::string id = model_hardware_id(model);
    std::string service = model_nt_service_name(model);
    int instances = static_cast<int>(random.below(3));
    for (int i = 0; i < instances; ++i) {
      std::vector<std::string> ids = {id + "&Rev_0100", id, "USB\\COMPOSITE"};
      std::swap(ids[random.below(3)], ids[random.below(3)]);
      sim::device d;
      d.instance_id = upper(id) + "\\5&" + std::to_string(++devices);
      d.hardware_ids = sim::multi_string(ids);
      d.present = random.chance(60);
      if (random.chance(10))
        d.remove_error = ERROR_ACCESS_DENIED;
      // Most instances name their modem class driver key, which goes with the device.
      if (random.chance(70))
        d.driver =
            std::string("{4D36E96D-E325-11CE-BFC1-08002BE10318}\\") + four_digits(driver_keys + i);
      add_device(plan, d);
    }
    if (random.chance(75)) {
      std::string key = std::string(modem_class_path) + "\\" + four_digits(driver_keys++);
      int number = fresh_number(random, oem_numbers, 0, 99);
      std::string inf =
          std::string(random.chance(50) ? "oem" : "OEM") + std::to_string(number) + ".inf";
      bool inf_first = random.chance(50);
      set_string(plan, key, "DriverDesc", model_display_name(model));
      if (inf_first)
        set_string(plan, key, "InfPath", inf);
      set_string(plan, key, random.chance(50) ? "MatchingDeviceId" : "matchingdeviceid",
                 case_variant(id, random));
      if (!inf_first)
        set_string(plan, key, "InfPath", inf);
      if (random.chance(75))
        add_oem_copy(plan, random, number,
                     usbta_inf_text(random.chance(80) ? matching_usbta_line(model, random)
                                                      : other_usbta_line(model, random),
                                    random),
                     false);
    }
    for (int set = 1; set <= sets; ++set) {
      if (!random.chance(60))
        continue;
      std::string key = nt_services(set) + "\\" + service;
      set_value(plan, key, "Start", REG_DWORD, std::string("\3\0\0\0", 4));
      if (random.chance(60))
        set_string(plan, key + "\\Enum", "0", id + "\\5&1");
      if (random.chance(8))
        add_key(plan, key + "\\Enum\\Deeper"); // cannot be deleted one level deep
    }
    if (random.chance(70))
      add_file(plan, nt_placement(model, 0),
               random.chance(50) ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_ARCHIVE);
    for (int slot = 1; slot <= 2; ++slot)
      if (random.chance(40))
        add_file(plan, nt_placement(model, slot), FILE_ATTRIBUTE_ARCHIVE);
    if (random.chance(30)) {
      for (int slot = 0; slot < WIN98_FILE_SLOTS; ++slot) {
        std::string name = model_win98_file(model, slot);
        if (!name.empty() && random.chance(40))
          add_file(plan, win98_placement("C:\\WINDOWS", "C:\\WINDOWS\\system32", name),
                   FILE_ATTRIBUTE_ARCHIVE);
      }
    }
    for (int copies = static_cast<int>(random.below(3)); copies > 0; --copies)
      add_oem_copy(plan, random, fresh_number(random, oem_numbers, 0, 99),
                   usbta_inf_text(matching_usbta_line(model, random), random), false);
  }

  // Decoys, each next to one model's entries.
  for (int n = static_cast<int>(random.below(8)); n > 0; --n) {
    int model = static_cast<int>(random.below(MODEL_COUNT));
    std::string id = model_hardware_id(model);
    std::string service = model_nt_service_name(model);
    std::string sys = model_nt_file(model, 0);
    switch (random.below(9)) {
    case 0: { // hardware ids that are not the model's
      sim::device d;
      d.instance_id = "USB\\DECOY\\" + std::to_string(++devices);
      switch (random.below(5)) {
      case 0:
        d.hardware_ids = sim::multi_string({id + "&Rev_0100"});
        break;
      case 1:
        d.hardware_ids = sim::multi_string({upper(id), lower(id)});
        break;
      case 2:
        d.hardware_ids = sim::multi_string({one_char_changed(id, -1)});
        break;
      case 3:
        d.hardware_ids = sim::multi_string({without_last(id), "X" + id});
        break;
      default:
        d.has_hardware_ids = false;
      }
      add_device(plan, d);
      plan.decoy_devices.push_back(d.instance_id);
      break;
    }
    case 1: { // the modem class entry of another product, and its OEM INF copy
      std::string key = std::string(modem_class_path) + "\\" + four_digits(driver_keys++);
      int number = fresh_number(random, oem_numbers, 0, 99);
      set_string(plan, key, "MatchingDeviceId", one_char_changed(id, -1));
      set_string(plan, key, "InfPath", "oem" + std::to_string(number) + ".inf");
      add_oem_copy(plan, random, number, usbta_inf_text(other_usbta_line(model, random), random),
                   true);
      break;
    }
    case 2: { // the model's modem class entry naming its INF under another value name
      std::string key = std::string(modem_class_path) + "\\" + four_digits(driver_keys++);
      int number = fresh_number(random, oem_numbers, 0, 99);
      set_string(plan, key, "MatchingDeviceId", id);
      set_string(plan, key, random.chance(50) ? "InfPath2" : "InfPat",
                 "oem" + std::to_string(number) + ".inf");
      add_oem_copy(plan, random, number, usbta_inf_text(other_usbta_line(model, random), random),
                   true);
      break;
    }
    case 3: { // service keys that share a prefix or lie elsewhere
      int set = 1 + static_cast<int>(random.below(static_cast<uint32_t>(sets)));
      std::string names[] = {service + "X", without_last(service), one_char_changed(service, 2)};
      std::string key = nt_services(set) + "\\" + names[random.below(3)];
      if (random.chance(25))
        key = "SYSTEM\\ControlSet" + three_digits(set) + "\\Control\\" + service;
      else if (random.chance(25))
        key = nt_services(set) + "\\Other\\" + service;
      set_value(plan, key, "Start", REG_DWORD, std::string("\3\0\0\0", 4));
      plan.decoy_keys.push_back(key);
      break;
    }
    case 4: { // the driver in another folder or under another name
      std::string paths[] = {"C:\\WINDOWS\\system32\\" + sys,
                             "C:\\WINDOWS\\system32\\drivers\\" + sys + ".bak",
                             "C:\\WINDOWS\\system32\\drivers\\" + one_char_changed(sys, 2),
                             "C:\\WINDOWS\\inf\\MDMKORT4.INF",
                             "C:\\WINDOWS\\inf\\" + std::string(model_win98_file(model, 0))};
      std::string path = paths[random.below(5)];
      add_file(plan, path, FILE_ATTRIBUTE_ARCHIVE);
      plan.decoy_files.push_back(path);
      break;
    }
    case 5: // an OEM INF of another product
      add_oem_copy(plan, random, fresh_number(random, oem_numbers, 0, 99),
                   usbta_inf_text(other_usbta_line(model, random), random), true);
      break;
    case 6: { // the model's OEM INF beyond the hundred copies looked at, or in a subfolder
      std::string text = usbta_inf_text(matching_usbta_line(model, random), random);
      std::string path =
          random.chance(50)
              ? "C:\\WINDOWS\\inf\\oem" +
                    std::to_string(fresh_number(random, oem_numbers, 100, 999)) + ".inf"
              : "C:\\WINDOWS\\inf\\OTHER\\oem" +
                    std::to_string(fresh_number(random, oem_numbers, 0, 99)) + ".inf";
      add_file(plan, path, FILE_ATTRIBUTE_ARCHIVE, text);
      plan.decoy_files.push_back(path);
      break;
    }
    case 7: { // an OEM INF with the section but the line under another key
      int number = fresh_number(random, oem_numbers, 0, 99);
      std::string text = "[Version]\r\nSignature=\"$Windows NT$\"\r\n[USBTA]\r\n"
                         "QUENDALQ40 PRO USBPort Adaptor=USB_TA," +
                         id + "\r\n";
      add_oem_copy(plan, random, number, text, true);
      break;
    }
    default: { // a Windows 98 file of the model in the other folder
      std::string name = model_win98_file(model, 2);
      std::string path = "C:\\WINDOWS\\inf\\" + name;
      add_file(plan, path, FILE_ATTRIBUTE_ARCHIVE);
      plan.decoy_files.push_back(path);
    }
    }
  }
  deny_some(plan, random);
}

void generate_win98_machine(machine_plan &plan, random_source &random) {
  plan.command_tail = "";
  start_machine(plan, true);
  int modem_keys = 0;
  int port_keys = 0;
  int instances = 0;
  for (int model = 0; model < MODEL_COUNT; ++model) {
    if (!random.chance(60))
      continue;
    std::string id = model_hardware_id(model);
    if (random.chance(75)) {
      for (int i = 0, count = 1 + static_cast<int>(random.below(2)); i < count; ++i) {
        std::string instance = "Enum\\" + id + "\\5&1A2B&0&" + std::to_string(++instances);
        set_string(plan, instance, "Class", "Modem");
        if (random.chance(85)) {
          std::string driver = "Modem\\" + four_digits(modem_keys++);
          set_string(plan, instance, "Driver", driver);
          if (random.chance(85)) {
            set_string(plan, win98_class_prefix + driver, "DriverDesc", model_display_name(model));
            if (random.chance(50))
              set_string(plan, win98_class_prefix + driver + "\\Init", "1", "AT<cr>");
          }
        }
      }
    }
    for (int ports = static_cast<int>(random.below(3)); ports > 0; --ports) {
      std::string number = four_digits(port_keys++);
      std::string port = std::string(win98_ports) + "\\" + number;
      static const char *const tails[] = {" USB Port", "", " (COM5)"};
      set_string(plan, port, "Class", "Ports");
      set_string(plan, port, "DeviceDesc",
                 model_device_desc_prefix(model) + std::string(tails[random.below(3)]));
      std::string driver = "Ports\\" + number;
      set_string(plan, port, "Driver", driver);
      if (random.chance(85))
        set_string(plan, win98_class_prefix + driver, "PortName",
                   "COM" + std::to_string(port_keys + 4));
    }
    for (int slot = 0; slot < 2; ++slot)
      if (random.chance(70))
        set_string(plan, win98_vmm32files, case_variant(model_win98_file(model, slot), random), "");
    for (const char *vxd : {model_vxd_name_1(model), model_vxd_name_2(model)}) {
      if (!random.chance(70))
        continue;
      set_string(plan, win98_vxd_prefix + std::string(vxd), "StaticVxD", vxd);
      if (random.chance(20))
        set_string(plan, win98_vxd_prefix + std::string(vxd) + "\\Settings", "x", "1");
    }
    for (int slot = 0; slot < WIN98_FILE_SLOTS; ++slot) {
      std::string name = model_win98_file(model, slot);
      if (!name.empty() && random.chance(60))
        add_file(plan, win98_placement("C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM", name),
                 random.chance(25) ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_ARCHIVE);
    }
  }

  for (int n = static_cast<int>(random.below(8)); n > 0; --n) {
    int model = static_cast<int>(random.below(MODEL_COUNT));
    std::string id = model_hardware_id(model);
    std::string prefix = model_device_desc_prefix(model);
    switch (random.below(7)) {
    case 0: { // the Enum key of another product, beside the model's
      std::string ids[] = {one_char_changed(id, -1), id + "&Rev_01", without_last(id)};
      std::string instance =
          "Enum\\" + ids[random.below(3)] + "\\5&1A2B&0&" + std::to_string(++instances);
      std::string driver = "Modem\\" + four_digits(modem_keys++);
      set_string(plan, instance, "Driver", driver);
      set_string(plan, win98_class_prefix + driver, "DriverDesc", "Standard Modem");
      plan.decoy_keys.push_back(instance);
      plan.decoy_keys.push_back(win98_class_prefix + driver);
      break;
    }
    case 1: { // a port whose description differs from the model's in case, or is cut short
      std::string descriptions[] = {lower(prefix) + " USB Port",
                                    prefix.substr(0, prefix.size() - 2), "Communications Port"};
      std::string number = four_digits(port_keys++);
      std::string port = std::string(win98_ports) + "\\" + number;
      set_string(plan, port, "DeviceDesc", descriptions[random.below(3)]);
      set_string(plan, port, "Driver", "Ports\\" + number);
      set_string(plan, win98_class_prefix + std::string("Ports\\") + number, "PortName", "COM1");
      plan.decoy_keys.push_back(port);
      plan.decoy_keys.push_back(win98_class_prefix + std::string("Ports\\") + number);
      break;
    }
    case 2: { // the model's port naming its driver under another value name, or a bare class
      std::string number = four_digits(port_keys++);
      std::string port = std::string(win98_ports) + "\\" + number;
      set_string(plan, port, "DeviceDesc", prefix + " USB Port");
      bool bare = random.chance(50);
      if (bare) {
        set_string(plan, port, "Driver", random.chance(50) ? "Ports" : "Ports\\");
        set_string(plan, win98_class_prefix + std::string("Ports"), "Class", "Ports");
        plan.decoy_keys.push_back(win98_class_prefix + std::string("Ports"));
      } else {
        set_string(plan, port, "driver", "Ports\\" + number);
        set_string(plan, win98_class_prefix + std::string("Ports\\") + number, "PortName", "COM2");
        plan.decoy_keys.push_back(win98_class_prefix + std::string("Ports\\") + number);
      }
      break;
    }
    case 3: { // VMM32Files values next to the model's
      std::string file = model_win98_file(model, random.below(2));
      std::string names[] = {"SERIAL.VXD", file.substr(0, file.size() - 4), file + "X"};
      std::string name = names[random.below(3)];
      set_string(plan, win98_vmm32files, name, "");
      plan.decoy_values.push_back({win98_vmm32files, name});
      break;
    }
    case 4: { // VxD keys next to the model's
      std::string vxd = random.chance(50) ? model_vxd_name_1(model) : model_vxd_name_2(model);
      std::string names[] = {vxd + "X", without_last(vxd), "VCOMM"};
      std::string key = win98_vxd_prefix + names[random.below(3)];
      set_string(plan, key, "StaticVxD", "*VCOMM");
      plan.decoy_keys.push_back(key);
      break;
    }
    case 5: { // the model's files in the other folder, or under another name
      std::string file = model_win98_file(model, random.below(3));
      std::string paths[] = {"C:\\WINDOWS\\INF\\" + file, "C:\\WINDOWS\\SYSTEM\\" + file + ".bak",
                             "C:\\WINDOWS\\SYSTEM\\SERIAL.VXD",
                             "C:\\WINDOWS\\INF\\OTHER\\" + std::string(model_win98_file(model, 3))};
      std::string path = paths[random.below(4)];
      add_file(plan, path, FILE_ATTRIBUTE_ARCHIVE);
      plan.decoy_files.push_back(path);
      break;
    }
    default: { // the class branch's own keys
      std::string key = win98_class_prefix + std::string(random.chance(50) ? "Modem" : "Ports");
      set_string(plan, key, "Class", "x");
      plan.decoy_keys.push_back(key);
    }
    }
  }
  deny_some(plan, random);
}

void generate_faults(machine_plan &plan, random_source &random) {
  static const char *const nt_functions[] = {"RegOpenKeyExA",
                                             "RegCloseKey",
                                             "RegEnumKeyExA",
                                             "RegDeleteKeyA",
                                             "RegEnumValueA",
                                             "RegFlushKey",
                                             "SetupDiGetClassDevsA",
                                             "SetupDiEnumDeviceInfo",
                                             "SetupDiGetDeviceRegistryPropertyA",
                                             "SetupDiCallClassInstaller",
                                             "SetupOpenInfFileA",
                                             "SetupGetLineTextA",
                                             "GetWindowsDirectoryA",
                                             "GetSystemDirectoryA",
                                             "SetFileAttributesA",
                                             "DeleteFileA",
                                             "LocalAlloc",
                                             "FormatMessageA",
                                             "LoadLibraryA",
                                             "GetProcAddress",
                                             "FreeLibrary"};
  static const char *const win98_functions[] = {
      "RegOpenKeyExA",       "RegCloseKey",        "RegEnumKeyExA", "RegDeleteKeyA",
      "RegEnumValueA",       "RegDeleteValueA",    "RegFlushKey",   "GetWindowsDirectoryA",
      "GetSystemDirectoryA", "SetFileAttributesA", "DeleteFileA",   "FormatMessageA",
      "LoadLibraryA",        "GetProcAddress",     "FreeLibrary"};
  static const DWORD errors[] = {2, 3, 5, 6, 8, 13, 87, 122, 234, 259, 1018, 0x2345};
  int count = random.chance(25) ? 0 : 1 + static_cast<int>(random.below(3));
  for (int i = 0; i < count; ++i) {
    sim::fault f;
    if (plan.win98)
      f.function = win98_functions[random.below(sizeof win98_functions / sizeof *win98_functions)];
    else
      f.function = nt_functions[random.below(sizeof nt_functions / sizeof *nt_functions)];
    f.error = errors[random.below(sizeof errors / sizeof *errors)];
    bool rare = f.function == "LoadLibraryA" || f.function == "GetProcAddress" ||
                f.function == "FreeLibrary" || f.function == "GetWindowsDirectoryA" ||
                f.function == "GetSystemDirectoryA" || f.function == "SetupDiGetClassDevsA";
    f.nth = 1 + static_cast<int>(random.below(rare ? 8 : 40));
    f.times = 1;
    add_fault(plan, f);
  }
}

// ---- Snapshot and the rules of deletion -------------------------------------------------

static void walk_keys(const std::string &path, std::vector<snapshot::key> &out) {
  for (const std::string &sub : sim::reg_subkeys(path)) {
    std::string child = path.empty() ? sub : path + "\\" + sub;
    if (!sim::reg_link(child).empty())
      continue; // an alias shows keys that are listed under their own path
    out.push_back(snapshot::key{child, sim::reg_value_list(child)});
    walk_keys(child, out);
  }
}

snapshot take_snapshot(const machine_plan &plan) {
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
  for (int number = 0; number < 100; ++number) {
    std::string name = "OEM" + std::to_string(number) + ".inf";
    HINF inf = SetupOpenInfFileA(name.c_str(), nullptr, INF_STYLE_WIN4, nullptr);
    if (inf == INVALID_HANDLE_VALUE)
      continue;
    DWORD required = 0;
    SetLastError(0);
    SetupGetLineTextA(nullptr, inf, "USBTA", usbta_key, nullptr, 0, &required);
    if (GetLastError() == 0 && required > 0) {
      std::string text(required, '\0');
      SetupGetLineTextA(nullptr, inf, "USBTA", usbta_key, &text[0], required, &required);
      if (GetLastError() == 0) {
        s.usbta_text[number] = text.substr(0, text.find('\0'));
        s.has_usbta[number] = true;
      }
    }
    SetupCloseInfFile(inf);
  }
  return s;
}

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

// The keys (with their subtrees) a Windows 98 run may delete for the model.
static std::vector<std::string> win98_key_roots(const snapshot &s, int model) {
  std::vector<std::string> roots;
  std::string enum_key = std::string("Enum\\") + model_hardware_id(model);
  roots.push_back(enum_key);
  roots.push_back(win98_vxd_prefix + std::string(model_vxd_name_1(model)));
  roots.push_back(win98_vxd_prefix + std::string(model_vxd_name_2(model)));
  std::string prefix = model_device_desc_prefix(model);
  for (const snapshot::key &k : s.keys) {
    std::vector<std::string> parts = split(k.path);
    std::vector<std::string> enum_parts = split(enum_key);
    if (parts.size() == enum_parts.size() + 1 && at_or_below(k.path, enum_key)) {
      for (const std::string &d : driver_values(k))
        roots.push_back(d);
    }
    if (parts.size() == 4 && at_or_below(k.path, win98_ports)) {
      bool matches = false;
      for (const sim::reg_value_data &v : k.values)
        if (v.name == "DeviceDesc" && as_string(v.data).compare(0, prefix.size(), prefix) == 0)
          matches = true;
      if (matches) {
        roots.push_back(k.path);
        for (const std::string &d : driver_values(k))
          roots.push_back(d);
      }
    }
  }
  return roots;
}

static bool usbta_matches(const std::string &line, int model) {
  std::string expected = lower("USB_TA," + std::string(model_hardware_id(model)));
  return line.size() >= expected.size() && lower(line).compare(0, expected.size(), expected) == 0;
}

static std::string pnf_twin(const std::string &name) {
  return name.size() < 3 ? name : name.substr(0, name.size() - 3) + "pnf";
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
  std::string current = sim::reg_link("SYSTEM\\CurrentControlSet");
  std::string class_key = (current.empty() ? std::string("SYSTEM\\CurrentControlSet") : current) +
                          "\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}";
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
  for (int number = 0; number < 100; ++number) {
    if (!s.has_usbta[number] || !usbta_matches(s.usbta_text[number], model))
      continue;
    files.push_back(s.windows_directory + "\\inf\\OEM" + std::to_string(number) + ".inf");
    files.push_back(s.windows_directory + "\\inf\\OEM" + std::to_string(number) + ".pnf");
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
  return std::find(entries.begin(), entries.end(), id) != entries.end();
}

bool deletion_allowed(const snapshot &before, const sim::change &change, unsigned models,
                      bool complete) {
  std::string subject = strip_hklm(change.subject);
  for (int model = 0; model < MODEL_COUNT; ++model) {
    if (!(models & (1u << model)))
      continue;
    switch (change.kind) {
    case sim::change::device_removed:
      if (before.win98)
        break;
      for (const sim::device &d : before.devices)
        if (ieq(d.instance_id, subject) && device_lists(d, model_hardware_id(model)))
          return true;
      break;
    case sim::change::key_deleted: {
      if (before.win98) {
        for (const std::string &root : win98_key_roots(before, model))
          if (at_or_below(subject, root))
            return true;
        break;
      }
      // The driver key of a device the class installer removed goes with it, as on Windows.
      std::string current = sim::reg_link("SYSTEM\\CurrentControlSet");
      std::string class_branch =
          (current.empty() ? std::string("SYSTEM\\CurrentControlSet") : current) +
          "\\Control\\Class\\";
      for (const sim::device &d : before.devices)
        if (!d.driver.empty() && device_lists(d, model_hardware_id(model)) &&
            at_or_below(subject, class_branch + d.driver))
          return true;
      // SYSTEM\ControlSetNNN\Services\<service>[\<subkey>], complete removal only.
      std::vector<std::string> parts = split(subject);
      if (!complete || (parts.size() != 4 && parts.size() != 5))
        break;
      const std::string set = upper(parts[1]);
      bool numbered = set.size() == 13 && set.compare(0, 10, "CONTROLSET") == 0 &&
                      std::all_of(set.begin() + 10, set.end(), ::isdigit);
      if (ieq(parts[0], "SYSTEM") && numbered && ieq(parts[2], "Services") &&
          ieq(parts[3], model_nt_service_name(model)))
        return true;
      break;
    }
    case sim::change::value_deleted:
      if (!before.win98)
        break;
      for (int slot = 0; slot < 2; ++slot)
        if (ieq(subject, std::string(win98_vmm32files) + "\\" + model_win98_file(model, slot)))
          return true;
      break;
    case sim::change::file_deleted:
    case sim::change::attributes_set:
      for (const std::string &path : model_files(before, model))
        if (ieq(path, subject))
          return true;
      break;
    }
  }
  return false;
}

// ---- Running ----------------------------------------------------------------------------

answer_policy random_answers(random_source &random) {
  return [&random](const sim::box &box) {
    if (box.type == MB_ICONERROR)
      return IDOK;
    return random.chance(75) ? IDOK : IDCANCEL;
  };
}

run_record run_uninstaller(const machine_plan &plan, const answer_policy &answers) {
  run_record run;
  reset_process_state();
  for (const sim::fault &f : plan.faults)
    sim::fail(f);
  run.first_call = sim::calls().size();
  sim::set_user([&run, &answers](const sim::box &box) {
    int answer = answers ? answers(box) : IDOK;
    run.answers.push_back(answer);
    return answer;
  });
  run.exit_code = uninstaller_main(plan.command_tail.c_str());
  sim::set_user(nullptr);
  return run;
}

std::string reproduction(const machine_plan &plan, const run_record &run) {
  std::string out;
  for (const std::string &line : plan.code)
    out += "  " + line + "\n";
  for (const sim::fault &f : plan.faults)
    out += "  sim::fail(sim::fault{" + literal(f.function) + ", " + std::to_string(f.error) + ", " +
           literal(f.subject) + ", " + std::to_string(f.nth) + ", " + std::to_string(f.times) +
           "});\n";
  out += "  sim::answers({";
  for (size_t i = 0; i < run.answers.size(); ++i)
    out += (i ? ", " : "") + std::string(run.answers[i] == IDOK ? "IDOK" : "IDCANCEL");
  out += "});\n";
  out += "  reset_process_state();\n";
  out += "  EXPECT_EQ(uninstaller_main(" + literal(plan.command_tail) + "), 0);\n";
  return out;
}

// ---- Checking a run ---------------------------------------------------------------------

enum phase_t { OUTSIDE, CONFIRM, STEPS };

// Where in the run a box was shown: which model's detection or removal steps, whether the
// last part of the steps had begun (the OEM INF scan on Windows 2000, the port walk on
// Windows 98), and the call whose failure it reports.
struct box_context {
  int model = -1;
  phase_t phase = OUTSIDE;
  bool late = false;
  sim::call failed;
};

// Also tells, in `steps_ran`, which models' removal steps began.
static std::vector<box_context> box_contexts(const machine_plan &plan, const run_record &run,
                                             bool *steps_ran = nullptr) {
  std::vector<box_context> out;
  const std::vector<sim::call> &calls = sim::calls();
  const std::string modem_class = std::string("HKEY_LOCAL_MACHINE\\") + modem_class_path;
  box_context current;
  bool step_device_list_next = false;
  int enum_opens[MODEL_COUNT] = {};
  for (size_t i = run.first_call; i < calls.size(); ++i) {
    const sim::call &c = calls[i];
    if (!plan.win98) {
      if (c.function == "RegOpenKeyExA" && ieq(c.subject, modem_class)) {
        current.model = current.phase == OUTSIDE ? 0 : current.model;
        current.phase = STEPS;
        current.late = false;
        step_device_list_next = true;
      } else if (c.function == "SetupDiGetClassDevsA") {
        if (step_device_list_next) {
          step_device_list_next = false;
        } else {
          ++current.model;
          current.phase = CONFIRM;
          current.late = false;
        }
      } else if (c.function == "SetupOpenInfFileA" && current.phase == STEPS) {
        current.late = true;
      }
    } else if (c.function == "RegOpenKeyExA") {
      for (int model = 0; model < MODEL_COUNT; ++model) {
        if (!ieq(c.subject, std::string("HKEY_LOCAL_MACHINE\\Enum\\") + model_hardware_id(model)))
          continue;
        int opens = ++enum_opens[model];
        current.model = model;
        current.phase = model == 0 || opens == 2 ? STEPS : CONFIRM;
        current.late = false;
      }
      if (ieq(c.subject, std::string("HKEY_LOCAL_MACHINE\\") + win98_ports) &&
          current.phase == STEPS)
        current.late = true;
    }
    if (steps_ran && current.phase == STEPS && current.model >= 0 && current.model < MODEL_COUNT)
      steps_ran[current.model] = true;
    if (c.function == "MessageBoxA") {
      box_context context = current;
      size_t j = i;
      while (j > run.first_call &&
             (calls[j - 1].function == "FormatMessageA" || calls[j - 1].function == "GetLastError"))
        --j;
      if (j > run.first_call)
        context.failed = calls[j - 1];
      out.push_back(context);
    }
  }
  return out;
}

static int (*const flag_getters[])(int) = {get_win98_registry_status, get_win98_files_status,
                                           get_nt_device_status,      get_nt_service_status,
                                           get_nt_files_status,       get_nt_oem_inf_status};

enum : int { NOT_HERE = -1, REPORT_ONLY = 0 };
static int flag_bit(int flag) {
  return 1 << flag;
}

static bool is_path_of(const std::string &path, const std::vector<std::string> &paths) {
  for (const std::string &p : paths)
    if (ieq(p, path))
      return true;
  return false;
}

// Which status flags of the box's model a reported failure must leave nonzero (one of them
// suffices): a bit set of flag indices, REPORT_ONLY for reports that the rules leave
// unrecorded, NOT_HERE for a caption the program never shows at that point.
static int required_flags(const machine_plan &plan, const snapshot &before,
                          const box_context &context, const std::string &caption, bool processed) {
  const std::string &subject = context.failed.subject;
  if (caption == caption_load_library || caption == caption_get_proc_address ||
      caption == caption_free_library)
    return REPORT_ONLY; // binding and release: the sequence does nothing, or is over
  if (context.phase == OUTSIDE)
    return NOT_HERE;
  int model = context.model;
  bool directory =
      caption == caption_get_windows_directory || caption == caption_get_system_directory;
  if (!plan.win98) {
    if (context.phase == CONFIRM) {
      if (directory) // the file probe's failure mark; the file step rewrites it
        return processed ? REPORT_ONLY : flag_bit(4);
      if (caption == caption_setup_di_get_class_devs ||
          caption == caption_get_device_registry_property || caption == caption_local_alloc ||
          caption == caption_set_file_attributes)
        return REPORT_ONLY;
      return NOT_HERE;
    }
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
      return upper(subject).find("\\SERVICES") != std::string::npos ? flag_bit(3) : REPORT_ONLY;
    if (caption == caption_reg_delete_key)
      return flag_bit(3);
    if (directory)
      return flag_bit(4) | flag_bit(5);
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
        return oem_scan;
      return is_path_of(subject, nt_list) || is_path_of(subject, win98_list) ? flag_bit(4)
                                                                             : REPORT_ONLY;
    }
    return NOT_HERE;
  }
  if (context.phase == CONFIRM) {
    if (directory)
      return processed ? REPORT_ONLY : flag_bit(1);
    if (caption == caption_reg_close_key || caption == caption_set_file_attributes)
      return REPORT_ONLY;
    return NOT_HERE;
  }
  if (caption == caption_reg_open_key_ex)
    return at_or_below(strip_hklm(subject), win98_ports) ||
                   ieq(strip_hklm(subject), win98_vmm32files)
               ? flag_bit(0)
               : REPORT_ONLY; // an instance of the Enum key is skipped
  if (caption == caption_reg_close_key)
    return flag_bit(0);
  if (caption == caption_reg_delete_key) {
    // A driver key named by an instance of the Enum key is reported only; the Enum key
    // itself, and everything of the port walk, is recorded.
    std::string class_branch = std::string(win98_class_prefix);
    class_branch.pop_back();
    if (!context.late && at_or_below(strip_hklm(subject), class_branch))
      return REPORT_ONLY;
    return flag_bit(0);
  }
  if (directory || caption == caption_set_file_attributes || caption == caption_delete_file)
    return flag_bit(1);
  return NOT_HERE;
}

static std::string describe_box(const sim::box &box) {
  std::string text;
  for (unsigned char c : box.caption + " | " + box.text)
    text += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
  return text;
}

std::vector<std::string> check_run(const machine_plan &plan, const snapshot &before,
                                   const run_record &run) {
  std::vector<std::string> problems;
  auto problem = [&problems](const std::string &text) { problems.push_back(text); };
  const bool complete =
      !plan.win98 && (plan.command_tail == "--complete" || plan.command_tail == "-C");
  if (run.exit_code != 0)
    problem("exit code " + std::to_string(run.exit_code));

  // ---- Boxes
  const std::vector<sim::box> &boxes = sim::boxes();
  std::vector<box_context> contexts = box_contexts(plan, run);
  if (contexts.size() != boxes.size())
    problem("boxes and MessageBoxA calls disagree");
  if (boxes.empty() || boxes[0].text != text_consent) {
    problem("the first box is not the consent box");
    return problems;
  }
  const std::vector<int> &answers = run.answers;
  bool consented = answers.size() > 0 && answers[0] == IDOK;
  if (!consented) {
    if (boxes.size() != 1)
      problem("boxes after a declined consent");
    if (!sim::changes().empty())
      problem("changes after a declined consent");
    return problems;
  }
  bool asked[MODEL_COUNT] = {};
  bool processed[MODEL_COUNT] = {};
  bool noticed[MODEL_COUNT] = {};
  bool binding_failed = false;
  bool steps_ran[MODEL_COUNT] = {};
  box_contexts(plan, run, steps_ran);
  for (size_t i = 1; i + 1 < boxes.size() && i < contexts.size(); ++i) {
    const sim::box &box = boxes[i];
    const box_context &c = contexts[i];
    for (int model = 1; model < MODEL_COUNT; ++model)
      if (box.text == std::string(model_display_name(model)) + text_installed_question_suffix) {
        if (c.phase != CONFIRM || c.model != model || asked[model])
          problem("question for model " + std::to_string(model) + " out of place (box " +
                  std::to_string(i) + ")");
        asked[model] = true;
        processed[model] = answers[i] == IDOK;
      }
  }
  // Model 0 needs no question; models 1 and 2 are removed exactly when the user said OK.
  processed[0] = steps_ran[0];
  for (int model = 1; model < MODEL_COUNT; ++model)
    if (steps_ran[model] != processed[model])
      problem("removal steps of model " + std::to_string(model) +
              (steps_ran[model] ? " ran without the user's OK" : " did not run after an OK"));
  unsigned processed_mask = 0;
  for (int model = 0; model < MODEL_COUNT; ++model)
    if (processed[model])
      processed_mask |= 1u << model;

  const std::vector<int> flags = plan.win98 ? std::vector<int>{0, 1} : std::vector<int>{2, 3, 4, 5};
  for (size_t i = 1; i + 1 < boxes.size() && i < contexts.size(); ++i) {
    const sim::box &box = boxes[i];
    const box_context &c = contexts[i];
    if (box.type == MB_ICONERROR) {
      if (box.caption == caption_load_library || box.caption == caption_get_proc_address)
        binding_failed = true;
      int model = c.model >= 0 && c.model < MODEL_COUNT ? c.model : 0;
      int required = required_flags(plan, before, c, box.caption, processed[model]);
      if (required == NOT_HERE) {
        problem("box " + std::to_string(i) + " not expected here: " + describe_box(box) +
                " (failed call " + c.failed.function + " " + c.failed.subject + ")");
        continue;
      }
      if (required == REPORT_ONLY)
        continue;
      bool recorded = false;
      for (int flag = 0; flag < 6; ++flag)
        if ((required & flag_bit(flag)) && flag_getters[flag](model) != 0)
          recorded = true;
      if (!recorded)
        problem("reported failure left no status flag: box " + std::to_string(i) + " " +
                describe_box(box) + " for model " + std::to_string(model) + " (failed call " +
                c.failed.function + " " + c.failed.subject + ")");
      continue;
    }
    bool known = false;
    for (int model = 1; model < MODEL_COUNT; ++model)
      if (box.text == std::string(model_display_name(model)) + text_installed_question_suffix)
        known = true;
    for (int model = 0; model < MODEL_COUNT; ++model)
      if (box.text == std::string(model_display_name(model)) + text_not_installed_suffix) {
        known = true;
        if (c.phase != STEPS || c.model != model || noticed[model])
          problem("not-installed notice for model " + std::to_string(model) + " out of place");
        noticed[model] = true;
      }
    if (!known)
      problem("unexpected box " + std::to_string(i) + ": " + describe_box(box));
  }
  for (int model = 0; model < MODEL_COUNT; ++model) {
    bool all_zero = true;
    for (int flag : flags)
      if (flag_getters[flag](model) != 0)
        all_zero = false;
    bool expected = processed[model] && all_zero;
    if (noticed[model] != expected)
      problem("not-installed notice for model " + std::to_string(model) +
              (expected ? " missing"
                        : " shown though its flags are not all zero or it was not "
                          "processed"));
  }
  if (binding_failed) {
    if (processed_mask != 0)
      problem("models were processed after a failed binding");
    for (int model = 0; model < MODEL_COUNT; ++model)
      for (int flag = 0; flag < 6; ++flag)
        if (flag_getters[flag](model) != 0)
          problem("a status flag was written after a failed binding");
  }

  // ---- The closing box agrees with the status table
  bool restart = false;
  for (int model = 0; model < MODEL_COUNT; ++model)
    if (flag_getters[plan.win98 ? 0 : 3](model) != 0)
      restart = true;
  const sim::box &last = boxes.back();
  if (boxes.size() < 2) {
    problem("no closing box");
  } else if (restart) {
    if (last.text != text_restart_prompt)
      problem("closing box is not the restart prompt though a restart flag is set: " +
              describe_box(last));
    bool accepted = answers.back() == IDOK;
    if ((sim::restart().exit_windows_calls == 1) != accepted)
      problem("restart requested against the user's answer");
  } else {
    if (last.text != text_completed || last.type != MB_OK)
      problem("closing box is not the completion box: " + describe_box(last));
    if (sim::restart().exit_windows_calls != 0)
      problem("restart requested without a prompt");
  }

  // ---- Changes: every one accounted for by a rule; every decoy survives
  for (const sim::change &change : sim::changes()) {
    unsigned models = change.kind == sim::change::attributes_set ? 7u : processed_mask;
    if (!deletion_allowed(before, change, models, complete))
      problem("change outside the catalogue's reach: kind " + std::to_string(change.kind) + " " +
              change.subject);
  }
  for (const std::string &key : plan.decoy_keys)
    if (!sim::reg_key_exists(key))
      problem("decoy key deleted: " + key);
  for (const auto &value : plan.decoy_values)
    if (!sim::reg_value_exists(value.first, value.second))
      problem("decoy value deleted: " + value.first + "\\" + value.second);
  for (const std::string &file : plan.decoy_files)
    if (!sim::file_exists(file))
      problem("decoy file deleted: " + file);
  for (const std::string &device : plan.decoy_devices)
    if (!sim::device_exists(device))
      problem("decoy device removed: " + device);

  // ---- Nothing left open, but what a failed close or a failed binding keeps
  std::set<std::string> kept;
  bool modules_kept = binding_failed;
  {
    const std::vector<sim::call> &calls = sim::calls();
    for (const sim::fault &f : plan.faults) {
      int seen = 0;
      for (size_t i = run.first_call; i < calls.size(); ++i) {
        if (calls[i].function != f.function || ++seen != f.nth)
          continue;
        if (f.function == "RegCloseKey")
          kept.insert("open key " + calls[i].subject);
        if (f.function == "FreeLibrary")
          modules_kept = true;
      }
    }
  }
  for (const std::string &line : sim::leaks()) {
    if (kept.count(line) || (modules_kept && line.compare(0, 14, "loaded module ") == 0))
      continue;
    problem("left open: " + line);
  }
  return problems;
}

} // namespace reliability
