// The engine's write side: the pending write with its own copy of the bytes,
// the transmitter-empty event, and the drain when the port closes.
#include "async32/posix/port_engine.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "async32/posix/termios_map.h"

namespace async32 {

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

}  // namespace async32
