#include "async32/port_list.h"

#include <windows.h>

namespace async32 {

// The COM names the system knows, in order. `root` has no meaning here.
std::vector<SerialPortInfo> ListSerialPorts(const std::string& /*root*/) {
  std::vector<SerialPortInfo> ports;
  char target[512];
  for (int n = 1; n <= 256; ++n) {
    const std::string name = "COM" + std::to_string(n);
    if (QueryDosDeviceA(name.c_str(), target, sizeof target) == 0) continue;
    SerialPortInfo port;
    port.path = name;
    port.mayOpen = true;  // whether another program holds it shows only at open
    ports.push_back(port);
  }
  return ports;
}

}  // namespace async32
