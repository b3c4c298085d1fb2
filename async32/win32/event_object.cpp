#include "async32/event_object.h"

#include <windows.h>

namespace async32 {
namespace {
HANDLE Event(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
}  // namespace

EventObject::EventObject()
    : handle_(reinterpret_cast<intptr_t>(CreateEventA(nullptr, TRUE, FALSE, nullptr))), error_(0) {
  if (handle_ == 0) {
    handle_ = kNone;
    error_ = static_cast<int>(::GetLastError());
  }
}

EventObject::~EventObject() {
  if (Valid()) CloseHandle(Event(handle_));
}

void EventObject::Set() const { SetEvent(Event(handle_)); }
void EventObject::Reset() const { ResetEvent(Event(handle_)); }
bool EventObject::IsSet() const { return WaitForSingleObject(Event(handle_), 0) == WAIT_OBJECT_0; }

}  // namespace async32
