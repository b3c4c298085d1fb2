#pragma once
// The part of a serial driver that the operating system's terminal layer does
// not provide: the settings as last applied, a receive queue of the size the
// owner asked for, the pending write with its own copy of the bytes, the
// error flags and the detection of line events. It runs over a SerialDriver,
// so tests can replace the device and still exercise all of this.
//
// Two threads use an engine: the owner's thread for every operation and the
// monitor thread for WaitCommEvent, which also moves received bytes into the
// queue and finishes pending writes. Once modem events are selected, a third
// waits for the modem lines to change, where the driver can. One mutex guards
// the state.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "async32/comm_port.h"
#include "async32/posix/serial_driver.h"

namespace async32 {

class PortEngine final : public CommPort {
 public:
  explicit PortEngine(std::unique_ptr<SerialDriver> driver);
  ~PortEngine() override;

  bool GetCommConfig(COMMCONFIG& config) override;
  bool GetCommState(DCB& dcb) override;
  bool SetCommState(const DCB& dcb) override;
  bool SetupComm(uint32_t inQueue, uint32_t outQueue) override;
  bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) override;
  bool SetCommMask(uint32_t mask) override;
  WaitResult WaitCommEvent(uint32_t& mask, const EventObject& stop) override;
  bool ClearCommError(uint32_t& errors, COMSTAT& stat) override;
  bool GetCommModemStatus(uint32_t& status) override;
  bool EscapeCommFunction(uint32_t code) override;
  bool PurgeComm(uint32_t flags) override;
  WriteStart WriteFile(const uint8_t* data, uint32_t count, uint32_t& written) override;
  bool WriteInProgress() override;
  bool ReadFile(uint8_t* buffer, uint32_t count, uint32_t& read) override;

  // False when the engine could not get the kernel event it waits with;
  // Error then says why.
  bool Valid() const;
  int Error() const { return wake_.Error(); }

 private:
  static constexpr uint32_t kModemEvents = EV_CTS | EV_DSR | EV_RING | EV_RLSD;
  // How often the draining output is looked at after a write.
  static constexpr int kDrainPollMs = 10;
  // How often modem lines are asked for where the driver cannot wait for
  // them: each ask is a USB transfer on an adapter, and a line event a tenth
  // of a second late is still on time for anyone reading the status pane.
  static constexpr int kModemPollMs = 100;
  // Reads per wake-up before other work gets a turn; poll() is
  // level-triggered, so what is left wakes the monitor again at once.
  static constexpr int kMaxReadsPerWake = 16;
  // The longest a closing port waits for its last bytes to go out.
  static constexpr std::chrono::milliseconds kMostDrain{500};

  // Each of these runs with mutex_ held.
  void Raise(uint32_t events) { events_ |= events & mask_; }
  void Service(short revents);
  bool InputFlowControl() const;
  bool Throttled() const;
  void PumpInput(short revents);
  void Receive(const uint8_t* bytes, size_t count);
  void ContinueWrite();
  void EndWrite();
  void CheckTxEmpty();
  void CheckModemLines(const SerialCounters* counts = nullptr);
  bool PollModemLines() const;
  uint32_t CountLineErrors();
  void DrainOutput();
  bool Unmark(uint8_t b, uint32_t& errors);
  void MarkDead();
  void ApplyLineControl(const DCB& dcb);
  int PollTimeoutMs() const;
  // The modem-line watcher's own, run without mutex_ held.
  void StartModemWatch();
  void WatchModemLines();
  void StopModemWatch();

  std::unique_ptr<SerialDriver> driver_;
  EventObject wake_;  // wakes the monitor when the mask or the write changes
  std::mutex mutex_;

  DCB dcb_;
  termios2 applied_{};
  std::vector<uint8_t> inQueue_;
  size_t inQueueLimit_ = 4096;
  std::vector<uint8_t> outPending_;
  size_t outOffset_ = 0;
  bool writeActive_ = false;
  bool txHeld_ = false;
  bool txEmptyWatch_ = false;
  bool rtsToggleEmulated_ = false;
  bool rs485Toggle_ = false;
  uint32_t mask_ = 0;
  uint32_t events_ = 0;
  uint32_t errors_ = 0;
  bool dead_ = false;
  bool modemLinesKnown_ = false;
  int lastModemLines_ = 0;
  bool modemLinesWaited_ = false;  // the watcher is waiting for them
  std::thread modemWatcher_;
  std::atomic<bool> modemWatchEnded_ = false;
  bool countersKnown_ = false;
  SerialCounters lastCounters_;
  SerialCounters lastModemCounts_;  // as of the watcher's last look
  int mark_ = 0;  // how much of a line-error mark the last bytes ended in
  uint32_t pendingBreaks_ = 0;  // breaks counted whose marks have not come
};

}  // namespace async32
