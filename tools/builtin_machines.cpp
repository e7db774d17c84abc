// The built-in machines. Each installed machine file is the clean machine of its platform
// (which holds other hardware's drivers, all of which must survive a run) plus what a driver
// installation of our adapters leaves behind; the snapshots are whole machines of their own.
#include "tools/builtin_machines.h"

#include "tools/snapshot.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

// ---- Windows 2000 -----------------------------------------------------------------------

// Device data as each version writes it: the USB bus driver of Windows 2000 and XP writes ids
// with "Vid_", "Pid_" and "Rev_" and lower-case hex digits, that of Vista to 11 all in capitals;
// the instance part after the device id (the parent's prefix and the port) is in lower case on
// both; setup writes "MatchingDeviceId" in lower case.
struct usb_spelling {
  const char *model0;     // the device id of model 0's adapter
  const char *model0_rev; // its first hardware id
  const char *mouse;      // the device id of a USB mouse
  const char *mouse_rev;
};
static const usb_spelling win2000_xp_ids = {
    "USB\\Vid_1e7a&Pid_0080", "USB\\Vid_1e7a&Pid_0080&Rev_0100", "USB\\Vid_046d&Pid_c00e",
    "USB\\Vid_046d&Pid_c00e&Rev_1110"};
static const usb_spelling vista_to_11_ids = {
    "USB\\VID_1E7A&PID_0080", "USB\\VID_1E7A&PID_0080&REV_0100", "USB\\VID_046D&PID_C00E",
    "USB\\VID_046D&PID_C00E&REV_1110"};

// A registry string of a path: each backslash doubled.
static std::string reg_string(const std::string &path) {
  std::string out;
  for (char c : path)
    out += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return out;
}

static const char win2000_platform[] = R"(platform nt 5.0 2195
)";

// Windows 2000 to 7 keep a second control set for the Last Known Good Configuration; Windows 8
// and later keep one.
static const char two_control_sets[] = R"(
registry
  [HKEY_LOCAL_MACHINE\SYSTEM\Select]
  "Current"=dword:00000001
  "Default"=dword:00000001
  "LastKnownGood"=dword:00000002
  [HKEY_LOCAL_MACHINE\SYSTEM\ControlSet002\Services\Serial]
  "Type"=dword:00000001
)";
static const char one_control_set[] = R"(
registry
  [HKEY_LOCAL_MACHINE\SYSTEM\Select]
  "Current"=dword:00000001
  "Default"=dword:00000001
  "Failed"=dword:00000000
  "LastKnownGood"=dword:00000001
)";

// A standard modem, a USB mouse and a serial driver, with their class keys, services, INF
// copies and files; the modem's description is Japanese, as on a Japanese Windows.
static const char win2000_other_registry[] = R"(
registry
  [HKEY_LOCAL_MACHINE\SYSTEM\ControlSet001\Control\Class\{4D36E96D-E325-11CE-BFC1-08002BE10318}\0000]
  "DriverDesc"="標準 56000 bps モデム"
  "MatchingDeviceId"="mdmgen56"
  "InfPath"="mdmgen.inf"
  "InfSection"="Gen56"

  [HKEY_LOCAL_MACHINE\SYSTEM\ControlSet001\Services\Serial]
  "Type"=dword:00000001
  "Start"=dword:00000001
  "ImagePath"=hex(2):53,79,73,74,65,6d,33,32,5c,44,52,49,56,45,52,53,5c,73,65,72,69,61,6c,2e,\
    73,79,73,00
  [HKEY_LOCAL_MACHINE\SYSTEM\ControlSet001\Services\Serial\Enum]
  "Count"=dword:00000001
  [HKEY_LOCAL_MACHINE\SYSTEM\ControlSet001\Services\Modem]
  "DependOnService"=hex(7):75,73,62,73,65,72,00,6d,6f,64,65,6d,00,00
  [HKEY_LOCAL_MACHINE\SYSTEM\ControlSet001\Services\usbser]
  "Type"=dword:00000001
  "DisplayName"="USB Modem Driver"
)";

static const char win2000_other_files[] = R"(
file %WINDIR%\system32\drivers\serial.sys
file %WINDIR%\system32\drivers\modem.sys
file %WINDIR%\inf\mdmgen.inf
file %WINDIR%\inf\mdmgen.PNF
inf oem1.inf
  [Version]
  Signature="$Windows NT$"
  Class=Modem
  [USBTA]
  "Other Vendor USB Modem" = USB_TA,USB\Vid_0ABC&Pid_0001
file %WINDIR%\inf\oem1.PNF
)";

// A Windows 2000-family machine with its Windows folder: Windows 2000 Setup makes C:\WINNT, XP
// C:\WINDOWS, Vista and later C:\Windows. The files of `text` are written below %WINDIR%.
static std::string nt_machine(const char *platform, const std::string &windir, std::string text) {
  for (size_t at = 0; (at = text.find("%WINDIR%", at)) != std::string::npos; at += windir.size())
    text.replace(at, 8, windir);
  return platform +
         ("windows-directory " + windir + "\nsystem-directory " + windir + "\\system32\n") + text;
}

static std::string win2000_other_hardware(const usb_spelling &ids, bool second_control_set) {
  return std::string(second_control_set ? two_control_sets : one_control_set) +
         win2000_other_registry + "\ndevice " + ids.mouse + "\\6&2a0f3c51&0&2 " + ids.mouse_rev +
         " " + ids.mouse + "\n" + win2000_other_files;
}

// How model 0's installation differs between the machines.
struct model0_installation {
  const usb_spelling &ids;
  bool second_control_set;    // its service is in ControlSet002 as well
  std::string device_options; // of its device line
  std::string sys_options;    // of its driver file
  std::string inf_options;    // of its OEM INF copy
};

// Model 0 as its installation leaves it: the device instance, the modem class driver key
// naming the OEM INF copy, the service in each control set, the driver and INF files.
static std::string win2000_model0(const model0_installation &m) {
  const usb_spelling &ids = m.ids;
  const std::string instance = std::string(ids.model0) + "\\5&1a2b3c4d&0&1";
  const std::string second_set = R"(
  [HKEY_LOCAL_MACHINE\SYSTEM\ControlSet002\Services\Q40PUCOM]
  "Type"=dword:00000001
  "Start"=dword:00000003
  [HKEY_LOCAL_MACHINE\SYSTEM\ControlSet002\Services\Q40PUCOM\Enum]
  "Count"=dword:00000000
)";
  return R"(
registry
  [HKEY_LOCAL_MACHINE\SYSTEM\ControlSet001\Control\Class\{4D36E96D-E325-11CE-BFC1-08002BE10318}\0001]
  "DriverDesc"="QUENDALQ40 PRO USBPort Adapter"
  "MatchingDeviceId"="usb\\vid_1e7a&pid_0080"
  "InfPath"="oem3.inf"
  "InfSection"="USB_TA"
  [HKEY_LOCAL_MACHINE\SYSTEM\ControlSet001\Services\Q40PUCOM]
  "Type"=dword:00000001
  "Start"=dword:00000003
  "ErrorControl"=dword:00000001
  "ImagePath"=hex(2):53,79,73,74,65,6d,33,32,5c,44,52,49,56,45,52,53,5c,51,34,30,50,55,43,4f,\
    4d,2e,53,59,53,00
  [HKEY_LOCAL_MACHINE\SYSTEM\ControlSet001\Services\Q40PUCOM\Enum]
  "0"=")" +
         reg_string(instance) + R"("
  "Count"=dword:00000001
)" + (m.second_control_set ? second_set : std::string()) +
         R"(
device )" +
         instance + " " + ids.model0_rev + " " + ids.model0 +
         R"( driver={4D36E96D-E325-11CE-BFC1-08002BE10318}\0001 )" + m.device_options + R"(
file %WINDIR%\inf\MDMKORT3.INF
file %WINDIR%\inf\MDMKORT3.PNF
file %WINDIR%\system32\drivers\Q40PUCOM.SYS )" +
         m.sys_options + R"(
inf oem3.inf )" +
         m.inf_options + R"(
  [Version]
  Signature="$Windows NT$"
  Class=Modem
  ClassGUID={4D36E96D-E325-11CE-BFC1-08002BE10318}
  [USBTA]
  "QUENDALQ40 PRO USBPort Adapter" = USB_TA,USB\Vid_1E7A&Pid_0080
file %WINDIR%\inf\oem3.PNF
)";
}

// The failing machine: no write access to the modem class key, the driver file held open by a
// program without delete sharing (deleting it fails with a sharing violation, so it is deleted
// at restart); the OEM INF copy is read-only, which the uninstaller handles.
static const char win2000_failures[] = R"(
deny-key SYSTEM\ControlSet001\Control\Class\{4D36E96D-E325-11CE-BFC1-08002BE10318} write
)";

// ---- Windows 7 --------------------------------------------------------------------------

// The win2000 machine as Windows 7 keeps it: its device data spelled as Vista to 11 write it,
// and each OEM INF copy the published name of a driver package in the driver store, which the
// uninstall of the copy removes with it.
static const char win7_platform[] = R"(platform nt 6.1 7601
)";

static const char win7_packages[] = R"(
package oem1.inf othervendorusbmodem.inf_x86_neutral_8d2c41f09a3b7e65
package oem3.inf q40pusb.inf_x86_neutral_3f2a1c0d4b5e6f70
)";

// ---- Windows 11 -------------------------------------------------------------------------

// Windows 11 as the adapter leaves it while a program has its port open: Windows cannot stop
// the device, so its removal asks for a restart, and its driver stays loaded, so Windows 11
// refuses to delete the driver's file. Device data spelled as Vista to 11 write it, one control
// set, the OEM INF copies published from driver packages in the 64-bit store.
static const char win11_platform[] = R"(platform nt 10.0 22631
)";

static const char win11_packages[] = R"(
package oem1.inf othervendorusbmodem.inf_amd64_8d2c41f09a3b7e65
package oem3.inf q40pusb.inf_amd64_3f2a1c0d4b5e6f70
)";

// ---- Windows 98 -------------------------------------------------------------------------

// Spelled as Windows 98 writes it: Configuration Manager keeps device ids in capitals
// (Enum\USB\VID_1E7A&PID_0080\<instance>), and "HardwareID" is one string, the ids joined by
// commas.

static const char win98_platform[] = R"(platform win98 4.10 0x040A08AE
)";

static const char win98_other_hardware[] = R"(
registry
  [HKEY_LOCAL_MACHINE\Enum\USB\VID_046D&PID_C00E\6&10E2A3&0&1]
  "Class"="HID"
  "HardwareID"="USB\\VID_046D&PID_C00E&REV_1110,USB\\VID_046D&PID_C00E"
  "Driver"="HID\\0000"
  [HKEY_LOCAL_MACHINE\Enum\Root\Ports\0000]
  "DeviceDesc"="Communications Port"
  "PortName"="COM1"
  "Driver"="Ports\\0000"
  [HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\HID\0000]
  "DriverDesc"="USB Human Interface Device"
  [HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\Ports\0000]
  "DriverDesc"="Communications Port"
  [HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\Modem\0000]
  "DriverDesc"="標準モデム"
  "InfPath"="MDMGEN.INF"
  [HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\VxD\VCOMM]
  "StaticVxD"="*vcomm"
  [HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\VxD\SERIAL]
  "StaticVxD"="serial.vxd"
  [HKEY_LOCAL_MACHINE\System\CurrentControlSet\control\VMM32Files]
  "serial.vxd"=hex:

file C:\WINDOWS\SYSTEM\SERIAL.VXD
file C:\WINDOWS\INF\MDMGEN.INF
file C:\WINDOWS\INF\MDMGEN.PNF
file C:\WINDOWS\INF\OTHER\OtherVendorUSB.INF
)";

static const char win98_model0[] = R"(
registry
  [HKEY_LOCAL_MACHINE\Enum\USB\VID_1E7A&PID_0080\7&2B3C1A&0&1]
  "Class"="Modem"
  "DeviceDesc"="QuendalQ40 PRO For USB"
  "HardwareID"="USB\\VID_1E7A&PID_0080&REV_0100,USB\\VID_1E7A&PID_0080"
  "Driver"="Modem\\0001"
  [HKEY_LOCAL_MACHINE\Enum\Root\Ports\0001]
  "DeviceDesc"="QUENDALQ40 PRO USBPort Adapter"
  "PortName"="COM3"
  "Driver"="Ports\\0001"
  [HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\Modem\0001]
  "DriverDesc"="QuendalQ40 PRO For USB"
  [HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\Ports\0001]
  "DriverDesc"="QUENDALQ40 PRO USBPort Adapter"
  [HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\VxD\Q40PPORT]
  "StaticVxD"="Q40PPORT.VxD"
  [HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\VxD\Q40PSV1]
  "StaticVxD"="Q40PSV1.VxD"
  [HKEY_LOCAL_MACHINE\System\CurrentControlSet\control\VMM32Files]
  "Q40PPORT.VxD"=hex:
  "Q40PSV1.VxD"=hex:

file C:\WINDOWS\SYSTEM\Q40PPORT.VxD
file C:\WINDOWS\SYSTEM\Q40PSV1.VxD
file C:\WINDOWS\SYSTEM\Q40PUSB.SYS
file C:\WINDOWS\INF\Q40PUSB.INF
file C:\WINDOWS\INF\Q40PCOM.INF
file C:\WINDOWS\INF\OTHER\DORVEXA-DORVEXBQ40PUSB.INF
file C:\WINDOWS\INF\OTHER\DORVEXA-DORVEXBQ40PCOM.INF
file C:\WINDOWS\INF\Q40PUSB.PNF
file C:\WINDOWS\INF\Q40PCOM.PNF
)";

static const char win98_model1[] = R"(
registry
  [HKEY_LOCAL_MACHINE\Enum\USB\VID_1E7A&PID_0030\7&1F00A2&0&2]
  "Class"="Modem"
  "DeviceDesc"="QuendalQ-40 For USB"
  "HardwareID"="USB\\VID_1E7A&PID_0030&REV_0100,USB\\VID_1E7A&PID_0030"
  "Driver"="Modem\\0002"
  [HKEY_LOCAL_MACHINE\Enum\Root\Ports\0002]
  "DeviceDesc"="QUENDALQ-40 USBPort Adapter"
  "PortName"="COM4"
  "Driver"="Ports\\0002"
  [HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\Modem\0002]
  "DriverDesc"="QuendalQ-40 For USB"
  [HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\Ports\0002]
  "DriverDesc"="QUENDALQ-40 USBPort Adapter"
  [HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\VxD\Q40PORT]
  "StaticVxD"="Q40PORT.VxD"
  [HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\VxD\Q40SV1]
  "StaticVxD"="Q40SV1.VxD"
  [HKEY_LOCAL_MACHINE\System\CurrentControlSet\control\VMM32Files]
  "Q40PORT.VxD"=hex:
  "Q40SV1.VxD"=hex:

file C:\WINDOWS\SYSTEM\Q40PORT.VxD
file C:\WINDOWS\SYSTEM\Q40SV1.VxD
file C:\WINDOWS\SYSTEM\Q40USB.SYS
file C:\WINDOWS\INF\Q40USB.INF
file C:\WINDOWS\INF\Q40COM.INF
file C:\WINDOWS\INF\Q40USBLY.INF
file C:\WINDOWS\INF\OTHER\DVXQ40USB.INF
file C:\WINDOWS\INF\OTHER\DORVEXA-DORVEXBQ40USB.INF
file C:\WINDOWS\INF\OTHER\DVXQ40COM.INF
file C:\WINDOWS\INF\OTHER\DORVEXA-DORVEXBQ40COM.INF
file C:\WINDOWS\INF\Q40USBLY.PNF
file C:\WINDOWS\INF\Q40USB.PNF
file C:\WINDOWS\INF\Q40COM.PNF
)";

static std::vector<builtin_machine> all_builtin_machines() {
  // win2000, clean-win2000 and win2000-failing follow the spelling of Windows 2000 and XP,
  // win7 and win11 that of Vista to 11, win98 and clean-win98 that of Windows 98.
  std::vector<builtin_machine> machines = {
      {"win2000", "Windows 2000 with QuendalQ40 PRO For USB installed (the default)",
       nt_machine(win2000_platform, "C:\\WINNT",
                  win2000_other_hardware(win2000_xp_ids, true) +
                      win2000_model0({win2000_xp_ids, true, "", "", ""}))},
      {"win98", "Windows 98 SE with QuendalQ40 PRO and QuendalQ-40 For USB installed",
       std::string(win98_platform) + win98_other_hardware + win98_model0 + win98_model1},
      {"clean-win2000", "Windows 2000 with other hardware only",
       nt_machine(win2000_platform, "C:\\WINNT", win2000_other_hardware(win2000_xp_ids, true))},
      {"clean-win98", "Windows 98 SE with other hardware only",
       std::string(win98_platform) + win98_other_hardware},
      {"win7", "Windows 7 with QuendalQ40 PRO For USB installed from its driver package",
       nt_machine(win7_platform, "C:\\Windows",
                  win2000_other_hardware(vista_to_11_ids, true) +
                      win2000_model0({vista_to_11_ids, true, "", "", ""}) + win7_packages)},
      {"win2000-failing",
       "the win2000 machine with the modem class key not writable and the driver file held open",
       nt_machine(win2000_platform, "C:\\WINNT",
                  win2000_other_hardware(win2000_xp_ids, true) +
                      win2000_model0({win2000_xp_ids, true, "", "delete-error=32", "read-only"}) +
                      win2000_failures)},
      {"win11",
       "Windows 11 with QuendalQ40 PRO For USB installed, its driver loaded and its port open",
       nt_machine(win11_platform, "C:\\Windows",
                  win2000_other_hardware(vista_to_11_ids, false) +
                      win2000_model0({vista_to_11_ids, false, "removed-at-restart", "loaded", ""}) +
                      win11_packages)},
  };
  for (builtin_machine &m : embedded_snapshot_machines())
    machines.push_back(std::move(m));
  return machines;
}

const std::vector<builtin_machine> &builtin_machines() {
  static const std::vector<builtin_machine> machines = all_builtin_machines();
  return machines;
}

const builtin_machine *find_builtin_machine(const std::string &name) {
  for (const builtin_machine &m : builtin_machines())
    if (name == m.name)
      return &m;
  return nullptr;
}

// ---- Snapshots ----------------------------------------------------------------------------

static bool write_file(const fs::path &path, const builtin_file &file, std::string &problem) {
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  std::ofstream out(path, std::ios::binary);
  out.write(file.bytes, static_cast<std::streamsize>(file.size));
  out.close();
  if (ec || !out) {
    problem = "cannot write " + path.string() + (ec ? ": " + ec.message() : std::string());
    return false;
  }
  return true;
}

static void remove_unpacked(const std::string &folder) {
  std::error_code ec;
  fs::remove_all(folder, ec);
}

// Writes the snapshot into a new folder below the temporary directory, as snapshot.bat wrote
// it on its machine.
static bool unpack(const builtin_machine &machine, std::string &folder, std::string &problem) {
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  if (ec) {
    problem = "no temporary folder to unpack it into: " + ec.message();
    return false;
  }
  std::string pattern = (base / "uninstall-sim-XXXXXX").string();
  errno = 0;
  if (!mkdtemp(pattern.data())) {
    problem = "cannot make a folder in " + base.string() + ": " + std::strerror(errno);
    return false;
  }
  folder = pattern;
  for (const builtin_file &file : machine.snapshot)
    if (!write_file(fs::path(folder) / file.path, file, problem)) {
      remove_unpacked(folder);
      return false;
    }
  return true;
}

// Every mention of `from` in `text` replaced by `to`.
static std::string replaced(std::string text, const std::string &from, const std::string &to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

bool read_builtin_snapshot(const builtin_machine &machine, machine_description &description,
                           load_error &error) {
  std::string folder, problem;
  if (!unpack(machine, folder, problem)) {
    error = load_error{machine.name, 0, "cannot be unpacked: " + problem, ""};
    return false;
  }
  bool loaded = read_snapshot(folder, description, error);
  remove_unpacked(folder);
  for (load_error &w : description.warnings) {
    w.file = replaced(w.file, folder, machine.name);
    w.what = replaced(w.what, folder, machine.name);
  }
  error.file = replaced(error.file, folder, machine.name);
  description.source = replaced(description.source, folder, machine.name);
  // The unpacked folder is gone: no output can overwrite it.
  description.inputs.clear();
  return loaded;
}
