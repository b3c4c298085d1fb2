#include "app/quit_on_signals.h"

#include <QCoreApplication>

#include <mutex>
#include <stdexcept>

#include "app/kernel_event.h"

#include <windows.h>

namespace {

std::mutex stopGuard;  // the handler's thread against the end of stopEvent
const KernelEvent* stopEvent = nullptr;
HANDLE stopped = nullptr;  // set once the program has shut down in order

// Runs on a thread of its own. Ctrl+C and Ctrl+Break are answered at once;
// closing the console, logging off and shutting down end the process when
// this returns, so it waits (within the system's grace) for the shutdown.
BOOL WINAPI OnControl(DWORD control) {
  {
    std::lock_guard lock(stopGuard);
    if (!stopEvent) return FALSE;
    stopEvent->Signal();
  }
  if (control == CTRL_CLOSE_EVENT || control == CTRL_LOGOFF_EVENT || control == CTRL_SHUTDOWN_EVENT) {
    WaitForSingleObject(stopped, 4000);
  }
  return TRUE;
}

}  // namespace

QuitOnSignals::QuitOnSignals() {
  try {
    event_ = std::make_unique<KernelEvent>([] { QCoreApplication::quit(); });
  } catch (const std::runtime_error&) {
    return;  // the console's controls keep their default actions
  }
  stopEvent = event_.get();
  stopped = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnControl, TRUE);
}

QuitOnSignals::~QuitOnSignals() {
  if (!event_) return;
  {
    std::lock_guard lock(stopGuard);
    stopEvent = nullptr;
  }
  SetEvent(stopped);
}
