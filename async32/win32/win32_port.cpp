// The port on Windows: the platform's own serial calls, overlapped, through
// the table in platform_calls.h.
#include "async32/comm_port.h"
#include "async32/device_name.h"
#include "async32/win32/platform_calls.h"

#include <windows.h>

#include <atomic>
#include <bit>
#include <vector>

namespace async32 {
namespace {

using win32::Platform;

static_assert(sizeof(::DCB) == sizeof(DCB), "the block is passed bit for bit");

// The flag word holds the SDK's bit fields in their order, from bit 0 up.
::DCB ToSystem(const DCB& dcb) {
  ::DCB system = std::bit_cast<::DCB>(dcb);
  system.DCBlength = sizeof system;
  return system;
}

DCB FromSystem(const ::DCB& system) { return std::bit_cast<DCB>(system); }

// What the wait's failure means: these come when a USB adapter is pulled.
bool DeviceGone(DWORD error) {
  return error == ERROR_OPERATION_ABORTED || error == ERROR_ACCESS_DENIED ||
         error == ERROR_BAD_COMMAND || error == ERROR_GEN_FAILURE ||
         error == ERROR_DEVICE_NOT_CONNECTED;
}

// An event for one kind of overlapped call, manual reset as the calls want.
class OverlappedEvent {
 public:
  OverlappedEvent() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~OverlappedEvent() { if (event_) CloseHandle(event_); }
  OverlappedEvent(const OverlappedEvent&) = delete;
  OverlappedEvent& operator=(const OverlappedEvent&) = delete;
  bool Valid() const { return event_ != nullptr; }
  // A fresh control block for the next call.
  OVERLAPPED& Fresh() {
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = event_;
    return overlapped_;
  }
  OVERLAPPED& Block() { return overlapped_; }

 private:
  HANDLE event_;
  OVERLAPPED overlapped_{};
};

class Win32Port final : public CommPort {
 public:
  explicit Win32Port(HANDLE port) : port_(port) {}
  ~Win32Port() override;
  bool Valid() const { return wait_.Valid() && write_.Valid() && read_.Valid(); }

  bool GetCommConfig(COMMCONFIG& config) override;
  bool GetCommState(DCB& dcb) override;
  bool SetCommState(const DCB& dcb) override;
  bool SetupComm(uint32_t inQueue, uint32_t outQueue) override {
    return Platform().SetupComm(port_, inQueue, outQueue);
  }
  bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) override;
  bool SetCommMask(uint32_t mask) override;
  WaitResult WaitCommEvent(uint32_t& mask, const EventObject& stop) override;
  bool ClearCommError(uint32_t& errors, COMSTAT& stat) override;
  bool GetCommModemStatus(uint32_t& status) override;
  bool EscapeCommFunction(uint32_t code) override { return Platform().EscapeCommFunction(port_, code); }
  bool PurgeComm(uint32_t flags) override { return Platform().PurgeComm(port_, flags); }
  WriteStart WriteFile(const uint8_t* data, uint32_t count, uint32_t& written) override;
  bool WriteInProgress() override;
  bool ReadFile(uint8_t* buffer, uint32_t count, uint32_t& read) override;

 private:
  WaitResult EndWait(WaitResult result);
  WaitResult Gone(uint32_t& mask);

  HANDLE port_;
  OverlappedEvent wait_, write_, read_;
  std::atomic<uint32_t> mask_ = 0;
  // Error flags taken from the port by a read's look at its queue, or raised
  // by the device going away: the next ClearCommError reports them.
  std::atomic<uint32_t> errors_ = 0;
  bool gone_ = false;  // monitor thread only
  bool writing_ = false;
  std::vector<uint8_t> writeBytes_;  // the pending write's own copy
};

// The last bytes written (a final "*") go out before the port closes, but
// never for long: a write still held back then (XOFF, a handshake line) is
// cancelled, and ended, before its bytes and control block go.
Win32Port::~Win32Port() {
  if (writing_) {
    if (WaitForSingleObject(write_.Block().hEvent, 500) != WAIT_OBJECT_0) {
      Platform().CancelIoEx(port_, &write_.Block());
    }
    DWORD done = 0;
    Platform().GetOverlappedResult(port_, &write_.Block(), &done, TRUE);
  }
  Platform().CloseHandle(port_);
}

bool Win32Port::GetCommConfig(COMMCONFIG& config) {
  ::COMMCONFIG system{};
  DWORD size = sizeof system;
  if (!Platform().GetCommConfig(port_, &system, &size)) return false;
  config.dcb = FromSystem(system.dcb);
  config.dwProviderSubType = system.dwProviderSubType;
  return true;
}

bool Win32Port::GetCommState(DCB& dcb) {
  ::DCB system{};
  system.DCBlength = sizeof system;
  if (!Platform().GetCommState(port_, &system)) return false;
  dcb = FromSystem(system);
  return true;
}

bool Win32Port::SetCommState(const DCB& dcb) {
  ::DCB system = ToSystem(dcb);
  return Platform().SetCommState(port_, &system);
}

bool Win32Port::SetCommTimeouts(const COMMTIMEOUTS& t) {
  ::COMMTIMEOUTS system{t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
                        t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant};
  return Platform().SetCommTimeouts(port_, &system);
}

bool Win32Port::SetCommMask(uint32_t mask) {
  mask_ = mask;
  return Platform().SetCommMask(port_, mask);
}

// One overlapped wait, ended by its own event or by the stop. A wait left
// behind is cancelled and has ended before its control block is used again.
WaitResult Win32Port::WaitCommEvent(uint32_t& mask, const EventObject& stop) {
  const HANDLE stopEvent = reinterpret_cast<HANDLE>(stop.Native());
  for (int failures = 0; !gone_;) {
    if (mask_ == 0) {  // nothing to wait for: only the stop ends this
      return WaitForSingleObject(stopEvent, INFINITE) == WAIT_OBJECT_0 ? WaitResult::kStopped
                                                                       : WaitResult::kFailed;
    }
    DWORD events = 0;
    OVERLAPPED& block = wait_.Fresh();
    if (Platform().WaitCommEvent(port_, &events, &block)) {
      if (WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0) return WaitResult::kStopped;
      mask = events;
      return WaitResult::kEvents;
    }
    if (GetLastError() != ERROR_IO_PENDING) return Gone(mask);
    const HANDLE objects[] = {stopEvent, block.hEvent};
    const DWORD woken = Platform().WaitForMultipleObjects(2, objects, FALSE, INFINITE);
    if (woken != WAIT_OBJECT_0 + 1) {
      return EndWait(woken == WAIT_OBJECT_0 ? WaitResult::kStopped : WaitResult::kFailed);
    }
    DWORD unused = 0;
    if (Platform().GetOverlappedResult(port_, &block, &unused, FALSE)) {
      mask = events;
      return WaitResult::kEvents;
    }
    // A failed completion is not handed over; the same failure twice running
    // means the wait cannot be done, and the monitor must not spin on it.
    if (DeviceGone(GetLastError()) || ++failures == 2) return Gone(mask);
  }
  SetLastError(ERROR_OPERATION_ABORTED);
  return WaitResult::kFailed;
}

// A driver that cannot cancel the wait (wine's) ends it when the mask is set
// again; ERROR_NOT_FOUND also means the wait had just ended by itself.
WaitResult Win32Port::EndWait(WaitResult result) {
  const DWORD error = GetLastError();
  if (!Platform().CancelIoEx(port_, &wait_.Block()) && GetLastError() == ERROR_NOT_FOUND) {
    Platform().SetCommMask(port_, mask_);
  }
  DWORD unused = 0;
  Platform().GetOverlappedResult(port_, &wait_.Block(), &unused, TRUE);
  SetLastError(error);
  return result;
}

// The device went away: said once, as an I/O error, after which waits fail
// and the monitor ends.
WaitResult Win32Port::Gone(uint32_t& mask) {
  gone_ = true;
  errors_ |= CE_IOE;
  if (!(mask_ & EV_ERR)) return WaitResult::kFailed;
  mask = EV_ERR;
  return WaitResult::kEvents;
}

bool Win32Port::ClearCommError(uint32_t& errors, COMSTAT& stat) {
  DWORD flags = 0;
  ::COMSTAT system{};
  const bool ok = Platform().ClearCommError(port_, &flags, &system);
  errors = errors_.exchange(0) | (ok ? flags : 0);
  stat = COMSTAT{};
  if (!ok) return false;
  stat.fCtsHold = system.fCtsHold;
  stat.fDsrHold = system.fDsrHold;
  stat.fRlsdHold = system.fRlsdHold;
  stat.fXoffHold = system.fXoffHold;
  stat.fXoffSent = system.fXoffSent;
  stat.fEof = system.fEof;
  stat.fTxim = system.fTxim;
  stat.cbInQue = system.cbInQue;
  stat.cbOutQue = system.cbOutQue;
  return true;
}

bool Win32Port::GetCommModemStatus(uint32_t& status) {
  DWORD system = 0;
  if (!Platform().GetCommModemStatus(port_, &system)) return false;
  status = system;
  return true;
}

WriteStart Win32Port::WriteFile(const uint8_t* data, uint32_t count, uint32_t& written) {
  written = 0;
  if (WriteInProgress()) {
    SetLastError(ERROR_BUSY);
    return WriteStart::kFailed;
  }
  writeBytes_.assign(data, data + count);
  DWORD done = 0;
  if (Platform().WriteFile(port_, writeBytes_.data(), count, &done, &write_.Fresh())) {
    written = done;
    return WriteStart::kCompleted;
  }
  if (GetLastError() != ERROR_IO_PENDING) return WriteStart::kFailed;
  writing_ = true;
  return WriteStart::kPending;
}

bool Win32Port::WriteInProgress() {
  if (!writing_) return false;
  DWORD done = 0;
  if (!Platform().GetOverlappedResult(port_, &write_.Block(), &done, FALSE) &&
      GetLastError() == ERROR_IO_INCOMPLETE) {
    return true;
  }
  writing_ = false;  // ended, whether sent, failed or aborted
  return false;
}

// Only what is already waiting is read, so the read ends at once and never
// stays in progress into the caller's buffer. Error flags seen by the look
// at the queue are kept for the next ClearCommError.
bool Win32Port::ReadFile(uint8_t* buffer, uint32_t count, uint32_t& read) {
  read = 0;
  DWORD flags = 0;
  ::COMSTAT stat{};
  if (!Platform().ClearCommError(port_, &flags, &stat)) return false;
  errors_ |= flags;
  if (stat.cbInQue < count) {
    SetLastError(ERROR_IO_INCOMPLETE);
    return false;
  }
  DWORD done = 0;
  OVERLAPPED& block = read_.Fresh();
  if (!Platform().ReadFile(port_, buffer, count, &done, &block)) {
    if (GetLastError() != ERROR_IO_PENDING) return false;
    // Some drivers (wine's among them) finish even a read of waiting bytes
    // in the background: it ends soon, or is cancelled and ended here.
    if (WaitForSingleObject(block.hEvent, 1000) != WAIT_OBJECT_0) Platform().CancelIoEx(port_, &block);
    if (!Platform().GetOverlappedResult(port_, &block, &done, TRUE)) return false;
  }
  read = done;
  return true;
}

}  // namespace

std::unique_ptr<CommPort> CreateCommPort(const std::string& deviceName) {
  if (deviceName.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  const HANDLE handle = Platform().CreateFileA(DevicePath(deviceName).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                               nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  auto port = std::make_unique<Win32Port>(handle);
  if (!port->Valid()) {
    const DWORD error = GetLastError();
    port.reset();
    SetLastError(error);
    return nullptr;
  }
  return port;
}

}  // namespace async32
