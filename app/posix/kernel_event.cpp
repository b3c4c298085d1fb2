#include "app/kernel_event.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>

#include <cerrno>
#include <cstdint>
#include <stdexcept>

// An eventfd, read by a socket notifier.
struct KernelEvent::Native {
  int fd;
  QSocketNotifier* notifier;
};

KernelEvent::KernelEvent(std::function<void()> onSignalled) {
  const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) throw std::runtime_error("No kernel event to wake the event loop with");
  native_ = new Native{fd, new QSocketNotifier(fd, QSocketNotifier::Read, this)};
  connect(native_->notifier, &QSocketNotifier::activated, this,
          [fd, onSignalled = std::move(onSignalled)] {
            uint64_t count;
            [[maybe_unused]] const ssize_t n = read(fd, &count, sizeof count);
            onSignalled();
          });
}

KernelEvent::~KernelEvent() {
  delete native_->notifier;
  close(native_->fd);
  delete native_;
}

void KernelEvent::Signal() const {
  const int saved = errno;  // a signal handler leaves errno as it found it
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(native_->fd, &one, sizeof one);
  errno = saved;
}
