#pragma once
// The records of the serial-communications vocabulary the component is
// written in: the device control block and its companions, as the classic
// serial API has them. Each backend maps them onto its operating system.
// The codes that go with them are in comm_codes.h.

#include <cstdint>

namespace async32 {

// Device control block. The one-bit and two-bit flag fields live in one flag
// word, so options can be switched by mask as the component does.
struct DCB {
  uint32_t DCBlength = sizeof(DCB);
  uint32_t BaudRate = 0;
  uint32_t Flags = 0;
  uint16_t wReserved = 0;
  uint16_t XonLim = 0;
  uint16_t XoffLim = 0;
  uint8_t ByteSize = 8;
  uint8_t Parity = 0;
  uint8_t StopBits = 0;
  char XonChar = 17;
  char XoffChar = 19;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
  uint16_t wReserved1 = 0;

  bool Flag(uint32_t mask) const { return (Flags & mask) != 0; }
  void SetFlag(uint32_t mask, bool on) { Flags = on ? (Flags | mask) : (Flags & ~mask); }
  uint32_t DtrControl() const { return (Flags >> 4) & 3u; }
  void SetDtrControl(uint32_t v) { Flags = (Flags & ~0x0030u) | ((v & 3u) << 4); }
  uint32_t RtsControl() const { return (Flags >> 12) & 3u; }
  void SetRtsControl(uint32_t v) { Flags = (Flags & ~0x3000u) | ((v & 3u) << 12); }
};

// Masks of the one-bit fields in DCB::Flags.
constexpr uint32_t fBinary = 0x0001;
constexpr uint32_t fParity = 0x0002;
constexpr uint32_t fOutxCtsFlow = 0x0004;
constexpr uint32_t fOutxDsrFlow = 0x0008;
constexpr uint32_t fDsrSensitivity = 0x0040;
constexpr uint32_t fTXContinueOnXoff = 0x0080;
constexpr uint32_t fOutX = 0x0100;
constexpr uint32_t fInX = 0x0200;
constexpr uint32_t fErrorChar = 0x0400;
constexpr uint32_t fNull = 0x0800;
constexpr uint32_t fAbortOnError = 0x4000;

constexpr uint32_t DTR_CONTROL_DISABLE = 0;
constexpr uint32_t DTR_CONTROL_ENABLE = 1;
constexpr uint32_t DTR_CONTROL_HANDSHAKE = 2;
constexpr uint32_t RTS_CONTROL_DISABLE = 0;
constexpr uint32_t RTS_CONTROL_ENABLE = 1;
constexpr uint32_t RTS_CONTROL_HANDSHAKE = 2;
constexpr uint32_t RTS_CONTROL_TOGGLE = 3;

constexpr uint8_t NOPARITY = 0, ODDPARITY = 1, EVENPARITY = 2, MARKPARITY = 3, SPACEPARITY = 4;
constexpr uint8_t ONESTOPBIT = 0, ONE5STOPBITS = 1, TWOSTOPBITS = 2;

// Provider subtypes reported in COMMCONFIG.
constexpr uint32_t PST_UNSPECIFIED = 0;
constexpr uint32_t PST_RS232 = 1;

struct COMMCONFIG {
  uint32_t dwSize = sizeof(COMMCONFIG);
  uint16_t wVersion = 1;
  uint16_t wReserved = 0;
  DCB dcb;
  uint32_t dwProviderSubType = 0;
  uint32_t dwProviderOffset = 0;
  uint32_t dwProviderSize = 0;
};

struct COMMTIMEOUTS {
  uint32_t ReadIntervalTimeout = 0;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 0;
  uint32_t WriteTotalTimeoutConstant = 0;
};

struct COMSTAT {
  bool fCtsHold = false;
  bool fDsrHold = false;
  bool fRlsdHold = false;
  bool fXoffHold = false;
  bool fXoffSent = false;
  bool fEof = false;
  bool fTxim = false;
  uint32_t cbInQue = 0;
  uint32_t cbOutQue = 0;
};

}  // namespace async32
