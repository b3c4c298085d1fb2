#include "async32/c32_thread.h"

#include <exception>
#include <mutex>

namespace async32 {
namespace {

std::mutex hookMutex;
std::function<void(const std::string&)> eventErrorHook;

void ReportEventError(const std::string& message) {
  std::function<void(const std::string&)> hook;
  {
    std::lock_guard lock(hookMutex);
    hook = eventErrorHook;
  }
  if (hook) hook(message);
}

}  // namespace

void SetEventErrorHook(std::function<void(const std::string& message)> hook) {
  std::lock_guard lock(hookMutex);
  eventErrorHook = std::move(hook);
}

TC32Thread::TC32Thread(CommPort* CommHandle, TC32EventType Events, TEventTarget EventTarget)
    : FCommHandle(CommHandle), FEventTarget(std::move(EventTarget)) {
  SetPriority(THREAD_PRIORITY_HIGHEST);
  FCommHandle->SetCommMask(EventMaskOf(Events));
  // A thread that could not be told to stop is never started.
  if (FStopEvent.Valid()) Start();
}

TC32Thread::~TC32Thread() {
  // The thread uses this object's members; it must be gone before they are.
  SignalStop();
  WaitFor();
}

void TC32Thread::Execute() {
  // The port's wait returns only once it has ended, so no wait is left
  // outstanding when the loop is left.
  while (FCommHandle->WaitCommEvent(FEventMask, FStopEvent) == WaitResult::kEvents) {
    try {
      Synchronize([this] { DeliverEvents(); });
    } catch (const std::exception& e) {
      ReportEventError(e.what());
    } catch (...) {
      ReportEventError("Unknown error in an event handler");
    }
    if (Terminated()) break;
  }
  FCommHandle->PurgeComm(PURGE_RXABORT | PURGE_RXCLEAR);
}

void TC32Thread::DeliverEvents() {
  if (FEventTarget) FEventTarget(this, FEventMask);
}

}  // namespace async32
