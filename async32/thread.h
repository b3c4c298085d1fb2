#pragma once
// A small thread runtime: threads created suspended, given a priority and
// started, and a synchronous hand-over of steps to the user-interface thread.
//
// The user-interface thread is the thread that started the program. It runs
// handed-over steps when it calls CheckSynchronize (the application calls it
// from its event loop when the wake hook fires) and while it waits in
// TThread::WaitFor, so waiting for a thread never deadlocks against a
// hand-over that thread has already begun.

#include <atomic>
#include <functional>
#include <thread>

namespace async32 {

using TThreadMethod = std::function<void()>;

constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_HIGHEST = 2;

// Installs the hook that Synchronize calls, from the waiting thread, after
// queueing a step; it must make the user-interface thread call
// CheckSynchronize soon.
void SetWakeMainThreadHook(std::function<void()> hook);

// Runs the queued steps; call it on the user-interface thread. Returns true
// when a step ran.
bool CheckSynchronize();

bool IsMainThread();

class TThread {
 public:
  // A thread is created suspended: Execute runs after Start.
  TThread() = default;
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  void Start();
  // Takes effect when the thread starts; raising it is a best effort.
  void SetPriority(int priority) { priority_ = priority; }
  void Terminate() { terminated_ = true; }
  bool Terminated() const { return terminated_; }
  bool Finished() const { return finished_; }
  // Waits until Execute has returned.
  void WaitFor();

 protected:
  virtual void Execute() = 0;
  // Runs `step` on the user-interface thread and returns when it has run. An
  // exception thrown by the step is thrown again here.
  void Synchronize(const TThreadMethod& step);

 private:
  void Run();

  std::thread thread_;
  int priority_ = THREAD_PRIORITY_NORMAL;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
};

}  // namespace async32
