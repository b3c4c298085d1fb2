#pragma once

#include <functional>
#include <memory>
#include <string>

#include "datetime/date_time_format.h"
#include "datetime/format_item_source.h"
#include "datetime/format_settings.h"

// The date of `moment` in the region's short date pattern. A caller that
// wants both texts of one moment reads the clock once and passes it to both:
// two readings around midnight would give a stamp a whole day early.
std::string DateText(const DateTimeParts& moment);
std::string DateText();  // of the clock now

// The time of day (hours, minutes, seconds) of `moment` in the long time pattern.
std::string TimeText(const DateTimeParts& moment);
std::string TimeText();  // of the clock now

// Reads the regional settings again; the next DateText or TimeText uses them.
// The window calls this when the system announces a change of its regional
// settings (QEvent::LocaleChange). The settings are first read on first use.
void ReloadFormatSettings();

// The settings DateText and TimeText use now.
const TFormatSettings& CurrentFormatSettings();

// Makes the settings come from `source` (nullptr: the system's Qt locale
// again) and reads them at once. For tests and for callers that need fixed
// formats.
void InstallFormatItemSource(std::shared_ptr<const FormatItemSource> source);

// Makes DateText and TimeText read `clock` instead of the local clock (an
// empty function: the local clock again).
void InstallLocalClock(std::function<DateTimeParts()> clock);

// The local clock as DateText and TimeText read it.
DateTimeParts ReadLocalClock();
