#include "async32/last_error.h"

namespace async32 {
namespace {
thread_local int lastError = 0;
}

void SetLastError(int code) { lastError = code; }
int GetLastError() { return lastError; }

}  // namespace async32
