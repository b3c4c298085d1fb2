// The hand-over of steps to the user-interface thread.

#include "async32/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "hand_over_pump.h"

namespace async32 {
namespace {

class StepThread : public TThread {
 public:
  explicit StepThread(TThreadMethod step) : step_(std::move(step)) {}
  ~StepThread() override { WaitFor(); }
  std::string error;
  std::atomic<bool> before{false};

 protected:
  void Execute() override {
    before = true;
    try {
      Synchronize(step_);
    } catch (const std::exception& e) {
      error = e.what();
    }
  }

 private:
  TThreadMethod step_;
};

TEST(HandOver, StepRunsOnTheServingThreadAndTheCallerWaitsForIt) {
  testing_support::HandOverPump pump;
  std::thread::id ranOn;
  StepThread thread([&] { ranOn = std::this_thread::get_id(); });
  EXPECT_FALSE(thread.before) << "created suspended";
  thread.Start();
  ASSERT_TRUE(pump.Until([&] { return thread.Finished(); }));
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(HandOver, ExceptionIsThrownAgainInTheCallingThread) {
  testing_support::HandOverPump pump;
  StepThread thread([] { throw std::runtime_error("disk full"); });
  thread.Start();
  thread.WaitFor();  // serves the hand-over while waiting
  EXPECT_EQ(thread.error, "disk full");
}

TEST(HandOver, WaitForServesAHandOverQueuedBeforeItWasCalled) {
  testing_support::HandOverPump pump;
  bool ran = false;
  StepThread thread([&] { ran = true; });
  thread.Start();
  ASSERT_TRUE(pump.UntilQueued(1));
  thread.WaitFor();
  EXPECT_TRUE(ran);
  EXPECT_TRUE(thread.Finished());
}

}  // namespace
}  // namespace async32
