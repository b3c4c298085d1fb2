#pragma once
// A serial port played in the component's own vocabulary: the events a wait
// returns, the error word and queue counts ClearCommError gives, refused
// settings, writes the device takes only in part, the modem status. It stands
// for any backend, so it uses nothing of one: the stop event is only asked
// IsSet, between short waits. Line controls and purges are only noted.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "async32/comm32.h"
#include "async32/comm_port.h"

namespace async32 {

// The device behind the port: it outlives each open, as a device does.
// Everything is guarded by `mutex`; the test locks it (Locked) only for what
// the monitor thread may touch while it runs: the wait's fields and purges.
struct ScriptedDevice {
  std::mutex mutex;
  std::condition_variable changed;
  DCB dcb{.BaudRate = 1200, .Flags = fOutX, .XonChar = 1, .XoffChar = 2};  // as the device keeps it
  std::function<int(const DCB&)> refuse;  // an error code for a block it will not take
  uint32_t inQueue = 0, outQueue = 0;     // as SetupComm asked
  uint32_t modemStatus = 0;
  uint32_t subType = PST_RS232;
  uint32_t mask = 0, events = 0, errors = 0;
  int failure = 0;  // the next waits fail with this code
  int clears = 0;   // ClearCommError calls
  std::string input, written, pending;
  size_t accept = SIZE_MAX;  // bytes the device takes before it is full
  std::vector<uint32_t> escapes, purges;

  // Events outside the selected mask are not recorded, as with a real port.
  void Raise(uint32_t happened, uint32_t lineErrors = 0, const std::string& bytes = "") {
    std::lock_guard l(mutex);
    input += bytes;
    errors |= lineErrors;
    events |= happened & mask;
    changed.notify_all();
  }
  void Receive(const std::string& bytes) { Raise(EV_RXCHAR, 0, bytes); }
  void Fail(int code) { std::lock_guard l(mutex); failure = code; changed.notify_all(); }
  template <typename F>
  auto Locked(F f) { std::lock_guard l(mutex); return f(); }
  // A pending write goes on as far as the device takes it; the last byte
  // gone empties the transmitter.
  void Progress() {
    const size_t n = std::min(pending.size(), accept);
    written += pending.substr(0, n);
    pending.erase(0, n);
    accept -= n;
    if (n == 0) return;
    if (pending.empty()) events |= EV_TXEMPTY & mask;
    changed.notify_all();
  }
};

class ScriptedPort final : public CommPort {
 public:
  explicit ScriptedPort(ScriptedDevice& device) : d_(device) {}

  bool GetCommConfig(COMMCONFIG& c) override { return Do([&] { c.dcb = d_.dcb, c.dwProviderSubType = d_.subType; }); }
  bool GetCommState(DCB& dcb) override { return Do([&] { dcb = d_.dcb; }); }
  bool SetCommState(const DCB& dcb) override {
    std::lock_guard l(d_.mutex);
    if (const int code = d_.refuse ? d_.refuse(dcb) : 0) return SetLastError(code), false;
    d_.dcb = dcb;
    return true;
  }
  bool SetupComm(uint32_t in, uint32_t out) override { return Do([&] { d_.inQueue = in, d_.outQueue = out; }); }
  bool SetCommTimeouts(const COMMTIMEOUTS&) override { return true; }
  bool SetCommMask(uint32_t mask) override { return Do([&] { d_.mask = mask; }); }
  WaitResult WaitCommEvent(uint32_t& mask, const EventObject& stop) override {
    std::unique_lock l(d_.mutex);
    for (;;) {
      if (stop.IsSet()) return WaitResult::kStopped;
      if (d_.failure) return SetLastError(d_.failure), WaitResult::kFailed;
      if (d_.events) return mask = std::exchange(d_.events, 0), WaitResult::kEvents;
      d_.changed.wait_for(l, std::chrono::milliseconds(1));
    }
  }
  bool ClearCommError(uint32_t& errors, COMSTAT& stat) override {
    return Do([&] {
      ++d_.clears;
      d_.Progress();
      errors = std::exchange(d_.errors, 0);
      stat = {.cbInQue = uint32_t(d_.input.size()), .cbOutQue = uint32_t(d_.pending.size())};
    });
  }
  bool GetCommModemStatus(uint32_t& status) override { return Do([&] { status = d_.modemStatus; }); }
  bool EscapeCommFunction(uint32_t code) override { return Do([&] { d_.escapes.push_back(code); }); }
  bool PurgeComm(uint32_t flags) override { return Do([&] { d_.purges.push_back(flags); }); }
  // A second write while one is pending is refused: the component must wait.
  WriteStart WriteFile(const uint8_t* data, uint32_t count, uint32_t& written) override {
    std::lock_guard l(d_.mutex);
    written = 0;
    if (!d_.pending.empty()) return SetLastError(kBusy), WriteStart::kFailed;
    d_.pending.assign(reinterpret_cast<const char*>(data), count);
    d_.Progress();
    if (!d_.pending.empty()) return WriteStart::kPending;
    written = count;
    return WriteStart::kCompleted;
  }
  bool WriteInProgress() override { std::lock_guard l(d_.mutex); d_.Progress(); return !d_.pending.empty(); }
  bool ReadFile(uint8_t* buffer, uint32_t count, uint32_t& read) override {
    std::lock_guard l(d_.mutex);
    read = 0;
    if (count > d_.input.size()) return SetLastError(kTooFew), false;
    read = static_cast<uint32_t>(d_.input.copy(reinterpret_cast<char*>(buffer), count));
    d_.input.erase(0, count);
    return true;
  }

  static constexpr int kBusy = 170, kTooFew = 997;  // codes of the fake's own

 private:
  template <typename F>
  bool Do(F f) { std::lock_guard l(d_.mutex); f(); return true; }
  ScriptedDevice& d_;
};

// The component with its port on a scripted device.
class ScriptedComm32 : public TComm32 {
 public:
  ~ScriptedComm32() override { Destroying(); Close(); }  // before the device goes
  ScriptedDevice device;

 protected:
  std::unique_ptr<CommPort> CreatePort(const std::string&) override {
    return std::make_unique<ScriptedPort>(device);
  }
};

// The device's end of the line, as a test holds a pseudo-terminal's master
// (with its ways): a name for the port to open, bytes sent to the port, and
// the bytes the port wrote, each read once.
class ScriptedLine {
 public:
  ScriptedLine() : name_("COM" + std::to_string(next_++)) {}
  void Attach(ScriptedDevice* device) { d_ = device; }
  bool ok() const { return d_ != nullptr; }
  const std::string& path() const { return name_; }
  bool Send(const std::string& bytes) { d_->Receive(bytes); return true; }
  // Waits until `count` bytes have come or the time is up.
  std::vector<uint8_t> Receive(size_t count,
                               std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::unique_lock l(d_->mutex);
    d_->changed.wait_for(l, timeout, [&] { return d_->written.size() - read_ >= count; });
    const size_t n = std::min(count, d_->written.size() - read_);
    std::vector<uint8_t> got(d_->written.begin() + read_, d_->written.begin() + read_ + n);
    read_ += n;
    return got;
  }

 private:
  static inline int next_ = 5;
  std::string name_;
  ScriptedDevice* d_ = nullptr;
  size_t read_ = 0;
};

}  // namespace async32
