#pragma once
// The serial port component: one serial device, its line settings, opening
// and closing, non-blocking reads and writes, the line controls, and a
// monitor thread whose events reach the owner's handlers on the
// user-interface thread.
//
// How to use it:
// - Threads. Every operation is called on the user-interface thread, and
//   every handler runs there, one at a time. While a port is open, its
//   monitor thread waits for device events and hands each wait's events over
//   to that thread synchronously (async32/thread.h).
// - The wake hook. Before any port opens, the application installs
//   SetWakeMainThreadHook: the monitor calls it to say that a hand-over is
//   queued, and the user-interface thread then calls CheckSynchronize from
//   its event loop. Without the hook no event is ever delivered. An exception
//   that escapes a handler goes to SetEventErrorHook (c32_thread.h).
// - Event order. The events of one wait are delivered in the fixed order
//   Break, CTS, DSR, Error, Ring, RLSD, RxChar, RxFlag, TxEmpty; before them
//   the port's error state is read and cleared once, so OnError carries the
//   CE_ word (comm_codes.h) and OnRxChar the count of bytes waiting. A device
//   that goes away is reported once, as CE_IOE. OnOpen is not handed over:
//   it fires inside Open.
// - Results. The component never throws and never prints. Open reports
//   through OnOpen with 0, or with the platform's error code (errno values
//   on POSIX; ClassifyError in errors.h tells not found, denied, busy, gone
//   and a refused setting apart). A refused setting leaves the port open, so
//   that the owner may change it; anything else leaves it closed. Write and
//   Read give counts or -1, the line operations true or false; the reason is
//   then in GetLastError (last_error.h).
// - A handler never closes or opens its own port: Close waits for the
//   monitor, which waits for the handler (see Close).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "async32/c32_thread.h"
#include "async32/comm32_types.h"
#include "async32/comm_port.h"

namespace async32 {

class TCustomComm32;

using TNotifyEvent = std::function<void(TCustomComm32* Sender)>;
using TC32OpenEvent =
    std::function<void(TCustomComm32* Sender, int32_t ProviderSubType, int32_t Error)>;
using TC32ErrorEvent = std::function<void(TCustomComm32* Sender, int32_t Errors)>;
using TC32RxCharEvent = std::function<void(TCustomComm32* Sender, int32_t Count)>;

class TCustomComm32 {
 public:
  TCustomComm32();
  virtual ~TCustomComm32();
  TCustomComm32(const TCustomComm32&) = delete;
  TCustomComm32& operator=(const TCustomComm32&) = delete;

  bool IsOpen() const { return FHandle != nullptr; }
  void Open();
  // Waits for the monitor thread to end. Never call it (or Open, which closes
  // first) from a handler of the same port: the monitor waits for that handler
  // to return, so neither would go on. A handler may close another port.
  void Close();
  // Bytes written, 0 (this write goes on in the background, or an earlier
  // one still does and nothing was sent), or -1. The bytes are copied: the
  // caller may free them as soon as Write returns.
  int32_t Write(const void* Buffer, int32_t Count);
  // Bytes read, or -1 when fewer than Count are waiting.
  int32_t Read(void* Buffer, int32_t Count);
  // Line 1 CTS, 2 DSR, 3 RING, 4 RLSD.
  bool GetModemState(int32_t Line);
  bool SetDTRState(bool State);
  bool SetRTSState(bool State);
  // Also empties both queues and ends a pending write.
  bool SetBREAKState(bool State);
  // false: transmit as if XOFF had been received; true: as if XON had.
  bool SetXONState(bool State);

  // The owner is being destroyed: from now on no event reaches a handler.
  void Destroying() { FDestroying = true; }

  const std::string& DeviceName() const { return FDeviceName; }
  void SetDeviceName(const std::string& Value) { FDeviceName = Value; }
  TBaudRate BaudRate() const { return FBaudRate; }
  void SetBaudRate(TBaudRate Value);
  TParity Parity() const { return FParity; }
  void SetParity(TParity Value);
  TStopbits Stopbits() const { return FStopbits; }
  void SetStopbits(TStopbits Value);
  TDatabits Databits() const { return FDatabits; }
  void SetDatabits(TDatabits Value);
  TC32EventType MonitorEvents() const { return FMonitorEvents; }
  void SetMonitorEvents(TC32EventType Value) { FMonitorEvents = Value; }
  int32_t ReadBufferSize() const { return FReadBufferSize; }
  void SetReadBufferSize(int32_t Value) { FReadBufferSize = Value; }
  int32_t WriteBufferSize() const { return FWriteBufferSize; }
  void SetWriteBufferSize(int32_t Value) { FWriteBufferSize = Value; }
  TFlowControl FlowControl() const { return FFlowControl; }
  void SetFlowControl(TFlowControl Value);
  char XonChar() const { return FXonChar; }
  void SetXonChar(char Value);
  char XoffChar() const { return FXoffChar; }
  void SetXoffChar(char Value);
  TComm32Options Options() const { return FOptions; }
  void SetOptions(TComm32Options Value);

  TC32OpenEvent OnOpen;
  TNotifyEvent OnBreak;
  TNotifyEvent OnCTS;
  TNotifyEvent OnDSR;
  TC32ErrorEvent OnError;
  TNotifyEvent OnRing;
  TNotifyEvent OnRLSD;
  TC32RxCharEvent OnRxChar;
  TNotifyEvent OnRxFlag;
  TNotifyEvent OnTxEmpty;

 protected:
  virtual void NotifyOpen(int32_t ProviderSubType, int32_t Error);
  virtual void NotifyEvent(uint32_t EventCode);
  // Opens the named device; a test puts a port over a scripted driver here.
  virtual std::unique_ptr<CommPort> CreatePort(const std::string& Name);
  // The monitor thread's event target, run on the user-interface thread.
  void ProcessCommEvents(TC32Thread* Sender, uint32_t EventMask);

 private:
  // Re-applies one live setting to an open port through the held block.
  void ApplyToDevice(const std::function<void(DCB&)>& change);
  void ApplyAllSettings(DCB& dcb) const;
  void ApplyOptions(DCB& dcb) const;
  void ApplyFlowControl(DCB& dcb) const;

  std::string FDeviceName = "COM2";
  TBaudRate FBaudRate = cbr9600;
  TParity FParity = paNone;
  TStopbits FStopbits = sb10;
  TDatabits FDatabits = da8;
  TC32EventType FMonitorEvents = kAllEvents;
  int32_t FReadBufferSize = 4096;
  int32_t FWriteBufferSize = 2048;
  TFlowControl FFlowControl = fcDefault;
  char FXonChar = 17;
  char FXoffChar = 19;
  TComm32Options FOptions;

  std::unique_ptr<CommPort> FHandle;
  COMSTAT FComStat;
  DCB FDCB;
  COMMCONFIG FCommConfig;
  std::unique_ptr<TC32Thread> FThread;
  uint32_t FErrors = 0;
  bool FWritePending = false;
  bool FDestroying = false;
};

// The component with its properties and events published; it adds nothing.
class TComm32 : public TCustomComm32 {};

}  // namespace async32
