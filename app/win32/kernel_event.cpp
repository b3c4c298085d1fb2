#include "app/kernel_event.h"

#include <QWinEventNotifier>

#include <stdexcept>

#include <windows.h>

// An auto-reset event, watched by a Windows event notifier.
struct KernelEvent::Native {
  HANDLE event;
  QWinEventNotifier* notifier;
};

KernelEvent::KernelEvent(std::function<void()> onSignalled) {
  const HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (!event) throw std::runtime_error("No kernel event to wake the event loop with");
  native_ = new Native{event, new QWinEventNotifier(event, this)};
  connect(native_->notifier, &QWinEventNotifier::activated, this,
          [onSignalled = std::move(onSignalled)] { onSignalled(); });
}

KernelEvent::~KernelEvent() {
  delete native_->notifier;
  CloseHandle(native_->event);
  delete native_;
}

void KernelEvent::Signal() const {
  const DWORD saved = GetLastError();  // a caller's last error stays as it was
  SetEvent(native_->event);
  SetLastError(saved);
}
