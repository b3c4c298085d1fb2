#pragma once
// The end-to-end suites run each program twice: the Linux build, and the
// Windows build under wine (tests/win32/wine-run) with the device's terminal
// as a COM port, for a German user. The Windows runs need KAROLX_WINDOWS_APP,
// the folder of the .exe files.

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "program_run.h"

namespace testing_support {

struct Platform {
  bool windows = false;

  bool Absent() const { return windows && !std::getenv("KAROLX_WINDOWS_APP"); }
  // The ways to stop a program in order: signals, and kClose, closing the
  // window. Wine turns SIGINT into Ctrl+C for a console program; a window has
  // no console, but with a display taskkill closes it. Wine raises no
  // Ctrl+Break, and SIGTERM or SIGHUP end a wine process at once.
  static constexpr int kClose = -1;
  std::vector<int> Stops(bool window = false) const {
    if (!windows) return {SIGTERM, SIGINT, SIGHUP};
    if (!window) return {SIGINT};
    return std::getenv("DISPLAY") ? std::vector{kClose} : std::vector<int>{};
  }
  int Stop(ProgramRun& run, int how) const {
    if (how != kClose) return run.Stop(how);
    // The test's own prefix runs no other karolx.exe.
    std::system(KAROLX_SOURCE_DIR "/tests/win32/wine-run taskkill /im karolx.exe >/dev/null");
    return run.Stop(0);
  }
  // Until a program has opened its port.
  std::chrono::milliseconds StartUp() const { return std::chrono::seconds(windows ? 3 : 0); }
  // The name a program opens the terminal `pty` by.
  std::string Port(const std::string& pty, int com = 40) const {
    return windows ? "COM" + std::to_string(com) : pty;
  }
  // Starts `program` (the Linux build's path) in `dir`; `arguments` name the
  // device as Port(pty, com).
  std::unique_ptr<ProgramRun> Start(const std::string& program, std::vector<std::string> arguments,
                                    const std::string& dir, const std::string& pty,
                                    int com = 40) const {
    if (!windows) {
      arguments.insert(arguments.begin(), program);
      return std::make_unique<ProgramRun>(arguments, dir);
    }
    const auto exe = std::filesystem::path(std::getenv("KAROLX_WINDOWS_APP")) /
                     std::filesystem::path(program).filename().concat(".exe");
    arguments.insert(arguments.begin(), {KAROLX_SOURCE_DIR "/tests/win32/wine-run", exe.string()});
    const char* qpa = std::getenv("DISPLAY") ? "QT_QPA_PLATFORM=" : "QT_QPA_PLATFORM=offscreen";
    return std::make_unique<ProgramRun>(
        arguments, dir,
        std::vector<std::string>{"KAROLX_WINE_COM=com" + std::to_string(com) + "=" + pty,
                                 "LANG=de_DE.UTF-8", qpa});
  }
};

inline std::string PrintToString(const Platform& p) { return p.windows ? "Windows" : "Linux"; }

}  // namespace testing_support
