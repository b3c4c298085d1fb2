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
namespace {

constexpr uint32_t kModemEvents = EV_CTS | EV_DSR | EV_RING | EV_RLSD;
// How often the draining output is looked at after a write.
constexpr int kDrainPollMs = 10;
// How often modem lines are asked for where the driver cannot wait for them:
// each ask is a USB transfer on an adapter, and a line event a tenth of a
// second late is still on time for anyone reading the status pane.
constexpr int kModemPollMs = 100;
// Reads per wake-up before other work gets a turn; poll() is level-triggered,
// so what is left wakes the monitor again at once.
constexpr int kMaxReadsPerWake = 16;
// The longest a closing port waits for its last bytes to go out.
constexpr std::chrono::milliseconds kMostDrain(500);

}  // namespace

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

// The last bytes written (a final "*") go out before the port closes, for as
// long as they need at the line rate but never long: output still held back
// then (a handshake line low, XOFF) is thrown away, or closing would wait for
// it up to half a minute.
void PortEngine::DrainOutput() {
  int queued = 0;
  if (driver_->OutputQueue(queued) != 0 || queued <= 0) return;
  const uint32_t rate = std::max(OutputSpeed(applied_), 50u);  // ten bits a byte
  const auto needed = std::chrono::milliseconds(20 + 10000LL * queued / rate);
  const auto end = std::chrono::steady_clock::now() + std::min(needed, kMostDrain);
  while (std::chrono::steady_clock::now() < end && !txHeld_) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (driver_->OutputQueue(queued) != 0 || queued <= 0) return;
  }
  driver_->Flush(TCOFLUSH);
}

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

// Modem lines are waited for on a thread of their own, as the wait blocks in
// the driver. Where no thread can be had, they are polled.
void PortEngine::StartModemWatch() {
  if (!modemLinesKnown_ || modemWatcher_.joinable()) return;
  std::lock_guard lock(mutex_);
  try {
    modemWatcher_ = std::thread(&PortEngine::WatchModemLines, this);
    modemLinesWaited_ = true;
  } catch (const std::system_error&) {
  }
}

// Looks at the lines before each wait, so that a change since the last look
// is not missed. A driver that cannot wait hands the lines back to polling.
void PortEngine::WatchModemLines() {
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      SerialCounters counts;
      CheckModemLines(countersKnown_ && driver_->GetCounters(counts) == 0 ? &counts : nullptr);
      if (events_ != 0) wake_.Set();
    }
    const int err = driver_->WaitModemChange();
    if (err == ECANCELED) break;
    if (err != 0) {
      std::lock_guard lock(mutex_);
      modemLinesWaited_ = false;
      wake_.Set();
      break;
    }
  }
  modemWatchEnded_ = true;
}

void PortEngine::StopModemWatch() {
  if (!modemWatcher_.joinable()) return;
  while (!modemWatchEnded_) {
    driver_->CancelModemWait();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  modemWatcher_.join();
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
      fds[0] = {stop.Fd(), POLLIN, 0};
      fds[1] = {wake_.Fd(), POLLIN, 0};
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

// With input flow control on, a full queue is not read further: the bytes
// wait in the kernel, whose own buffer filling up holds the device back
// (XOFF sent, or RTS or DTR dropped), as a serial driver does at its limit.
// Without flow control, bytes that do not fit are lost and said so.
bool PortEngine::InputFlowControl() const {
  return dcb_.Flag(fInX) || dcb_.RtsControl() == RTS_CONTROL_HANDSHAKE ||
         dcb_.DtrControl() == DTR_CONTROL_HANDSHAKE;
}

bool PortEngine::Throttled() const {
  return InputFlowControl() && inQueue_.size() >= inQueueLimit_;
}

bool PortEngine::PollModemLines() const {
  return modemLinesKnown_ && !modemLinesWaited_ && (mask_ & kModemEvents);
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

void PortEngine::PumpInput(short revents) {
  uint8_t buf[4096];
  for (int i = 0; i < kMaxReadsPerWake && !Throttled(); ++i) {
    // With input flow control only what fits is taken; the rest waits.
    size_t want = sizeof buf;
    if (InputFlowControl()) want = std::min(want, inQueueLimit_ - inQueue_.size());
    const ssize_t n = driver_->Read(buf, want);
    if (n > 0) {
      Receive(buf, static_cast<size_t>(n));
      continue;
    }
    if (n == -EINTR) continue;
    if (n == -EAGAIN) return;
    // End of file is a hang-up only where poll() said there was something
    // to read; otherwise it is nothing yet. EIO and the like: the device
    // has gone away.
    if (n == 0 && !(revents & (POLLIN | POLLHUP | POLLERR))) return;
    MarkDead();
    return;
  }
}

// Reads the kernel's line-error counters, once a batch of received bytes and
// never on an idle port: they say which error a mark stands for, and show
// overruns, which leave no mark. Breaks counted wait to be matched with their
// marks, so that a \377 \0 \0 is known as a break and not a 0 received
// with an error.
uint32_t PortEngine::CountLineErrors() {
  SerialCounters now;
  if (!countersKnown_ || driver_->GetCounters(now) != 0) return 0;
  const SerialCounters& was = lastCounters_;
  uint32_t errors = 0;
  if (now.frame != was.frame) errors |= CE_FRAME;
  if (now.overrun != was.overrun) errors |= CE_OVERRUN;
  if (now.parity != was.parity) errors |= CE_RXPARITY;
  if (now.bufOverrun != was.bufOverrun) errors |= CE_RXOVER;
  if (now.brk != was.brk) {
    pendingBreaks_ += now.brk - was.brk;
    errors |= CE_BREAK;
  }
  lastCounters_ = now;
  return errors;
}

// Takes the kernel's marks (see termios_map) out of the stream, a mark split
// over two reads included: false when `b` is part of a mark. A break leaves
// nothing; a byte received with an error stays as it came.
bool PortEngine::Unmark(uint8_t b, uint32_t& errors) {
  switch (mark_) {
    case 0:
      if (b != 0377) return true;
      mark_ = 1;
      return false;
    case 1:
      mark_ = b == 0 ? 2 : 0;
      return b != 0;  // \377 \377 is a real 255
    default:
      mark_ = 0;
      if (b == 0 && (pendingBreaks_ > 0 || !countersKnown_)) {
        if (pendingBreaks_ > 0) {
          --pendingBreaks_;
        } else {
          errors |= CE_BREAK;
        }
        return false;
      }
      if (!countersKnown_) errors |= dcb_.Flag(fParity) ? CE_RXPARITY : CE_FRAME;
      return true;
  }
}

void PortEngine::Receive(const uint8_t* bytes, size_t count) {
  const bool marked = (applied_.c_iflag & PARMRK) != 0;
  uint32_t errors = CountLineErrors();
  bool queued = false, flag = false, overflow = false;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t b = bytes[i];
    if (marked && !Unmark(b, errors)) continue;
    if (b == 0 && dcb_.Flag(fNull)) continue;
    if (inQueue_.size() >= inQueueLimit_) {
      overflow = true;
      continue;
    }
    inQueue_.push_back(b);
    queued = true;
    flag = flag || b == static_cast<uint8_t>(dcb_.EvtChar);
  }
  if (queued) Raise(EV_RXCHAR);
  if (flag) Raise(EV_RXFLAG);
  if (errors & CE_BREAK) Raise(EV_BREAK);
  if (errors & ~CE_BREAK) Raise(EV_ERR);
  errors_ |= errors;
  // A full queue loses bytes; the owner hears of it as a line error so the
  // loss never goes unseen.
  if (overflow) {
    errors_ |= CE_RXOVER;
    Raise(EV_ERR);
  }
}

// The device is gone: said once as an I/O error, after which waits fail.
void PortEngine::MarkDead() {
  dead_ = true;
  errors_ |= CE_IOE;
  Raise(EV_ERR);
  writeActive_ = false;
  outPending_.clear();
}

void PortEngine::ContinueWrite() {
  while (outOffset_ < outPending_.size()) {
    const ssize_t n = driver_->Write(outPending_.data() + outOffset_, outPending_.size() - outOffset_);
    if (n > 0) {
      outOffset_ += static_cast<size_t>(n);
    } else if (n == 0 || n == -EAGAIN) {
      return;
    } else if (n != -EINTR) {
      break;  // the write ends unfinished; a pending write reports no failure
    }
  }
  EndWrite();
}

void PortEngine::EndWrite() {
  writeActive_ = false;
  outPending_.clear();
  outOffset_ = 0;
  txEmptyWatch_ = true;
}

void PortEngine::CheckTxEmpty() {
  if (!txEmptyWatch_ || writeActive_) return;
  int queued = 0;
  if (driver_->OutputQueue(queued) == 0 && queued > 0) return;
  txEmptyWatch_ = false;
  if (rtsToggleEmulated_) driver_->SetModemLines(TIOCM_RTS, false);
  Raise(EV_TXEMPTY);
}

// Compares the lines with the last look. With the kernel's counts, a count
// that moved is a change too: a line that flipped and back between two looks,
// or a ring that the UART counts only as it ends, when RI is off again.
void PortEngine::CheckModemLines(const SerialCounters* counts) {
  int lines = 0;
  if (driver_->GetModemLines(lines) != 0) return;
  const int was = lastModemLines_;
  const int changed = lines ^ was;
  lastModemLines_ = lines;
  SerialCounters moved;
  if (counts) {
    const SerialCounters& last = lastModemCounts_;
    moved = {.cts = counts->cts - last.cts, .dsr = counts->dsr - last.dsr,
             .rng = counts->rng - last.rng, .dcd = counts->dcd - last.dcd};
    lastModemCounts_ = *counts;
  }
  if ((changed & TIOCM_CTS) || moved.cts) Raise(EV_CTS);
  if ((changed & TIOCM_DSR) || moved.dsr) Raise(EV_DSR);
  if ((changed & TIOCM_CD) || moved.dcd) Raise(EV_RLSD);
  const bool rose = (changed & TIOCM_RI) && (lines & TIOCM_RI);
  if (rose || (moved.rng && !((lines | was) & TIOCM_RI))) Raise(EV_RING);
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

bool PortEngine::GetCommModemStatus(uint32_t& status) {
  std::lock_guard lock(mutex_);
  int lines = 0;
  if (const int err = driver_->GetModemLines(lines)) {
    SetLastError(err);
    return false;
  }
  status = ((lines & TIOCM_CTS) ? MS_CTS_ON : 0) | ((lines & TIOCM_DSR) ? MS_DSR_ON : 0) |
           ((lines & TIOCM_RI) ? MS_RING_ON : 0) | ((lines & TIOCM_CD) ? MS_RLSD_ON : 0);
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

WriteStart PortEngine::WriteFile(const uint8_t* data, uint32_t count, uint32_t& written) {
  std::lock_guard lock(mutex_);
  written = 0;
  if (dead_ || writeActive_) {
    SetLastError(dead_ ? EIO : EBUSY);
    return WriteStart::kFailed;
  }
  if (count == 0) return WriteStart::kCompleted;
  if (rtsToggleEmulated_) driver_->SetModemLines(TIOCM_RTS, true);
  size_t done = 0;
  while (!txHeld_ && done < count) {
    const ssize_t n = driver_->Write(data + done, count - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n == 0 || n == -EAGAIN) {
      break;
    } else if (n != -EINTR) {
      SetLastError(static_cast<int>(-n));
      return WriteStart::kFailed;
    }
  }
  wake_.Set();
  if (done == count) {
    written = count;
    txEmptyWatch_ = true;
    return WriteStart::kCompleted;
  }
  outPending_.assign(data + done, data + count);
  outOffset_ = 0;
  writeActive_ = true;
  return WriteStart::kPending;
}

bool PortEngine::WriteInProgress() {
  std::lock_guard lock(mutex_);
  return writeActive_;
}

bool PortEngine::ReadFile(uint8_t* buffer, uint32_t count, uint32_t& read) {
  std::lock_guard lock(mutex_);
  read = 0;
  if (count > inQueue_.size()) {
    SetLastError(EAGAIN);
    return false;
  }
  const bool wasThrottled = Throttled();
  std::copy_n(inQueue_.begin(), count, buffer);
  inQueue_.erase(inQueue_.begin(), inQueue_.begin() + count);
  read = count;
  if (wasThrottled && count > 0) wake_.Set();  // room again: the monitor reads on
  return true;
}

}  // namespace async32
