#include "async32/thread_priority.h"

#include <windows.h>

namespace async32 {

// The levels are the system's own: THREAD_PRIORITY_HIGHEST is 2.
void RaiseCurrentThreadPriority(int levels) { SetThreadPriority(GetCurrentThread(), levels); }

}  // namespace async32
