#include "async32/comm32.h"

#include <algorithm>
#include <system_error>

#include "async32/errors.h"

namespace async32 {
namespace {

// What each flow-control value writes into the block; fcDefault writes
// nothing and keeps the block as the device reported it.
struct FlowRecipe {
  bool outxCtsFlow;
  uint32_t rtsControl;
  bool outxDsrFlow;
  uint32_t dtrControl;
  bool outX;
  bool inX;
};

constexpr FlowRecipe kFlowRecipes[] = {
    {false, RTS_CONTROL_TOGGLE, false, DTR_CONTROL_ENABLE, false, false},     // fcNone
    {true, RTS_CONTROL_HANDSHAKE, false, DTR_CONTROL_ENABLE, false, false},   // fcCTS
    {false, RTS_CONTROL_ENABLE, true, DTR_CONTROL_HANDSHAKE, false, false},   // fcDTR
    {false, RTS_CONTROL_ENABLE, false, DTR_CONTROL_ENABLE, true, true},       // fcSoftware
};

// Values outside an enumeration are ignored: the property keeps its value.
template <typename E>
bool InRange(E value, int count) {
  return static_cast<int>(value) < count;
}

}  // namespace

TCustomComm32::TCustomComm32() = default;

TCustomComm32::~TCustomComm32() {
  FDestroying = true;
  Close();
}

std::unique_ptr<CommPort> TCustomComm32::CreatePort(const std::string& Name) {
  return CreateCommPort(Name);
}

void TCustomComm32::Open() {
  Close();
  SetLastError(0);
  FCommConfig = COMMCONFIG{};
  FCommConfig.dwProviderSubType = 0;
  FHandle = CreatePort(FDeviceName);
  if (FHandle) {
    // The results of these steps are not checked: a step that fails leaves
    // its code as the last error, which OnOpen reports, and the port open.
    FHandle->GetCommConfig(FCommConfig);
    FHandle->SetCommState(FCommConfig.dcb);
    FHandle->SetupComm(static_cast<uint32_t>(std::max(FReadBufferSize, 0)),
                       static_cast<uint32_t>(std::max(FWriteBufferSize, 0)));
    COMMTIMEOUTS timeouts;
    timeouts.ReadIntervalTimeout = 250;
    FHandle->SetCommTimeouts(timeouts);
    FHandle->GetCommState(FDCB);
    ApplyAllSettings(FDCB);
    FHandle->SetCommState(FDCB);
    // An open port that nothing monitors would look alive and report
    // nothing: when no monitor can be made, the open fails instead. Making
    // it must not change what the steps above left as the last error (on
    // Windows, creating an event clears it).
    const int configurationError = GetLastError();
    int monitorError = 0;
    try {
      FThread = std::make_unique<TC32Thread>(
          FHandle.get(), FMonitorEvents,
          [this](TC32Thread* Sender, uint32_t EventMask) { ProcessCommEvents(Sender, EventMask); });
      if (!FThread->Started()) monitorError = FThread->StartError();
    } catch (const std::system_error& e) {  // no thread could be created
      monitorError = e.code().value();
    }
    if (monitorError != 0) {
      FThread.reset();
      FHandle.reset();
    }
    SetLastError(monitorError != 0 ? monitorError : configurationError);
  }
  NotifyOpen(static_cast<int32_t>(FCommConfig.dwProviderSubType), GetLastError());
}

void TCustomComm32::Close() {
  if (!IsOpen()) return;
  if (FThread) {
    // Hand-overs the thread has already begun are served while waiting.
    FThread->SignalStop();
    FThread->WaitFor();
    FThread.reset();
  }
  FHandle.reset();
  FWritePending = false;
}

int32_t TCustomComm32::Write(const void* Buffer, int32_t Count) {
  if (!FHandle || Count < 0) {
    SetLastError(NotOpenError());
    return -1;
  }
  if (FWritePending) {
    if (FHandle->WriteInProgress()) return 0;
    FWritePending = false;
  }
  uint32_t written = 0;
  switch (FHandle->WriteFile(static_cast<const uint8_t*>(Buffer), static_cast<uint32_t>(Count),
                             written)) {
    case WriteStart::kCompleted: return static_cast<int32_t>(written);
    case WriteStart::kPending: FWritePending = true; return 0;
    case WriteStart::kFailed: break;
  }
  return -1;
}

int32_t TCustomComm32::Read(void* Buffer, int32_t Count) {
  if (!FHandle || Count < 0) {
    SetLastError(NotOpenError());
    return -1;
  }
  uint32_t read = 0;
  if (!FHandle->ReadFile(static_cast<uint8_t*>(Buffer), static_cast<uint32_t>(Count), read)) {
    return -1;
  }
  return static_cast<int32_t>(read);
}

bool TCustomComm32::GetModemState(int32_t Line) {
  static constexpr uint32_t kLineBits[] = {0, MS_CTS_ON, MS_DSR_ON, MS_RING_ON, MS_RLSD_ON};
  const uint32_t bit = (Line >= 1 && Line <= 4) ? kLineBits[Line] : 0;
  uint32_t status = 0;
  if (!IsOpen() || !FHandle->GetCommModemStatus(status)) return false;
  return (status & bit) != 0;
}

bool TCustomComm32::SetDTRState(bool State) {
  return FHandle && FHandle->EscapeCommFunction(State ? SETDTR : CLRDTR);
}

bool TCustomComm32::SetRTSState(bool State) {
  return FHandle && FHandle->EscapeCommFunction(State ? SETRTS : CLRRTS);
}

bool TCustomComm32::SetBREAKState(bool State) {
  if (!FHandle) return false;
  const bool accepted = FHandle->EscapeCommFunction(State ? SETBREAK : CLRBREAK);
  FHandle->PurgeComm(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  return accepted;
}

bool TCustomComm32::SetXONState(bool State) {
  return FHandle && FHandle->EscapeCommFunction(State ? SETXON : SETXOFF);
}

void TCustomComm32::SetBaudRate(TBaudRate Value) {
  if (!InRange(Value, kBaudRateCount)) return;
  FBaudRate = Value;
  ApplyToDevice([&](DCB& dcb) { dcb.BaudRate = kBaudRateCodes[Value]; });
}

void TCustomComm32::SetParity(TParity Value) {
  if (!InRange(Value, kParityCount)) return;
  FParity = Value;
  ApplyToDevice([&](DCB& dcb) { dcb.Parity = kParityCodes[Value]; });
}

void TCustomComm32::SetStopbits(TStopbits Value) {
  if (!InRange(Value, kStopbitsCount)) return;
  FStopbits = Value;
  ApplyToDevice([&](DCB& dcb) { dcb.StopBits = kStopbitsCodes[Value]; });
}

void TCustomComm32::SetDatabits(TDatabits Value) {
  if (!InRange(Value, kDatabitsCount)) return;
  FDatabits = Value;
  ApplyToDevice([&](DCB& dcb) { dcb.ByteSize = kDatabitsCodes[Value]; });
}

void TCustomComm32::SetFlowControl(TFlowControl Value) {
  if (!InRange(Value, kFlowControlCount)) return;
  FFlowControl = Value;
  ApplyToDevice([&](DCB& dcb) { ApplyFlowControl(dcb); });
}

void TCustomComm32::SetXonChar(char Value) {
  FXonChar = Value;
  ApplyToDevice([&](DCB& dcb) { dcb.XonChar = Value; });
}

void TCustomComm32::SetXoffChar(char Value) {
  FXoffChar = Value;
  ApplyToDevice([&](DCB& dcb) { dcb.XoffChar = Value; });
}

void TCustomComm32::SetOptions(TComm32Options Value) {
  FOptions = Value;
  ApplyToDevice([&](DCB& dcb) { ApplyOptions(dcb); });
}

// A refused value leaves the device as it was; the property keeps the new
// value all the same. A block that cannot be read is replaced by the one
// held from the last time.
void TCustomComm32::ApplyToDevice(const std::function<void(DCB&)>& change) {
  if (!IsOpen()) return;
  FHandle->GetCommState(FDCB);
  change(FDCB);
  FHandle->SetCommState(FDCB);
}

void TCustomComm32::ApplyAllSettings(DCB& dcb) const {
  dcb.BaudRate = kBaudRateCodes[FBaudRate];
  dcb.Parity = kParityCodes[FParity];
  dcb.StopBits = kStopbitsCodes[FStopbits];
  dcb.ByteSize = kDatabitsCodes[FDatabits];
  ApplyOptions(dcb);
  ApplyFlowControl(dcb);
}

// Every option bit is written: an option not in the set is switched off.
void TCustomComm32::ApplyOptions(DCB& dcb) const {
  for (int i = osParityCheck; i <= osNullStrip; ++i) {
    dcb.SetFlag(kOptionFlags[i], FOptions.Contains(static_cast<TComm32Option>(i)));
  }
}

void TCustomComm32::ApplyFlowControl(DCB& dcb) const {
  if (FFlowControl == fcDefault) return;
  const FlowRecipe& r = kFlowRecipes[FFlowControl];
  dcb.SetFlag(fOutxCtsFlow, r.outxCtsFlow);
  dcb.SetRtsControl(r.rtsControl);
  dcb.SetFlag(fOutxDsrFlow, r.outxDsrFlow);
  dcb.SetDtrControl(r.dtrControl);
  dcb.SetFlag(fOutX, r.outX);
  dcb.SetFlag(fInX, r.inX);
  if (FFlowControl == fcSoftware) {
    dcb.XonChar = FXonChar;
    dcb.XoffChar = FXoffChar;
  }
}

void TCustomComm32::NotifyOpen(int32_t ProviderSubType, int32_t Error) {
  if (OnOpen && !FDestroying) OnOpen(this, ProviderSubType, Error);
}

void TCustomComm32::NotifyEvent(uint32_t EventCode) {
  if (FDestroying) return;
  switch (EventCode) {
    case EV_BREAK: if (OnBreak) OnBreak(this); break;
    case EV_CTS: if (OnCTS) OnCTS(this); break;
    case EV_DSR: if (OnDSR) OnDSR(this); break;
    case EV_ERR: if (OnError) OnError(this, static_cast<int32_t>(FErrors)); break;
    case EV_RING: if (OnRing) OnRing(this); break;
    case EV_RLSD: if (OnRLSD) OnRLSD(this); break;
    case EV_RXCHAR: if (OnRxChar) OnRxChar(this, static_cast<int32_t>(FComStat.cbInQue)); break;
    case EV_RXFLAG: if (OnRxFlag) OnRxFlag(this); break;
    case EV_TXEMPTY: if (OnTxEmpty) OnTxEmpty(this); break;
    default: break;
  }
}

// Errors and Count come from the one ClearCommError at the start, whatever
// the handlers do afterwards.
void TCustomComm32::ProcessCommEvents(TC32Thread* /*Sender*/, uint32_t EventMask) {
  if (!FHandle) return;
  FHandle->ClearCommError(FErrors, FComStat);
  for (uint32_t code : kEventCodes) {
    if (EventMask & code) NotifyEvent(code);
  }
}

}  // namespace async32
