#pragma once
// Pure translation between the device control block and the kernel's
// terminal settings (termios2). No device is touched here, so every rule can
// be checked without hardware.
//
// What maps to what:
//   BaudRate            c_cflag CBAUD: Bnnn where the kernel has a constant,
//                       otherwise BOTHER with c_ospeed/c_ispeed (14400, 56000,
//                       128000, 256000 and any other plain rate)
//   ByteSize 5..8       CS5..CS8; 4 cannot be done: EINVAL
//   Parity              PARENB, PARODD; mark and space add CMSPAR
//   StopBits            CSTOPB for two; 1.5 is what a UART sends for CSTOPB
//                       with five data bits, so it is accepted only there
//   fParity             INPCK (check parity of received bytes)
//   fOutxCtsFlow or     CRTSCTS (the kernel handshakes both directions)
//   RTS_CONTROL_HANDSHAKE
//   fOutX, fInX         IXON, IXOFF; XonChar, XoffChar in VSTART, VSTOP
//   always              raw mode, CLOCAL | CREAD, VMIN 1, VTIME 0, so an
//                       empty non-blocking read is EAGAIN and a read of 0
//                       only ever means hang-up
// Kept by the port engine instead (termios cannot hold them): fBinary,
// fOutxDsrFlow, fDtrControl, fDsrSensitivity, fTXContinueOnXoff,
// fErrorChar, fNull (emulated: NUL bytes are dropped on receipt),
// fRtsControl enable/disable/toggle (driven through the modem lines),
// fAbortOnError, XonLim, XoffLim, ErrorChar, EofChar, EvtChar (emulated:
// raises EV_RXFLAG).

#include <asm/termbits.h>

#include <cstdint>

#include "async32/comm_codes.h"
#include "async32/comm_records.h"

namespace async32 {

// Builds the settings for `dcb` on top of `base` (the device's current
// settings, whose other fields are kept). Returns 0, or EINVAL for a value
// the platform cannot do.
int TermiosFromDcb(const DCB& dcb, const termios2& base, termios2& out);

// The line fields of a DCB as the settings describe them; the fields termios
// cannot hold get the values a freshly opened port has.
DCB DcbFromTermios(const termios2& t);

// The effective bit rates of a settings record.
uint32_t OutputSpeed(const termios2& t);
uint32_t InputSpeed(const termios2& t);

// True when `actual` (read back from the device) carries every line setting
// that `wanted` asked for: rates, character size, parity, stop bits, flow
// control and the flow characters.
bool LineSettingsMatch(const termios2& wanted, const termios2& actual);

}  // namespace async32
