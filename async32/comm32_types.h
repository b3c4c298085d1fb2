#pragma once
// The line settings of the serial port component and the device code each
// value stands for. The order of values is part of the interface: the window
// lists the value names in this order and passes list positions as values.

#include <cstdint>
#include <initializer_list>

#include "async32/comm_codes.h"
#include "async32/comm_records.h"

namespace async32 {

enum TBaudRate : uint8_t {
  cbr110, cbr300, cbr600, cbr1200, cbr2400, cbr4800, cbr9600, cbr14400,
  cbr19200, cbr38400, cbr56000, cbr57600, cbr115200, cbr128000, cbr256000,
};
enum TDatabits : uint8_t { da4, da5, da6, da7, da8 };
enum TParity : uint8_t { paNone, paOdd, paEven, paMark, paSpace };
enum TStopbits : uint8_t { sb10, sb15, sb20 };
enum TFlowControl : uint8_t { fcNone, fcCTS, fcDTR, fcSoftware, fcDefault };
enum TComm32Option : uint8_t {
  osParityCheck, osDsrSensitivity, osIgnoreXOff, osErrorChar, osNullStrip,
};
enum TC32EventState : uint8_t {
  evBreak, evCTS, evDSR, evError, evRing, evRlsd, evRxChar, evRxFlag, evTxEmpty,
};

constexpr int kBaudRateCount = 15;
constexpr int kDatabitsCount = 5;
constexpr int kParityCount = 5;
constexpr int kStopbitsCount = 3;
constexpr int kFlowControlCount = 5;

constexpr uint32_t kBaudRateCodes[kBaudRateCount] = {
    110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000,
};
constexpr uint8_t kDatabitsCodes[kDatabitsCount] = {4, 5, 6, 7, 8};
constexpr uint8_t kParityCodes[kParityCount] = {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY,
                                                SPACEPARITY};
constexpr uint8_t kStopbitsCodes[kStopbitsCount] = {ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS};
// The DCB flag bit each option owns, in option order.
constexpr uint32_t kOptionFlags[] = {fParity, fDsrSensitivity, fTXContinueOnXoff, fErrorChar,
                                     fNull};
// The comm event mask bit of each event kind, in event order; this is also
// the order in which the events of one wait are delivered.
constexpr uint32_t kEventCodes[] = {EV_BREAK, EV_CTS,    EV_DSR,    EV_ERR,    EV_RING,
                                    EV_RLSD,  EV_RXCHAR, EV_RXFLAG, EV_TXEMPTY};

// A set of enumeration values, bit i standing for the value with ordinal i.
template <typename E, typename Bits>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> items) {
    for (E e : items) Include(e);
  }
  static constexpr TSet FromBits(Bits bits) {
    TSet s;
    s.bits_ = bits;
    return s;
  }
  constexpr bool Contains(E e) const { return (bits_ >> e) & 1u; }
  constexpr void Include(E e) { bits_ = static_cast<Bits>(bits_ | (1u << e)); }
  constexpr void Exclude(E e) { bits_ = static_cast<Bits>(bits_ & ~(1u << e)); }
  constexpr Bits ToBits() const { return bits_; }
  constexpr bool operator==(const TSet&) const = default;

 private:
  Bits bits_ = 0;
};

using TComm32Options = TSet<TComm32Option, uint8_t>;
using TC32EventType = TSet<TC32EventState, uint16_t>;

constexpr TC32EventType kAllEvents = TC32EventType::FromBits(0x01FF);

// The comm event mask that selects the kinds in `events`.
constexpr uint32_t EventMaskOf(TC32EventType events) {
  uint32_t mask = 0;
  for (int i = evBreak; i <= evTxEmpty; ++i) {
    if (events.Contains(static_cast<TC32EventState>(i))) mask |= kEventCodes[i];
  }
  return mask;
}

}  // namespace async32
