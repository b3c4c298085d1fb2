#include "protocol/poll_protocol.h"

#include <algorithm>
#include <sstream>
#include <utility>
#include <array>
#include <exception>

#include "datetime/date_time_text.h"
#include "protocol/comm_error_lines.h"
#include "protocol/log_file.h"
#include "async32/comm_codes.h"
#include "async32/errors.h"
#include "async32/comm_records.h"

namespace {

// One more than the receive queue the window asks the component for.
constexpr int32_t kReceiveBufferSize = 16385;
// How often a device that went away is tried again.
constexpr int kRetryMs = 1000;

// Why a device is waited for: it is not there (never was, or went away), or
// the kind of error that refuses it.
async32::ErrorKind WaitReason(int32_t error) {
  const async32::ErrorKind kind = async32::ClassifyError(error);
  return kind == async32::ErrorKind::kGone ? async32::ErrorKind::kNotFound : kind;
}

}  // namespace

TPollProtocol::TPollProtocol(async32::TCustomComm32& port) : FPort(port) {
  FTimer.setInterval(200);
  FRetry.setSingleShot(true);
  QObject::connect(&FRetry, &QTimer::timeout, [this] { Retry(); });
  FWatchdog.setSingleShot(true);
  QObject::connect(&FWatchdog, &QTimer::timeout, [this] {
    FStale = true;
    Status("No record from " + FPort.DeviceName() + " for " + std::to_string(FStaleAfter) + " s");
  });
}

void TPollProtocol::SetStaleAfter(int seconds) {
  FStaleAfter = std::max(seconds, 0);
  FWatchdog.setInterval(FStaleAfter * 1000);
}

// Open is never called from a handler of a handed-over event, so a lost
// device is closed and opened again from the event loop. Each attempt looks
// the name up afresh: a link under /dev/serial/by-id finds the adapter
// again under its new ttyUSB name.
void TPollProtocol::Retry() {
  if (FPort.IsOpen()) {
    FPort.Close();
    FTimer.stop();
    FWatchdog.stop();
  }
  FPort.Open();  // reports through Opened
}

void ApplyProtocolSettings(async32::TCustomComm32& port) {
  port.SetMonitorEvents(async32::kAllEvents);
  port.SetReadBufferSize(16384);
  port.SetFlowControl(async32::fcSoftware);
  port.SetOptions({async32::osParityCheck});
}

void TPollProtocol::Status(const std::string& line, TStatusKind kind) {
  if (OnStatus) OnStatus(line, kind);
}

void TPollProtocol::LogError(const EInOutError& error) {
  if (OnLogError) OnLogError(LogErrorDetail(SaveDialog1.FileName, error));
}

// A failed open gets its status line and the hint that says why in words.
// While a device is waited for, a failed attempt says nothing new unless the
// reason changed (a device that came back, but is not ours to open).
void TPollProtocol::Opened(int32_t ProviderSubType, int32_t Error) {
  const std::string name = FPort.DeviceName();
  if (Error != 0) {
    const bool waiting = FReconnect && !FPort.IsOpen();
    if (waiting) FRetry.start(kRetryMs);
    const bool told = waiting && FLost && WaitReason(Error) == FReason;
    FLost = waiting;
    if (told) return;
    FReason = WaitReason(Error);
    if (waiting && FReason == async32::ErrorKind::kNotFound) {
      Status("Device not there yet: " + name);
    } else {
      Status("Error accessing device: " + name + " (code: " + std::to_string(Error) + ")",
             TStatusKind::Error);
    }
    if (OnOpenHint) {
      std::istringstream hint(OnOpenHint(name, Error));
      for (std::string line; std::getline(hint, line);) Status(line);
    }
    if (waiting && FReason != async32::ErrorKind::kNotFound) {
      Status("Waiting for " + name + " (" + async32::ErrorText(Error) + "), trying again once a second");
    }
    return;
  }
  FReason = async32::ErrorKind::kNone;
  FLost = false;
  if (std::exchange(FWasLost, false)) Status("Device back: " + name);
  // Every open starts with "?": what was pending before belongs to a line
  // that may have lost bytes, and a "*" now would acknowledge them.
  FPolled = FHeard = FAckPending = FLogFailed = false;
  FTimer.start();
  if (FStaleAfter > 0) FWatchdog.start();
  Status("  Device ready: " + name + " (code: 0)");
  Status(std::string(ProviderSubTypeText(ProviderSubType)));
  const std::string message = ClockMessage(ReadLocalClock());
  FPort.Write(message.data(), static_cast<int32_t>(message.size()));
}

void TPollProtocol::Close() {
  Status("Closing: " + FPort.DeviceName());
  FPort.Close();
  FTimer.stop();
  FRetry.stop();
  FWatchdog.stop();
  FLost = FWasLost = false;
}

void TPollProtocol::Break() { Status("BREAK SIGNAL"); }
void TPollProtocol::TxEmpty() { Status("TXEMPTY SIGNAL", TStatusKind::Routine); }

void TPollProtocol::LineErrors(int32_t Errors) {
  for (std::string_view line : CommErrorLines(Errors)) Status(std::string(line), TStatusKind::Error);
  // The monitor reports a device that went away once, as an I/O error.
  if ((Errors & async32::CE_IOE) && FReconnect && !FLost) {
    FLost = FWasLost = true;
    FReason = async32::ErrorKind::kNotFound;
    Status("Device lost: " + FPort.DeviceName());
    FRetry.start(0);
  }
}

// The program speaks only on a quiet line. While bytes arrive, the answer
// may still be on its way: a "*" would let the device forget records not yet
// received or on disk, and a "?" would cut a record in two. A quiet tick
// acknowledges what was logged since the last command, once it is on the
// disk, when no part of a record is pending; otherwise it polls, and a part
// of a record left on the quiet line is dropped (the device sends it again).
// When the sync fails the tick polls too, and the failure is reported as a
// failed append is.
void TPollProtocol::Tick() {
  FTimer.stop();
  if (std::exchange(FHeard, false)) {
    FTimer.start();
    return;
  }
  std::exception_ptr syncFailure;
  bool acknowledge = FAckPending && FRecordIndex == 1;
  if (acknowledge) {
    try {
      FUnsynced.Sync();
    } catch (const EInOutError& e) {
      LogError(e);
      syncFailure = std::current_exception();
      acknowledge = false;
    }
  }
  if (acknowledge) {
    FPort.Write("*", 1);
  } else {
    FRecordIndex = 1;
    FPolled = true;
    FPort.Write("?", 1);
  }
  FAckPending = FLogFailed = false;
  FTimer.start();
  if (syncFailure) std::rethrow_exception(syncFailure);
}

// More bytes than the buffer holds are read in parts, so none is lost and
// none is written past the buffer. A record that cannot be logged does not
// stop the count: the bytes after it are still cut into records, so the next
// record starts where the device started it. The first failure is raised
// once every byte is counted.
void TPollProtocol::Received(int32_t Count) {
  Status("RXCHAR SIGNAL", TStatusKind::Routine);
  std::array<uint8_t, kReceiveBufferSize> buffer;
  std::exception_ptr logFailure;
  int32_t remaining = Count;
  do {
    const int32_t part = std::min(remaining, kReceiveBufferSize);
    buffer.fill(0);
    const int32_t read = FPort.Read(buffer.data(), part);
    if (read == -1) {
      Status("Error reading incoming data!", TStatusKind::Error);
      break;
    }
    Status("Reading " + std::to_string(read) + " characters", TStatusKind::Routine);
    if (read > 0) FHeard = true;
    for (int32_t i = 0; i < read && FPolled; ++i) {
      if (!StoreRecordByte(FRecord, FRecordIndex, buffer[static_cast<size_t>(i)])) continue;
      if (std::exception_ptr failure = CompleteRecord(); failure && !logFailure) {
        logFailure = failure;
      }
    }
    remaining -= part;
  } while (remaining > 0);
  if (logFailure) std::rethrow_exception(logFailure);
}

// A log failure leaves the line shown and counted but unacknowledged. One
// "*" acknowledges every record since the last command, so after a failure
// none is acknowledged: the device sends them again, and a record already
// logged may then appear twice, but no record the device drops is missing
// from the file. The line goes to the file before it is shown, so that
// drawing never delays the log; the operator sees the same either way.
std::exception_ptr TPollProtocol::CompleteRecord() {
  const DateTimeParts now = ReadLocalClock();
  const std::string line = RecordLine(FRecord, DateText(now), TimeText(now));
  std::exception_ptr logFailure;
  try {
    if (AppendLogLine(SaveDialog1.FileName, line, FUnsynced, FCreateLog)) {
      Status("Log file created: " + SaveDialog1.FileName);
    }
  } catch (const EInOutError& e) {
    LogError(e);
    logFailure = std::current_exception();
  }
  const std::string_view whole(line);
  if (OnRecordLine) OnRecordLine(whole.substr(0, kRecordLength), whole.substr(kRecordLength));
  if (CountRecordLine(FRecordLines) && OnRecordLinesFull) OnRecordLinesFull();
  if (FStaleAfter > 0) FWatchdog.start();
  if (std::exchange(FStale, false)) Status("Records from " + FPort.DeviceName() + " again");
  FRecordIndex = 1;
  if (logFailure) FLogFailed = true;
  FAckPending = !FLogFailed;
  return logFailure;
}
