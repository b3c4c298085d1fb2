// The device control block as the kernel's terminal settings, both ways.

#include "async32/posix/termios_map.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <tuple>

#include "async32/comm32_types.h"

namespace async32 {
namespace {

bool operator==(const termios2& a, const termios2& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A device's settings before the port takes it over: all the translation has to clear.
const termios2 kCooked{
    ICRNL | IXANY | ISTRIP | IXON | IXOFF | INPCK | IGNPAR, OPOST,
    B38400 | (B1200 << IBSHIFT) | CS7 | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS,
    ICANON | ECHO | ECHONL | ISIG | IEXTEN, 0, {}, 0, 0};

TEST(TermiosMap, EveryRateFrameAndFlowSettingRoundTripsInRawMode) {
  termios2 t{}, again{};
  for (uint32_t rate : kBaudRateCodes) {
    ASSERT_EQ(TermiosFromDcb(DCB{.BaudRate = rate}, kCooked, t), 0) << rate;
    const bool noConstant = rate == 14400 || rate == 56000 || rate == 128000 || rate == 256000;
    EXPECT_EQ(std::tuple(OutputSpeed(t), InputSpeed(t), DcbFromTermios(t).BaudRate,
                         (t.c_cflag & CBAUD) == BOTHER),
              std::tuple(rate, rate, rate, noConstant));
    EXPECT_EQ(std::tuple(t.c_iflag & ~PARMRK, t.c_oflag, t.c_lflag, t.c_cflag & ~(CBAUD | CIBAUD),
                         t.c_cc[VMIN]),
              std::tuple(0u, 0u, 0u, CS8 | CLOCAL | CREAD, 1))
        << "raw, receiving, one byte per read";
  }
  // Rate 0, four data bits, 1.5 stop bits (only with five data bits), no such parity or stop bits.
  const DCB refused[] = {{}, {.BaudRate = 1, .ByteSize = 4}, {.BaudRate = 1, .StopBits = 1},
                         {.BaudRate = 1, .Parity = 5}, {.BaudRate = 1, .StopBits = 3}};
  for (const DCB& dcb : refused) {
    EXPECT_EQ(TermiosFromDcb(dcb, kCooked, t), EINVAL) << &dcb - refused;
  }
  termios2 hungUp = kCooked;
  hungUp.c_cflag &= ~(CBAUD | CIBAUD);  // B0, as a device may be left
  EXPECT_EQ(TermiosFromDcb(DcbFromTermios(hungUp), kCooked, t), 0) << "a block read can be written";

  struct Row { uint8_t size, parity, stop; uint32_t flags; tcflag_t cflag, iflag; };
  for (const Row& r : {Row{7, ODDPARITY, TWOSTOPBITS, 0, CS7 | PARENB | PARODD | CSTOPB, 0},
                       {6, EVENPARITY, ONESTOPBIT, 0, CS6 | PARENB, 0},
                       {5, MARKPARITY, ONE5STOPBITS, 0, CS5 | PARENB | PARODD | CMSPAR | CSTOPB, 0},
                       {8, SPACEPARITY, ONESTOPBIT, 0, CS8 | PARENB | CMSPAR, 0},
                       {8, NOPARITY, ONESTOPBIT, fOutX, CS8, IXON},
                       {8, NOPARITY, ONESTOPBIT, fInX | fParity, CS8, IXOFF | INPCK},
                       {8, NOPARITY, ONESTOPBIT, fOutxCtsFlow, CS8 | CRTSCTS, 0},
                       {8, NOPARITY, ONESTOPBIT, RTS_CONTROL_HANDSHAKE << 12, CS8 | CRTSCTS, 0}}) {
    SCOPED_TRACE(testing::Message() << r.cflag << "/" << r.flags);
    const DCB dcb{.BaudRate = 9600, .Flags = r.flags, .ByteSize = r.size, .Parity = r.parity,
                  .StopBits = r.stop};
    ASSERT_EQ(TermiosFromDcb(dcb, kCooked, t), 0);
    const tcflag_t line = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
    EXPECT_EQ(std::tuple(t.c_cflag & line, t.c_iflag & ~PARMRK, t.c_cc[VSTART], t.c_cc[VSTOP]),
              std::tuple(r.cflag, r.iflag, 17, 19));
    const DCB back = DcbFromTermios(t);
    EXPECT_EQ(std::tuple(back.ByteSize, back.Parity, back.StopBits),
              std::tuple(r.size, r.parity, r.stop));
    EXPECT_TRUE(TermiosFromDcb(back, kCooked, again) == 0 && again == t) << "read back: the same";
  }
}

TEST(TermiosMap, ReadBackComparisonSeesEveryLineSettingThatDidNotStick) {
  termios2 wanted{};
  ASSERT_EQ(TermiosFromDcb(DCB{.BaudRate = 256000}, kCooked, wanted), 0);
  // Every change but the first, which is no line setting, must be seen.
  void (*const changes[])(termios2&) = {
      [](termios2& t) { t.c_lflag ^= ECHO; },   [](termios2& t) { t.c_ospeed = 1; },
      [](termios2& t) { t.c_ispeed = 1; },      [](termios2& t) { t.c_cflag ^= CS7; },
      [](termios2& t) { t.c_cflag ^= PARENB; }, [](termios2& t) { t.c_cflag ^= PARODD; },
      [](termios2& t) { t.c_cflag ^= CMSPAR; }, [](termios2& t) { t.c_cflag ^= CSTOPB; },
      [](termios2& t) { t.c_cflag ^= CRTSCTS; }, [](termios2& t) { t.c_iflag ^= IXON; },
      [](termios2& t) { t.c_iflag ^= IXOFF; },  [](termios2& t) { t.c_iflag ^= INPCK; },
      [](termios2& t) { t.c_cc[VSTART] = 0; },  [](termios2& t) { t.c_cc[VSTOP] = 0; }};
  for (const auto& change : changes) {
    termios2 actual = wanted;
    change(actual);
    EXPECT_EQ(LineSettingsMatch(wanted, actual), &change == changes) << &change - changes;
  }
}

}  // namespace
}  // namespace async32
