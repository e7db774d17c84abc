// Device instances and the setupapi device functions: snapshots (device information sets),
// enumeration, the hardware-id property and removal through the class installer.
// Successful setupapi calls set the thread's last error to 0, as setupapi does.
#include "sim/state.h"

#include <algorithm>
#include <cstring>

namespace sim {
namespace detail {

void devices_reset() {
  m().devices.clear();
  m().device_index.clear();
  m().sets.clear();
}

// A device by instance id (through the index), or by the number a set's element holds.
static device_entry *find_device(const std::string &id, DWORD devinst = 0) {
  auto &devices = m().devices;
  if (devinst != 0) {
    // Devices are appended with ascending numbers and never move, so the list stays sorted
    // by number: a set's element finds its device in logarithmic time.
    auto it = std::lower_bound(devices.begin(), devices.end(), devinst,
                               [](const device_entry &d, DWORD n) { return d.devinst < n; });
    return it != devices.end() && it->devinst == devinst && !it->removed ? &*it : nullptr;
  }
  auto it = m().device_index.find(upper(id));
  return it == m().device_index.end() ? nullptr : &devices[it->second];
}

static device_set *set_of(HDEVINFO h) {
  auto it = m().sets.find(reinterpret_cast<uintptr_t>(h));
  return it == m().sets.end() ? nullptr : &it->second;
}

// The element of a set that a device record names (Reserved holds its index + 1).
static devset_element *element_of(device_set *s, PSP_DEVINFO_DATA data) {
  if (!s || !data || data->cbSize != sizeof(SP_DEVINFO_DATA))
    return nullptr;
  ULONG_PTR i = data->Reserved;
  if (i == 0 || i > s->elements.size())
    return nullptr;
  devset_element &e = s->elements[i - 1];
  return e.devinst == data->DevInst ? &e : nullptr;
}

static std::string element_subject(HDEVINFO h, PSP_DEVINFO_DATA data) {
  device_set *s = set_of(h);
  devset_element *e = element_of(s, data);
  return e ? e->instance_id : std::string();
}

static BOOL fail_with(DWORD error) {
  m().last_error = error;
  return FALSE;
}

static BOOL succeed() {
  m().last_error = 0;
  return TRUE;
}

// The start of a call on one element of a set: the call logged and its faults applied, then
// the set and the element looked up. Null, with the last error set, when the call fails there.
static devset_element *called_element(const char *function, HDEVINFO h, PSP_DEVINFO_DATA data) {
  DWORD err = enter(function, element_subject(h, data));
  device_set *s = err ? nullptr : set_of(h);
  devset_element *e = s ? element_of(s, data) : nullptr;
  if (!e)
    fail_with(err ? err : s ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
  return e;
}

} // namespace detail

using namespace detail;

std::string device_record_name(const SP_DEVINFO_DATA *record) {
  // Devices are appended with ascending numbers and never move; a removed one keeps its place.
  auto &devices = m().devices;
  DWORD number = record ? record->DevInst : 0;
  auto it = std::lower_bound(devices.begin(), devices.end(), number,
                             [](const device_entry &d, DWORD n) { return d.devinst < n; });
  return it != devices.end() && it->devinst == number ? it->d.instance_id : std::string();
}

void device_add(const device &d) {
  if (device_entry *old = find_device(d.instance_id)) {
    old->d = d;
    return;
  }
  m().device_index.emplace(upper(d.instance_id), m().devices.size());
  m().devices.push_back(device_entry{d, m().next_devinst++});
}

void device_add(const std::string &instance_id, const std::vector<std::string> &hardware_ids,
                bool present) {
  device d;
  d.instance_id = instance_id;
  d.hardware_ids = multi_string(hardware_ids);
  d.has_hardware_ids = true;
  d.present = present;
  device_add(d);
}

bool device_exists(const std::string &instance_id) {
  return find_device(instance_id) != nullptr;
}

std::vector<std::string> device_list() {
  std::vector<std::string> out;
  for (auto &d : m().devices)
    if (!d.removed)
      out.push_back(d.d.instance_id);
  return out;
}

std::string multi_string(const std::vector<std::string> &strings) {
  std::string out;
  for (auto &s : strings) {
    out += s;
    out += '\0';
  }
  out += '\0';
  return out;
}

} // namespace sim

using namespace sim::detail;

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID *ClassGuid, PCSTR Enumerator, HWND hwndParent,
                                     DWORD Flags) {
  (void)hwndParent;
  DWORD err = enter("SetupDiGetClassDevsA", str(Enumerator));
  if (err) {
    m().last_error = err;
    return INVALID_HANDLE_VALUE;
  }
  if (!ClassGuid && !(Flags & (DIGCF_ALLCLASSES | DIGCF_DEVICEINTERFACE))) {
    m().last_error = ERROR_INVALID_PARAMETER;
    return INVALID_HANDLE_VALUE;
  }
  device_set s;
  // The simulated devices have no setup class and no interfaces: only an all-classes
  // request lists them.
  if ((Flags & DIGCF_ALLCLASSES) && !(Flags & DIGCF_DEVICEINTERFACE)) {
    std::string prefix = upper(str(Enumerator));
    for (auto &d : m().devices) {
      if (d.removed || ((Flags & DIGCF_PRESENT) && !d.d.present))
        continue;
      if (!prefix.empty() &&
          upper(d.d.instance_id).compare(0, prefix.size() + 1, prefix + "\\") != 0)
        continue;
      s.elements.push_back(devset_element{d.d.instance_id, d.devinst, 0});
    }
  }
  uintptr_t h = new_handle();
  m().sets[h] = s;
  m().last_error = 0;
  return reinterpret_cast<HDEVINFO>(h);
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex,
                                  PSP_DEVINFO_DATA DeviceInfoData) {
  device_set *pre = set_of(DeviceInfoSet);
  std::string subject =
      pre && MemberIndex < pre->elements.size() ? pre->elements[MemberIndex].instance_id : "";
  DWORD err = enter("SetupDiEnumDeviceInfo", subject);
  if (err)
    return fail_with(err);
  device_set *s = set_of(DeviceInfoSet);
  if (!s)
    return fail_with(ERROR_INVALID_HANDLE);
  if (!DeviceInfoData)
    return fail_with(ERROR_INVALID_PARAMETER);
  if (DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA))
    return fail_with(ERROR_INVALID_USER_BUFFER);
  if (MemberIndex >= s->elements.size())
    return fail_with(ERROR_NO_MORE_ITEMS);
  const devset_element &e = s->elements[MemberIndex];
  std::memset(&DeviceInfoData->ClassGuid, 0, sizeof(GUID));
  DeviceInfoData->DevInst = e.devinst;
  DeviceInfoData->Reserved = MemberIndex + 1;
  return succeed();
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet,
                                              PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize) {
  devset_element *e =
      called_element("SetupDiGetDeviceRegistryPropertyA", DeviceInfoSet, DeviceInfoData);
  if (!e)
    return FALSE;
  device_entry *d = find_device(e->instance_id, e->devinst);
  if (!d)
    return fail_with(ERROR_NO_SUCH_DEVINST);
  if (Property != SPDRP_HARDWAREID || !d->d.has_hardware_ids)
    return fail_with(ERROR_INVALID_DATA);
  const std::string &ids = d->d.hardware_ids;
  DWORD size = static_cast<DWORD>(ids.size());
  if (PropertyRegDataType)
    *PropertyRegDataType = REG_MULTI_SZ;
  if (RequiredSize)
    *RequiredSize = size;
  if (!PropertyBuffer || PropertyBufferSize < size)
    return fail_with(ERROR_INSUFFICIENT_BUFFER);
  if (size)
    std::memcpy(PropertyBuffer, ids.data(), size);
  return succeed();
}

BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION InstallFunction, HDEVINFO DeviceInfoSet,
                                      PSP_DEVINFO_DATA DeviceInfoData) {
  DWORD err = enter("SetupDiCallClassInstaller", element_subject(DeviceInfoSet, DeviceInfoData));
  if (err)
    return fail_with(err);
  device_set *s = set_of(DeviceInfoSet);
  if (!s)
    return fail_with(ERROR_INVALID_HANDLE);
  if (InstallFunction != DIF_REMOVE)
    return succeed(); // nothing else is simulated
  devset_element *e = element_of(s, DeviceInfoData);
  if (!e)
    return fail_with(ERROR_INVALID_PARAMETER);
  device_entry *d = find_device(e->instance_id, e->devinst);
  if (!d)
    return fail_with(ERROR_NO_SUCH_DEVINST);
  if (d->d.remove_error)
    return fail_with(d->d.remove_error);
  std::string id = d->d.instance_id;
  std::string driver = d->d.driver;
  d->removed = true;
  m().device_index.erase(upper(id));
  // The element stays in the set, so enumeration by index goes on unchanged. Where Windows
  // could not stop the device, SetupDiRemoveDevice sets flags in the element's install
  // parameters that call for a restart.
  e->install_flags |= d->d.remove_flags;
  bool at_restart = (d->d.remove_flags & (DI_NEEDREBOOT | DI_NEEDRESTART)) != 0;
  record_change(at_restart ? sim::change::device_removed_at_restart : sim::change::device_removed,
                id);
  // SetupDiRemoveDevice, the default DIF_REMOVE handler, deletes the device's software key
  // (its driver key below the class) and its hardware key (its instance key below Enum). A
  // machine that lists its devices without Enum keys has only the first.
  if (!driver.empty())
    reg_delete_tree_recorded("SYSTEM\\CurrentControlSet\\Control\\Class\\" + driver);
  if (!id.empty())
    reg_delete_tree_recorded("SYSTEM\\CurrentControlSet\\Enum\\" + id);
  return succeed();
}

// SetupDiGetDeviceInstallParamsA: the element's install parameters, also after its device
// was removed (the element stays in the set). Only the flags are simulated; the rest is zero.
// A size field other than the structure's own fails with ERROR_INVALID_USER_BUFFER.
BOOL WINAPI SetupDiGetDeviceInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           PSP_DEVINSTALL_PARAMS_A DeviceInstallParams) {
  devset_element *e =
      called_element("SetupDiGetDeviceInstallParamsA", DeviceInfoSet, DeviceInfoData);
  if (!e)
    return FALSE;
  if (!DeviceInstallParams)
    return fail_with(ERROR_INVALID_PARAMETER);
  if (DeviceInstallParams->cbSize != sizeof(SP_DEVINSTALL_PARAMS_A))
    return fail_with(ERROR_INVALID_USER_BUFFER);
  std::memset(DeviceInstallParams, 0, sizeof *DeviceInstallParams);
  DeviceInstallParams->cbSize = sizeof *DeviceInstallParams;
  DeviceInstallParams->Flags = e->install_flags;
  return succeed();
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
  DWORD err = enter("SetupDiDestroyDeviceInfoList", std::string());
  if (err)
    return fail_with(err);
  auto it = m().sets.find(reinterpret_cast<uintptr_t>(DeviceInfoSet));
  if (it == m().sets.end())
    return fail_with(ERROR_INVALID_HANDLE);
  m().sets.erase(it);
  return succeed();
}
