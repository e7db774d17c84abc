// Random machines of both families: each model's entries in any state (any subset, partly
// there, read-only, in several control sets, OEM INF copies at random numbers) with decoys
// next to them, and random faults in the calls the family's steps make.
#include "tests/reliability_internal.h"

#include "core/catalogue.h"
#include "tests/spelling.h"

#include <algorithm>
#include <set>

namespace reliability {

// Now and then an entry that exists but cannot be changed: a key without write or delete
// rights, a file that a program holds open without delete sharing or without rights to its
// attributes. Any key the plan wrote to (a link's alias included) or file it added may be the
// one.
static void deny_some(machine_plan &plan, random_source &random) {
  if (!random.chance(30))
    return;
  std::vector<std::string> keys;
  std::vector<std::string> files;
  for (const machine_step &s : plan.steps) {
    if (s.kind == machine_step::string || s.kind == machine_step::value ||
        s.kind == machine_step::key || s.kind == machine_step::link)
      keys.push_back(s.path);
    if (s.kind == machine_step::file)
      files.push_back(s.path);
  }
  for (int n = 1 + static_cast<int>(random.below(2)); n > 0; --n) {
    if (!keys.empty() && random.chance(50)) {
      static const REGSAM masks[] = {KEY_WRITE, DELETE, KEY_ALL_ACCESS};
      deny_key(plan, keys[random.below(static_cast<uint32_t>(keys.size()))],
               masks[random.below(3)]);
    } else if (!files.empty()) {
      std::string file = files[random.below(static_cast<uint32_t>(files.size()))];
      if (random.chance(50))
        deny_file_delete(plan, file, ERROR_SHARING_VIOLATION);
      else
        deny_file_attributes(plan, file, ERROR_ACCESS_DENIED);
    }
  }
}

// The text as it is, or in another letter case drawn at random: Windows compares names and
// hardware ids without regard to it.
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

// ---- Windows 2000 -----------------------------------------------------------------------

// What the parts of one Windows 2000 machine share while it is built.
struct nt_machine {
  machine_plan &plan;
  random_source &random;
  spelling written; // how the version the machine plays writes device data
  int sets = 1;     // ControlSet001 .. ControlSet<sets> exist
  std::set<int> oem_numbers = {};
  int driver_keys = 0; // modem class driver keys made so far
  int devices = 0;     // device instances made so far
};

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
  switch (random.below(5)) {
  case 0:
    return "USB_TA," + one_char_changed(id, -1);
  case 1:
    return "USB_TA," + without_last(id);
  case 2:
    return "USB_TB," + id;
  case 3: // a longer product number
    return "USB_TA," + id + (random.chance(50) ? "1" : "1,Modem6");
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

// The control sets beyond ControlSet001, now and then one after a gap, and now and then the
// current control set as an alias of the second.
static void nt_control_sets(nt_machine &m) {
  m.sets = 1 + static_cast<int>(m.random.below(3));
  for (int set = 2; set <= m.sets; ++set)
    add_key(m.plan, nt_services(set));
  if (m.random.chance(15))
    add_key(m.plan, nt_services(m.sets + 2)); // after a gap: never visited
  if (m.sets >= 2 && m.random.chance(25)) {
    delete_key(m.plan, "SYSTEM\\CurrentControlSet");
    add_link(m.plan, "SYSTEM\\CurrentControlSet", "SYSTEM\\ControlSet002");
    add_key(m.plan, modem_class_path);
  }
  if (m.random.chance(50))
    add_folder(m.plan, "C:\\WINDOWS\\inf\\OTHER");
}

// 0 to 2 instances of the model's adapter, attached or not, most naming their driver key.
// Their ids as the machine's version writes them, each now and then in another letter case.
static void nt_model_devices(nt_machine &m, int model) {
  random_source &random = m.random;
  int instances = static_cast<int>(random.below(3));
  for (int i = 0; i < instances; ++i) {
    std::vector<std::string> ids = {spelled::revision_id(model, m.written),
                                    spelled::device_id(model, m.written), "USB\\COMPOSITE"};
    for (std::string &id : ids)
      if (random.chance(40))
        id = case_variant(id, random);
    std::swap(ids[random.below(3)], ids[random.below(3)]);
    sim::device d;
    d.instance_id =
        spelled::instance_path(model, m.written, "5&1a2b3c4d&0&" + std::to_string(++m.devices));
    d.hardware_ids = sim::multi_string(ids);
    d.present = random.chance(60);
    if (random.chance(10))
      d.remove_error = ERROR_ACCESS_DENIED;
    else if (random.chance(15)) // its port open: Windows finishes the removal at restart
      d.remove_flags = random.chance(80) ? DI_NEEDREBOOT : DI_NEEDRESTART;
    // Most instances name their modem class driver key, which goes with the device.
    if (random.chance(70))
      d.driver =
          std::string("{4D36E96D-E325-11CE-BFC1-08002BE10318}\\") + four_digits(m.driver_keys + i);
    add_device(m.plan, d);
  }
}

// The modem class driver key naming the model's OEM INF copy, and mostly the copy itself.
static void nt_model_class_entry(nt_machine &m, int model) {
  machine_plan &plan = m.plan;
  random_source &random = m.random;
  std::string key = std::string(modem_class_path) + "\\" + four_digits(m.driver_keys++);
  int number = fresh_number(random, m.oem_numbers, 0, 999);
  std::string inf =
      std::string(random.chance(50) ? "oem" : "OEM") + std::to_string(number) + ".inf";
  bool inf_first = random.chance(50);
  set_string(plan, key, "DriverDesc", model_display_name(model));
  if (inf_first)
    set_string(plan, key, "InfPath", inf);
  // Setup writes it in lower case.
  set_string(plan, key, random.chance(50) ? "MatchingDeviceId" : "matchingdeviceid",
             random.chance(80) ? spelled::matching_device_id(model)
                               : case_variant(spelled::matching_device_id(model), random));
  if (!inf_first)
    set_string(plan, key, "InfPath", inf);
  if (random.chance(75))
    add_oem_copy(plan, random, number,
                 usbta_inf_text(random.chance(80) ? matching_usbta_line(model, random)
                                                  : other_usbta_line(model, random),
                                random),
                 false);
}

// The service key in some control sets, with an Enum subkey, now and then a deeper one.
static void nt_model_services(nt_machine &m, int model) {
  for (int set = 1; set <= m.sets; ++set) {
    if (!m.random.chance(60))
      continue;
    std::string key = nt_services(set) + "\\" + model_nt_service_name(model);
    set_value(m.plan, key, "Start", REG_DWORD, std::string("\3\0\0\0", 4));
    if (m.random.chance(60))
      set_string(m.plan, key + "\\Enum", "0",
                 spelled::instance_path(model, m.written, "5&1a2b3c4d&0&1"));
    if (m.random.chance(8))
      add_key(m.plan, key + "\\Enum\\Deeper"); // cannot be deleted one level deep
  }
}

// The Windows 2000 files, sometimes those of a Windows 98 installation, and more OEM INF
// copies that name the model.
static void nt_model_files(nt_machine &m, int model) {
  machine_plan &plan = m.plan;
  random_source &random = m.random;
  if (random.chance(70)) {
    add_file(plan, nt_placement(model, 0),
             random.chance(50) ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_ARCHIVE);
    if (random.chance(25)) // its driver is loaded: Windows 10 and 11 refuse the deletion
      load_driver_file(plan, nt_placement(model, 0));
  }
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
    add_oem_copy(plan, random, fresh_number(random, m.oem_numbers, 0, 999),
                 usbta_inf_text(matching_usbta_line(model, random), random), false);
}

// Decoys, each next to one model's entries and out of every rule's reach.
static void nt_decoy_device(nt_machine &m, int model) { // hardware ids that are not the model's
  std::string id = spelled::device_id(model, m.written);
  sim::device d;
  d.instance_id = "USB\\DECOY\\" + std::to_string(++m.devices);
  switch (m.random.below(5)) {
  case 0:
    d.hardware_ids = sim::multi_string({spelled::revision_id(model, m.written)});
    break;
  case 1: // another product, in the spellings of both Windows families
    d.hardware_ids = sim::multi_string({upper(id) + "1", lower(one_char_changed(id, -1))});
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
  add_device(m.plan, d);
  m.plan.decoy_devices.push_back(d.instance_id);
}

static void nt_decoy_class_entry(nt_machine &m, int model) { // another product's, and its copy
  std::string key = std::string(modem_class_path) + "\\" + four_digits(m.driver_keys++);
  int number = fresh_number(m.random, m.oem_numbers, 0, 999);
  set_string(m.plan, key, "MatchingDeviceId",
             one_char_changed(spelled::matching_device_id(model), -1));
  set_string(m.plan, key, "InfPath", "oem" + std::to_string(number) + ".inf");
  add_oem_copy(m.plan, m.random, number,
               usbta_inf_text(other_usbta_line(model, m.random), m.random), true);
}

// The model's modem class entry naming its INF under another value name.
static void nt_decoy_inf_value(nt_machine &m, int model) {
  std::string key = std::string(modem_class_path) + "\\" + four_digits(m.driver_keys++);
  int number = fresh_number(m.random, m.oem_numbers, 0, 999);
  set_string(m.plan, key, "MatchingDeviceId", spelled::matching_device_id(model));
  set_string(m.plan, key, m.random.chance(50) ? "InfPath2" : "InfPat",
             "oem" + std::to_string(number) + ".inf");
  add_oem_copy(m.plan, m.random, number,
               usbta_inf_text(other_usbta_line(model, m.random), m.random), true);
}

static void nt_decoy_service(nt_machine &m, int model) { // sharing a prefix, or elsewhere
  std::string service = model_nt_service_name(model);
  int set = 1 + static_cast<int>(m.random.below(static_cast<uint32_t>(m.sets)));
  std::string names[] = {service + "X", without_last(service), one_char_changed(service, 2)};
  std::string key = nt_services(set) + "\\" + names[m.random.below(3)];
  if (m.random.chance(25))
    key = "SYSTEM\\ControlSet" + three_digits(set) + "\\Control\\" + service;
  else if (m.random.chance(25))
    key = nt_services(set) + "\\Other\\" + service;
  set_value(m.plan, key, "Start", REG_DWORD, std::string("\3\0\0\0", 4));
  m.plan.decoy_keys.push_back(key);
}

static void nt_decoy_file(nt_machine &m, int model) { // in another folder or under another name
  std::string sys = model_nt_file(model, 0);
  std::string paths[] = {"C:\\WINDOWS\\system32\\" + sys,
                         "C:\\WINDOWS\\system32\\drivers\\" + sys + ".bak",
                         "C:\\WINDOWS\\system32\\drivers\\" + one_char_changed(sys, 2),
                         "C:\\WINDOWS\\inf\\MDMKORT4.INF",
                         "C:\\WINDOWS\\inf\\" + std::string(model_win98_file(model, 0))};
  std::string path = paths[m.random.below(5)];
  add_file(m.plan, path, FILE_ATTRIBUTE_ARCHIVE);
  m.plan.decoy_files.push_back(path);
}

static void nt_decoy_oem_copy(nt_machine &m, int model) { // of another product
  add_oem_copy(m.plan, m.random, fresh_number(m.random, m.oem_numbers, 0, 999),
               usbta_inf_text(other_usbta_line(model, m.random), m.random), true);
}

// The model's OEM INF where no copy lies: in a subfolder, or under a name that the search
// pattern oem*.inf matches but that is no copy's name.
static void nt_decoy_far_copy(nt_machine &m, int model) {
  random_source &random = m.random;
  std::string text = usbta_inf_text(matching_usbta_line(model, random), random);
  std::string number = std::to_string(fresh_number(random, m.oem_numbers, 0, 999));
  std::string names[] = {"OTHER\\oem" + number + ".inf", "oem" + number + "a.inf",
                         "oem_" + number + ".inf", "oemsetup.inf", "oem.inf"};
  std::string path = "C:\\WINDOWS\\inf\\" + names[random.below(5)];
  add_file(m.plan, path, FILE_ATTRIBUTE_ARCHIVE, text);
  m.plan.decoy_files.push_back(path);
}

static void nt_decoy_line_key(nt_machine &m, int model) { // the line under another key
  int number = fresh_number(m.random, m.oem_numbers, 0, 999);
  std::string text = "[Version]\r\nSignature=\"$Windows NT$\"\r\n[USBTA]\r\n"
                     "QUENDALQ40 PRO USBPort Adaptor=USB_TA," +
                     std::string(model_hardware_id(model)) + "\r\n";
  add_oem_copy(m.plan, m.random, number, text, true);
}

static void nt_decoy_win98_file(nt_machine &m, int model) { // in the other folder
  std::string path = "C:\\WINDOWS\\inf\\" + std::string(model_win98_file(model, 2));
  add_file(m.plan, path, FILE_ATTRIBUTE_ARCHIVE);
  m.plan.decoy_files.push_back(path);
}

static void (*const nt_decoys[])(nt_machine &, int) = {
    nt_decoy_device,   nt_decoy_class_entry, nt_decoy_inf_value, nt_decoy_service,   nt_decoy_file,
    nt_decoy_oem_copy, nt_decoy_far_copy,    nt_decoy_line_key,  nt_decoy_win98_file};

void generate_nt_machine(machine_plan &plan, random_source &random) {
  static const char *const tails[] = {"", "--complete", "-C", "--default", "-D"};
  plan.command_tail = tails[random.below(5)];
  start_machine(plan, false);
  // Mostly Windows 2000; now and then XP (the uninstall function, no store), Vista and later
  // (the store), or Wine (an uninstall that deletes nothing).
  static const DWORD versions[][2] = {{5, 0}, {5, 0}, {5, 0}, {5, 1}, {6, 0}, {6, 1}, {10, 0}};
  const DWORD *version = versions[random.below(7)];
  nt_machine m{plan, random, version[0] >= 6 ? spelling::vista_to_11 : spelling::win2000_xp};
  if (version[1] != 0 || version[0] != 5)
    set_nt_platform(plan, version[0], version[1], version[0] >= 6 && random.chance(20));
  nt_control_sets(m);
  for (int model = 0; model < MODEL_COUNT; ++model) {
    if (!random.chance(60))
      continue;
    nt_model_devices(m, model);
    if (random.chance(75))
      nt_model_class_entry(m, model);
    nt_model_services(m, model);
    nt_model_files(m, model);
  }
  for (int n = static_cast<int>(random.below(8)); n > 0; --n) {
    int model = static_cast<int>(random.below(MODEL_COUNT));
    nt_decoys[random.below(9)](m, model);
  }
  // With a driver store most OEM INF copies are published from a package; a decoy's is a decoy.
  for (size_t i = 0; version[0] >= 6 && i < plan.steps.size(); ++i) {
    machine_step s = plan.steps[i];
    std::string name = s.path.substr(s.path.rfind('\\') + 1), folder = "q40p.inf_x86_" + name;
    if (s.kind != machine_step::file || split(s.path).size() != 4 || !random.chance(70) ||
        upper(name).compare(0, 3, "OEM") != 0 || upper(name).find(".INF") == std::string::npos)
      continue;
    add_driver_package(plan, name, folder, s.data);
    if (std::count(plan.decoy_files.begin(), plan.decoy_files.end(), s.path))
      plan.decoy_files.push_back("C:\\WINDOWS\\system32\\DriverStore\\FileRepository\\" + folder +
                                 "\\q40p.inf");
  }
  deny_some(plan, random);
}

// ---- Windows 98 -------------------------------------------------------------------------

// What the parts of one Windows 98 machine share while it is built.
struct win98_machine {
  machine_plan &plan;
  random_source &random;
  int modem_keys = 0; // class keys Modem\NNNN made so far
  int port_keys = 0;  // port instances and their class keys Ports\NNNN made so far
  int instances = 0;  // device instances made so far
};

// Mostly one or two device instances below "Enum\<device id>", as Windows 98 writes it (now and
// then in another letter case), most with their driver key.
static void win98_model_devices(win98_machine &m, int model) {
  machine_plan &plan = m.plan;
  random_source &random = m.random;
  std::string id = spelled::device_id(model, spelling::win98);
  if (random.chance(30))
    id = case_variant(id, random);
  for (int i = 0, count = 1 + static_cast<int>(random.below(2)); i < count; ++i) {
    std::string instance = "Enum\\" + id + "\\5&1A2B&0&" + std::to_string(++m.instances);
    set_string(plan, instance, "Class", "Modem");
    set_string(plan, instance, "HardwareID",
               spelled::revision_id(model, spelling::win98) + "," + id);
    if (!random.chance(85))
      continue;
    std::string driver = "Modem\\" + four_digits(m.modem_keys++);
    set_string(plan, instance, "Driver", driver);
    if (!random.chance(85))
      continue;
    set_string(plan, win98_class_prefix + driver, "DriverDesc", model_display_name(model));
    if (random.chance(50))
      set_string(plan, win98_class_prefix + driver + "\\Init", "1", "AT<cr>");
  }
}

// 0 to 2 port instances described by the model's prefix, most with their driver key.
static void win98_model_ports(win98_machine &m, int model) {
  machine_plan &plan = m.plan;
  random_source &random = m.random;
  for (int ports = static_cast<int>(random.below(3)); ports > 0; --ports) {
    std::string number = four_digits(m.port_keys++);
    std::string port = std::string(win98_ports) + "\\" + number;
    static const char *const tails[] = {" USB Port", "", " (COM5)"};
    set_string(plan, port, "Class", "Ports");
    set_string(plan, port, "DeviceDesc",
               model_device_desc_prefix(model) + std::string(tails[random.below(3)]));
    std::string driver = "Ports\\" + number;
    set_string(plan, port, "Driver", driver);
    if (random.chance(85))
      set_string(plan, win98_class_prefix + driver, "PortName",
                 "COM" + std::to_string(m.port_keys + 4));
  }
}

// The VMM32Files values, the VxD service keys and the listed files.
static void win98_model_drivers(win98_machine &m, int model) {
  machine_plan &plan = m.plan;
  random_source &random = m.random;
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

static void win98_decoy_enum_key(win98_machine &m, int model) { // another product's, beside
  std::string id = spelled::device_id(model, spelling::win98);
  std::string ids[] = {one_char_changed(id, -1), id + "&REV_01", without_last(id)};
  std::string instance =
      "Enum\\" + ids[m.random.below(3)] + "\\5&1A2B&0&" + std::to_string(++m.instances);
  std::string driver = "Modem\\" + four_digits(m.modem_keys++);
  set_string(m.plan, instance, "Driver", driver);
  set_string(m.plan, win98_class_prefix + driver, "DriverDesc", "Standard Modem");
  m.plan.decoy_keys.push_back(instance);
  m.plan.decoy_keys.push_back(win98_class_prefix + driver);
}

// A port whose description differs from the model's in case, or is cut short.
static void win98_decoy_port(win98_machine &m, int model) {
  std::string prefix = model_device_desc_prefix(model);
  std::string descriptions[] = {lower(prefix) + " USB Port", prefix.substr(0, prefix.size() - 2),
                                "Communications Port"};
  std::string number = four_digits(m.port_keys++);
  std::string port = std::string(win98_ports) + "\\" + number;
  set_string(m.plan, port, "DeviceDesc", descriptions[m.random.below(3)]);
  set_string(m.plan, port, "Driver", "Ports\\" + number);
  set_string(m.plan, win98_class_prefix + std::string("Ports\\") + number, "PortName", "COM1");
  m.plan.decoy_keys.push_back(port);
  m.plan.decoy_keys.push_back(win98_class_prefix + std::string("Ports\\") + number);
}

// The model's port naming its driver under another value name, or a bare class.
static void win98_decoy_driver_value(win98_machine &m, int model) {
  machine_plan &plan = m.plan;
  std::string number = four_digits(m.port_keys++);
  std::string port = std::string(win98_ports) + "\\" + number;
  set_string(plan, port, "DeviceDesc", model_device_desc_prefix(model) + std::string(" USB Port"));
  bool bare = m.random.chance(50);
  if (bare) {
    set_string(plan, port, "Driver", m.random.chance(50) ? "Ports" : "Ports\\");
    set_string(plan, win98_class_prefix + std::string("Ports"), "Class", "Ports");
    plan.decoy_keys.push_back(win98_class_prefix + std::string("Ports"));
  } else {
    set_string(plan, port, "driver", "Ports\\" + number);
    set_string(plan, win98_class_prefix + std::string("Ports\\") + number, "PortName", "COM2");
    plan.decoy_keys.push_back(win98_class_prefix + std::string("Ports\\") + number);
  }
}

static void win98_decoy_vmm32_value(win98_machine &m, int model) { // next to the model's
  std::string file = model_win98_file(model, m.random.below(2));
  std::string names[] = {"SERIAL.VXD", file.substr(0, file.size() - 4), file + "X"};
  std::string name = names[m.random.below(3)];
  set_string(m.plan, win98_vmm32files, name, "");
  m.plan.decoy_values.push_back({win98_vmm32files, name});
}

static void win98_decoy_vxd_key(win98_machine &m, int model) { // next to the model's
  std::string vxd = m.random.chance(50) ? model_vxd_name_1(model) : model_vxd_name_2(model);
  std::string names[] = {vxd + "X", without_last(vxd), "VCOMM"};
  std::string key = win98_vxd_prefix + names[m.random.below(3)];
  set_string(m.plan, key, "StaticVxD", "*VCOMM");
  m.plan.decoy_keys.push_back(key);
}

// The model's files in the other folder, or under another name.
static void win98_decoy_file(win98_machine &m, int model) {
  std::string file = model_win98_file(model, m.random.below(3));
  std::string paths[] = {"C:\\WINDOWS\\INF\\" + file, "C:\\WINDOWS\\SYSTEM\\" + file + ".bak",
                         "C:\\WINDOWS\\SYSTEM\\SERIAL.VXD",
                         "C:\\WINDOWS\\INF\\OTHER\\" + std::string(model_win98_file(model, 3))};
  std::string path = paths[m.random.below(4)];
  add_file(m.plan, path, FILE_ATTRIBUTE_ARCHIVE);
  m.plan.decoy_files.push_back(path);
}

static void win98_decoy_class_key(win98_machine &m, int) { // the class branch's own keys
  std::string key = win98_class_prefix + std::string(m.random.chance(50) ? "Modem" : "Ports");
  set_string(m.plan, key, "Class", "x");
  m.plan.decoy_keys.push_back(key);
}

static void (*const win98_decoys[])(win98_machine &, int) = {
    win98_decoy_enum_key, win98_decoy_port, win98_decoy_driver_value, win98_decoy_vmm32_value,
    win98_decoy_vxd_key,  win98_decoy_file, win98_decoy_class_key};

void generate_win98_machine(machine_plan &plan, random_source &random) {
  plan.command_tail = "";
  start_machine(plan, true);
  win98_machine m{plan, random};
  for (int model = 0; model < MODEL_COUNT; ++model) {
    if (!random.chance(60))
      continue;
    if (random.chance(75))
      win98_model_devices(m, model);
    win98_model_ports(m, model);
    win98_model_drivers(m, model);
  }
  for (int n = static_cast<int>(random.below(8)); n > 0; --n) {
    int model = static_cast<int>(random.below(MODEL_COUNT));
    win98_decoys[random.below(7)](m, model);
  }
  deny_some(plan, random);
}

// ---- Faults -----------------------------------------------------------------------------

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
                                             "SetupDiGetDeviceInstallParamsA",
                                             "SetupOpenInfFileA",
                                             "SetupGetLineTextA",
                                             "SetupUninstallOEMInfA",
                                             "GetWindowsDirectoryA",
                                             "GetSystemDirectoryA",
                                             "SetFileAttributesA",
                                             "DeleteFileA",
                                             "MoveFileExA",
                                             "FindFirstFileA",
                                             "FindNextFileA",
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
  static const DWORD errors[] = {2, 3, 5, 6, 8, 13, 18, 32, 87, 122, 234, 259, 1018, 0x2345};
  int count = random.chance(25) ? 0 : 1 + static_cast<int>(random.below(3));
  for (int i = 0; i < count; ++i) {
    sim::fault f;
    if (plan.win98)
      f.function = win98_functions[random.below(sizeof win98_functions / sizeof *win98_functions)];
    else
      f.function = nt_functions[random.below(sizeof nt_functions / sizeof *nt_functions)];
    f.error = errors[random.below(sizeof errors / sizeof *errors)];
    // Functions that a run calls only a few times: a fault on a late call would never fire.
    bool rare = f.function == "LoadLibraryA" || f.function == "GetProcAddress" ||
                f.function == "FreeLibrary" || f.function == "GetWindowsDirectoryA" ||
                f.function == "GetSystemDirectoryA" || f.function == "SetupDiGetClassDevsA" ||
                f.function == "FindFirstFileA" || f.function == "MoveFileExA";
    f.nth = 1 + static_cast<int>(random.below(rare ? 8 : 40));
    f.times = 1;
    add_fault(plan, f);
  }
}

} // namespace reliability
