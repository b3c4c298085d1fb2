#include "app/hand_over_wake.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>

#include <cstdint>
#include <stdexcept>

#include "async32/thread.h"

HandOverWake::HandOverWake() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (fd_ < 0) throw std::runtime_error("No kernel event for the serial port's hand-over");
  notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] {
    uint64_t count;
    [[maybe_unused]] const ssize_t n = read(fd_, &count, sizeof count);
    async32::CheckSynchronize();
  });
  const int fd = fd_;
  async32::SetWakeMainThreadHook([fd] {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(fd, &one, sizeof one);
  });
}

HandOverWake::~HandOverWake() {
  async32::SetWakeMainThreadHook(nullptr);
  delete notifier_;
  close(fd_);
}
