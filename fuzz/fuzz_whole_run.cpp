// Whole runs on a machine decoded from the input: registry names and data of any length and
// type (strings without terminators, multi-strings cut anywhere), files of any name, OEM INF
// copies with lines of any length, devices with any hardware-id bytes, faults and answers.
// Every run must pass the reliability checks of the property test; a failing one prints the
// C++ that repeats it.
#include "tests/reliability_support.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct input {
  const uint8_t *data;
  size_t size;
  size_t at = 0;
  bool empty() const { return at >= size; }
  unsigned byte() { return at < size ? data[at++] : 0; }
  // A length-prefixed run of bytes, at most `limit` long (lengths above 255 from two bytes).
  std::string bytes(size_t limit) {
    size_t length = byte();
    if (length == 255)
      length += byte() * 8;
    length = std::min({length, limit, size - std::min(at, size)});
    std::string out(reinterpret_cast<const char *>(data + at), length);
    at += length;
    return out;
  }
};

const char *const nt_keys[] = {
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0000",
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}\\0001",
    "SYSTEM\\ControlSet001\\Services",
    "SYSTEM\\ControlSet001\\Services\\Q40PUCOM",
    "SYSTEM\\ControlSet002\\Services",
    "SYSTEM\\ControlSet002\\Services\\Q4UCOM\\Enum",
};
const char *const win98_keys[] = {
    "Enum\\USB\\VID_1E7A&PID_0080\\5&1A2B&0&1", // as Windows 98 writes them
    "Enum\\USB\\VID_1E7A&PID_0030",
    "Enum\\Root\\Ports\\0000",
    "Enum\\Root\\Ports\\0001",
    "System\\CurrentControlSet\\control\\VMM32Files",
    "System\\CurrentControlSet\\Services\\VxD",
    "System\\CurrentControlSet\\Services\\Class\\Modem\\0000",
};
const char *const value_names[] = {"MatchingDeviceId", "InfPath",      "Driver",
                                   "DeviceDesc",       "Q40PPORT.VxD", "Q-4SV1.VXD"};
const char *const nt_folders[] = {"C:\\WINDOWS\\inf", "C:\\WINDOWS\\system32\\drivers",
                                  "C:\\WINDOWS\\system32", "C:\\WINDOWS\\inf\\OTHER"};
const char *const win98_folders[] = {"C:\\WINDOWS\\INF", "C:\\WINDOWS\\SYSTEM",
                                     "C:\\WINDOWS\\INF\\OTHER"};
const char *const functions[] = {"RegOpenKeyExA",
                                 "RegCloseKey",
                                 "RegEnumKeyExA",
                                 "RegDeleteKeyA",
                                 "RegEnumValueA",
                                 "RegDeleteValueA",
                                 "SetupDiEnumDeviceInfo",
                                 "SetupDiGetDeviceRegistryPropertyA",
                                 "SetupDiCallClassInstaller",
                                 "SetupOpenInfFileA",
                                 "SetupGetLineTextA",
                                 "GetWindowsDirectoryA",
                                 "SetFileAttributesA",
                                 "DeleteFileA",
                                 "LocalAlloc",
                                 "FreeLibrary"};

template <size_t N> const char *pick(const char *const (&list)[N], unsigned byte) {
  return list[byte % N];
}

std::string name_from(input &in, size_t limit) {
  std::string name = in.bytes(limit);
  for (char &c : name)
    if (c == 0)
      c = '_';
  return name;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  input in{data, size};
  reliability::machine_plan plan;
  unsigned head = in.byte();
  bool win98 = head & 1;
  static const char *const tails[] = {"", "--complete", "-C", "--default", "-D"};
  plan.command_tail = win98 ? "" : tails[(head >> 1) % 5];
  reliability::start_machine(plan, win98);
  for (int op = 0; op < 48 && !in.empty(); ++op) {
    unsigned kind = in.byte();
    switch (kind % 8) {
    case 0: { // a value of any type, name and data
      std::string key = win98 ? pick(win98_keys, in.byte()) : pick(nt_keys, in.byte());
      unsigned how = in.byte();
      std::string name = how & 1 ? pick(value_names, how >> 1) : in.bytes(300);
      DWORD type = in.byte() % 12;
      reliability::set_value(plan, key, name, type, in.bytes(700));
      break;
    }
    case 1: { // a key of any name below a scanned key
      std::string parent = win98 ? pick(win98_keys, in.byte()) : pick(nt_keys, in.byte());
      std::string name = name_from(in, 300);
      reliability::add_key(plan, name.empty() ? parent : parent + "\\" + name);
      break;
    }
    case 2: { // a file of any name in a folder the program looks into
      std::string folder = win98 ? pick(win98_folders, in.byte()) : pick(nt_folders, in.byte());
      std::string name = name_from(in, 300);
      unsigned attributes = in.byte() & 1 ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_ARCHIVE;
      if (!name.empty())
        reliability::add_file(plan, folder + "\\" + name, attributes);
      break;
    }
    case 3: { // an OEM INF copy with any text, often with the section and key the step reads
      unsigned number = in.byte() % 100;
      unsigned how = in.byte();
      std::string text;
      if (how & 1)
        text = "[Version]\r\nSignature=\"$Windows NT$\"\r\n";
      if (how & 2)
        text += "[USBTA]\r\nQUENDALQ40 PRO USBPort Adapter=";
      text += in.bytes(4000);
      reliability::add_file(plan,
                            std::string(win98 ? "C:\\WINDOWS\\INF" : "C:\\WINDOWS\\inf") + "\\OEM" +
                                std::to_string(number) + ".inf",
                            FILE_ATTRIBUTE_ARCHIVE, text);
      break;
    }
    case 4: { // a device with any hardware-id bytes
      sim::device d;
      d.instance_id = "USB\\FUZZ\\" + std::to_string(op);
      unsigned how = in.byte();
      d.has_hardware_ids = how & 1;
      d.present = how & 2;
      d.remove_error = how & 4 ? ERROR_ACCESS_DENIED : 0;
      d.hardware_ids = in.bytes(600);
      if (how & 8) // model 0's id as Windows 2000, the machine played, writes it
        d.hardware_ids = "USB\\Vid_1e7a&Pid_0080" + std::string(1, '\0') + d.hardware_ids;
      reliability::add_device(plan, d);
      break;
    }
    case 5: { // a fault
      sim::fault f;
      f.function = pick(functions, in.byte());
      f.error = in.byte() % 2 ? ERROR_ACCESS_DENIED : in.byte();
      f.nth = 1 + static_cast<int>(in.byte() % 64);
      f.times = 1;
      reliability::add_fault(plan, f);
      break;
    }
    case 7: { // Windows and system directories of any length below C:
      std::string windows = "C:\\" + name_from(in, 300);
      std::string system = windows + "\\" + name_from(in, 40);
      reliability::set_directories(plan, windows, system);
      break;
    }
    default: { // a key the program deletes, with subkeys
      std::string base = win98 ? std::string("System\\CurrentControlSet\\Services\\VxD\\Q40PSV1")
                               : std::string("SYSTEM\\ControlSet001\\Services\\Q40UCOM");
      reliability::add_key(plan, base + "\\" + name_from(in, 40));
    }
    }
  }
  reliability::snapshot before = reliability::take_snapshot(plan);
  reliability::run_record run = reliability::run_uninstaller(
      plan, [&in](const sim::box &) { return in.empty() || (in.byte() & 3) ? IDOK : IDCANCEL; });
  std::vector<std::string> problems = reliability::check_run(plan, before, run);
  if (!problems.empty()) {
    for (const std::string &p : problems)
      std::fprintf(stderr, "%s\n", p.c_str());
    std::fprintf(stderr, "To repeat it:\n%s", reliability::reproduction(plan, run).c_str());
    abort();
  }
  return 0;
}
