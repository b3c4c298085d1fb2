#pragma once
// Ends the event loop when the process is asked to stop (on POSIX SIGTERM,
// SIGINT, SIGHUP: `kill`, Ctrl-C, a logout), so that the program shuts down
// as when its window is closed: the port is closed in order and the log holds
// whole lines only. The handler only signals a kernel event; the event loop
// quits between two handlers, never in the middle of an append.

#include <memory>

class KernelEvent;

class QuitOnSignals {
 public:
  QuitOnSignals();
  ~QuitOnSignals();  // the signals' default actions again
  QuitOnSignals(const QuitOnSignals&) = delete;
  QuitOnSignals& operator=(const QuitOnSignals&) = delete;

 private:
  std::unique_ptr<KernelEvent> event_;
};
