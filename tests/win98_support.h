// Windows 98 scenarios: a model's whole installation on the simulated Windows 98 machine, the
// neighbouring entries that must survive every run, and where each of them lies.
#pragma once

#include "core/binding.h"
#include "core/hosted/reset.h"

#include <gtest/gtest.h>

#include <string>

namespace win98 {

// Runs one step with the Windows 98 functions bound, as the sequence does.
template <typename Step> auto bound_call(Step step) {
  EXPECT_EQ(bind_win98_functions(), 1);
  auto result = step();
  EXPECT_EQ(unbind_win98_functions(), 1);
  return result;
}

extern const char windows_directory[]; // C:\WINDOWS
extern const char system_directory[];  // C:\WINDOWS\SYSTEM
extern const char inf_directory[];     // C:\WINDOWS\INF
extern const char ports_key[];         // Enum\Root\Ports
extern const char vmm32files_key[];    // System\CurrentControlSet\control\VMM32Files

std::string class_key(const std::string &driver); // the class branch + "Modem\0000"
std::string vxd_key(const std::string &name);     // the VxD branch + name
std::string enum_key(int model);            // "Enum\" + the device id, as Windows 98 writes it
std::string device_instance_key(int model); // the model's one device instance
std::string port_instance_key(int model);   // Enum\Root\Ports\000<model>
std::string device_driver(int model);       // "Modem\000<model>"
std::string port_driver(int model);         // "Ports\000<model>"
std::string port_description(int model);    // the prefix + " USB Port"
// Where a catalogue file lies on the machine: system directory or INF folder.
std::string file_path(int model, int slot);

// Everything a model's installation leaves: the Enum key with one instance and its class key,
// a port instance under Enum\Root\Ports with its class key, the two VMM32Files values, the two
// VxD service keys and every listed file.
void install_model(int model);
void install_files(int model);
void install_port(const std::string &instance, const std::string &description,
                  const std::string &driver);
// Entries next to the real ones that share a class, a folder, a prefix or a name with them.
void install_decoys();
void expect_decoys_intact();
void expect_model_removed(int model);
void expect_model_intact(int model);

} // namespace win98
