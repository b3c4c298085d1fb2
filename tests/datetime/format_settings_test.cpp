#include "datetime/format_settings.h"

#include <gtest/gtest.h>

#include "datetime/date_time_format.h"
#include "datetime/format_item_source.h"

namespace {

constexpr DateTimeParts kMoment{2005, 11, 2, 3, 14, 5, 9, 7};

std::string DateOf(const TFormatSettings& s) {
  return FormatDateTime(s.ShortDatePattern, kMoment, s);
}

std::string TimeOf(const TFormatSettings& s) {
  return FormatDateTime(s.LongTimePattern, kMoment, s);
}

TEST(FormatSettings, SourceWithoutItemsGivesTheDefaults) {
  const TFormatSettings s = ReadFormatSettings(FixedItemSource());
  EXPECT_EQ(s.ShortDatePattern, "m/d/yy");
  EXPECT_EQ(s.LongDatePattern, "mmmm d, yyyy");
  EXPECT_EQ(s.LongTimePattern, "h:mm:ss AMPM");
  EXPECT_EQ(s.ShortTimePattern, "h:mm AMPM");
  EXPECT_EQ(s.DateSepChar, "/");
  EXPECT_EQ(s.TimeSepChar, ":");
  EXPECT_EQ(DateOf(s), "11/2/05");
  EXPECT_EQ(TimeOf(s), "2:05:09 pm");
  EXPECT_EQ(FormatDateTime("dddd ddd mmmm mmm", kMoment, s), "Wednesday Wed November Nov");
  EXPECT_TRUE(s.Eras.empty());
}

TEST(FormatSettings, ItemsFollowTheReadingRules) {
  FixedItemSource source;
  source.Set(FormatItem::kAmText, "");                 // supplied but empty stays empty
  source.Set(FormatItem::kDateSeparator, ". ");        // too long for one character
  source.Set(FormatItem::kTimeSeparator, "\xC2\xB7");  // one character, two bytes
  source.Set(FormatItem::kLongMonthName, "novembre", 11);
  source.Set(FormatItem::kShortDayName, "mer.", 3);
  TFormatSettings s = ReadFormatSettings(source);
  EXPECT_EQ(s.AmText, "");
  EXPECT_EQ(s.PmText, "pm");
  EXPECT_EQ(s.DateSepChar, "/");
  EXPECT_EQ(s.TimeSepChar, "\xC2\xB7");
  EXPECT_EQ(FormatDateTime("mmmm mmm ddd dddd", kMoment, s), "novembre Nov mer. Wednesday");

  // A two-character separator: "/" gives the default, literal separators stay.
  source.Set(FormatItem::kShortDate, "d. m. yyyy");
  EXPECT_EQ(DateOf(ReadFormatSettings(source)), "2. 11. 2005");
  source.Set(FormatItem::kShortDate, "d/m/yyyy");
  EXPECT_EQ(DateOf(ReadFormatSettings(source)), "2/11/2005");

  source.Set(FormatItem::kDateSeparator, "");
  EXPECT_EQ(DateOf(ReadFormatSettings(source)), "2112005");

  // Number items that are not whole integers count as 0.
  source.Set(FormatItem::kHourLeadingZero, "yes");
  source.Set(FormatItem::kClock, "1 ");
  EXPECT_EQ(ReadFormatSettings(source).LongTimePattern, "h:mm:ss AMPM");
  source.Set(FormatItem::kClock, "2");
  EXPECT_EQ(ReadFormatSettings(source).LongTimePattern, "h:mm:ss");
}

TEST(FormatSettings, TimePatternsAreBuiltFromTheClockNumbers) {
  struct Case {
    const char* leadingZero;
    const char* clock;
    const char* position;
    const char* longPattern;
    const char* shortPattern;
    const char* text;
  };
  const Case cases[] = {
      {"0", "0", "0", "h:mm:ss AMPM", "h:mm AMPM", "2:05:09 pm"},
      {"1", "0", "0", "hh:mm:ss AMPM", "hh:mm AMPM", "02:05:09 pm"},
      {"0", "0", "1", "AMPM h:mm:ss", "AMPM h:mm", "pm 2:05:09"},
      {"1", "1", "0", "hh:mm:ss", "hh:mm", "14:05:09"},
      {"0", "1", "1", "h:mm:ss", "h:mm", "14:05:09"},
  };
  for (const Case& c : cases) {
    FixedItemSource source;
    source.Set(FormatItem::kHourLeadingZero, c.leadingZero);
    source.Set(FormatItem::kClock, c.clock);
    source.Set(FormatItem::kDesignatorPosition, c.position);
    source.Set(FormatItem::kTimeSeparator, ".");
    const TFormatSettings s = ReadFormatSettings(source);
    SCOPED_TRACE(c.longPattern);
    EXPECT_EQ(s.LongTimePattern, c.longPattern);
    EXPECT_EQ(s.ShortTimePattern, c.shortPattern);
    std::string expected = c.text;
    for (char& ch : expected) ch = ch == ':' ? '.' : ch;
    EXPECT_EQ(TimeOf(s), expected);
  }
}

TEST(FormatSettings, EraCalendarsRewriteTheDatePatterns) {
  FixedItemSource source;
  source.Set(FormatItem::kCalendarType, "3");
  source.Set(FormatItem::kShortDate, "gg yy/MM/dd");
  source.Set(FormatItem::kLongDate, "gg y 'yyyy' YYYY");
  source.SetEras({{2019, 5, 1, "Reiwa"}, {1989, 1, 8, "Heisei"}});
  TFormatSettings s = ReadFormatSettings(source);
  EXPECT_EQ(s.ShortDatePattern, "gg ee/MM/dd");
  EXPECT_EQ(s.LongDatePattern, "gg e 'yyyy' eeee");
  EXPECT_EQ(DateOf(s), "Heisei 17/11/02");
  EXPECT_EQ(FormatDateTime(s.LongDatePattern, {2020, 1, 1, 3, 0, 0, 0, 0}, s), "Reiwa 2 yyyy 0002");

  // Another calendar: Chinese, Japanese and Korean regions lose their g letters.
  source.Set(FormatItem::kCalendarType, "1");
  source.Set(FormatItem::kLanguage, "ja");
  s = ReadFormatSettings(source);
  EXPECT_EQ(s.ShortDatePattern, " yy/MM/dd");
  EXPECT_EQ(s.LongDatePattern, " y 'yyyy' YYYY");
  EXPECT_TRUE(s.Eras.empty());
  source.Set(FormatItem::kLanguage, "de");
  EXPECT_EQ(ReadFormatSettings(source).ShortDatePattern, "gg yy/MM/dd");
}

}  // namespace
