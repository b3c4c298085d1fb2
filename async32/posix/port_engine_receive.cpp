// The engine's receive side: received bytes into the queue, the kernel's
// line-error marks out of them, the error counters, a device that went away.
#include "async32/posix/port_engine.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>

namespace async32 {

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
