#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "datetime/format_settings.h"

// The regional items the settings are read from. Texts are 8-bit (UTF-8);
// the number items are texts too and are converted when read.
enum class FormatItem {
  kShortDate,           // short date pattern
  kLongDate,            // long date pattern
  kDateSeparator,       // one character
  kTimeSeparator,       // one character
  kAmText,              // designator before 12:00
  kPmText,              // designator from 12:00 on
  kHourLeadingZero,     // number: 0 writes the hour as h, otherwise as hh
  kClock,               // number: 0 is the 12-hour clock, otherwise the 24-hour clock
  kDesignatorPosition,  // number: 0 puts the designator after the time, otherwise before
  kCalendarType,        // number: 3 to 5 are era calendars
  kLanguage,            // language code, such as "en" or "ja"
  kShortDayName,        // index 0 (Sunday) to 6
  kLongDayName,         // index 0 (Sunday) to 6
  kShortMonthName,      // index 1 (January) to 12
  kLongMonthName,       // index 1 (January) to 12
};

class FormatItemSource {
 public:
  virtual ~FormatItemSource() = default;
  // The item's text, or nothing when the source cannot supply it.
  virtual std::optional<std::string> Item(FormatItem item, int index) const = 0;
  // The eras of the region's calendar, oldest first (only read for era calendars).
  virtual std::vector<TEra> Eras() const = 0;
};

// A source holding the items it was given. Empty, it supplies nothing, so
// every setting takes its default.
class FixedItemSource : public FormatItemSource {
 public:
  void Set(FormatItem item, std::string text, int index = 0);
  void SetEras(std::vector<TEra> eras);

  std::optional<std::string> Item(FormatItem item, int index) const override;
  std::vector<TEra> Eras() const override;

 private:
  std::map<std::pair<FormatItem, int>, std::string> items_;
  std::vector<TEra> eras_;
};
