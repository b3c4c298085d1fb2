#include "app/quit_on_signals.h"

#include <signal.h>

#include <QCoreApplication>

#include <stdexcept>

#include "app/kernel_event.h"

namespace {

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};
const KernelEvent* stopEvent = nullptr;

void OnSignal(int) {
  if (stopEvent) stopEvent->Signal();
}

}  // namespace

QuitOnSignals::QuitOnSignals() {
  try {
    event_ = std::make_unique<KernelEvent>([] { QCoreApplication::quit(); });
  } catch (const std::runtime_error&) {
    return;  // the signals keep their default actions
  }
  stopEvent = event_.get();
  struct sigaction action {};
  action.sa_handler = OnSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signal : kStopSignals) sigaction(signal, &action, nullptr);
}

QuitOnSignals::~QuitOnSignals() {
  if (!event_) return;
  for (int signal : kStopSignals) ::signal(signal, SIG_DFL);
  stopEvent = nullptr;
}
