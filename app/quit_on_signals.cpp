#include "app/quit_on_signals.h"

#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdint>

namespace {

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};
int eventFd = -1;

void OnSignal(int) {
  const int saved = errno;
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(eventFd, &one, sizeof one);
  errno = saved;
}

}  // namespace

QuitOnSignals::QuitOnSignals() {
  eventFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (eventFd < 0) return;  // the signals keep their default actions
  notifier_ = new QSocketNotifier(eventFd, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [] {
    uint64_t count;
    [[maybe_unused]] const ssize_t n = read(eventFd, &count, sizeof count);
    QCoreApplication::quit();
  });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signal : kStopSignals) sigaction(signal, &action, nullptr);
}

QuitOnSignals::~QuitOnSignals() {
  if (eventFd < 0) return;
  for (int signal : kStopSignals) ::signal(signal, SIG_DFL);
  delete notifier_;
  close(eventFd);
  eventFd = -1;
}
