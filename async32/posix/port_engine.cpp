#include "async32/posix/port_engine.h"

#include <poll.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

#include "async32/posix/termios_map.h"

namespace async32 {

PortEngine::PortEngine(std::unique_ptr<SerialDriver> driver) : driver_(std::move(driver)) {
  driver_->GetTermios(applied_);
  dcb_ = DcbFromTermios(applied_);
  modemLinesKnown_ = driver_->GetModemLines(lastModemLines_) == 0;
  countersKnown_ = driver_->GetCounters(lastCounters_) == 0;
  lastModemCounts_ = lastCounters_;
}

// A terminal outlives the handle: what this port held or switched on must
// not stay with the device for its next user.
PortEngine::~PortEngine() {
  StopModemWatch();
  DrainOutput();
  if (txHeld_) driver_->Flow(TCOON);
  if (rs485Toggle_) driver_->SetRs485Toggle(false);
}

bool PortEngine::Valid() const { return wake_.Valid(); }

bool PortEngine::GetCommConfig(COMMCONFIG& config) {
  std::lock_guard lock(mutex_);
  config.dcb = dcb_;
  config.dwProviderSubType = driver_->ProviderSubType();
  return true;
}

bool PortEngine::GetCommState(DCB& dcb) {
  std::lock_guard lock(mutex_);
  dcb = dcb_;
  return true;
}

bool PortEngine::SetCommState(const DCB& dcb) {
  std::lock_guard lock(mutex_);
  termios2 wanted{};
  if (const int err = TermiosFromDcb(dcb, applied_, wanted)) {
    SetLastError(err);
    return false;
  }
  if (const int err = driver_->SetTermios(wanted)) {
    SetLastError(err);
    return false;
  }
  // A driver may accept a request and quietly keep another value; only what
  // reads back counts. A value that did not stick is refused as a whole.
  termios2 actual{};
  if (driver_->GetTermios(actual) != 0 || !LineSettingsMatch(wanted, actual)) {
    driver_->SetTermios(applied_);
    SetLastError(EINVAL);
    return false;
  }
  applied_ = actual;
  dcb_ = dcb;
  ApplyLineControl(dcb);
  return true;
}

// DTR and RTS follow their control modes. Drivers without modem lines (a
// pseudo-terminal) refuse this; the settings themselves still apply.
void PortEngine::ApplyLineControl(const DCB& dcb) {
  driver_->SetModemLines(TIOCM_DTR, dcb.DtrControl() != DTR_CONTROL_DISABLE);
  const bool toggle = dcb.RtsControl() == RTS_CONTROL_TOGGLE;
  if (toggle != rs485Toggle_) {
    rs485Toggle_ = toggle && driver_->SetRs485Toggle(true) == 0;
    if (!toggle) driver_->SetRs485Toggle(false);
  }
  rtsToggleEmulated_ = toggle && !rs485Toggle_;
  switch (dcb.RtsControl()) {
    case RTS_CONTROL_ENABLE: driver_->SetModemLines(TIOCM_RTS, true); break;
    case RTS_CONTROL_DISABLE: driver_->SetModemLines(TIOCM_RTS, false); break;
    case RTS_CONTROL_TOGGLE:
      if (rtsToggleEmulated_) driver_->SetModemLines(TIOCM_RTS, writeActive_);
      break;
    default: break;  // handshake: the kernel drives RTS
  }
}

bool PortEngine::SetupComm(uint32_t inQueue, uint32_t /*outQueue: writes keep their own copy*/) {
  if (inQueue == 0) {
    SetLastError(EINVAL);
    return false;
  }
  std::lock_guard lock(mutex_);
  inQueueLimit_ = inQueue;
  return true;
}

// Reads never wait on this platform, so time-outs have nothing to govern.
bool PortEngine::SetCommTimeouts(const COMMTIMEOUTS&) { return true; }

bool PortEngine::SetCommMask(uint32_t mask) {
  if (mask & kModemEvents) StartModemWatch();
  std::lock_guard lock(mutex_);
  mask_ = mask;
  events_ &= mask;
  wake_.Set();
  return true;
}

// Events raised between waits (the modem-line watcher's) still wait for one
// look at the device, so that what it reports together is handed over
// together.
WaitResult PortEngine::WaitCommEvent(uint32_t& mask, const EventObject& stop) {
  for (;;) {
    if (stop.IsSet()) return WaitResult::kStopped;
    pollfd fds[3];
    int timeout = -1;
    {
      std::lock_guard lock(mutex_);
      if (dead_ && events_ == 0) {
        SetLastError(EIO);
        return WaitResult::kFailed;
      }
      const bool sending = writeActive_ && !txHeld_;
      const short events = static_cast<short>((Throttled() ? 0 : POLLIN) | (sending ? POLLOUT : 0));
      fds[0] = {static_cast<int>(stop.Native()), POLLIN, 0};
      fds[1] = {static_cast<int>(wake_.Native()), POLLIN, 0};
      fds[2] = {driver_->PollFd(), events, 0};
      timeout = events_ != 0 ? 0 : PollTimeoutMs();
    }
    if (poll(fds, 3, timeout) < 0) {
      if (errno == EINTR) continue;
      SetLastError(errno);
      return WaitResult::kFailed;
    }
    if (fds[0].revents != 0) return WaitResult::kStopped;
    if (fds[1].revents != 0) wake_.Reset();
    std::lock_guard lock(mutex_);
    if (!dead_) Service(fds[2].revents);
    if (events_ != 0) {
      mask = events_;
      events_ = 0;
      return WaitResult::kEvents;
    }
  }
}

int PortEngine::PollTimeoutMs() const {
  if (txEmptyWatch_ && !writeActive_) return kDrainPollMs;
  return PollModemLines() ? kModemPollMs : -1;
}

// Received bytes are looked for on every wake, so that what a device
// reports together is handed over together.
void PortEngine::Service(short revents) {
  if (!Throttled()) {
    PumpInput(revents);
  } else if (revents & (POLLHUP | POLLERR)) {
    MarkDead();
  }
  if (dead_) return;
  if (writeActive_ && !txHeld_) ContinueWrite();
  CheckTxEmpty();
  if (PollModemLines()) CheckModemLines();
}

bool PortEngine::ClearCommError(uint32_t& errors, COMSTAT& stat) {
  std::lock_guard lock(mutex_);
  errors = errors_;
  errors_ = 0;
  stat = COMSTAT{};
  stat.cbInQue = static_cast<uint32_t>(inQueue_.size());
  stat.cbOutQue = static_cast<uint32_t>(outPending_.size() - outOffset_);
  stat.fXoffHold = txHeld_;
  return true;
}

bool PortEngine::EscapeCommFunction(uint32_t code) {
  std::lock_guard lock(mutex_);
  int err = 0;
  switch (code) {
    case SETXOFF:
      // The kernel stops its own output; the engine holds what it has not
      // handed to the kernel yet.
      err = driver_->Flow(TCOOFF);
      if (err == 0) txHeld_ = true;
      break;
    case SETXON:
      err = driver_->Flow(TCOON);
      if (err == 0) {
        txHeld_ = false;
        wake_.Set();
      }
      break;
    case SETRTS: err = driver_->SetModemLines(TIOCM_RTS, true); break;
    case CLRRTS: err = driver_->SetModemLines(TIOCM_RTS, false); break;
    case SETDTR: err = driver_->SetModemLines(TIOCM_DTR, true); break;
    case CLRDTR: err = driver_->SetModemLines(TIOCM_DTR, false); break;
    case SETBREAK: err = driver_->SetBreak(true); break;
    case CLRBREAK: err = driver_->SetBreak(false); break;
    default: err = EINVAL; break;
  }
  if (err != 0) SetLastError(err);
  return err == 0;
}

bool PortEngine::PurgeComm(uint32_t flags) {
  std::lock_guard lock(mutex_);
  if (flags & PURGE_TXABORT) {
    writeActive_ = false;
    outPending_.clear();
    outOffset_ = 0;
  }
  if (flags & PURGE_TXCLEAR) driver_->Flush(TCOFLUSH);
  if (flags & PURGE_RXCLEAR) {
    inQueue_.clear();
    driver_->Flush(TCIFLUSH);
    wake_.Set();
  }
  return true;
}

}  // namespace async32
