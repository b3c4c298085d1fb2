// The serial port component on a scripted port: hand-overs and their order,
// settings as device control blocks, writes, line controls, and the monitor's
// end. Nothing here depends on a backend.
//
// The test plays the port in the component's own vocabulary: the events a
// wait returns, the error word and queue counts ClearCommError gives, refused
// settings, writes the device takes only in part, the modem status. It stands
// for any backend, so it uses nothing of one: the stop event is only asked
// IsSet, between short waits. Line controls and purges are only noted.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <thread>
#include <tuple>

#include "comm32_fixture.h"

namespace async32 {
namespace {

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
  // A pending write goes on as far as the device takes it.
  void Progress() {
    const size_t n = std::min(pending.size(), accept);
    written += pending.substr(0, n);
    pending.erase(0, n);
    accept -= n;
  }
};

class ScriptedPort final : public CommPort {
 public:
  explicit ScriptedPort(ScriptedDevice& device) : d_(device) {}

  bool GetCommConfig(COMMCONFIG& c) override { return Do([&] { c.dcb = d_.dcb, c.dwProviderSubType = PST_RS232; }); }
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

using Comm32Scripted = Comm32Test<ScriptedComm32>;

auto LineFields(const DCB& d) {
  return std::tuple(d.BaudRate, d.ByteSize, d.Parity, d.StopBits, d.Flags, d.XonChar, d.XoffChar);
}

TEST_F(Comm32Scripted, OneWaitIsHandedOverInTheFixedOrderWithOneErrorCheck) {
  comm.SetMonitorEvents({evBreak, evCTS, evDSR, evError, evRing, evRlsd, evRxChar, evRxFlag});
  comm.Open();
  auto& d = comm.device;
  EXPECT_EQ(d.mask, EventMaskOf(kAllEvents) & ~EV_TXEMPTY) << "only the selected events";
  d.Receive("a");
  ASSERT_TRUE(pump.UntilQueued(1));  // the monitor now waits inside that hand-over
  ASSERT_EQ(comm.Read(std::string(1, 0).data(), 1), 1) << "read now, the hand-over has count 0";
  ASSERT_TRUE(pump.Until([&] { return events.size() == 1; }));
  d.Raise(EventMaskOf(kAllEvents), CE_BREAK | CE_FRAME | CE_RXPARITY, "bcde");
  ASSERT_TRUE(pump.Until([&] { return events.size() >= 9; }));
  d.Raise(EV_ERR | EV_RXCHAR, CE_OVERRUN | CE_RXOVER, "f");  // only what is new
  ASSERT_TRUE(pump.Until([&] { return events.size() >= 11; }));
  EXPECT_EQ(events, (Events{"rx:0", "break", "cts", "dsr",
                            ErrorEvent(CE_BREAK | CE_FRAME | CE_RXPARITY), "ring", "rlsd", "rx:4",
                            "rxflag", ErrorEvent(CE_OVERRUN | CE_RXOVER), "rx:1"}));
  EXPECT_EQ(std::tuple(d.Locked([&] { return d.clears; }), received), std::tuple(3, "bcdef"));
}

TEST_F(Comm32Scripted, HandlerExceptionGoesToTheHookAndNoEventOutlivesDestroying) {
  auto reading = std::exchange(
      comm.OnRxChar, [](TCustomComm32*, int32_t) { throw std::runtime_error("File not found"); });
  comm.Open();
  comm.device.Receive("1");
  ASSERT_TRUE(pump.UntilQueued(1));
  CheckSynchronize();  // the handler throws; the byte stays
  comm.OnRxChar = reading;
  comm.device.Receive("2");
  ASSERT_TRUE(pump.Until([&] { return !events.empty(); })) << "monitoring goes on";
  EXPECT_EQ(std::exchange(messages, {}), Events{"File not found"});
  EXPECT_EQ(events, Events{"rx:2"});
  comm.device.Receive("3");
  ASSERT_TRUE(pump.UntilQueued(3));
  comm.Close();
  EXPECT_EQ(events.back(), "rx:1") << "Close serves a hand-over already begun";
  comm.Open();
  comm.device.Receive("456");
  ASSERT_TRUE(pump.UntilQueued(4));
  comm.Destroying();
  comm.Close();
  EXPECT_EQ(events, (Events{"rx:2", "rx:1"})) << "once the owner is being destroyed, none";
}

TEST_F(Comm32Scripted, SettingsReachThePortLiveAndAgainAtOpen) {
  comm.SetXonChar('A');
  comm.SetXoffChar('B');
  comm.SetReadBufferSize(100);
  comm.SetWriteBufferSize(50);
  comm.SetFlowControl(fcDefault);
  comm.Open();
  const DCB& dcb = comm.device.dcb;
  EXPECT_EQ(std::tuple(comm.device.inQueue, comm.device.outQueue, dcb.XonChar, dcb.Flags),
            std::tuple(100u, 50u, 1, fOutX)) << "the default flow control keeps the device's own";
  comm.SetBaudRate(cbr256000);
  comm.SetBaudRate(static_cast<TBaudRate>(99));  // a value outside the enumeration is ignored
  comm.SetDatabits(da7);
  comm.SetParity(paMark);
  comm.SetStopbits(sb15);
  EXPECT_EQ(std::tuple(comm.BaudRate(), dcb.BaudRate, dcb.ByteSize, dcb.Parity, dcb.StopBits),
            std::tuple(cbr256000, 256000u, 7, MARKPARITY, ONE5STOPBITS));
  const uint32_t options = fParity | fDsrSensitivity | fTXContinueOnXoff | fErrorChar | fNull;
  for (auto [option, flag] : {std::pair(osParityCheck, fParity), {osDsrSensitivity, fDsrSensitivity},
                              {osIgnoreXOff, fTXContinueOnXoff}, {osErrorChar, fErrorChar},
                              {osNullStrip, fNull}}) {
    comm.SetOptions({option});  // options are written whole
    EXPECT_EQ(dcb.Flags & options, flag) << int(option);
  }
  struct Flow { TFlowControl flow; uint32_t flags, rts, dtr; };
  for (auto f : {Flow{fcNone, 0, RTS_CONTROL_TOGGLE, DTR_CONTROL_ENABLE},
                 {fcCTS, fOutxCtsFlow, RTS_CONTROL_HANDSHAKE, DTR_CONTROL_ENABLE},
                 {fcDTR, fOutxDsrFlow, RTS_CONTROL_ENABLE, DTR_CONTROL_HANDSHAKE},
                 {fcSoftware, fOutX | fInX, RTS_CONTROL_ENABLE, DTR_CONTROL_ENABLE}}) {
    comm.SetFlowControl(f.flow);
    EXPECT_EQ(std::tuple(dcb.Flags & (fOutxCtsFlow | fOutxDsrFlow | fOutX | fInX), dcb.RtsControl(),
                         dcb.DtrControl()),
              std::tuple(f.flags, f.rts, f.dtr)) << "flow control " << int(f.flow);
  }
  EXPECT_EQ(std::tuple(dcb.XonChar, dcb.XoffChar), std::tuple('A', 'B'));
  comm.SetFlowControl(fcNone);
  comm.SetXonChar('x');  // the flow characters follow their properties whatever the flow
  comm.SetXoffChar('y');
  EXPECT_EQ(std::tuple(dcb.XonChar, dcb.XoffChar), std::tuple('x', 'y'));

  comm.SetFlowControl(fcSoftware);
  const auto before = LineFields(dcb);
  comm.Close();
  comm.device.dcb = DCB{.BaudRate = 1200};
  comm.Open();
  EXPECT_EQ(LineFields(dcb), before) << "open applies every setting to a device fresh from its own";
  comm.device.refuse = [](const DCB& d) { return d.Parity == SPACEPARITY ? 22 : 0; };
  comm.SetParity(paSpace);
  EXPECT_EQ(comm.Parity(), paSpace) << "the property keeps a value the device refused";
  EXPECT_EQ(LineFields(dcb), before) << "and the device stays as it was";
  comm.SetDatabits(da8);
  EXPECT_EQ(dcb.ByteSize, 8) << "the next value the device can do goes through";
  comm.Close();
  comm.Open();
  EXPECT_TRUE(comm.IsOpen()) << "a step that failed leaves the port open";
  EXPECT_EQ(opens, (Opens{{PST_RS232, 0}, {PST_RS232, 0}, {PST_RS232, 22}}));
}

TEST_F(Comm32Scripted, WritesPendingThenFreeAndLineControls) {
  comm.OnRxChar = nullptr;
  char byte;
  EXPECT_EQ(std::tuple(comm.Write("x", 1), comm.Read(&byte, 1), comm.GetModemState(1),
                       comm.SetDTRState(true), comm.SetBREAKState(true)),
            std::tuple(-1, -1, false, false, false)) << "a closed port";
  comm.Open();
  auto& d = comm.device;
  EXPECT_EQ(comm.Write("ab", 2), 2);
  d.accept = 1;
  EXPECT_EQ(comm.Write("cdef", 4), 0) << "partly taken: goes on in the background";
  EXPECT_EQ(comm.Write("gh", 2), 0) << "refused while the first goes on";
  d.accept = SIZE_MAX;
  EXPECT_EQ(comm.Write("gh", 2), 2) << "once the first has ended";
  EXPECT_EQ(d.written, "abcdefgh");
  EXPECT_TRUE(comm.SetXONState(false) && comm.SetXONState(true));
  EXPECT_TRUE(comm.SetBREAKState(true) && comm.SetBREAKState(false));
  const uint32_t all = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
  EXPECT_EQ(d.purges, (std::vector<uint32_t>{all, all})) << "a break purges both ways";

  const uint32_t alone[] = {~0u, MS_CTS_ON, MS_DSR_ON, MS_RING_ON, MS_RLSD_ON, ~0u};
  for (int line = 0; line <= 5; ++line) {
    d.modemStatus = ~alone[line];
    EXPECT_FALSE(comm.GetModemState(line)) << line;
    d.modemStatus = alone[line];
    EXPECT_EQ(comm.GetModemState(line), line >= 1 && line <= 4) << line;
  }
  for (bool on : {false, true}) EXPECT_TRUE(comm.SetDTRState(on) && comm.SetRTSState(!on));
  EXPECT_EQ(d.escapes, (std::vector<uint32_t>{SETXOFF, SETXON, SETBREAK, CLRBREAK, CLRDTR, SETRTS,
                                              SETDTR, CLRRTS}));
}

// A handler of one port that closes another serves that port's hand-over
// while it waits; a hook being removed is waited for.
TEST_F(Comm32Scripted, NoDeadlockBetweenTwoPortsAndNoWakeAfterTheHookIsGone) {
  ScriptedComm32 b;
  comm.Open();
  b.Open();
  comm.OnRxChar = [&](TCustomComm32*, int32_t) { b.Close(); };
  comm.device.Receive("a");
  ASSERT_TRUE(pump.UntilQueued(1));
  b.device.Receive("b");
  ASSERT_TRUE(pump.UntilQueued(2));  // b's request waits behind the first
  CheckSynchronize();
  EXPECT_FALSE(b.IsOpen());

  std::atomic<bool> inHook = false;
  SetWakeMainThreadHook([&] { inHook = true; std::this_thread::sleep_for(50ms); inHook = false; });
  comm.device.Receive("c");
  while (!inHook) std::this_thread::yield();
  SetWakeMainThreadHook(nullptr);
  EXPECT_FALSE(inHook) << "removing the hook waited for the call under way";
  comm.Close();  // serves the last hand-over while b still lives
}

// A wait that fails ends the monitor: it lets go of the port's input, and
// the port stays open for the operator to close.
TEST_F(Comm32Scripted, FailedWaitEndsTheMonitor) {
  comm.Open();
  auto& d = comm.device;
  d.Fail(ScriptedPort::kBusy);
  const auto purged = [&] { return d.Locked([&] { return d.purges; }); };
  ASSERT_TRUE(pump.Until([&] { return !purged().empty(); }));
  EXPECT_EQ(purged(), std::vector<uint32_t>{PURGE_RXABORT | PURGE_RXCLEAR});
  EXPECT_TRUE(comm.IsOpen());
}

}  // namespace
}  // namespace async32
