#pragma once
// The calling thread's last error code, as the port operations leave it: an
// errno value on POSIX, a system error code on Windows.

namespace async32 {

void SetLastError(int code);
int GetLastError();

}  // namespace async32
