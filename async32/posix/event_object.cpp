#include "async32/event_object.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace async32 {

EventObject::EventObject()
    : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), error_(fd_ < 0 ? errno : 0) {}

EventObject::~EventObject() {
  if (fd_ >= 0) close(fd_);
}

void EventObject::Set() const {
  const uint64_t one = 1;
  // The counter only needs to be non-zero; EAGAIN (saturated) is as good.
  while (write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void EventObject::Reset() const {
  uint64_t value;
  while (read(fd_, &value, sizeof value) < 0 && errno == EINTR) {
  }
}

bool EventObject::IsSet() const {
  pollfd p{fd_, POLLIN, 0};
  return poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

}  // namespace async32
