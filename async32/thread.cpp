#include "async32/thread.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

#include "async32/platform/thread_priority.h"

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
  std::function<void()> wake;
};

SyncQueue& Queue() {
  static SyncQueue queue;
  return queue;
}

}  // namespace

void SetWakeMainThreadHook(std::function<void()> hook) {
  std::lock_guard lock(Queue().mutex);
  Queue().wake = std::move(hook);
}

bool IsMainThread() { return std::this_thread::get_id() == mainThreadId; }

bool CheckSynchronize() {
  if (!IsMainThread()) return false;
  SyncQueue& q = Queue();
  std::deque<SyncRequest*> batch;
  {
    std::lock_guard lock(q.mutex);
    batch.swap(q.pending);
  }
  for (SyncRequest* request : batch) {
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
  }
  return !batch.empty();
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
  std::function<void()> wake;
  {
    std::lock_guard lock(q.mutex);
    q.pending.push_back(&request);
    wake = q.wake;
  }
  q.changed.notify_all();
  if (wake) wake();
  {
    std::unique_lock lock(q.mutex);
    q.changed.wait(lock, [&] { return request.done; });
  }
  if (request.error) std::rethrow_exception(request.error);
}

}  // namespace async32
