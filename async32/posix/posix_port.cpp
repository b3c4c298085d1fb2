#include <cerrno>

#include "async32/comm_port.h"
#include "async32/posix/port_engine.h"
#include "async32/posix/posix_driver.h"

namespace async32 {

std::unique_ptr<CommPort> CreateCommPort(const std::string& deviceName) {
  // An empty name names no device (not the /dev directory).
  if (deviceName.empty()) {
    SetLastError(ENOENT);
    return nullptr;
  }
  int error = 0;
  auto driver = OpenPosixDriver(DevicePath(deviceName), error);
  if (!driver) {
    SetLastError(error);
    return nullptr;
  }
  auto port = std::make_unique<PortEngine>(std::move(driver));
  if (!port->Valid()) {
    SetLastError(port->Error());
    return nullptr;
  }
  return port;
}

}  // namespace async32
