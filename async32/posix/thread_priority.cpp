#include "async32/thread_priority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace async32 {

void RaiseCurrentThreadPriority(int levels) {
  errno = 0;
  const int base = getpriority(PRIO_PROCESS, 0);
  if (errno != 0) return;
  // On Linux a nice value set for a thread id applies to that thread alone.
  const auto tid = static_cast<id_t>(syscall(SYS_gettid));
  setpriority(PRIO_PROCESS, tid, base - levels);
}

}  // namespace async32
