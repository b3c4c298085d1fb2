#pragma once
// Serves the serial port component's hand-overs from the Qt event loop. A
// monitor thread that hands a step over only signals a kernel event, which
// the loop watches; the loop then runs the queued steps. Nothing of Qt's is
// touched from the monitor thread.

#include "app/kernel_event.h"

class HandOverWake {
 public:
  // Installs itself as the component's wake hook; create it on the
  // user-interface thread, before any port opens.
  HandOverWake();
  // Removes the hook; every port must be closed by then.
  ~HandOverWake();
  HandOverWake(const HandOverWake&) = delete;
  HandOverWake& operator=(const HandOverWake&) = delete;

 private:
  KernelEvent event_;
};
