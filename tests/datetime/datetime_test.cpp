// Date and time stamps: the texts of a moment and of the clock, and real Qt
// regions.

#include <gtest/gtest.h>

#include <QLocale>
#include <ctime>
#include <memory>
#include <tuple>

#include "datetime/date_time_text.h"
#include "datetime/qlocale_item_source.h"

namespace {

// 2 November 2005, a Wednesday, 14:05:09.007.
constexpr DateTimeParts kMoment{2005, 11, 2, 3, 14, 5, 9, 7};

TEST(DateTimeText, DateAndTimeInTheRegionalFormats) {
  InstallFormatItemSource(std::make_shared<FixedItemSource>());
  EXPECT_EQ(DateText(kMoment) + " " + TimeText(kMoment), "11/2/05 2:05:09 pm");
  auto source = std::make_shared<FixedItemSource>();
  source->Set(FormatItem::kShortDate, "yyyy-MM-dd");  // fixed-width formats
  source->Set(FormatItem::kHourLeadingZero, "1");
  InstallFormatItemSource(source);
  source->Set(FormatItem::kClock, "1");
  EXPECT_EQ(DateText(kMoment) + " " + TimeText(kMoment), "2005-11-02 02:05:09 pm")
      << "read at once, and again only when told";
  ReloadFormatSettings();
  InstallLocalClock([] { return DateTimeParts{2000, 1, 1, 6, 0, 0, 0, 0}; });
  EXPECT_EQ(DateText() + " " + TimeText(), "2000-01-01 00:00:00") << "of the clock now";

  // The local clock, and the system's region.
  InstallLocalClock({});
  InstallFormatItemSource(nullptr);
  const std::time_t now = std::time(nullptr);
  const std::tm local = *std::localtime(&now);  // this test's thread alone asks
  const DateTimeParts clock = ReadLocalClock();
  EXPECT_EQ(std::tuple(clock.year, clock.month, clock.day, clock.dayOfWeek, clock.hour),
            std::tuple(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_wday,
                       local.tm_hour));
  EXPECT_FALSE(DateText().empty() || TimeText().empty());
}

TEST(QLocaleItemSource, RealRegions) {
  // Short date | long date | long time | the "/" and ":" separators | short names.
  const std::pair<const char*, std::string> rows[] = {
      {"en_US", "11/2/05|Wednesday, November 2, 2005|2:05:09 PM|/:|Wed Nov"},
      {"de_DE", "02.11.05|Mittwoch, 2. November 2005|14:05:09|.:|Mi. Nov."},
      {"sv_SE", "2005-11-02|onsdag 2 november 2005|14:05:09|-:|ons nov."},
      {"es_ES", "2/11/05|miércoles, 2 de noviembre de 2005|14:05:09|/:|mié nov"},
      {"ko_KR", "05. 11. 2.|2005년 11월 2일 수요일|오후 2:05:09|/:|수 11월"},  // ". " is too long for "/"
      {"fi_FI", "2.11.2005|keskiviikkona 2. marraskuuta 2005|14.05.09|..|ke marrask."},
  };
  for (const auto& [name, texts] : rows) {
    const TFormatSettings s = ReadFormatSettings(QLocaleItemSource(QLocale(name)));
    EXPECT_EQ(FormatDateTime("ddddd|dddddd|tt|/:|ddd mmm", kMoment, s), texts) << name;
  }
}

}  // namespace
