#pragma once
// The serial driver of a real terminal device.

#include <memory>
#include <string>

#include "async32/platform/serial_driver.h"

namespace async32 {

// The path a device name stands for: a name with "/" is a path, "COMn" (any
// case, n >= 1) is /dev/ttyS(n-1), any other name is looked up in /dev.
std::string DevicePath(const std::string& deviceName);

// Opens the terminal at `path` for exclusive use: not a terminal gives
// ENOTTY, a terminal some other handle holds gives EBUSY. On failure returns
// null with the errno value in `error`.
std::unique_ptr<SerialDriver> OpenPosixDriver(const std::string& path, int& error);

}  // namespace async32
