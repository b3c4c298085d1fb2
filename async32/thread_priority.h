#pragma once

namespace async32 {

// Raises the calling thread's scheduling priority by `levels` steps above the
// process's. Best effort: without the privilege the thread runs as it is.
void RaiseCurrentThreadPriority(int levels);

}  // namespace async32
