// The engine's modem lines: a thread that waits for them to change where the
// driver can, polling where it cannot, and the events their changes raise.
#include "async32/posix/port_engine.h"

#include <sys/ioctl.h>

#include <cerrno>
#include <system_error>
#include <thread>

namespace async32 {

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

bool PortEngine::PollModemLines() const {
  return modemLinesKnown_ && !modemLinesWaited_ && (mask_ & kModemEvents);
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

}  // namespace async32
