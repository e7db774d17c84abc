// The rehearsal of a snapshot at real size. A Japanese Windows 11 machine (23H2) with model 0
// installed is written as tools/snapshot.bat writes it, its HKLM\SYSTEM export holding 90,000
// and then 900,000 keys (about 23 and 212 MB of UTF-16). uninstall-sim rehearses each snapshot
// (--snapshot, --yes, --complete) as a child process, and `iconv -f UTF-16LE -t UTF-8` decodes
// its SYSTEM.REG beside it, by turns; each is timed (the best of three runs, in processor and
// in clock time) and the rehearsal's peak memory is the kernel's figure for the child. At
// 900,000 keys the rehearsal must take at most four times iconv's processor time and at most
// 400 MB, else the program exits with status 1.
//
//   snapshot_bench UNINSTALL-SIM [KEYS ...]    (default: 90000 900000)
//   snapshot_bench --write FOLDER KEYS        only writes the snapshot, for profiling
//
// The export is what regedit /e writes on Windows 10 and 11: "Windows Registry Editor Version
// 5.00", UTF-16LE with a byte-order mark, CRLF line ends, each key's section after its
// parent's, subkeys in the order of their upper-cased names, CurrentControlSet exported in
// full beside ControlSet001 (it is a link to it), hex(2) and hex(7) data as UTF-16 wrapped into
// continuation lines, REG_QWORD as hex(b), and large binary values such as AppCompatCache.
#include "sim/sim.h"
#include "tools/encoding.h"
#include "tools/reg_file.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

// ---- The registry -------------------------------------------------------------------------

struct gen_key {
  std::string name;
  bool in_control_set; // exported twice: as ControlSet001 and as CurrentControlSet
  std::vector<sim::reg_value_data> values;
  std::map<std::string, std::unique_ptr<gen_key>> subkeys; // by upper-cased name: export order
};

// The keys the export holds so far.
size_t exported_keys = 0;

// The key at `path` below `k` (names separated by '\'), made with its missing parents.
gen_key &at(gen_key &k, const std::string &path) {
  gen_key *cur = &k;
  for (size_t start = 0; start <= path.size();) {
    size_t end = std::min(path.find('\\', start), path.size());
    std::string name = path.substr(start, end - start);
    std::string folded = name;
    for (char &c : folded)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::unique_ptr<gen_key> &slot = cur->subkeys[folded];
    if (!slot) {
      slot.reset(new gen_key{name, cur->in_control_set, {}, {}});
      exported_keys += slot->in_control_set ? 2 : 1;
    }
    cur = slot.get();
    start = end + 1;
  }
  return *cur;
}

// Text of the bench's sources (UTF-8) as the machine holds it: code page 932.
std::string ansi(const std::string &utf8) {
  std::string out;
  return utf8_to_cp932(utf8, out) ? out : utf8;
}

void sz(gen_key &k, const std::string &name, const std::string &text, DWORD type = REG_SZ) {
  k.values.push_back(sim::reg_value_data{name, type, ansi(text) + std::string(1, '\0')});
}
void multi(gen_key &k, const std::string &name, const std::vector<std::string> &strings) {
  k.values.push_back(sim::reg_value_data{name, REG_MULTI_SZ, sim::multi_string(strings)});
}
void number(gen_key &k, const std::string &name, uint64_t value, DWORD type = REG_DWORD) {
  std::string data(type == REG_DWORD ? 4 : 8, '\0');
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  k.values.push_back(sim::reg_value_data{name, type, data});
}
void binary(gen_key &k, const std::string &name, size_t size, uint32_t seed) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    data[i] = static_cast<char>(seed >> 24);
  }
  k.values.push_back(sim::reg_value_data{name, REG_BINARY, data});
}

std::string format(const char *pattern, unsigned a, unsigned b = 0) {
  char text[160];
  std::snprintf(text, sizeof text, pattern, a, b);
  return text;
}

// A GUID of its own for each number, lower case as Windows 10 and 11 write them.
std::string guid(unsigned n) {
  return format("{%08x-7c1e-4d2a-%04x-", n * 2654435761u, n & 0xFFFF) +
         format("%04x%08x}", (n * 40503u) & 0xFFFF, n * 97u + 0x1b2c3d4u);
}

const char modem_class[] = "{4d36e96d-e325-11ce-bfc1-08002be10318}";

// The kinds of device a machine collects over the years, each with its bus, class, service,
// description (Japanese Windows' text after the indirect string) and device interface.
const struct {
  const char *bus;
  const char *device; // printf patterns of the device's numbers
  const char *instance;
  const char *class_guid;
  const char *service;
  const char *description;
  const char *interface_guid;
} kinds[] = {
    {"USB", "VID_%04X&PID_%04X", "5&%x&0&%u", "{36fc9e60-c465-11cf-8056-444553540000}", "usbccgp",
     "@usb.inf,%usb.compositedevice%;USB Composite Device",
     "{a5dcbf10-6530-11d2-901f-00c04fb951ed}"},
    {"HID", "VID_%04X&PID_%04X&MI_01&Col01", "7&%x&0&%04u",
     "{745a17a0-74d3-11d0-b6fe-00a0c90f57da}", "mouhid",
     "@msmouse.inf,%hid.mousedevice%;HID 準拠マウス", "{378de44c-56ef-11d1-bc8c-00a0c91405dd}"},
    {"SWD\\MMDEVAPI", "{0.0.0.00000000}.{%08x-0f1e-4c3d-%04x-001122334455}", "%x&%u",
     "{c166523c-fe0c-4a94-a586-f1a80cfbbf3e}", "", "スピーカー (Realtek(R) Audio)",
     "{e6327cad-dcec-4949-ae8a-991e976a79d2}"},
    {"STORAGE", "Volume", "{%08x-6b1e-11ee-%04x-806e6f6e6963}",
     "{71a27cdd-812a-11d0-bec7-08002be2a7ff}", "volume",
     "@volume.inf,%storage\\volume.devicedesc%;ボリューム",
     "{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}"},
    {"BTHENUM", "{0000110b-0000-1000-8000-00805f9b34fb}_VID&%08x_PID&%04x",
     "8&%x&0&%012u_C00000000", "{e0cbf06c-cd8b-4647-bb8a-263b43f0f974}", "BthA2dp",
     "@bth.inf,%bthenum.generic%;Bluetooth オーディオ", "{0850302a-b344-4fda-9be9-90576b8d46f0}"},
};
const unsigned kind_count = sizeof kinds / sizeof kinds[0];

// The text an indirect string "@file.inf,%name%;text" shows where its file is not read.
std::string shown_text(const std::string &description) {
  return description.substr(description.rfind(';') + 1);
}

// Device `i`: its Enum instance with the values Windows gives one, its Device Parameters and
// LogConf keys, its driver key in its class, its device interface, and the driver database's
// entry for its hardware id. Every hundredth device has a second instance.
void add_device(gen_key &control_set, gen_key &database, unsigned i) {
  const auto &kind = kinds[i % kind_count];
  std::string device = format(kind.device, 0x0400 + i / kind_count % 0xF000, 0x1000 + i % 0xEFFF);
  std::string hardware_id = std::string(kind.bus) + "\\" + device;
  for (unsigned second = 0; second < (i % 100 == 0 ? 2u : 1u); ++second) {
    std::string instance = format(kind.instance, 0x1a2b3c4du ^ (i * 7919u), second + 1);
    std::string instance_id = hardware_id + "\\" + instance;
    std::string driver =
        std::string(kind.class_guid) + format("\\%04u", (i / kind_count + second) % 10000);
    gen_key &k = at(control_set, "Enum\\" + instance_id);
    sz(k, "DeviceDesc", kind.description);
    sz(k, "LocationInformation", format("Port_#%04u.Hub_#%04u", i % 8 + 1, i % 5 + 1));
    number(k, "Capabilities", 0x84);
    number(k, "Address", i % 8 + 1);
    sz(k, "ContainerID", guid(i / 3));
    multi(k, "HardwareID", {hardware_id + "&REV_0100", hardware_id});
    multi(k, "CompatibleIDs",
          {std::string(kind.bus) + "\\Class_03&SubClass_01&Prot_02",
           std::string(kind.bus) + "\\Class_03&SubClass_01", std::string(kind.bus) + "\\Class_03"});
    sz(k, "ClassGUID", kind.class_guid);
    sz(k, "Driver", driver);
    sz(k, "Mfg", "@msmouse.inf,%msmfg%;Microsoft");
    if (kind.service[0])
      sz(k, "Service", kind.service);
    number(k, "ConfigFlags", 0);
    gen_key &parameters = at(k, "Device Parameters");
    std::string link =
        std::string(kind.bus) + "#" + device + "#" + instance + "#" + kind.interface_guid;
    sz(parameters, "SymbolicName", "\\??\\" + link);
    number(parameters, "SelectiveSuspendEnabled", 1);
    at(k, "LogConf");
    gen_key &class_key = at(control_set, "Control\\Class\\" + driver);
    sz(class_key, "DriverDesc", shown_text(kind.description));
    sz(class_key, "ProviderName", "Microsoft");
    binary(class_key, "DriverDateData", 8, i);
    sz(class_key, "DriverDate", "6-21-2006");
    sz(class_key, "DriverVersion", "10.0.22621.1");
    sz(class_key, "InfPath", "msmouse.inf");
    sz(class_key, "InfSection", "HID_Mouse_Inst.NT");
    sz(class_key, "MatchingDeviceId", "hid_device_system_mouse");
    gen_key &interface = at(control_set, "Control\\DeviceClasses\\" +
                                             std::string(kind.interface_guid) + "\\##?#" + link);
    sz(interface, "DeviceInstance", instance_id);
    sz(at(interface, "#"), "SymbolicLink", "\\\\?\\" + link);
  }
  binary(at(database, "DeviceIds\\" + hardware_id), "msmouse.inf", 4, i);
}

// Service `i` with its Parameters, Security and Enum keys.
void add_service(gen_key &control_set, unsigned i) {
  std::string name = format("svc%05u", i);
  gen_key &k = at(control_set, "Services\\" + name);
  number(k, "Type", i % 3 ? 1 : 0x10);
  number(k, "Start", 3);
  number(k, "ErrorControl", 1);
  sz(k, "ImagePath", "\\SystemRoot\\System32\\drivers\\" + name + ".sys", REG_EXPAND_SZ);
  sz(k, "DisplayName", "@" + name + ".inf,%" + name + ".SvcDesc%;Generic Service " + name);
  sz(k, "Group", "Extended Base");
  multi(k, "Owners", {name + ".inf"});
  if (i % 4 == 0)
    multi(k, "DependOnService", {"RpcSs", "PlugPlay", "Tcpip"});
  sz(at(k, "Parameters"), "ServiceDll", "%SystemRoot%\\System32\\" + name + ".dll", REG_EXPAND_SZ);
  binary(at(k, "Security"), "Security", 180, i);
  gen_key &e = at(k, "Enum");
  number(e, "Count", 0);
  number(e, "NextInstance", 0);
}

// Driver package `i` of the driver database; its import date is a REG_QWORD.
void add_package(gen_key &database, unsigned i) {
  std::string inf = format("oem%u.inf", i + 10);
  std::string package = format("msmouse%u.inf_amd64_%08x", i, i * 2654435761u);
  gen_key &files = at(database, "DriverInfFiles\\" + inf);
  multi(files, "", {package});
  sz(files, "Active", package);
  gen_key &p = at(database, "DriverPackages\\" + package);
  sz(p, "", inf);
  binary(p, "Version", 62, i);
  sz(p, "Provider", "Microsoft");
  number(p, "SignerScore", 0x0d000004);
  number(p, "ImportDate", 0x01da2b3c4d5e6f70ull + i, REG_QWORD);
  for (unsigned d = 0; d < 3; ++d) {
    gen_key &desc =
        at(p, format("Descriptors\\HID\\VID_%04X&PID_%04X", 0x0400 + i % 0xF000, 0x1000 + d));
    sz(desc, "Configuration", "HID_Mouse_Inst");
    sz(desc, "Manufacturer", "%msmfg%");
    sz(desc, "Description", "%hid.mousedevice%");
  }
  sz(at(p, "Configurations\\HID_Mouse_Inst"), "Service", "mouhid");
  sz(at(p, "Strings"), "msmfg", "Microsoft");
}

// The hardware ids of Windows' own INF files, each a driver database key with one value.
void add_inbox_id(gen_key &database, unsigned i) {
  static const struct {
    const char *id;
    const char *inf;
  } ids[] = {{"PCI\\VEN_%04X&DEV_%04X", "pci.inf"},
             {"ACPI\\VEN_%04X&DEV_%04X", "machine.inf"},
             {"USB\\VID_%04X&PID_%04X", "usb.inf"},
             {"HID\\VID_%04X&PID_%04X", "input.inf"}};
  const auto &id = ids[i % (sizeof ids / sizeof ids[0])];
  binary(at(database, "DeviceIds\\" + format(id.id, 0x1000 + i / 4 % 0xE000, i / 4 / 0xE000 + 1)),
         id.inf, 4, i);
}

// Light service `i` of the control set: a kernel driver's key with its start type, and its
// Parameters and Enum keys.
void add_light_service(gen_key &control_set, unsigned i) {
  gen_key &k = at(control_set, format("Services\\drv%06u", i));
  number(k, "Start", 4);
  number(k, "Type", 1);
  at(k, "Parameters");
  number(at(k, "Enum"), "Count", 0);
}

// Model 0 as its installation leaves it on Windows 11: the device, its modem class driver key
// naming the OEM INF copy, and its service.
void add_model0(gen_key &control_set) {
  gen_key &device = at(control_set, "Enum\\USB\\VID_1E7A&PID_0080\\5&1a2b3c4d&0&1");
  sz(device, "DeviceDesc", "@oem3.inf,%q40p.devicedesc%;QUENDALQ40 PRO USBPort Adapter");
  multi(device, "HardwareID", {"USB\\VID_1E7A&PID_0080&REV_0100", "USB\\VID_1E7A&PID_0080"});
  sz(device, "ClassGUID", modem_class);
  sz(device, "Driver", std::string(modem_class) + "\\0001");
  sz(device, "Service", "Q40PUCOM");
  gen_key &driver = at(control_set, "Control\\Class\\" + std::string(modem_class) + "\\0001");
  sz(driver, "DriverDesc", "QUENDALQ40 PRO USBPort Adapter");
  sz(driver, "MatchingDeviceId", "usb\\vid_1e7a&pid_0080");
  sz(driver, "InfPath", "oem3.inf");
  sz(driver, "InfSection", "USB_TA");
  gen_key &service = at(control_set, "Services\\Q40PUCOM");
  number(service, "Type", 1);
  number(service, "Start", 3);
  number(service, "ErrorControl", 1);
  sz(service, "ImagePath", "\\SystemRoot\\System32\\drivers\\Q40PUCOM.SYS", REG_EXPAND_SZ);
  multi(service, "Owners", {"oem3.inf"});
  gen_key &e = at(service, "Enum");
  sz(e, "0", "USB\\VID_1E7A&PID_0080\\5&1a2b3c4d&0&1");
  number(e, "Count", 1);
  number(e, "NextInstance", 1);
}

// The other keys that matter: Select, and large binary values (AppCompatCache holds half a
// megabyte on a machine in use, MountedDevices one value a volume ever mounted).
void add_fixed_keys(gen_key &system, gen_key &control_set) {
  gen_key &select = at(system, "Select");
  number(select, "Current", 1);
  number(select, "Default", 1);
  number(select, "Failed", 0);
  number(select, "LastKnownGood", 1);
  binary(at(control_set, "Control\\Session Manager\\AppCompatCache"), "AppCompatCache", 131072, 7);
  number(at(control_set, "Services\\W32Time\\Config"), "LastKnownGoodTime", 0x01da2b3c4d5e6f70ull,
         REG_QWORD);
  gen_key &mounted = at(system, "MountedDevices");
  for (unsigned i = 0; i < 40; ++i)
    binary(mounted, format("\\??\\Volume{%08x-6b1e-11ee-%04x-806e6f6e6963}", i * 2654435761u, i),
           i % 4 ? 12 : 96, i);
  sz(at(system, "Setup"), "SystemPartition", "\\Device\\HarddiskVolume1");
  sz(at(control_set, "Control\\ComputerName\\ComputerName"), "ComputerName", "DESKTOP-7Q2K3LM");
}

// The machine with `keys` keys in its export. Most keys of the export are small, as those of
// a real one are: driver database entries with one value, drivers with a start type and
// their empty or nearly empty subkeys; a few in a hundred are device instances, driver keys
// and device interfaces with their dozen values. Devices, and with them the rest, are added
// while one more step surely fits; single driver database keys make up the rest.
gen_key build_registry(size_t keys) {
  gen_key system{"SYSTEM", false, {}, {}};
  exported_keys = 1;
  gen_key &control_set = at(system, "ControlSet001");
  control_set.in_control_set = true;
  ++exported_keys;
  gen_key &database = at(system, "DriverDatabase");
  add_fixed_keys(system, control_set);
  add_model0(control_set);
  const unsigned inbox_ids_per_device = 84, drivers_per_device = 32;
  const size_t most_per_step = 100 + inbox_ids_per_device + 6 * drivers_per_device;
  for (unsigned i = 0; exported_keys + most_per_step <= keys; ++i) {
    add_device(control_set, database, i);
    for (unsigned n = 0; n < inbox_ids_per_device; ++n)
      add_inbox_id(database, i * inbox_ids_per_device + n);
    for (unsigned n = 0; n < drivers_per_device; ++n)
      add_light_service(control_set, i * drivers_per_device + n);
    if (i % 40 == 0)
      add_service(control_set, i / 40);
    if (i % 60 == 0)
      add_package(database, i / 60);
  }
  at(database, "DeviceIds\\ROOT");
  for (unsigned i = 0; exported_keys < keys; ++i)
    binary(at(database, format("DeviceIds\\ROOT\\LEGACY_%06u", i)), "machine.inf", 4, i);
  return system;
}

// ---- The snapshot -------------------------------------------------------------------------

struct export_writer {
  std::ofstream out;
  std::string text, utf16, problem;
  bool ok = true;
};

void write_subtree(export_writer &w, const gen_key &k, const std::string &path) {
  w.text.clear();
  w.ok = w.ok && write_reg_key(reg_format_regedit5, path, k.values, w.text, w.problem) &&
         cp932_to_utf16le(w.text, w.utf16);
  w.out.write(w.utf16.data(), static_cast<std::streamsize>(w.utf16.size()));
  for (const auto &s : k.subkeys) {
    write_subtree(w, *s.second, path + "\\" + s.second->name);
    // CurrentControlSet, a link to ControlSet001, comes next in name order with the same keys.
    if (path != "SYSTEM" || s.second->name != "ControlSet001")
      continue;
    write_subtree(w, *s.second, path + "\\CurrentControlSet");
  }
}

void write_file(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A listing pair as snapshot.bat writes it on Japanese Windows 11: `dir /b /a-d` names and
// `attrib` lines with their attribute column.
void write_listing(const std::string &folder, const std::string &listing,
                   const std::string &windows_folder, const std::vector<std::string> &names) {
  std::string dir, att;
  for (const std::string &name : names) {
    dir += name + "\r\n";
    att += "A            " + windows_folder + "\\" + name + "\r\n";
  }
  write_file(folder + "/" + listing + ".DIR", dir);
  write_file(folder + "/" + listing + ".ATT", att);
}

// The snapshot folder of a Japanese Windows 11 machine with `keys` keys in its SYSTEM.REG;
// returns the export's size in bytes (0 when it cannot be written).
size_t write_snapshot(const std::string &folder, size_t keys) {
  std::filesystem::create_directories(folder + "/OEMINF");
  write_file(folder + "/VER.TXT", "\r\nMicrosoft Windows [Version 10.0.22631.4460]\r\n");
  write_file(folder + "/WHERE.TXT",
             "windows C:\\WINDOWS\r\nfamily nt\r\nsystem C:\\WINDOWS\\system32\r\n");
  gen_key system = build_registry(keys);
  export_writer w;
  w.out.open(folder + "/SYSTEM.REG", std::ios::binary);
  w.out << "\xFF\xFE";
  std::string header = "Windows Registry Editor Version 5.00\r\n\r\n";
  w.ok = cp932_to_utf16le(header, w.utf16);
  w.out << w.utf16;
  write_subtree(w, system, "SYSTEM");
  w.out.close();
  if (!w.ok || !w.out) {
    std::fprintf(stderr, "snapshot_bench: cannot write %s/SYSTEM.REG %s\n", folder.c_str(),
                 w.problem.c_str());
    return 0;
  }
  std::vector<std::string> infs = {"machine.inf", "MDMKORT3.INF", "MDMKORT3.PNF", "msmouse.inf",
                                   "oem3.inf",    "oem3.PNF",     "usb.inf",      "volume.inf"};
  std::vector<std::string> drivers = {"Q40PUCOM.SYS", "mouhid.sys", "usbccgp.sys", "volume.sys"};
  const gen_key &packages = *system.subkeys["DRIVERDATABASE"]->subkeys["DRIVERINFFILES"];
  // The OEM INF copies of the driver database's packages, each copied by snapshot.bat.
  for (const auto &p : packages.subkeys) {
    infs.push_back(p.second->name);
    write_file(folder + "/OEMINF/" + p.second->name,
               "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=HIDClass\r\n");
  }
  // The drivers folder of a machine in use: some hundreds of files.
  const gen_key &services = *system.subkeys["CONTROLSET001"]->subkeys["SERVICES"];
  for (const auto &s : services.subkeys)
    if (drivers.size() < 600 && s.first != "Q40PUCOM")
      drivers.push_back(s.second->name + ".sys");
  // Windows 11's own INF files with their PNF twins, and the 4,000 files of its system32.
  std::vector<std::string> system32 = {"advapi32.dll", "kernel32.dll", "newdev.dll", "setupapi.dll",
                                       "user32.dll"};
  for (unsigned i = 0; i < 700; ++i) {
    infs.push_back(format("c_%04u.inf", i));
    infs.push_back(format("c_%04u.PNF", i));
  }
  for (unsigned i = 0; i < 4000; ++i)
    system32.push_back(format(i % 3 ? "api-ms-win-core-%04u-l1-1-0.dll" : "%04u.exe", i));
  write_listing(folder, "INF", "C:\\WINDOWS\\INF", infs);
  write_listing(folder, "DRIVERS", "C:\\WINDOWS\\system32\\drivers", drivers);
  write_listing(folder, "SYSTEM", "C:\\WINDOWS\\system32", system32);
  write_file(folder + "/OEMINF/oem3.inf",
             "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Modem\r\n"
             "ClassGUID={4D36E96D-E325-11CE-BFC1-08002BE10318}\r\n[USBTA]\r\n"
             "\"QUENDALQ40 PRO USBPort Adapter\" = USB_TA,USB\\Vid_1E7A&Pid_0080\r\n");
  return static_cast<size_t>(std::filesystem::file_size(folder + "/SYSTEM.REG"));
}

// ---- Measuring ----------------------------------------------------------------------------

struct measured {
  double clock = 0;        // seconds from start to end
  double processor = 0;    // user and system seconds of the child, which a busy machine inflates
                           // far less than the clock
  long peak_kilobytes = 0; // the child's peak resident set
  int status = -1;
};

// Runs a program with its output (both streams) into `output`, and waits for it.
measured run_child(const std::vector<std::string> &args, const std::string &output) {
  measured m;
  timespec start{}, end{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char *> argv;
    for (const std::string &a : args)
      argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    if (fd >= 0 && dup2(fd, 1) >= 0 && dup2(fd, 2) >= 0)
      execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid)
    return m;
  clock_gettime(CLOCK_MONOTONIC, &end);
  auto seconds = [](const timeval &t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  m.clock = static_cast<double>(end.tv_sec - start.tv_sec) +
            static_cast<double>(end.tv_nsec - start.tv_nsec) / 1e9;
  m.processor = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  m.peak_kilobytes = usage.ru_maxrss;
  m.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return m;
}

// The best of the runs, their highest peak.
void keep_best(measured &best, const measured &run, bool first) {
  best.clock = first ? run.clock : std::min(best.clock, run.clock);
  best.processor = first ? run.processor : std::min(best.processor, run.processor);
  best.peak_kilobytes = std::max(best.peak_kilobytes, run.peak_kilobytes);
}

double megabytes(const measured &m) {
  return static_cast<double>(m.peak_kilobytes) * 1024 / 1e6;
}

const double most_ratio = 4.0;     // the rehearsal's time over iconv's, at the largest size
const double most_megabytes = 400; // the rehearsal's peak resident set, at the largest size

} // namespace

int main(int argc, char **argv) {
  if (argc < 2 || (std::string(argv[1]) == "--write" && argc != 4)) {
    std::fprintf(stderr, "usage: snapshot_bench UNINSTALL-SIM [KEYS ...]\n"
                         "       snapshot_bench --write FOLDER KEYS\n");
    return 2;
  }
  if (std::string(argv[1]) == "--write")
    return write_snapshot(argv[2], std::strtoul(argv[3], nullptr, 10)) ? 0 : 1;
  std::string program = argv[1];
  std::vector<size_t> sizes;
  for (int i = 2; i < argc; ++i)
    sizes.push_back(std::strtoul(argv[i], nullptr, 10));
  if (sizes.empty())
    sizes = {90000, 900000};
  std::string folder =
      (std::filesystem::temp_directory_path() / ("snapshot_bench." + std::to_string(getpid())))
          .string();
  std::printf("Rehearsal of a Japanese Windows 11 snapshot (%s --snapshot SNAP --yes --complete)\n"
              "beside iconv -f UTF-16LE -t UTF-8 SNAP/SYSTEM.REG, run by turns, best of 3 each:\n"
              "processor time (user + system) and clock time in seconds, peak resident memory.\n\n"
              "%9s %11s | %19s %7s | %19s %7s | %16s\n",
              program.c_str(), "keys", "SYSTEM.REG", "processor: iconv, rehearsal", "ratio",
              "clock: iconv, rehearsal", "ratio", "memory: rehearsal");
  bool met = true;
  for (size_t keys : sizes) {
    std::filesystem::remove_all(folder);
    size_t bytes = write_snapshot(folder, keys);
    if (bytes == 0)
      return 1;
    measured iconv, rehearsal;
    std::string output = folder + ".out";
    for (int round = 0; round < 3; ++round) {
      measured i = run_child({"iconv", "-f", "UTF-16LE", "-t", "UTF-8", folder + "/SYSTEM.REG"},
                             "/dev/null");
      measured r = run_child({program, "--snapshot", folder, "--yes", "--complete"}, output);
      if (i.status != 0 || r.status != 0) {
        std::fprintf(stderr,
                     "snapshot_bench: iconv exited with %d, the rehearsal with %d (its output: "
                     "%s)\n",
                     i.status, r.status, output.c_str());
        return 1;
      }
      keep_best(iconv, i, round == 0);
      keep_best(rehearsal, r, round == 0);
    }
    double ratio = rehearsal.processor / iconv.processor;
    std::printf("%9zu %8.1f MB | %9.2f %9.2f %7.2f | %9.2f %9.2f %7.2f | %13.0f MB\n", keys,
                bytes / 1e6, iconv.processor, rehearsal.processor, ratio, iconv.clock,
                rehearsal.clock, rehearsal.clock / iconv.clock, megabytes(rehearsal));
    if (keys == sizes.back())
      met = ratio <= most_ratio && megabytes(rehearsal) <= most_megabytes;
    std::filesystem::remove(output);
  }
  std::filesystem::remove_all(folder);
  std::printf("\nAt %zu keys the rehearsal must take at most %.0f times iconv's processor time "
              "and %.0f MB: %s.\n",
              sizes.back(), most_ratio, most_megabytes, met ? "met" : "NOT MET");
  return met ? 0 : 1;
}
