#include "async32/device_name.h"

namespace async32 {

// COM10 and up open only in the device namespace; every port name may.
std::string DevicePath(const std::string& deviceName) {
  if (deviceName.find_first_of("\\/:") != std::string::npos) return deviceName;
  return "\\\\.\\" + deviceName;
}

}  // namespace async32
