// A model's USB device data as each Windows version writes it, for the machines of the tests,
// the fuzz targets and the benchmarks. The USB bus driver, not the maker's INF, writes the
// hardware ids, and the device's Enum key is named after the device id; setup writes the modem
// class entry's "MatchingDeviceId" in lower case. Never the catalogue's own spelling.
//
//   Windows 98        Enum\USB\VID_1E7A&PID_0080\<instance>; "HardwareID" is one string,
//                     the ids joined by commas (Configuration Manager keeps device ids in
//                     capitals)
//   Windows 2000, XP  USB\Vid_1e7a&Pid_0080&Rev_0100, USB\Vid_1e7a&Pid_0080 (hex digits in
//                     lower case); instance USB\Vid_1e7a&Pid_0080\5&1a2b3c4d&0&1
//   Vista to 11       USB\VID_1E7A&PID_0080&REV_0100, USB\VID_1E7A&PID_0080; instance
//                     USB\VID_1E7A&PID_0080\5&1a2b3c4d&0&1 (the parent's prefix in lower case)
#pragma once

#include "core/catalogue.h"

#include <cctype>
#include <string>

enum class spelling { win98, win2000_xp, vista_to_11 };

namespace spelled {

inline std::string cased(std::string text, bool capitals) {
  for (char &c : text)
    c = static_cast<char>(capitals ? toupper(static_cast<unsigned char>(c))
                                   : tolower(static_cast<unsigned char>(c)));
  return text;
}

// The device id: USB\Vid_1e7a&Pid_0080 or USB\VID_1E7A&PID_0080.
inline std::string device_id(int model, spelling s) {
  const std::string id = model_hardware_id(model); // USB\Vid_1E7A&Pid_0080
  const std::string vid = id.substr(8, 4), pid = id.substr(17, 4);
  if (s == spelling::win2000_xp)
    return "USB\\Vid_" + cased(vid, false) + "&Pid_" + cased(pid, false);
  return "USB\\VID_" + cased(vid, true) + "&PID_" + cased(pid, true);
}

// The first hardware id, with the device's revision.
inline std::string revision_id(int model, spelling s) {
  return device_id(model, s) + (s == spelling::win2000_xp ? "&Rev_0100" : "&REV_0100");
}

// The device instance's path below Enum: the device id and the instance part that the hub's
// port gives it.
inline std::string instance_path(int model, spelling s, const std::string &instance) {
  return device_id(model, s) + "\\" + instance;
}

// The modem class entry's "MatchingDeviceId".
inline std::string matching_device_id(int model) {
  return cased(model_hardware_id(model), false);
}

} // namespace spelled
