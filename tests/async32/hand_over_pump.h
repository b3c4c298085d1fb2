#pragma once
// Plays the user-interface thread's event loop in component tests: serves
// hand-overs until a condition holds or a deadline passes.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "async32/thread.h"

namespace testing_support {

class HandOverPump {
 public:
  HandOverPump() {
    async32::SetWakeMainThreadHook([this] {
      {
        std::lock_guard lock(mutex_);
        ++wakes_;
      }
      woken_.notify_all();
    });
  }
  ~HandOverPump() { async32::SetWakeMainThreadHook(nullptr); }

  bool Until(const std::function<bool()>& done,
             std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      async32::CheckSynchronize();
      if (done()) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::unique_lock lock(mutex_);
      // Wake on a hand-over; re-check other conditions every few ms.
      woken_.wait_for(lock, std::chrono::milliseconds(5));
    }
  }

  // Waits until a hand-over has been queued, without serving it.
  bool UntilQueued(int count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex_);
    return woken_.wait_for(lock, timeout, [&] { return wakes_ >= count; });
  }

  int wakes() {
    std::lock_guard lock(mutex_);
    return wakes_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable woken_;
  int wakes_ = 0;
};

}  // namespace testing_support
