#pragma once
// The user-interface thread's part in the Windows tests: serves the
// component's hand-overs until a condition holds.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "async32/thread.h"

namespace testing_support {

class HandOverLoop {
 public:
  HandOverLoop() {
    async32::SetWakeMainThreadHook([this] { std::lock_guard l(mutex_); woken_.notify_all(); });
  }
  ~HandOverLoop() { async32::SetWakeMainThreadHook(nullptr); }
  // False when `done` still does not hold after ten seconds.
  bool Until(const std::function<bool()>& done) {
    using namespace std::chrono_literals;
    std::unique_lock lock(mutex_);
    for (auto end = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < end;) {
      if (woken_.wait_for(lock, 5ms, [&] { return async32::CheckSynchronize(), done(); })) return true;
    }
    return false;
  }

 private:
  std::mutex mutex_;
  std::condition_variable woken_;
};

}  // namespace testing_support
