#pragma once
// Ends the event loop when the process is asked to stop (SIGTERM, SIGINT,
// SIGHUP: `kill`, Ctrl-C, a logout), so that the program shuts down as when
// its window is closed: the port is closed in order and the log holds whole
// lines only. The signal handler only writes to a kernel event; the event
// loop quits between two handlers, never in the middle of an append.

#include <QObject>

class QSocketNotifier;

class QuitOnSignals : public QObject {
 public:
  QuitOnSignals();
  ~QuitOnSignals() override;  // the signals' default actions again
  QuitOnSignals(const QuitOnSignals&) = delete;
  QuitOnSignals& operator=(const QuitOnSignals&) = delete;

 private:
  QSocketNotifier* notifier_ = nullptr;
};
