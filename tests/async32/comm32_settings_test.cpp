// Settings, writes and line controls of the component, on a scripted device
// that shows what reached it.

#include <gtest/gtest.h>

#include <vector>

#include "async32/platform/termios_map.h"
#include "fake_comm32.h"
#include "hand_over_pump.h"

namespace async32 {
namespace {

using testing_support::FakeComm32;
using testing_support::FakeDevice;

class Comm32Settings : public ::testing::Test {
 protected:
  void SetUp() override {
    comm.OnOpen = [this](TCustomComm32*, int32_t subtype, int32_t error) {
      opens.push_back({subtype, error});
    };
  }
  void TearDown() override { comm.Close(); }

  testing_support::HandOverPump pump;
  FakeComm32 comm;
  std::vector<std::pair<int32_t, int32_t>> opens;
};

TEST_F(Comm32Settings, OpenAppliesEverySettingOnceAndReportsOnce) {
  comm.SetBaudRate(cbr256000);
  comm.SetDatabits(da7);
  comm.SetParity(paEven);
  comm.SetStopbits(sb20);
  comm.SetFlowControl(fcSoftware);
  comm.SetXonChar('A');
  comm.SetXoffChar('B');
  comm.SetOptions({osParityCheck});
  EXPECT_EQ(comm.device->SetTermiosCalls(), 0) << "a closed port takes no device calls";

  comm.Open();
  ASSERT_TRUE(comm.IsOpen());
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(opens[0], std::make_pair(1, 0));
  const termios2 t = comm.DeviceTermios();
  EXPECT_EQ(OutputSpeed(t), 256000u);
  EXPECT_EQ(t.c_cflag & CSIZE, CS7);
  EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CSTOPB), PARENB | CSTOPB);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK), IXON | IXOFF | INPCK);
  EXPECT_EQ(t.c_cc[VSTART], 'A');
  EXPECT_EQ(t.c_cc[VSTOP], 'B');
  EXPECT_TRUE(comm.device->Lines() & TIOCM_DTR);
  EXPECT_TRUE(comm.device->Lines() & TIOCM_RTS);
}

TEST_F(Comm32Settings, LiveChangesReachTheOpenDevice) {
  comm.SetFlowControl(fcSoftware);
  comm.Open();
  comm.SetBaudRate(cbr14400);
  EXPECT_EQ(OutputSpeed(comm.DeviceTermios()), 14400u);

  // The flow characters follow their properties whatever the flow control.
  comm.SetFlowControl(fcCTS);
  comm.SetXonChar('x');
  termios2 t = comm.DeviceTermios();
  EXPECT_EQ(t.c_cc[VSTART], 'x');
  EXPECT_EQ(t.c_cflag & CRTSCTS, CRTSCTS);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);

  comm.SetFlowControl(fcSoftware);
  t = comm.DeviceTermios();
  EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), IXON | IXOFF);

  // Options are written whole: parity checking on, the rest off.
  comm.SetOptions({osParityCheck, osNullStrip});
  comm.SetOptions({osParityCheck});
  comm.device->Feed({'a', 0, 'b'});
  ASSERT_TRUE(pump.Until([&] {
    uint8_t buf[3];
    return comm.Read(buf, 3) == 3;
  })) << "with osNullStrip cleared, the NUL byte is kept";
  EXPECT_EQ(comm.DeviceTermios().c_iflag & INPCK, INPCK);
}

TEST_F(Comm32Settings, FlowControlNoneDrivesRtsOnlyWhileSending) {
  comm.SetFlowControl(fcNone);
  comm.Open();
  EXPECT_FALSE(comm.device->Lines() & TIOCM_RTS) << "toggle mode, not permanently raised";
  EXPECT_TRUE(comm.device->Lines() & TIOCM_DTR);
  comm.device->Accept(0);
  EXPECT_EQ(comm.Write("?", 1), 0);
  EXPECT_TRUE((comm.device->Lines() & TIOCM_RTS));
  comm.device->Accept(SIZE_MAX);
  EXPECT_TRUE(pump.Until([&] {
    return !(comm.device->Lines() & TIOCM_RTS);
  })) << "RTS drops once the byte has gone";
}

TEST_F(Comm32Settings, RefusedValueKeepsTheDeviceAsItWas) {
  // This device only does eight data bits, as a pseudo-terminal.
  comm.device->quirk = [](termios2& t) { t.c_cflag = (t.c_cflag & ~CSIZE) | CS8; };
  comm.SetBaudRate(cbr4800);
  comm.Open();
  EXPECT_EQ(opens.back().second, 0);

  comm.SetDatabits(da7);
  EXPECT_EQ(comm.Databits(), da7) << "the property holds the new value";
  EXPECT_EQ(comm.DeviceTermios().c_cflag & CSIZE, CS8);
  comm.SetDatabits(da4);
  comm.SetStopbits(sb15);  // 1.5 stop bits with 8 data bits: no UART does it
  const termios2 t = comm.DeviceTermios();
  EXPECT_EQ(OutputSpeed(t), 4800u) << "the previous working settings stay";
  EXPECT_EQ(t.c_cflag & CSTOPB, 0u);

  // The next change that the device can do goes through.
  comm.SetBaudRate(cbr9600);
  EXPECT_EQ(OutputSpeed(comm.DeviceTermios()), 9600u);

  // Open reports the code of a step that failed and stays open.
  comm.Close();
  comm.Open();
  EXPECT_TRUE(comm.IsOpen());
  EXPECT_EQ(opens.back().second, EINVAL);
}

TEST_F(Comm32Settings, PendingWriteHoldsBackFurtherWritesUntilItEnds) {
  comm.Open();
  EXPECT_EQ(comm.Write("ab", 2), 2);
  comm.device->Accept(1);
  std::string text = "cdef";
  EXPECT_EQ(comm.Write(text.data(), 4), 0) << "partly taken: goes on in the background";
  text = "XXXX";  // the caller's bytes are free as soon as Write returns
  EXPECT_EQ(comm.Write("gh", 2), 0) << "refused while the first is pending";
  comm.device->Accept(SIZE_MAX);
  ASSERT_TRUE(pump.Until([&] { return comm.Write("ij", 2) == 2; }));
  EXPECT_EQ(comm.device->Written(), "abcdefij");
}

TEST_F(Comm32Settings, XoffHoldsTransmissionUntilXon) {
  comm.Open();
  EXPECT_TRUE(comm.SetXONState(false));
  EXPECT_TRUE(comm.device->FlowStopped());
  EXPECT_EQ(comm.Write("1", 1), 0);
  EXPECT_EQ(comm.Write("2", 1), 0);
  EXPECT_EQ(comm.device->Written(), "");
  EXPECT_TRUE(comm.SetXONState(true));
  ASSERT_TRUE(pump.Until([&] { return comm.Write("3", 1) == 1; }));
  EXPECT_EQ(comm.device->Written(), "13");
}

TEST_F(Comm32Settings, BreakAbortsTheWriteAndEmptiesBothQueues) {
  comm.Open();
  comm.device->Accept(0);
  EXPECT_EQ(comm.Write("held", 4), 0);
  comm.device->Feed({1, 2, 3});
  ASSERT_TRUE(pump.Until([&] {
    uint8_t b;
    return comm.Read(&b, 0) == 0 && comm.device->Get<bool>([](FakeDevice& d) {
      return d.incoming.empty();
    });
  }));
  EXPECT_TRUE(comm.SetBREAKState(true));
  EXPECT_TRUE(comm.device->BreakOn());
  EXPECT_TRUE(comm.SetBREAKState(false));
  EXPECT_FALSE(comm.device->BreakOn());
  uint8_t buf[3];
  EXPECT_EQ(comm.Read(buf, 1), -1) << "received bytes were purged";
  comm.device->Accept(SIZE_MAX);
  EXPECT_EQ(comm.Write("new", 3), 3) << "the aborted write holds nothing back";
  EXPECT_EQ(comm.device->Written(), "new");
}

TEST_F(Comm32Settings, ModemStatusAndLineControls) {
  EXPECT_FALSE(comm.GetModemState(1)) << "closed";
  EXPECT_FALSE(comm.SetDTRState(true));
  EXPECT_EQ(comm.Write("x", 1), -1);
  uint8_t b;
  EXPECT_EQ(comm.Read(&b, 1), -1);

  comm.Open();
  comm.device->SetLines(TIOCM_CTS | TIOCM_CD);
  EXPECT_TRUE(comm.GetModemState(1));
  EXPECT_FALSE(comm.GetModemState(2));
  EXPECT_FALSE(comm.GetModemState(3));
  EXPECT_TRUE(comm.GetModemState(4));
  EXPECT_FALSE(comm.GetModemState(0));
  EXPECT_FALSE(comm.GetModemState(5));

  EXPECT_TRUE(comm.SetDTRState(false));
  EXPECT_FALSE(comm.device->Lines() & TIOCM_DTR);
  EXPECT_TRUE(comm.SetRTSState(true));
  EXPECT_TRUE(comm.device->Lines() & TIOCM_RTS);
  EXPECT_TRUE(comm.SetRTSState(false));
  EXPECT_FALSE(comm.device->Lines() & TIOCM_RTS);
}

TEST(Comm32Properties, StartValuesAndEventMask) {
  TComm32 comm;
  EXPECT_EQ(comm.DeviceName(), "COM2");
  EXPECT_EQ(comm.BaudRate(), cbr9600);
  EXPECT_EQ(comm.FlowControl(), fcDefault);
  EXPECT_EQ(comm.ReadBufferSize(), 4096);
  EXPECT_EQ(comm.WriteBufferSize(), 2048);
  EXPECT_EQ(comm.XonChar(), 17);
  EXPECT_EQ(comm.XoffChar(), 19);
  EXPECT_EQ(comm.Options(), TComm32Options{});
  EXPECT_EQ(EventMaskOf(comm.MonitorEvents()), 0x01FFu);
  EXPECT_EQ(EventMaskOf({}), 0u);
  EXPECT_EQ(EventMaskOf({evRxChar, evTxEmpty}), EV_RXCHAR | EV_TXEMPTY);

  comm.SetBaudRate(static_cast<TBaudRate>(99));
  EXPECT_EQ(comm.BaudRate(), cbr9600) << "a value outside the enumeration is ignored";
}

}  // namespace
}  // namespace async32
