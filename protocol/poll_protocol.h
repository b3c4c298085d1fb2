#pragma once
// The polling protocol over one serial port, with no widget: the 200 ms tick
// that asks with "?" and acknowledges with "*", the cutting of received bytes
// into records, the stamped record line and its append to the log, the
// connect report and the clock-setting message, and the status lines. The
// window and the headless logger show what it reports through callbacks.
//
// Everything runs on the thread that serves the port's hand-overs, so the
// state needs no locks. The port's owner binds its events to the operations
// below (Opened, Received, ...); Close and Open are never called from them.

#include <QTimer>

#include <exception>
#include <functional>
#include <string>
#include <string_view>

#include "async32/comm32.h"
#include "async32/errors.h"
#include "protocol/log_file.h"
#include "protocol/record_assembly.h"

// Holds the log file name; the dialog itself is never shown.
struct TSaveDialog {
  std::string FileName = "Karo.txt";
};

// What a status line tells. Routine lines come with every poll (received
// data, transmitter empty); errors may come with every poll too. A log of
// events keeps the events and need not repeat the rest.
enum class TStatusKind { Event, Error, Routine };

// The window's settings of the port that the protocol talks over.
void ApplyProtocolSettings(async32::TCustomComm32& port);

class TPollProtocol {
 public:
  explicit TPollProtocol(async32::TCustomComm32& port);

  std::function<void(const std::string& line, TStatusKind kind)> OnStatus;
  // A complete record: its 34 raw bytes and the stamp text that follows them.
  std::function<void(std::string_view record, std::string_view stamp)> OnRecordLine;
  // After every 25th record line: the record pane is emptied.
  std::function<void()> OnRecordLinesFull;
  // Why an open failed, in words (whose group the device is in, which program
  // holds it, which file was tried), one status line per line; "" for none.
  std::function<std::string(const std::string& device, int32_t error)> OnOpenHint;
  // A log error in words, for the command line; the error is raised as well.
  std::function<void(const std::string& detail)> OnLogError;

  TSaveDialog SaveDialog1;
  // The tick; its owner runs Tick on each timeout, so that an error the tick
  // raises reaches the owner's error handling.
  QTimer& Timer() { return FTimer; }

  // Unattended logging. With Reconnect, a device that goes away (hang-up,
  // I/O error, adapter pulled, suspend) or is not there when opened is tried
  // again once a second, by its name, until it is back; polling then goes on
  // where it stopped. With StaleAfter seconds (0: off), an open device that
  // completes no record for that long is reported once, and again when
  // records come back.
  void SetReconnect(bool on) { FReconnect = on; }
  // Makes the log file when it is missing: at start, or after it was
  // renamed or removed (rotated), with a status line that says so.
  void SetCreateLog(bool on) { FCreateLog = on; }
  void SetStaleAfter(int seconds);
  bool Waiting() const { return FRetry.isActive(); }

  // The port's open report: the connect report, the clock-setting message
  // and the start of polling, or the error line.
  void Opened(int32_t ProviderSubType, int32_t Error);
  // Closes the port and stops polling and waiting, with the line that says so.
  void Close();
  // On a quiet line: acknowledges the records logged since the last
  // command, once they are on disk, or polls. Sends nothing while bytes
  // arrive. Throws EInOutError when the log could not be synced.
  void Tick();
  // Reads `Count` received bytes and logs each record they complete. Throws
  // EInOutError when a record could not be logged.
  void Received(int32_t Count);
  void LineErrors(int32_t Errors);
  void Break();
  void TxEmpty();

  // The record state, readable for tests.
  const TRecord& RecordSlots() const { return FRecord; }
  int32_t RecordIndex() const { return FRecordIndex; }
  uint8_t RecordLines() const { return FRecordLines; }
  bool AckPending() const { return FAckPending; }

 private:
  void Status(const std::string& line, TStatusKind kind = TStatusKind::Event);
  void LogError(const EInOutError& error);
  // Logs the complete record; returns the append's failure, if any.
  std::exception_ptr CompleteRecord();
  void Retry();

  // Unattended logging: the device is being waited for (FLost), after it
  // went away while open (FWasLost); a failed attempt is not reported again.
  bool FReconnect = false;
  bool FLost = false;
  bool FWasLost = false;
  async32::ErrorKind FReason = async32::ErrorKind::kNone;  // why it is waited for, as last said
  QTimer FRetry;
  int FStaleAfter = 0;
  bool FStale = false;
  QTimer FWatchdog;

  async32::TCustomComm32& FPort;
  QTimer FTimer;

  bool FCreateLog = false;
  TUnsyncedLog FUnsynced;
  bool FAckPending = false;
  // A record since the last command could not be logged: the next command
  // must not be "*", or the device would drop that record.
  bool FLogFailed = false;
  // Until the first "?" of an open, bytes are the rest of an answer to an
  // earlier poll, cut anywhere: they are dropped.
  bool FPolled = false;
  // Bytes came since the last tick: the line is not quiet, and the tick
  // sends nothing. A line that is never quiet is never polled: logging
  // records cut anywhere, and acknowledging them, would lose the real ones.
  bool FHeard = false;
  TRecord FRecord{};
  int32_t FRecordIndex = 0;
  uint8_t FRecordLines = 0;
};
