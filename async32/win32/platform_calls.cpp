#include "async32/win32/platform_calls.h"

#include <windows.h>

namespace async32::win32 {

const PlatformCalls& SystemCalls() {
  static const PlatformCalls calls{
      ::CreateFileA,        ::CloseHandle,        ::GetCommConfig,       ::GetCommState,
      ::SetCommState,       ::SetupComm,          ::SetCommTimeouts,     ::SetCommMask,
      ::WaitCommEvent,      ::WaitForMultipleObjects, ::GetOverlappedResult, ::CancelIoEx,
      ::ClearCommError,     ::GetCommModemStatus, ::EscapeCommFunction,  ::PurgeComm,
      ::WriteFile,          ::ReadFile};
  return calls;
}

PlatformCalls& Platform() {
  static PlatformCalls calls = SystemCalls();
  return calls;
}

}  // namespace async32::win32
