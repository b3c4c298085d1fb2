#pragma once
// A kernel event that the Qt event loop watches through its native handle:
// any thread, or a signal handler, may signal it; the loop then calls
// OnSignalled on its own thread. Every wake-up of the programs' event loop
// from outside it goes through one of these: the serial port's hand-overs
// and the stop signals.

#include <QObject>

#include <functional>

class KernelEvent : public QObject {
 public:
  // Throws std::runtime_error when the system has no event to give.
  explicit KernelEvent(std::function<void()> onSignalled);
  ~KernelEvent() override;
  KernelEvent(const KernelEvent&) = delete;
  KernelEvent& operator=(const KernelEvent&) = delete;

  // Safe from any thread and from a signal handler.
  void Signal() const;

 private:
  struct Native;
  Native* native_;
};
