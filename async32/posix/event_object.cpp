#include "async32/event_object.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace async32 {

namespace {
int Fd(intptr_t handle) { return static_cast<int>(handle); }
}  // namespace

EventObject::EventObject()
    : handle_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), error_(handle_ < 0 ? errno : 0) {
  if (handle_ < 0) handle_ = kNone;
}

EventObject::~EventObject() {
  if (Valid()) close(Fd(handle_));
}

void EventObject::Set() const {
  const uint64_t one = 1;
  // The counter only needs to be non-zero; EAGAIN (saturated) is as good.
  while (write(Fd(handle_), &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void EventObject::Reset() const {
  uint64_t value;
  while (read(Fd(handle_), &value, sizeof value) < 0 && errno == EINTR) {
  }
}

bool EventObject::IsSet() const {
  pollfd p{Fd(handle_), POLLIN, 0};
  return poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

}  // namespace async32
