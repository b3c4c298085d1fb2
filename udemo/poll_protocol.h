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

#include <functional>
#include <string>
#include <string_view>

#include "async32/comm32.h"
#include "udemo/record_assembly.h"

// Holds the log file name; the dialog itself is never shown.
struct TSaveDialog {
  std::string FileName = "Karo.txt";
};

class TPollProtocol {
 public:
  explicit TPollProtocol(async32::TCustomComm32& port);

  // A status line. `routine` marks the lines that come with every poll
  // (received data, transmitter empty), which a log of events may leave out.
  std::function<void(const std::string& line, bool routine)> OnStatus;
  // A complete record: its 34 raw bytes and the stamp text that follows them.
  std::function<void(std::string_view record, std::string_view stamp)> OnRecordLine;
  // After every 25th record line: the record pane is emptied.
  std::function<void()> OnRecordLinesFull;

  TSaveDialog SaveDialog1;
  // The tick; its owner runs Tick on each timeout, so that an error the tick
  // raises reaches the owner's error handling.
  QTimer& Timer() { return FTimer; }

  // The port's open report: the connect report, the clock-setting message
  // and the start of polling, or the error line.
  void Opened(int32_t ProviderSubType, int32_t Error);
  // Closes the port and stops polling, with the status line that says so.
  void Close();
  // Acknowledges the records of the interval, once they are on disk, or
  // polls. Throws EInOutError when the log could not be synced.
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
  void Status(const std::string& line, bool routine = false);
  void CompleteRecord();

  async32::TCustomComm32& FPort;
  QTimer FTimer;
  bool FAckPending = false;
  // A record of this poll interval could not be logged: the next tick must
  // not acknowledge, or the device would drop that record.
  bool FLogFailed = false;
  TRecord FRecord{};
  int32_t FRecordIndex = 0;
  uint8_t FRecordLines = 0;
};
