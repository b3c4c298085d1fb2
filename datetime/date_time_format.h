#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "datetime/format_settings.h"

// A moment as the local clock gives it. dayOfWeek counts from 0 (Sunday).
struct DateTimeParts {
  int year = 0;
  int month = 0;
  int day = 0;
  int dayOfWeek = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// Longest text the formatter returns; longer texts are cut.
inline constexpr std::size_t kMaxDateTimeTextLength = 256;

// Writes the moment as the pattern says, with the names, separators and
// inserted patterns of the settings. Never reads the clock.
std::string FormatDateTime(std::string_view pattern, const DateTimeParts& moment,
                           const TFormatSettings& settings);
