// The translation of device control blocks into terminal settings.

#include "async32/platform/termios_map.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "async32/comm32_types.h"

namespace async32 {
namespace {

DCB Dcb8N1(uint32_t rate) {
  DCB dcb;
  dcb.BaudRate = rate;
  return dcb;
}

TEST(TermiosMap, EveryBaudRateSurvivesTheRoundTrip) {
  for (uint32_t rate : kBaudRateCodes) {
    termios2 t{};
    ASSERT_EQ(TermiosFromDcb(Dcb8N1(rate), termios2{}, t), 0) << rate;
    EXPECT_EQ(OutputSpeed(t), rate);
    EXPECT_EQ(InputSpeed(t), rate);
    EXPECT_EQ(DcbFromTermios(t).BaudRate, rate);
    // Rates the kernel has a constant for use it; the others need BOTHER.
    const bool other = rate == 14400 || rate == 56000 || rate == 128000 || rate == 256000;
    EXPECT_EQ((t.c_cflag & CBAUD) == BOTHER, other) << rate;
  }
}

TEST(TermiosMap, RawModeWithReceiverOnAndOneByteReads) {
  termios2 cooked{};
  cooked.c_iflag = ICRNL | IXANY | ISTRIP;
  cooked.c_oflag = OPOST | ONLCR;
  cooked.c_lflag = ICANON | ECHO | ISIG;
  termios2 t{};
  ASSERT_EQ(TermiosFromDcb(Dcb8N1(9600), cooked, t), 0);
  EXPECT_EQ(t.c_iflag & (ICRNL | IXANY | ISTRIP), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), CLOCAL | CREAD);
  EXPECT_EQ(t.c_cc[VMIN], 1);
  EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST(TermiosMap, FrameSettings) {
  DCB dcb = Dcb8N1(4800);
  termios2 t{};
  dcb.ByteSize = 7;
  dcb.Parity = MARKPARITY;
  dcb.StopBits = TWOSTOPBITS;
  ASSERT_EQ(TermiosFromDcb(dcb, termios2{}, t), 0);
  EXPECT_EQ(t.c_cflag & CSIZE, CS7);
  EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR | CSTOPB), PARENB | PARODD | CMSPAR | CSTOPB);
  DCB back = DcbFromTermios(t);
  EXPECT_EQ(back.ByteSize, 7);
  EXPECT_EQ(back.Parity, MARKPARITY);
  EXPECT_EQ(back.StopBits, TWOSTOPBITS);

  dcb.Parity = SPACEPARITY;
  ASSERT_EQ(TermiosFromDcb(dcb, termios2{}, t), 0);
  EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), PARENB | CMSPAR);
  dcb.Parity = ODDPARITY;
  ASSERT_EQ(TermiosFromDcb(dcb, termios2{}, t), 0);
  EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), PARENB | PARODD);
}

TEST(TermiosMap, ValuesTheLineCannotCarryAreRefused) {
  termios2 t{};
  DCB dcb = Dcb8N1(9600);
  dcb.ByteSize = 4;
  EXPECT_EQ(TermiosFromDcb(dcb, termios2{}, t), EINVAL);
  dcb.ByteSize = 8;
  dcb.StopBits = ONE5STOPBITS;
  EXPECT_EQ(TermiosFromDcb(dcb, termios2{}, t), EINVAL);
  dcb.ByteSize = 5;  // a UART sends 1.5 stop bits for five data bits
  ASSERT_EQ(TermiosFromDcb(dcb, termios2{}, t), 0);
  EXPECT_EQ(DcbFromTermios(t).StopBits, ONE5STOPBITS);
  dcb.Parity = 5;
  EXPECT_EQ(TermiosFromDcb(dcb, termios2{}, t), EINVAL);
  EXPECT_EQ(TermiosFromDcb(Dcb8N1(0), termios2{}, t), EINVAL);
}

TEST(TermiosMap, FlowControlAndParityChecking) {
  DCB dcb = Dcb8N1(9600);
  dcb.SetFlag(fOutX, true);
  dcb.SetFlag(fInX, true);
  dcb.SetFlag(fParity, true);
  dcb.XonChar = 'Q';
  dcb.XoffChar = 'S';
  termios2 t{};
  ASSERT_EQ(TermiosFromDcb(dcb, termios2{}, t), 0);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK), IXON | IXOFF | INPCK);
  EXPECT_EQ(t.c_cc[VSTART], 'Q');
  EXPECT_EQ(t.c_cc[VSTOP], 'S');
  EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);

  DCB hw = Dcb8N1(9600);
  hw.SetRtsControl(RTS_CONTROL_HANDSHAKE);
  ASSERT_EQ(TermiosFromDcb(hw, termios2{}, t), 0);
  EXPECT_EQ(t.c_cflag & CRTSCTS, CRTSCTS);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
}

TEST(TermiosMap, ReadBackComparisonSeesWhatDidNotStick) {
  termios2 wanted{};
  ASSERT_EQ(TermiosFromDcb(Dcb8N1(256000), termios2{}, wanted), 0);
  termios2 actual = wanted;
  EXPECT_TRUE(LineSettingsMatch(wanted, actual));
  actual.c_ospeed = 230400;
  EXPECT_FALSE(LineSettingsMatch(wanted, actual));
  actual = wanted;
  actual.c_cflag = (actual.c_cflag & ~CSIZE) | CS7;
  EXPECT_FALSE(LineSettingsMatch(wanted, actual));
  actual = wanted;
  actual.c_iflag |= IXON;
  EXPECT_FALSE(LineSettingsMatch(wanted, actual));
}

}  // namespace
}  // namespace async32
