// The device's clock and the content of its records.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace devsim {

// Runs from 2000-01-01 00:00:00 until a clock message sets it, then keeps the
// time it was given, advancing with real time.
class DeviceClock {
 public:
  // `digits` are the 12 bytes between "(" and ")": MM DD YY hh mm ss. The clock
  // is set only when they are digits that make a valid date and time.
  bool set(std::string_view digits);
  // The current device time as "YYYY-MM-DD hh:mm:ss".
  std::string text() const;

 private:
  std::optional<std::chrono::system_clock::duration> offset_;
  std::chrono::steady_clock::time_point born_ = std::chrono::steady_clock::now();
};

enum class RecordContent { kText, kSpecialBytes, kAllByteValues };

// Record number `index` (34 bytes): "000123 2026-12-06 21:45:09 +21.345"; with
// special bytes the three separators are 0, 13 and 26; with all byte values
// the counter is followed by 28 bytes that run through 0..255 across records.
std::string MakeRecord(std::uint64_t index, const std::string& clockText, RecordContent content);

}  // namespace devsim
