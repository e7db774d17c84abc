// Whole runs of both families on large machines: N device instances, N subkeys under every key
// the program walks, and 100 OEM INF copies; a registry of N keys; and the rehearsal tool's
// loading and export of such machines. Reports the time per run (and the number of platform
// calls per run); each must grow linearly in N (the fitted complexity is printed).
#include "core/catalogue.h"
#include "core/entry.h"
#include "core/hosted/reset.h"
#include "sim/sim.h"
#include "tests/spelling.h"
#include "tools/machine_file.h"
#include "tools/reg_file.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

const char modem_class[] =
    "SYSTEM\\ControlSet001\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}";

std::string numbered(const char *prefix, int n) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%04d", n);
  return prefix + std::string(digits);
}

// Windows 2000: n device instances (every hundredth one model 0's), n modem class driver keys,
// n service keys in each of two control sets, model 0 installed, 100 OEM INF copies of which
// every tenth names model 0. Device data spelled as Windows 2000 writes it.
void build_nt_machine(int n) {
  sim::machine_win2000();
  sim::reg_add_key("SYSTEM\\ControlSet002\\Services");
  const std::string id = spelled::device_id(0, spelling::win2000_xp);
  for (int i = 0; i < n; ++i) {
    bool model = i % 100 == 0;
    if (model)
      sim::device_add(spelled::instance_path(0, spelling::win2000_xp, numbered("5&1a2b&0&", i)),
                      {spelled::revision_id(0, spelling::win2000_xp), id});
    else
      sim::device_add(numbered("PCI\\VEN_8086&DEV_", i) + "\\3&1",
                      {numbered("PCI\\VEN_8086&DEV_", i), "PCI\\CC_0200"});
    std::string driver = std::string(modem_class) + "\\" + numbered("", i);
    sim::reg_set_string(driver, "InfPath", "oem" + std::to_string(i % 100) + ".inf");
    sim::reg_set_string(driver, "MatchingDeviceId",
                        model ? spelled::matching_device_id(0) : "usb\\vid_0000&pid_0000");
    for (int set : {1, 2})
      sim::reg_set_dword("SYSTEM\\ControlSet00" + std::to_string(set) + "\\Services\\" +
                             numbered("Service", i),
                         "Start", 3);
  }
  for (int set : {1, 2})
    sim::reg_set_dword("SYSTEM\\ControlSet00" + std::to_string(set) + "\\Services\\" +
                           model_nt_service_name(0),
                       "Start", 3);
  sim::file_add(std::string("C:\\WINDOWS\\system32\\drivers\\") + model_nt_file(0, 0));
  for (int k = 0; k < 100; ++k) {
    std::string line = k % 10 == 0 ? "USB_TA," + std::string(model_hardware_id(0))
                                   : "USB_TA,USB\\Vid_0000&Pid_0000";
    sim::inf_add("oem" + std::to_string(k) + ".inf",
                 "[Version]\r\nSignature=\"$Windows NT$\"\r\n[USBTA]\r\n"
                 "QUENDALQ40 PRO USBPort Adapter=" +
                     line + "\r\n");
  }
}

// Windows 98: n instances under model 0's Enum key and n port instances (every hundredth one
// model 0's), each naming a driver key, and model 0's VxD entries and files. The Enum key as
// Windows 98 writes it.
void build_win98_machine(int n) {
  sim::machine_win98();
  std::string id = spelled::device_id(0, spelling::win98);
  for (int i = 0; i < n; ++i) {
    std::string instance = "Enum\\" + id + "\\" + numbered("5&", i);
    sim::reg_set_string(instance, "Driver", numbered("Modem\\", i));
    sim::reg_set_string(numbered("System\\CurrentControlSet\\Services\\Class\\Modem\\", i),
                        "DriverDesc", "Modem");
    std::string port = numbered("Enum\\Root\\Ports\\", i);
    sim::reg_set_string(port, "DeviceDesc",
                        i % 100 == 0 ? "QUENDALQ40 PRO USB Port" : "Communications Port");
    sim::reg_set_string(port, "Driver", numbered("Ports\\", i));
    sim::reg_set_string(numbered("System\\CurrentControlSet\\Services\\Class\\Ports\\", i),
                        "PortName", "COM1");
  }
  sim::reg_set_string("System\\CurrentControlSet\\control\\VMM32Files", model_win98_file(0, 0), "");
  for (int slot = 0; slot < WIN98_FILE_SLOTS; ++slot)
    if (model_win98_file(0, slot)[0] != 0)
      sim::file_add(std::string(slot < 3 ? "C:\\WINDOWS\\SYSTEM\\" : "C:\\WINDOWS\\INF\\") +
                    model_win98_file(0, slot));
}

void whole_run(benchmark::State &state, void (*build)(int), const char *command_tail) {
  int n = static_cast<int>(state.range(0));
  size_t calls = 0;
  for (auto _ : state) {
    state.PauseTiming();
    build(n);
    reset_process_state();
    sim::set_user([](const sim::box &) { return IDOK; });
    size_t first = sim::calls().size();
    state.ResumeTiming();
    benchmark::DoNotOptimize(uninstaller_main(command_tail));
    state.PauseTiming();
    calls = sim::calls().size() - first;
    state.ResumeTiming();
  }
  state.counters["platform_calls"] = static_cast<double>(calls);
  state.counters["calls_per_instance"] = static_cast<double>(calls) / n;
  state.SetComplexityN(n);
}

void windows_2000_complete_run(benchmark::State &state) {
  whole_run(state, build_nt_machine, "--complete");
}
void windows_98_run(benchmark::State &state) {
  whole_run(state, build_win98_machine, "");
}

// Windows 2000 with n registry keys: n/2 services in each of two control sets, all named to
// come before the model's service, so that the complete removal walks both whole lists;
// model 0 installed.
void build_registry_machine(int n) {
  build_nt_machine(1);
  for (int i = 0; i < n / 2; ++i)
    for (int set : {1, 2})
      sim::reg_set_dword("SYSTEM\\ControlSet00" + std::to_string(set) + "\\Services\\" +
                             numbered("Aux", i),
                         "Start", 3);
}

void windows_2000_registry_run(benchmark::State &state) {
  whole_run(state, build_registry_machine, "--complete");
}

// uninstall-sim's loading of a machine file with n device lines.
void machine_file_load(benchmark::State &state) {
  int n = static_cast<int>(state.range(0));
  std::string text = "platform nt 5.0 2195\n";
  for (int i = 0; i < n; ++i)
    text += "device " + numbered("PCI\\VEN_8086&DEV_", i) + "\\3&1 " +
            numbered("PCI\\VEN_8086&DEV_", i) + " PCI\\CC_0200\n";
  for (auto _ : state) {
    machine_description machine;
    load_error error;
    if (!read_machine_text(text, "bench.machine", "", machine, error))
      state.SkipWithError(describe(error).c_str());
    apply_machine(machine);
  }
  state.SetComplexityN(n);
}

// The registry of build_registry_machine(n) as a .reg file, read and applied.
void reg_file_load(benchmark::State &state) {
  int n = static_cast<int>(state.range(0));
  build_registry_machine(n);
  std::string bytes, problem;
  write_reg(reg_format_regedit4, bytes, problem);
  for (auto _ : state) {
    state.PauseTiming();
    sim::machine_win2000();
    state.ResumeTiming();
    reg_format format;
    std::vector<reg_op> ops;
    load_error error;
    if (!read_reg_text(bytes, "bench.reg", format, ops, error))
      state.SkipWithError(describe(error).c_str());
    apply_reg(ops);
  }
  state.SetComplexityN(n);
}

void reg_file_export(benchmark::State &state) {
  int n = static_cast<int>(state.range(0));
  build_registry_machine(n);
  for (auto _ : state) {
    std::string bytes, problem;
    benchmark::DoNotOptimize(write_reg(reg_format_regedit5, bytes, problem));
  }
  state.SetComplexityN(n);
}

// Each case at two or three sizes, a factor of ten apart: the time must grow tenfold.
const struct {
  const char *name;
  void (*run)(benchmark::State &);
  int64_t smallest;
  int sizes;
} cases[] = {{"windows_2000_complete_run", windows_2000_complete_run, 1000, 3},
             {"windows_98_run", windows_98_run, 1000, 3},
             {"windows_2000_registry_run", windows_2000_registry_run, 100000, 2},
             {"machine_file_load", machine_file_load, 10000, 2},
             {"reg_file_load", reg_file_load, 100000, 2},
             {"reg_file_export", reg_file_export, 100000, 2}};

int register_cases() {
  for (const auto &c : cases) {
    benchmark::internal::Benchmark *b = benchmark::RegisterBenchmark(c.name, c.run);
    for (int64_t n = c.smallest, i = 0; i < c.sizes; ++i, n *= 10)
      b->Arg(n);
    b->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);
  }
  return 0;
}
[[maybe_unused]] const int registered = register_cases();

} // namespace

BENCHMARK_MAIN();
