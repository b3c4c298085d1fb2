#pragma once
// The codes of the serial-communications vocabulary: events, error flags,
// modem status bits, purge flags and escape functions, with the values of the
// classic serial API.
//
// No header of the component includes <windows.h>: there these names are the
// SDK's macros, with the same values, and a macro would rewrite every
// declaration below. A Windows backend includes <windows.h> in its own .cpp
// files only, after this header, and uses the names unqualified.

#include <cstdint>

namespace async32 {

// Comm event mask bits.
constexpr uint32_t EV_RXCHAR = 0x0001;
constexpr uint32_t EV_RXFLAG = 0x0002;
constexpr uint32_t EV_TXEMPTY = 0x0004;
constexpr uint32_t EV_CTS = 0x0008;
constexpr uint32_t EV_DSR = 0x0010;
constexpr uint32_t EV_RLSD = 0x0020;
constexpr uint32_t EV_BREAK = 0x0040;
constexpr uint32_t EV_ERR = 0x0080;
constexpr uint32_t EV_RING = 0x0100;

// Communication error flags (ClearCommError).
constexpr uint32_t CE_RXOVER = 0x0001;
constexpr uint32_t CE_OVERRUN = 0x0002;
constexpr uint32_t CE_RXPARITY = 0x0004;
constexpr uint32_t CE_FRAME = 0x0008;
constexpr uint32_t CE_BREAK = 0x0010;
constexpr uint32_t CE_TXFULL = 0x0100;
constexpr uint32_t CE_PTO = 0x0200;
constexpr uint32_t CE_IOE = 0x0400;
constexpr uint32_t CE_DNS = 0x0800;
constexpr uint32_t CE_OOP = 0x1000;
constexpr uint32_t CE_MODE = 0x8000;

// Modem status bits (GetCommModemStatus).
constexpr uint32_t MS_CTS_ON = 0x0010;
constexpr uint32_t MS_DSR_ON = 0x0020;
constexpr uint32_t MS_RING_ON = 0x0040;
constexpr uint32_t MS_RLSD_ON = 0x0080;

// PurgeComm flags.
constexpr uint32_t PURGE_TXABORT = 0x0001;
constexpr uint32_t PURGE_RXABORT = 0x0002;
constexpr uint32_t PURGE_TXCLEAR = 0x0004;
constexpr uint32_t PURGE_RXCLEAR = 0x0008;

// EscapeCommFunction codes.
constexpr uint32_t SETXOFF = 1;
constexpr uint32_t SETXON = 2;
constexpr uint32_t SETRTS = 3;
constexpr uint32_t CLRRTS = 4;
constexpr uint32_t SETDTR = 5;
constexpr uint32_t CLRDTR = 6;
constexpr uint32_t SETBREAK = 8;
constexpr uint32_t CLRBREAK = 9;

}  // namespace async32
