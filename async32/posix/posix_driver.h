#pragma once
// The serial driver of a real terminal device.

#include <memory>
#include <string>

#include "async32/device_name.h"
#include "async32/posix/serial_driver.h"

namespace async32 {

// Opens the terminal at `path` for exclusive use: not a terminal gives
// ENOTTY, a terminal some other handle holds gives EBUSY. On failure returns
// null with the errno value in `error`.
std::unique_ptr<SerialDriver> OpenPosixDriver(const std::string& path, int& error);

}  // namespace async32
