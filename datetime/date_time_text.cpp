#include "datetime/date_time_text.h"

#include <QDateTime>
#include <optional>
#include <utility>

#include "datetime/qlocale_item_source.h"

namespace {

// The process-wide state. Every caller runs on the user-interface thread
// (stamps, the clock-setting message and the regional-change reload), so it
// is read and replaced without locks.
struct DateTimeTextState {
  std::shared_ptr<const FormatItemSource> source;  // nullptr: the system's locale
  std::optional<TFormatSettings> settings;
  std::function<DateTimeParts()> clock;
};

DateTimeTextState& State() {
  static DateTimeTextState state;
  return state;
}

}  // namespace

void ReloadFormatSettings() {
  DateTimeTextState& state = State();
  // A fresh system locale each time, so that a changed region is seen.
  state.settings = state.source ? ReadFormatSettings(*state.source)
                                : ReadFormatSettings(QLocaleItemSource(QLocale::system()));
}

const TFormatSettings& CurrentFormatSettings() {
  DateTimeTextState& state = State();
  if (!state.settings) ReloadFormatSettings();
  return *state.settings;
}

void InstallFormatItemSource(std::shared_ptr<const FormatItemSource> source) {
  State().source = std::move(source);
  ReloadFormatSettings();
}

void InstallLocalClock(std::function<DateTimeParts()> clock) { State().clock = std::move(clock); }

DateTimeParts ReadLocalClock() {
  if (const auto& clock = State().clock) return clock();
  const QDateTime now = QDateTime::currentDateTime();
  const QDate date = now.date();
  const QTime time = now.time();
  // Qt counts the days of the week from Monday (1) to Sunday (7).
  return {date.year(), date.month(),  date.day(),    date.dayOfWeek() % 7,
          time.hour(), time.minute(), time.second(), time.msec()};
}

std::string DateText(const DateTimeParts& moment) {
  const TFormatSettings& settings = CurrentFormatSettings();
  return FormatDateTime(settings.ShortDatePattern, moment, settings);
}

std::string TimeText(const DateTimeParts& moment) {
  const TFormatSettings& settings = CurrentFormatSettings();
  return FormatDateTime(settings.LongTimePattern, moment, settings);
}

std::string DateText() { return DateText(ReadLocalClock()); }
std::string TimeText() { return TimeText(ReadLocalClock()); }
