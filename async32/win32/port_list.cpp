#include "async32/port_list.h"

#include <windows.h>
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>

namespace async32 {
namespace {

std::string Property(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property) {
  char text[512] = {};
  if (!SetupDiGetDeviceRegistryPropertyA(devices, &device, property, nullptr, reinterpret_cast<BYTE*>(text),
                                         sizeof text - 1, nullptr)) {
    return "";
  }
  return text;  // a multi-string's first string
}

// "USB\VID_0403&PID_6001&REV_0600": the four hex digits after `key`.
std::string IdAfter(const std::string& hardwareId, const std::string& key) {
  const size_t at = hardwareId.find(key);
  return at == std::string::npos ? "" : Printable(hardwareId.substr(at + key.size(), 4));
}

// What the system's device list says of its ports: the COM name, the
// friendly name and, for a USB adapter, its IDs and serial number (the last
// part of the instance ID of a USB device).
std::vector<SerialPortInfo> DeviceListPorts() {
  std::vector<SerialPortInfo> ports;
  const HDEVINFO devices = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (devices == INVALID_HANDLE_VALUE) return ports;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
    char name[64] = {};
    DWORD size = sizeof name - 1;
    const HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    const bool named = RegQueryValueExA(key, "PortName", nullptr, nullptr, reinterpret_cast<BYTE*>(name),
                                        &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    if (!named || std::string(name).rfind("COM", 0) != 0) continue;  // LPT ports are in this class too
    SerialPortInfo port;
    port.path = Printable(name);
    port.product = Printable(Property(devices, device, SPDRP_FRIENDLYNAME));
    port.manufacturer = Printable(Property(devices, device, SPDRP_MFG));
    const std::string hardwareId = Property(devices, device, SPDRP_HARDWAREID);
    port.vendorId = IdAfter(hardwareId, "VID_");
    port.productId = IdAfter(hardwareId, "PID_");
    char instance[256] = {};
    if (hardwareId.rfind("USB\\", 0) == 0 &&
        SetupDiGetDeviceInstanceIdA(devices, &device, instance, sizeof instance, nullptr)) {
      const std::string id = instance;
      port.serial = Printable(id.substr(id.rfind('\\') + 1));
    }
    port.mayOpen = true;  // whether another program holds it shows only at open
    ports.push_back(port);
  }
  SetupDiDestroyDeviceInfoList(devices);
  return ports;
}

int ComNumber(const std::string& name) { return std::atoi(name.c_str() + 3); }

}  // namespace

// The device list's ports, and any other COM name the system knows (a
// virtual port, or one wine maps), in the order of their numbers. `root`
// has no meaning here.
std::vector<SerialPortInfo> ListSerialPorts(const std::string& /*root*/) {
  std::vector<SerialPortInfo> ports = DeviceListPorts();
  char target[512];
  for (int n = 1; n <= 256; ++n) {
    const std::string name = "COM" + std::to_string(n);
    const bool listed = std::any_of(ports.begin(), ports.end(), [&](const auto& p) { return p.path == name; });
    if (listed || QueryDosDeviceA(name.c_str(), target, sizeof target) == 0) continue;
    SerialPortInfo port;
    port.path = name;
    port.mayOpen = true;
    ports.push_back(port);
  }
  std::sort(ports.begin(), ports.end(),
            [](const auto& a, const auto& b) { return ComNumber(a.path) < ComNumber(b.path); });
  return ports;
}

}  // namespace async32
