#pragma once
// Plain hints for an open that the system refused: whose group a device
// belongs to and how to join it, which program holds it, or which file a
// missing device was looked up as and which serial ports there are. The
// status lines stay as they are; these follow them.

#include <string>

// The hint for opening `path` failing with `error`, or "" when there is none.
// `procRoot` is where the processes are listed (/proc).
std::string OpenHint(const std::string& path, int error, const std::string& procRoot = "/proc");
