#pragma once
// The platform calls of the Windows backend, as one table of functions: the
// system's own, or a test's stand-in that replays answers a pseudo-terminal
// under wine cannot give (a refused setting, parity errors, a purge that
// aborts a pending read).
//
// No <windows.h> here (comm_codes.h says why): the SDK's records are named by
// their struct tags, the other types as they are on 64-bit Windows.

struct _COMMCONFIG;
struct _COMMTIMEOUTS;
struct _COMSTAT;
struct _DCB;
struct _OVERLAPPED;
struct _SECURITY_ATTRIBUTES;

namespace async32::win32 {

using Bool = int;
using Dword = unsigned long;
using Handle = void*;

struct PlatformCalls {
  Handle (*CreateFileA)(const char* name, Dword access, Dword share, _SECURITY_ATTRIBUTES* security,
                        Dword disposition, Dword flags, Handle templateFile);
  Bool (*CloseHandle)(Handle object);
  Bool (*GetCommConfig)(Handle port, _COMMCONFIG* config, Dword* size);
  Bool (*GetCommState)(Handle port, _DCB* dcb);
  Bool (*SetCommState)(Handle port, _DCB* dcb);
  Bool (*SetupComm)(Handle port, Dword inQueue, Dword outQueue);
  Bool (*SetCommTimeouts)(Handle port, _COMMTIMEOUTS* timeouts);
  Bool (*SetCommMask)(Handle port, Dword mask);
  Bool (*WaitCommEvent)(Handle port, Dword* mask, _OVERLAPPED* overlapped);
  Dword (*WaitForMultipleObjects)(Dword count, const Handle* objects, Bool all, Dword milliseconds);
  Bool (*GetOverlappedResult)(Handle port, _OVERLAPPED* overlapped, Dword* transferred, Bool wait);
  Bool (*CancelIoEx)(Handle port, _OVERLAPPED* overlapped);
  Bool (*ClearCommError)(Handle port, Dword* errors, _COMSTAT* stat);
  Bool (*GetCommModemStatus)(Handle port, Dword* status);
  Bool (*EscapeCommFunction)(Handle port, Dword function);
  Bool (*PurgeComm)(Handle port, Dword flags);
  Bool (*WriteFile)(Handle port, const void* data, Dword count, Dword* written, _OVERLAPPED* overlapped);
  Bool (*ReadFile)(Handle port, void* buffer, Dword count, Dword* read, _OVERLAPPED* overlapped);
};

// The table the backend calls through. A test may replace entries and must
// put the system's back (SystemCalls) before it ends.
PlatformCalls& Platform();
const PlatformCalls& SystemCalls();

}  // namespace async32::win32
