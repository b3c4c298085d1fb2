#pragma once
// What a device name stands for on this platform.

#include <string>

namespace async32 {

// The path a device name stands for. POSIX: a name with "/" is a path, "COMn"
// (any case, n >= 1) is /dev/ttyS(n-1), any other name is looked up in /dev.
// Windows: a bare name ("COM12") is opened as \\.\COM12.
std::string DevicePath(const std::string& deviceName);

}  // namespace async32
