#pragma once
// The monitor thread of an open port: waits for the selected line events and
// hands each completed wait over to the user-interface thread, blocking until
// the component has dispatched it there.

#include <cstdint>
#include <functional>
#include <string>

#include "async32/comm32_types.h"
#include "async32/comm_port.h"
#include "async32/event_object.h"
#include "async32/thread.h"

namespace async32 {

// Receives the message of an exception that an event handler threw during a
// hand-over. Called on the monitor thread, after the hand-over has returned;
// the monitor then goes on waiting.
void SetEventErrorHook(std::function<void(const std::string& message)> hook);

class TC32Thread : public TThread {
 public:
  using TEventTarget = std::function<void(TC32Thread* Sender, uint32_t EventMask)>;

  // Selects the events on the port and starts the thread.
  TC32Thread(CommPort* CommHandle, TC32EventType Events, TEventTarget EventTarget);
  ~TC32Thread() override;

  void SignalStop() { FStopEvent.Set(); }
  // False when the system had no descriptor for the stop event: the thread
  // did not start, for the reason StartError gives (an errno value).
  bool Started() const { return FStopEvent.Valid(); }
  int StartError() const { return FStopEvent.Error(); }

 protected:
  void Execute() override;

 private:
  void DeliverEvents();

  CommPort* FCommHandle;  // the component's port; not owned
  uint32_t FEventMask = 0;
  TEventTarget FEventTarget;
  // Made with the thread object, so a stop signalled before the thread first
  // runs is not lost.
  EventObject FStopEvent;
};

}  // namespace async32
