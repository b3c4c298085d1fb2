// The serial port component on a scripted port: hand-overs and their order,
// settings as device control blocks, writes, line controls, and the monitor's
// end. Nothing here depends on a backend.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <thread>
#include <tuple>

#include "comm32_fixture.h"
#include "scripted_port.h"

namespace async32 {
namespace {

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
