#pragma once
// A scripted serial driver for what a pseudo-terminal cannot produce: modem
// lines, breaks and line errors, refused settings and writes the device does
// not take. Its poll descriptor is a pipe that the script makes readable
// whenever something happened, as a device interrupt would.

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <mutex>
#include <vector>

#include "async32/platform/serial_driver.h"

namespace testing_support {

// What the test sees and scripts; shared with the driver, which the port
// engine owns and destroys on close.
struct FakeDevice {
  std::mutex mutex;
  termios2 termios{};
  std::function<void(termios2&)> quirk;  // changes what the device keeps
  int lines = 0;
  async32::SerialCounters counters;
  bool breakOn = false;
  bool flowStopped = false;
  bool hungUp = false;
  size_t acceptBytes = SIZE_MAX;  // writes beyond this are not taken yet
  std::vector<uint8_t> written;
  std::deque<uint8_t> incoming;
  std::vector<int> flushes;
  int setTermiosCalls = 0;
  int wakeFds[2] = {-1, -1};

  FakeDevice() {
    if (pipe2(wakeFds, O_NONBLOCK | O_CLOEXEC) != 0) wakeFds[0] = wakeFds[1] = -1;
    termios.c_cflag = B9600 | CS8 | CREAD | CLOCAL;
    termios.c_ospeed = termios.c_ispeed = 9600;
    termios.c_cc[VSTART] = 17;
    termios.c_cc[VSTOP] = 19;
  }
  ~FakeDevice() {
    close(wakeFds[0]);
    close(wakeFds[1]);
  }

  // Makes the monitor look at the device; call after changing it.
  void Interrupt() {
    const char c = 1;
    [[maybe_unused]] auto n = write(wakeFds[1], &c, 1);
  }
  void Feed(const std::vector<uint8_t>& bytes) {
    {
      std::lock_guard lock(mutex);
      incoming.insert(incoming.end(), bytes.begin(), bytes.end());
    }
    Interrupt();
  }
  template <typename F>
  void Change(F&& f) {
    {
      std::lock_guard lock(mutex);
      f(*this);
    }
    Interrupt();
  }
  template <typename T, typename F>
  T Get(F&& f) {
    std::lock_guard lock(mutex);
    return f(*this);
  }
  int Lines() { return Get<int>([](FakeDevice& d) { return d.lines; }); }
  void SetLines(int bits) { Change([bits](FakeDevice& d) { d.lines = bits; }); }
  void Accept(size_t bytes) { Change([bytes](FakeDevice& d) { d.acceptBytes = bytes; }); }
  bool BreakOn() { return Get<bool>([](FakeDevice& d) { return d.breakOn; }); }
  bool FlowStopped() { return Get<bool>([](FakeDevice& d) { return d.flowStopped; }); }
  int SetTermiosCalls() { return Get<int>([](FakeDevice& d) { return d.setTermiosCalls; }); }
  std::string Written() {
    return Get<std::string>([](FakeDevice& d) { return std::string(d.written.begin(), d.written.end()); });
  }
};

class FakeDriver final : public async32::SerialDriver {
 public:
  explicit FakeDriver(std::shared_ptr<FakeDevice> device) : d_(std::move(device)) {}

  int PollFd() const override { return d_->wakeFds[0]; }

  ssize_t Read(uint8_t* buf, size_t count) override {
    std::lock_guard lock(d_->mutex);
    if (d_->incoming.empty()) {
      char drain[64];
      while (read(d_->wakeFds[0], drain, sizeof drain) > 0) {
      }
      if (d_->hungUp) return -EIO;
      return -EAGAIN;
    }
    size_t n = 0;
    while (n < count && !d_->incoming.empty()) {
      buf[n++] = d_->incoming.front();
      d_->incoming.pop_front();
    }
    return static_cast<ssize_t>(n);
  }

  ssize_t Write(const uint8_t* buf, size_t count) override {
    std::lock_guard lock(d_->mutex);
    if (d_->hungUp) return -EIO;
    const size_t n = std::min(count, d_->acceptBytes);
    if (n == 0) return -EAGAIN;
    d_->acceptBytes -= d_->acceptBytes == SIZE_MAX ? 0 : n;
    d_->written.insert(d_->written.end(), buf, buf + n);
    return static_cast<ssize_t>(n);
  }

  int GetTermios(termios2& t) override {
    std::lock_guard lock(d_->mutex);
    t = d_->termios;
    return 0;
  }
  int SetTermios(const termios2& t) override {
    std::lock_guard lock(d_->mutex);
    ++d_->setTermiosCalls;
    d_->termios = t;
    if (d_->quirk) d_->quirk(d_->termios);
    return 0;
  }
  int GetModemLines(int& bits) override {
    std::lock_guard lock(d_->mutex);
    bits = d_->lines;
    return 0;
  }
  int SetModemLines(int bits, bool on) override {
    std::lock_guard lock(d_->mutex);
    d_->lines = on ? (d_->lines | bits) : (d_->lines & ~bits);
    return 0;
  }
  int GetCounters(async32::SerialCounters& c) override {
    std::lock_guard lock(d_->mutex);
    c = d_->counters;
    return 0;
  }
  int SetBreak(bool on) override {
    std::lock_guard lock(d_->mutex);
    d_->breakOn = on;
    return 0;
  }
  int Flush(int queue) override {
    std::lock_guard lock(d_->mutex);
    d_->flushes.push_back(queue);
    return 0;
  }
  int Flow(int action) override {
    std::lock_guard lock(d_->mutex);
    d_->flowStopped = action == TCOOFF;
    return 0;
  }
  int OutputQueue(int& bytes) override {
    bytes = 0;
    return 0;
  }
  int SetRs485Toggle(bool) override { return ENOTTY; }
  uint32_t ProviderSubType() override { return 1; }

 private:
  std::shared_ptr<FakeDevice> d_;
};

}  // namespace testing_support
