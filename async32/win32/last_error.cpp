#include "async32/last_error.h"

#include <windows.h>

namespace async32 {

// The system's own: the port calls leave their codes there.
void SetLastError(int code) { ::SetLastError(static_cast<DWORD>(code)); }
int GetLastError() { return static_cast<int>(::GetLastError()); }

}  // namespace async32
