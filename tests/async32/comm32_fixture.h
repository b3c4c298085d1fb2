#pragma once
// What every suite of the component shares: the user-interface thread's
// event loop played by hand, and a fixture that notes each event a handler
// gets and reads the bytes RxChar announces.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "async32/comm32.h"

namespace async32 {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Events = std::vector<std::string>;
using Opens = std::vector<std::pair<int32_t, int32_t>>;

// Plays the user-interface thread's event loop, woken by the hand-over hook.
class HandOverPump {
 public:
  HandOverPump() {
    SetWakeMainThreadHook([this] { std::lock_guard l(mutex_); ++queued_; woken_.notify_all(); });
  }
  ~HandOverPump() { SetWakeMainThreadHook(nullptr); }
  // Serves hand-overs until `done` holds (false after 10 s); looks again every 5 ms.
  bool Until(const std::function<bool()>& done) {
    std::unique_lock lock(mutex_);
    for (const auto end = Clock::now() + 10s; Clock::now() < end;) {
      if (woken_.wait_for(lock, 5ms, [&] { return CheckSynchronize(), done(); })) return true;
    }
    return false;
  }
  // Waits, serving none, until `count` hand-overs have been queued in all.
  bool UntilQueued(int count) {
    std::unique_lock lock(mutex_);
    return woken_.wait_for(lock, 10s, [&] { return queued_ >= count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable woken_;
  int queued_ = 0;
};

inline std::string ErrorEvent(uint32_t errors) { return "error:" + std::to_string(errors); }

template <typename Comm>
class Comm32Test : public ::testing::Test {
 protected:
  Comm32Test() {
    using C = TCustomComm32;
    for (auto [handler, name] : {std::pair(&C::OnBreak, "break"), {&C::OnCTS, "cts"},
                                 {&C::OnDSR, "dsr"}, {&C::OnRing, "ring"}, {&C::OnRLSD, "rlsd"},
                                 {&C::OnRxFlag, "rxflag"}, {&C::OnTxEmpty, "txempty"}}) {
      comm.*handler = [this, name](C*) { Log(name); };
    }
    comm.OnError = [this](C*, int32_t errors) { Log(ErrorEvent(errors)); };
    comm.OnRxChar = [this](C*, int32_t count) {
      Log("rx:" + std::to_string(count));
      std::string bytes(static_cast<size_t>(count), '\0');
      EXPECT_EQ(comm.Read(bytes.data(), count), count);
      received += bytes;
    };
    comm.OnOpen = [this](C*, int32_t type, int32_t error) { opens.push_back({type, error}); };
    SetEventErrorHook([this](const std::string& message) { messages.push_back(message); });
  }
  // No handler threw, and one that was missing was skipped.
  void TearDown() override { comm.Close(); SetEventErrorHook({}); EXPECT_EQ(messages, Events{}); }
  long Seen(const std::string& event) const { return std::count(events.begin(), events.end(), event); }
  void Log(const std::string& what) {
    EXPECT_EQ(std::this_thread::get_id(), mainThread) << "handlers run on the serving thread";
    events.push_back(what);
  }

  HandOverPump pump;
  Comm comm;
  Events events;
  std::string received;
  Opens opens;
  Events messages;  // what reached the event error hook, on the monitor thread
  const std::thread::id mainThread = std::this_thread::get_id();
};

}  // namespace async32
