#pragma once
// One open serial port, in the operations of the classic serial API. The
// component is written against this class only; each platform supplies it.
//
// Failures return false (or kFailed) and leave the reason in GetLastError().

#include <cstdint>
#include <memory>
#include <string>

#include "async32/comm_codes.h"
#include "async32/comm_records.h"
#include "async32/last_error.h"
#include "async32/event_object.h"

namespace async32 {

enum class WaitResult {
  kEvents,   // the mask holds the events that occurred
  kStopped,  // the stop event was signalled (it wins over events)
  kFailed,   // the wait cannot be done, e.g. the device has gone away
};

enum class WriteStart {
  kCompleted,  // all bytes were taken at once
  kPending,    // the port keeps its own copy and goes on sending
  kFailed,
};

class CommPort {
 public:
  virtual ~CommPort() = default;

  virtual bool GetCommConfig(COMMCONFIG& config) = 0;
  virtual bool GetCommState(DCB& dcb) = 0;
  virtual bool SetCommState(const DCB& dcb) = 0;
  virtual bool SetupComm(uint32_t inQueue, uint32_t outQueue) = 0;
  virtual bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) = 0;
  virtual bool SetCommMask(uint32_t mask) = 0;

  // Blocks until one of the selected events occurs or `stop` is signalled.
  virtual WaitResult WaitCommEvent(uint32_t& mask, const EventObject& stop) = 0;

  // Takes the error flags (and clears them) and the queue status.
  virtual bool ClearCommError(uint32_t& errors, COMSTAT& stat) = 0;
  virtual bool GetCommModemStatus(uint32_t& status) = 0;
  virtual bool EscapeCommFunction(uint32_t code) = 0;
  virtual bool PurgeComm(uint32_t flags) = 0;

  // Never blocks. A write the device does not take at once stays pending,
  // with the port's own copy of the bytes.
  virtual WriteStart WriteFile(const uint8_t* data, uint32_t count, uint32_t& written) = 0;
  // The started write has not ended yet (sending, or held by XOFF).
  virtual bool WriteInProgress() = 0;
  // Copies `count` received bytes if that many are waiting; otherwise takes
  // nothing and fails. Never blocks.
  virtual bool ReadFile(uint8_t* buffer, uint32_t count, uint32_t& read) = 0;
};

// Opens the named device for exclusive use. On failure returns null and sets
// the last error.
std::unique_ptr<CommPort> CreateCommPort(const std::string& deviceName);

}  // namespace async32
