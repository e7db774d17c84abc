// Windows 2000 scenarios: a model's whole installation on the simulated machine, the
// neighbouring entries that must survive every run, and where each of them lies.
#pragma once

#include "core/binding.h"
#include "core/run_state.h"
#include "core/texts.h"
#include "tests/spelling.h"
#include "tests/support.h"

#include <string>
#include <vector>

namespace nt {

// Runs one step with the Windows 2000 functions bound, as the sequence does.
template <typename Step> auto bound_call(Step step) {
  EXPECT_EQ(bind_nt_functions(), 1);
  auto result = step();
  EXPECT_EQ(unbind_nt_functions(), 1);
  return result;
}
template <typename Step> void bound_run(Step step) {
  bound_call([&] {
    step();
    return 0;
  });
}

extern const char windows_directory[]; // C:\WINDOWS
extern const char system_directory[];  // C:\WINDOWS\system32
extern const char inf_directory[];     // C:\WINDOWS\inf
extern const char drivers_directory[]; // C:\WINDOWS\system32\drivers
extern const char modem_class_key[];   // SYSTEM\ControlSet001\Control\Class\{4D36E96D-...}

std::string inf_path(const std::string &name);    // in the Windows INF folder
std::string driver_path(const std::string &name); // in system32\drivers
std::string services_key(int control_set);        // 0: CurrentControlSet, else ControlSetNNN
std::string service_key(int control_set, int model);
std::string driver_key(int model); // the modem class driver key of the model
// The instance id of its adapter, as the Windows version that `s` names writes it.
std::string device_instance(int model, spelling s = spelling::win2000_xp);
std::string oem_inf_name(int model);            // oem<5+model>.inf, named by "InfPath"
std::string usbta_inf(const std::string &line); // an OEM INF whose USBTA line is `line`
std::string usbta_line(int model);              // "USB_TA, " + the model's hardware id
std::string sys_file(int model);                // the driver, in system32\drivers
std::string win98_file(int model, int slot);    // where Windows 98 puts a listed file

// Every piece an installation on Windows 2000 (or the version `s` names) leaves: a device
// instance (with the model's id second in its list), the modem class driver key, the service
// key with an Enum subkey in ControlSet001 (= CurrentControlSet) and ControlSet002, the driver
// SYS file (read-only), the modem INF pair and the OEM INF copy with its PNF.
void install_model(int model, spelling s = spelling::win2000_xp);
void install_control_set(int number); // SYSTEM\ControlSetNNN\Services
// Entries next to the real ones that share a class, a folder, a prefix or a name with them.
void install_decoys();
void expect_decoys_intact();
// The device, service keys and files are gone; nothing of the installation was taken away.
void expect_model_removed(int model, spelling s = spelling::win2000_xp);
void expect_model_intact(int model, spelling s = spelling::win2000_xp);

// Boxes of the run.
extern const expected_box consent_box;
extern const expected_box completed_box;
extern const expected_box restart_box;
expected_box not_installed_box(int model);
expected_box question_box(int model);
expected_box error_box(DWORD code, const char *caption);

struct flags {
  int device, service, files, oem_inf;
};
flags model_flags(int model);
void expect_flags(int model, flags expected);

} // namespace nt
