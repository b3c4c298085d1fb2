#pragma once
// Plain hints for an open that the system refused: whose group a device
// belongs to and how to join it, or which program holds it. The window's
// status lines stay as they are; the programs print these beside them.

#include <string>

// The hint for opening `path` failing with `error`, or "" when there is none.
// `procRoot` is where the processes are listed (/proc).
std::string OpenHint(const std::string& path, int error, const std::string& procRoot = "/proc");
