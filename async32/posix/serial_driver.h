#pragma once
// The descriptor-level operations the port engine needs from a serial device.
// The POSIX driver does them on a real terminal; tests put a scripted driver
// in its place to produce what a pseudo-terminal cannot (modem lines, breaks,
// line errors, refused settings).
//
// Results are errno values: 0 for success. Read and Write give a byte count,
// or a negative errno.

#include <asm/termbits.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace async32 {

// The kernel's running counts of line events (TIOCGICOUNT). A UART of the
// 16550 kind counts a ring only as it ends; other drivers count both edges.
struct SerialCounters {
  uint32_t brk = 0;
  uint32_t frame = 0;
  uint32_t overrun = 0;
  uint32_t parity = 0;
  uint32_t bufOverrun = 0;
  uint32_t cts = 0, dsr = 0, rng = 0, dcd = 0;  // modem-line changes
};

class SerialDriver {
 public:
  virtual ~SerialDriver() = default;

  // A descriptor that poll() reports readable when bytes arrive and
  // POLLHUP/POLLERR when the device goes away; writable when output fits.
  virtual int PollFd() const = 0;
  virtual ssize_t Read(uint8_t* buf, size_t count) = 0;
  virtual ssize_t Write(const uint8_t* buf, size_t count) = 0;

  virtual int GetTermios(termios2& t) = 0;
  virtual int SetTermios(const termios2& t) = 0;
  virtual int GetModemLines(int& bits) = 0;            // TIOCM_ bits
  // Blocks until an input line (CTS, DSR, RI, CD) changes: 0. ECANCELED once
  // CancelModemWait has been called; another errno where the driver cannot
  // wait for its lines (then they can only be asked for).
  virtual int WaitModemChange() = 0;
  // Ends the wait under way. A wait just about to begin may miss it, so the
  // caller repeats this until the waiting thread has left.
  virtual void CancelModemWait() = 0;
  virtual int SetModemLines(int bits, bool on) = 0;    // raise or drop
  virtual int GetCounters(SerialCounters& counters) = 0;
  virtual int SetBreak(bool on) = 0;
  virtual int Flush(int queue) = 0;                    // TCIFLUSH, TCOFLUSH
  virtual int Flow(int action) = 0;                    // TCOOFF, TCOON
  virtual int OutputQueue(int& bytes) = 0;             // bytes not yet sent
  virtual int SetRs485Toggle(bool on) = 0;             // RTS raised while sending
  virtual uint32_t ProviderSubType() = 0;
};

}  // namespace async32
