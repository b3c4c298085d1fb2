#include "async32/posix/posix_driver.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cctype>
#include <cerrno>

#include "async32/comm_codes.h"
#include "async32/comm_records.h"

namespace async32 {
namespace {

// Major numbers of Unix98 pseudo-terminal slaves.
constexpr unsigned kPtyFirstMajor = 136;
constexpr unsigned kPtyLastMajor = 143;

int Ioctl(int fd, unsigned long request, void* arg) {
  while (ioctl(fd, request, arg) < 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

// The signal that ends a modem-line wait: TIOCMIWAIT sleeps until a line
// changes or a signal arrives, and nothing else can wake it. Its handler does
// nothing and is installed without SA_RESTART, so the ioctl fails with EINTR.
// Zero when the signal is taken by another handler of the program.
int CancelSignal() {
  static const int signal = [] {
    const int sig = SIGRTMIN + 4;
    struct sigaction now {};
    if (sigaction(sig, nullptr, &now) != 0 || now.sa_handler != SIG_DFL) return 0;
    struct sigaction wake {};
    wake.sa_handler = [](int) {};
    sigemptyset(&wake.sa_mask);
    return sigaction(sig, &wake, nullptr) == 0 ? sig : 0;
  }();
  return signal;
}

class PosixDriver final : public SerialDriver {
 public:
  explicit PosixDriver(int fd) : fd_(fd) {}
  ~PosixDriver() override {
    // The exclusive flag outlives the descriptor on a pseudo-terminal.
    ioctl(fd_, TIOCNXCL);
    close(fd_);
  }

  int PollFd() const override { return fd_; }

  ssize_t Read(uint8_t* buf, size_t count) override {
    const ssize_t n = read(fd_, buf, count);
    return n < 0 ? -errno : n;
  }

  ssize_t Write(const uint8_t* buf, size_t count) override {
    const ssize_t n = write(fd_, buf, count);
    return n < 0 ? -errno : n;
  }

  int GetTermios(termios2& t) override { return Ioctl(fd_, TCGETS2, &t); }
  int SetTermios(const termios2& t) override {
    return Ioctl(fd_, TCSETS2, const_cast<termios2*>(&t));
  }

  int GetModemLines(int& bits) override { return Ioctl(fd_, TIOCMGET, &bits); }

  int WaitModemChange() override {
    const int sig = CancelSignal();
    if (sig == 0) return ENOTSUP;
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    waiter_ = pthread_self();
    waiting_ = true;
    const unsigned long lines = TIOCM_CTS | TIOCM_DSR | TIOCM_RNG | TIOCM_CD;
    int err = ECANCELED;
    while (!cancelled_) {
      err = ioctl(fd_, TIOCMIWAIT, lines) == 0 ? 0 : errno;
      if (err != EINTR) break;
      err = ECANCELED;
    }
    waiting_ = false;
    return err;
  }

  void CancelModemWait() override {
    cancelled_ = true;
    if (waiting_) pthread_kill(waiter_, CancelSignal());
  }
  int SetModemLines(int bits, bool on) override {
    return Ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bits);
  }

  int GetCounters(SerialCounters& c) override {
    serial_icounter_struct k{};
    if (const int err = Ioctl(fd_, TIOCGICOUNT, &k)) return err;
    c.brk = static_cast<uint32_t>(k.brk);
    c.frame = static_cast<uint32_t>(k.frame);
    c.overrun = static_cast<uint32_t>(k.overrun);
    c.parity = static_cast<uint32_t>(k.parity);
    c.bufOverrun = static_cast<uint32_t>(k.buf_overrun);
    c.cts = static_cast<uint32_t>(k.cts);
    c.dsr = static_cast<uint32_t>(k.dsr);
    c.rng = static_cast<uint32_t>(k.rng);
    c.dcd = static_cast<uint32_t>(k.dcd);
    return 0;
  }

  int SetBreak(bool on) override { return Ioctl(fd_, on ? TIOCSBRK : TIOCCBRK, nullptr); }
  int Flush(int queue) override {
    return Ioctl(fd_, TCFLSH, reinterpret_cast<void*>(static_cast<intptr_t>(queue)));
  }
  int Flow(int action) override {
    return Ioctl(fd_, TCXONC, reinterpret_cast<void*>(static_cast<intptr_t>(action)));
  }
  int OutputQueue(int& bytes) override { return Ioctl(fd_, TIOCOUTQ, &bytes); }

  int SetRs485Toggle(bool on) override {
    serial_rs485 rs{};
    if (const int err = Ioctl(fd_, TIOCGRS485, &rs)) return err;
    if (on) {
      rs.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
      rs.flags &= ~SER_RS485_RTS_AFTER_SEND;
    } else {
      rs.flags &= ~SER_RS485_ENABLED;
    }
    return Ioctl(fd_, TIOCSRS485, &rs);
  }

  // A pseudo-terminal is no serial port; anything the serial layer knows
  // about is an RS-232 port.
  uint32_t ProviderSubType() override {
    struct stat st {};
    if (fstat(fd_, &st) == 0) {
      const unsigned m = major(st.st_rdev);
      if (m >= kPtyFirstMajor && m <= kPtyLastMajor) return PST_UNSPECIFIED;
    }
    serial_struct info{};
    return Ioctl(fd_, TIOCGSERIAL, &info) == 0 ? PST_RS232 : PST_UNSPECIFIED;
  }

 private:
  int fd_;
  std::atomic<bool> cancelled_ = false;
  std::atomic<bool> waiting_ = false;
  pthread_t waiter_{};  // written before waiting_ is set
};

bool IsComName(const std::string& name, unsigned long& number) {
  if (name.size() < 4) return false;
  for (int i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return false;
  }
  number = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i])) || number > 100000) return false;
    number = number * 10 + static_cast<unsigned long>(name[i] - '0');
  }
  return number >= 1;
}

}  // namespace

std::string DevicePath(const std::string& deviceName) {
  if (deviceName.find('/') != std::string::npos) return deviceName;
  unsigned long number = 0;
  if (IsComName(deviceName, number)) return "/dev/ttyS" + std::to_string(number - 1);
  return "/dev/" + deviceName;
}

std::unique_ptr<SerialDriver> OpenPosixDriver(const std::string& path, int& error) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = errno == EISDIR ? ENOTTY : errno;  // a directory is no terminal either
    return nullptr;
  }
  error = 0;
  if (!isatty(fd)) {
    error = ENOTTY;
  } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error = errno == EWOULDBLOCK ? EBUSY : errno;
  } else if (ioctl(fd, TIOCEXCL) != 0 && errno != EINVAL && errno != ENOTTY) {
    error = errno;  // a driver without exclusive mode still opens: flock keeps our kind out
  }
  if (error != 0) {
    close(fd);
    return nullptr;
  }
  return std::make_unique<PosixDriver>(fd);
}

}  // namespace async32
