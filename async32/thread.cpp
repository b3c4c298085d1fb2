#include "async32/thread.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

#include "async32/thread_priority.h"

namespace async32 {
namespace {

// Set during static initialisation, which runs on the thread that starts the
// program.
const std::thread::id mainThreadId = std::this_thread::get_id();

struct SyncRequest {
  const TThreadMethod* step;
  std::exception_ptr error;
  bool done = false;
};

// The one process-wide hand-over queue. The condition variable wakes both
// the threads waiting for their steps and a user-interface thread in WaitFor.
struct SyncQueue {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<SyncRequest*> pending;
  // Held while the hook runs, so that removing it waits for calls under way.
  std::mutex wakeMutex;
  std::function<void()> wake;
};

SyncQueue& Queue() {
  static SyncQueue queue;
  return queue;
}

}  // namespace

void SetWakeMainThreadHook(std::function<void()> hook) {
  std::lock_guard lock(Queue().wakeMutex);
  Queue().wake = std::move(hook);
}

bool IsMainThread() { return std::this_thread::get_id() == mainThreadId; }

// Requests are taken one at a time: the rest stay in the queue, where a
// WaitFor inside a step (a handler that closes another port) still finds
// its own thread's request and serves it.
bool CheckSynchronize() {
  if (!IsMainThread()) return false;
  SyncQueue& q = Queue();
  bool served = false;
  for (;;) {
    SyncRequest* request = nullptr;
    {
      std::lock_guard lock(q.mutex);
      if (q.pending.empty()) return served;
      request = q.pending.front();
      q.pending.pop_front();
    }
    try {
      (*request->step)();
    } catch (...) {
      request->error = std::current_exception();
    }
    {
      std::lock_guard lock(q.mutex);
      request->done = true;  // the requester may free it from here on
    }
    q.changed.notify_all();
    served = true;
  }
}

TThread::~TThread() {
  if (thread_.joinable()) WaitFor();
}

void TThread::Start() {
  if (!thread_.joinable() && !finished_) thread_ = std::thread(&TThread::Run, this);
}

void TThread::Run() {
  if (priority_ > THREAD_PRIORITY_NORMAL) RaiseCurrentThreadPriority(priority_);
  Execute();
  SyncQueue& q = Queue();
  {
    std::lock_guard lock(q.mutex);
    finished_ = true;
  }
  q.changed.notify_all();
}

void TThread::WaitFor() {
  if (!thread_.joinable()) return;
  if (IsMainThread()) {
    SyncQueue& q = Queue();
    std::unique_lock lock(q.mutex);
    while (!finished_) {
      q.changed.wait(lock, [&] { return finished_ || !q.pending.empty(); });
      if (!q.pending.empty()) {
        lock.unlock();
        CheckSynchronize();
        lock.lock();
      }
    }
  }
  thread_.join();
}

void TThread::Synchronize(const TThreadMethod& step) {
  if (IsMainThread()) {
    step();
    return;
  }
  SyncQueue& q = Queue();
  SyncRequest request{&step, nullptr};
  {
    std::lock_guard lock(q.mutex);
    q.pending.push_back(&request);
  }
  q.changed.notify_all();
  {
    std::lock_guard lock(q.wakeMutex);
    if (q.wake) q.wake();
  }
  {
    std::unique_lock lock(q.mutex);
    q.changed.wait(lock, [&] { return request.done; });
  }
  if (request.error) std::rethrow_exception(request.error);
}

}  // namespace async32
