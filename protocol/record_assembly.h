#pragma once
// The pure parts of the polling protocol: records are cut from the received
// bytes by count alone, and each complete record becomes one stamped line.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "datetime/date_time_format.h"

constexpr int kRecordLength = 34;
// Slots 1 to 34 hold the record; slot 0 takes a byte that comes before the
// first poll of the window's life and is never shown.
using TRecord = std::array<uint8_t, kRecordLength + 1>;
// The record pane is emptied after this many record lines.
constexpr uint8_t kRecordLinesPerPane = 25;

// Stores `byte` in slot `index` and moves on. Returns true when slot 34 was
// just filled: the record is complete (the caller then starts again at 1).
inline bool StoreRecordByte(TRecord& record, int32_t& index, uint8_t byte) {
  // The index only ever runs from 0 to 35; anything else would be a fault,
  // and must not write outside the slots.
  if (index < 0 || index > kRecordLength) index = 1;
  record[static_cast<size_t>(index)] = byte;
  ++index;
  return index > kRecordLength;
}

// Slots 1 to 34 unchanged, then " (" date " " time ")".
std::string RecordLine(const TRecord& record, std::string_view date, std::string_view time);

// Counts one more record line in the pane; true when the pane must now be
// emptied (the count starts again at 0).
inline bool CountRecordLine(uint8_t& lines) {
  if (++lines < kRecordLinesPerPane) return false;
  lines = 0;
  return true;
}

// The clock-setting message "(" MM DD YY hh mm ss ")": month, day, year of
// the century, hours (24-hour clock), minutes and seconds of `moment`, two
// decimal digits each, whatever the regional formats of the stamps.
std::string ClockMessage(const DateTimeParts& moment);

// The status line that names the kind of device behind the port; empty for
// a kind without a name.
std::string_view ProviderSubTypeText(int32_t providerSubType);
