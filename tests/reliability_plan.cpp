// Randomness, the machine builders and the record they keep, printed as C++ that rebuilds the
// machine; and the text helpers and names the other parts share.
#include "tests/reliability_internal.h"

#include "core/catalogue.h"

#include <cctype>
#include <cstdio>

namespace reliability {

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

// ---- Shared pieces ----------------------------------------------------------------------

std::string upper(std::string s) {
  for (char &c : s)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string lower(std::string s) {
  for (char &c : s)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool ieq(const std::string &a, const std::string &b) {
  return upper(a) == upper(b);
}

bool at_or_below(const std::string &path, const std::string &root) {
  std::string p = upper(path), r = upper(root);
  return p == r || (p.size() > r.size() && p.compare(0, r.size(), r) == 0 && p[r.size()] == '\\');
}

std::string strip_hklm(const std::string &path) {
  static const std::string root = "HKEY_LOCAL_MACHINE\\";
  if (path.size() >= root.size() && ieq(path.substr(0, root.size()), root))
    return path.substr(root.size());
  return path;
}

std::vector<std::string> split(const std::string &path) {
  std::vector<std::string> parts(1);
  for (char c : path) {
    if (c == '\\')
      parts.emplace_back();
    else
      parts.back() += c;
  }
  return parts;
}

static std::string digits(int n, const char *format) {
  char text[16];
  snprintf(text, sizeof text, format, n);
  return text;
}

std::string three_digits(int n) {
  return digits(n, "%03d");
}

std::string four_digits(int n) {
  return digits(n, "%04d");
}

const char modem_class_path[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}";
const char usbta_key[] = "QUENDALQ40 PRO USBPort Adapter";
const char win98_class_prefix[] = "System\\CurrentControlSet\\Services\\Class\\";
const char win98_vxd_prefix[] = "System\\CurrentControlSet\\Services\\VxD\\";
const char win98_vmm32files[] = "System\\CurrentControlSet\\control\\VMM32Files";
const char win98_ports[] = "Enum\\Root\\Ports";

std::string nt_placement(int model, int slot) {
  std::string name = model_nt_file(model, slot);
  std::string kind = lower(name.substr(name.size() - 3));
  if (kind == "sys")
    return "C:\\WINDOWS\\system32\\drivers\\" + name;
  return "C:\\WINDOWS\\inf\\" + name;
}

std::string win98_placement(const std::string &windows, const std::string &system,
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

// ---- Builders ---------------------------------------------------------------------------

static void apply(const machine_step &s) {
  switch (s.kind) {
  case machine_step::win2000:
    return sim::machine_win2000();
  case machine_step::win98:
    return sim::machine_win98();
  case machine_step::key:
    (void)sim::reg_add_key(s.path);
    return;
  case machine_step::value:
    (void)sim::reg_set_value(s.path, s.name, s.number, s.data);
    return;
  case machine_step::string:
    (void)sim::reg_set_string(s.path, s.name, s.data);
    return;
  case machine_step::link:
    return sim::reg_add_link(s.path, s.name);
  case machine_step::key_deleted:
    return sim::reg_delete_key(s.path);
  case machine_step::file:
    return sim::file_add(s.path, s.number, s.data);
  case machine_step::folder:
    return sim::folder_add(s.path);
  case machine_step::device_instance:
    return sim::device_add(s.device);
  case machine_step::windows_directory:
    return sim::set_windows_directory(s.path);
  case machine_step::system_directory:
    return sim::set_system_directory(s.path);
  case machine_step::key_denied:
    return sim::reg_deny(s.path, s.number);
  case machine_step::attributes_denied:
    return sim::file_deny_attributes(s.path, s.number);
  case machine_step::delete_denied:
    return sim::file_deny_delete(s.path, s.number);
  case machine_step::file_loaded:
    return sim::file_loaded(s.path);
  case machine_step::nt_platform:
    sim::set_version(VER_PLATFORM_WIN32_NT, s.number >> 8, s.number & 0xFF, 2195);
    return sim::uninstall_oem_inf_as_wine(s.name == "wine");
  case machine_step::driver_package:
    return sim::driver_package_add(s.path, s.name, s.name.substr(0, s.name.find('_')), s.data);
  }
}

// Applies the step to the simulated machine and records it.
static void record(machine_plan &plan, machine_step::kind_t kind, const std::string &path,
                   const std::string &name = std::string(), const std::string &data = std::string(),
                   DWORD number = 0) {
  machine_step s{kind, path, name, data, number, sim::device()};
  apply(s);
  plan.steps.push_back(s);
}

void start_machine(machine_plan &plan, bool win98) {
  std::string tail = plan.command_tail;
  plan = machine_plan();
  plan.command_tail = tail;
  plan.win98 = win98;
  record(plan, win98 ? machine_step::win98 : machine_step::win2000, std::string());
}

void add_key(machine_plan &plan, const std::string &path) {
  record(plan, machine_step::key, path);
}

void set_value(machine_plan &plan, const std::string &path, const std::string &name, DWORD type,
               const std::string &data) {
  record(plan, machine_step::value, path, name, data, type);
}

void set_string(machine_plan &plan, const std::string &path, const std::string &name,
                const std::string &text) {
  record(plan, machine_step::string, path, name, text);
}

void add_link(machine_plan &plan, const std::string &alias, const std::string &target) {
  record(plan, machine_step::link, alias, target);
}

void delete_key(machine_plan &plan, const std::string &path) {
  record(plan, machine_step::key_deleted, path);
}

void add_file(machine_plan &plan, const std::string &path, DWORD attributes,
              const std::string &contents) {
  record(plan, machine_step::file, path, std::string(), contents, attributes);
}

void add_folder(machine_plan &plan, const std::string &path) {
  record(plan, machine_step::folder, path);
}

void add_device(machine_plan &plan, const sim::device &device) {
  machine_step s{machine_step::device_instance, "", "", "", 0, device};
  apply(s);
  plan.steps.push_back(s);
  plan.devices.push_back(device);
}

void set_directories(machine_plan &plan, const std::string &windows, const std::string &system) {
  record(plan, machine_step::windows_directory, windows);
  record(plan, machine_step::system_directory, system);
}

void deny_key(machine_plan &plan, const std::string &path, REGSAM mask) {
  record(plan, machine_step::key_denied, path, std::string(), std::string(), mask);
}

void deny_file_attributes(machine_plan &plan, const std::string &path, DWORD error) {
  record(plan, machine_step::attributes_denied, path, std::string(), std::string(), error);
}

void deny_file_delete(machine_plan &plan, const std::string &path, DWORD error) {
  record(plan, machine_step::delete_denied, path, std::string(), std::string(), error);
}

void load_driver_file(machine_plan &plan, const std::string &path) {
  record(plan, machine_step::file_loaded, path);
}

void add_fault(machine_plan &plan, const sim::fault &fault) {
  plan.faults.push_back(fault);
}

void set_nt_platform(machine_plan &plan, DWORD major, DWORD minor, bool wine) {
  record(plan, machine_step::nt_platform, "", wine ? "wine" : "", "", major << 8 | minor);
}

void add_driver_package(machine_plan &plan, const std::string &oem_inf, const std::string &folder,
                        const std::string &contents) {
  record(plan, machine_step::driver_package, oem_inf, folder, contents);
}

// ---- The record as C++ ------------------------------------------------------------------

// A C++ string literal of the bytes (octal escapes, so that no escape runs into the next
// character); wrapped in std::string(..., size) when the bytes hold a zero.
static std::string literal(const std::string &bytes) {
  std::string out = "\"";
  for (unsigned char c : bytes) {
    if (c == '\\' || c == '"' || c == '?') {
      out += '\\';
      out += static_cast<char>(c);
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

static std::string call(const std::string &function, const std::string &arguments) {
  return function + "(" + arguments + ");";
}

static std::string device_literal(const sim::device &d) {
  return "sim::device{" + literal(d.instance_id) + ", " + literal(d.hardware_ids) + ", " +
         (d.has_hardware_ids ? "true" : "false") + ", " + (d.present ? "true" : "false") + ", " +
         std::to_string(d.remove_error) + ", " + literal(d.driver) + ", " +
         std::to_string(d.remove_flags) + "}";
}

static std::string statement(const machine_step &s) {
  const std::string path = literal(s.path);
  const std::string number = std::to_string(s.number);
  switch (s.kind) {
  case machine_step::win2000:
    return call("sim::machine_win2000", "");
  case machine_step::win98:
    return call("sim::machine_win98", "");
  case machine_step::key:
    return call("sim::reg_add_key", path);
  case machine_step::value:
    return call("sim::reg_set_value",
                path + ", " + literal(s.name) + ", " + number + ", " + literal(s.data));
  case machine_step::string:
    return call("sim::reg_set_string", path + ", " + literal(s.name) + ", " + literal(s.data));
  case machine_step::link:
    return call("sim::reg_add_link", path + ", " + literal(s.name));
  case machine_step::key_deleted:
    return call("sim::reg_delete_key", path);
  case machine_step::file:
    return call("sim::file_add", path + ", " + number + ", " + literal(s.data));
  case machine_step::folder:
    return call("sim::folder_add", path);
  case machine_step::device_instance:
    return call("sim::device_add", device_literal(s.device));
  case machine_step::windows_directory:
    return call("sim::set_windows_directory", path);
  case machine_step::system_directory:
    return call("sim::set_system_directory", path);
  case machine_step::key_denied:
    return call("sim::reg_deny", path + ", " + number);
  case machine_step::attributes_denied:
    return call("sim::file_deny_attributes", path + ", " + number);
  case machine_step::delete_denied:
    return call("sim::file_deny_delete", path + ", " + number);
  case machine_step::file_loaded:
    return call("sim::file_loaded", path);
  case machine_step::nt_platform:
    return call("sim::set_version", "2, " + std::to_string(s.number >> 8) + ", " +
                                        std::to_string(s.number & 0xFF) + ", 2195") +
           " " + call("sim::uninstall_oem_inf_as_wine", s.name == "wine" ? "true" : "false");
  case machine_step::driver_package:
    return call("sim::driver_package_add", path + ", " + literal(s.name) + ", " +
                                               literal(s.name.substr(0, s.name.find('_'))) + ", " +
                                               literal(s.data));
  }
  return std::string();
}

std::string reproduction(const machine_plan &plan, const run_record &run) {
  std::string out;
  if (!plan.origin.empty())
    out += "  // " + plan.origin + "\n";
  for (const machine_step &s : plan.steps)
    out += "  " + statement(s) + "\n";
  for (const sim::fault &f : plan.faults)
    out += "  " +
           call("sim::fail", "sim::fault{" + literal(f.function) + ", " + std::to_string(f.error) +
                                 ", " + literal(f.subject) + ", " + std::to_string(f.nth) + ", " +
                                 std::to_string(f.times) + "}") +
           "\n";
  out += "  sim::answers({";
  for (size_t i = 0; i < run.answers.size(); ++i)
    out += (i ? ", " : "") + std::string(run.answers[i] == IDOK ? "IDOK" : "IDCANCEL");
  out += "});\n";
  out += "  reset_process_state();\n";
  out += "  EXPECT_EQ(uninstaller_main(" + literal(plan.command_tail) + "), 0);\n";
  return out;
}

} // namespace reliability
