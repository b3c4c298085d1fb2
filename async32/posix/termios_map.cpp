#include "async32/posix/termios_map.h"

#include <cerrno>

namespace async32 {
namespace {

struct SpeedCode {
  uint32_t rate;
  tcflag_t code;
};

constexpr SpeedCode kSpeedCodes[] = {
    {0, B0},           {50, B50},           {75, B75},           {110, B110},
    {134, B134},       {150, B150},         {200, B200},         {300, B300},
    {600, B600},       {1200, B1200},       {1800, B1800},       {2400, B2400},
    {4800, B4800},     {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},   {115200, B115200},   {230400, B230400},   {460800, B460800},
    {500000, B500000}, {576000, B576000},   {921600, B921600},   {1000000, B1000000},
    {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000},
    {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

bool CodeForRate(uint32_t rate, tcflag_t& code) {
  for (const auto& s : kSpeedCodes) {
    if (s.rate == rate) {
      code = s.code;
      return true;
    }
  }
  return false;
}

uint32_t RateForCode(tcflag_t code, uint32_t other) {
  if (code == BOTHER) return other;
  for (const auto& s : kSpeedCodes) {
    if (s.code == code) return s.rate;
  }
  return 0;
}

// The same clearing of input, output and local processing as cfmakeraw(),
// which cannot be used here: it takes glibc's termios, not termios2.
void MakeRaw(termios2& t) {
  t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                 IXANY | IUCLC | IMAXBEL | INPCK | IGNPAR);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN | ECHOE | ECHOK | ECHOCTL | ECHOKE);
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD | CIBAUD);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
}

constexpr tcflag_t kLineCflags = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
constexpr tcflag_t kLineIflags = IXON | IXOFF | INPCK;

}  // namespace

int TermiosFromDcb(const DCB& dcb, const termios2& base, termios2& out) {
  tcflag_t size = 0;
  switch (dcb.ByteSize) {
    case 5: size = CS5; break;
    case 6: size = CS6; break;
    case 7: size = CS7; break;
    case 8: size = CS8; break;
    default: return EINVAL;
  }
  tcflag_t parity = 0;
  switch (dcb.Parity) {
    case NOPARITY: break;
    case ODDPARITY: parity = PARENB | PARODD; break;
    case EVENPARITY: parity = PARENB; break;
    case MARKPARITY: parity = PARENB | PARODD | CMSPAR; break;
    case SPACEPARITY: parity = PARENB | CMSPAR; break;
    default: return EINVAL;
  }
  tcflag_t stop = 0;
  switch (dcb.StopBits) {
    case ONESTOPBIT: break;
    case ONE5STOPBITS:
      if (dcb.ByteSize != 5) return EINVAL;
      stop = CSTOPB;
      break;
    case TWOSTOPBITS: stop = CSTOPB; break;
    default: return EINVAL;
  }
  if (dcb.BaudRate == 0) return EINVAL;

  termios2 t = base;
  MakeRaw(t);
  tcflag_t code = 0;
  if (CodeForRate(dcb.BaudRate, code)) {
    t.c_cflag |= code;
  } else {
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  }
  t.c_ospeed = dcb.BaudRate;
  t.c_ispeed = dcb.BaudRate;
  t.c_cflag |= size | parity | stop;
  if (dcb.Flag(fOutxCtsFlow) || dcb.RtsControl() == RTS_CONTROL_HANDSHAKE) t.c_cflag |= CRTSCTS;
  // Line errors never add or change a byte: the kernel marks a break as
  // \377 \0 \0 and a byte received with a parity or framing error as
  // \377 \0 byte (a real \377 comes doubled), and the port engine takes the
  // marks out. Without the marks a break would come in as an invented 0, and
  // an erroneous byte as 0.
  t.c_iflag |= PARMRK;
  if (dcb.Flag(fParity)) t.c_iflag |= INPCK;
  if (dcb.Flag(fOutX)) t.c_iflag |= IXON;
  if (dcb.Flag(fInX)) t.c_iflag |= IXOFF;
  t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
  out = t;
  return 0;
}

uint32_t OutputSpeed(const termios2& t) { return RateForCode(t.c_cflag & CBAUD, t.c_ospeed); }

uint32_t InputSpeed(const termios2& t) {
  const tcflag_t code = (t.c_cflag >> IBSHIFT) & CBAUD;
  return code == B0 ? OutputSpeed(t) : RateForCode(code, t.c_ispeed);
}

DCB DcbFromTermios(const termios2& t) {
  DCB dcb;
  // A device left at B0 (hung up) has no rate; the block must still be one
  // that can be written back, so it says 9600, the component's own default.
  dcb.BaudRate = OutputSpeed(t) != 0 ? OutputSpeed(t) : 9600;
  switch (t.c_cflag & CSIZE) {
    case CS5: dcb.ByteSize = 5; break;
    case CS6: dcb.ByteSize = 6; break;
    case CS7: dcb.ByteSize = 7; break;
    default: dcb.ByteSize = 8; break;
  }
  if (t.c_cflag & PARENB) {
    const bool odd = (t.c_cflag & PARODD) != 0;
    if (t.c_cflag & CMSPAR) {
      dcb.Parity = odd ? MARKPARITY : SPACEPARITY;
    } else {
      dcb.Parity = odd ? ODDPARITY : EVENPARITY;
    }
  }
  if (t.c_cflag & CSTOPB) dcb.StopBits = dcb.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
  dcb.SetFlag(fBinary, true);
  dcb.SetFlag(fParity, (t.c_iflag & INPCK) != 0);
  dcb.SetFlag(fOutxCtsFlow, (t.c_cflag & CRTSCTS) != 0);
  dcb.SetDtrControl(DTR_CONTROL_ENABLE);
  dcb.SetRtsControl((t.c_cflag & CRTSCTS) ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE);
  dcb.SetFlag(fOutX, (t.c_iflag & IXON) != 0);
  dcb.SetFlag(fInX, (t.c_iflag & IXOFF) != 0);
  dcb.XonLim = 2048;
  dcb.XoffLim = 512;
  dcb.XonChar = static_cast<char>(t.c_cc[VSTART]);
  dcb.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
  return dcb;
}

bool LineSettingsMatch(const termios2& wanted, const termios2& actual) {
  return OutputSpeed(wanted) == OutputSpeed(actual) && InputSpeed(wanted) == InputSpeed(actual) &&
         (wanted.c_cflag & kLineCflags) == (actual.c_cflag & kLineCflags) &&
         (wanted.c_iflag & kLineIflags) == (actual.c_iflag & kLineIflags) &&
         wanted.c_cc[VSTART] == actual.c_cc[VSTART] && wanted.c_cc[VSTOP] == actual.c_cc[VSTOP];
}

}  // namespace async32
