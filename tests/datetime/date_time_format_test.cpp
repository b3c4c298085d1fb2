#include "datetime/date_time_format.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace {

// 2 November 2005, a Wednesday, 14:05:09.007.
constexpr DateTimeParts kMoment{2005, 11, 2, 3, 14, 5, 9, 7};

DateTimeParts At(int hour, int minute = 0, int second = 0) {
  DateTimeParts moment = kMoment;
  moment.hour = hour;
  moment.minute = minute;
  moment.second = second;
  return moment;
}

std::string Format(std::string_view pattern, const DateTimeParts& moment = kMoment,
                   const TFormatSettings& settings = {}) {
  return FormatDateTime(pattern, moment, settings);
}

TEST(DateTimeFormat, WritesEveryElementOfOneMoment) {
  EXPECT_EQ(Format("d dd ddd dddd"), "2 02 Wed Wednesday");
  EXPECT_EQ(Format("m mm mmm mmmm mmmmmm"), "11 11 Nov November November");
  EXPECT_EQ(Format("y yy yyy yyyy"), "05 05 2005 2005");
  EXPECT_EQ(Format("h hh n nn s ss"), "14 14 5 05 9 09");
  EXPECT_EQ(Format("aaa aaaa"), "Wed Wednesday");
  EXPECT_EQ(Format("ddddd|dddddd"), "11/2/05|November 2, 2005");
  EXPECT_EQ(Format("t|tt"), "2:05 pm|2:05:09 pm");
  EXPECT_EQ(Format("c"), "11/2/05 2:05:09 pm");
  EXPECT_EQ(Format("c", At(0)), "11/2/05");
  EXPECT_EQ(Format("DD.Mm.YYYY"), "02.11.2005");
  EXPECT_EQ(Format("yyyy-MM-dd"), "2005-11-02");
  EXPECT_EQ(Format("x#1 aa_"), "x#1 aa_");

  const DateTimeParts early{2009, 3, 4, 3, 9, 5, 7, 0};
  EXPECT_EQ(Format("d/m/y h:n:s", early), "4/3/09 9:5:7");
  EXPECT_EQ(Format("dd/mm/yy hh:nn:ss", early), "04/03/09 09:05:07");
  EXPECT_EQ(Format("yyyy", {5, 1, 1, 0, 0, 0, 0, 0}), "0005");
}

TEST(DateTimeFormat, InsertedPatternsCannotInsertAgain) {
  TFormatSettings settings;
  settings.ShortDatePattern = "[ddddd|dddddd|t|tt|c|d]";
  EXPECT_EQ(Format("ddddd", kMoment, settings), "[|||||2]");
  EXPECT_EQ(Format("c", kMoment, settings), "[|||||2] 2:05:09 pm");
}

TEST(DateTimeFormat, TwelveHourClockFollowsDesignators) {
  EXPECT_EQ(Format("h ampm", At(0)), "12 am");
  EXPECT_EQ(Format("h ampm", At(12)), "12 pm");
  EXPECT_EQ(Format("hh ampm", At(23)), "11 pm");
  EXPECT_EQ(Format("ampm h"), "pm 2");
  EXPECT_EQ(Format("AMPM h", At(11)), "am 11");

  EXPECT_EQ(Format("h a/p", At(9)), "9 a");
  EXPECT_EQ(Format("h A/P"), "2 P");
  EXPECT_EQ(Format("h Am/pM", At(9)), "9 Am");
  EXPECT_EQ(Format("h Am/pM"), "2 pM");

  // Once switched, the rest of the pattern stays on the 12-hour clock.
  EXPECT_EQ(Format("h am/pm h"), "2 pm 2");
  // Looking ahead stops at the next hour and skips quoted text.
  EXPECT_EQ(Format("h h ampm"), "14 2 pm");
  EXPECT_EQ(Format("h 'h' ampm"), "2 h pm");
  EXPECT_EQ(Format("h \"am\" h"), "14 am 14");
  EXPECT_EQ(Format("h aaa"), "14 Wed");

  // An inserted pattern starts on the 24-hour clock again.
  TFormatSettings settings;
  settings.LongTimePattern = "hh:mm:ss";
  EXPECT_EQ(Format("ampm h tt", kMoment, settings), "pm 2 14:05:09");
}

TEST(DateTimeFormat, MonthElementAfterAnHourGivesMinutes) {
  EXPECT_EQ(Format("h:m"), "14:5");
  EXPECT_EQ(Format("hh:mm"), "14:05");
  EXPECT_EQ(Format("hh mmmm"), "14 05");
  EXPECT_EQ(Format("h 'x' m"), "14 x 5");
  EXPECT_EQ(Format("m h"), "11 14");
  EXPECT_EQ(Format("h d m"), "14 2 11");
  EXPECT_EQ(Format("h:nn m"), "14:05 11");
}

TEST(DateTimeFormat, QuotedTextIsCopiedWithoutQuotes) {
  EXPECT_EQ(Format("'d' \"m\" 'it''s'"), "d m its");
  EXPECT_EQ(Format("\"a'b\" 'x\"y'"), "a'b x\"y");
  EXPECT_EQ(Format("yyyy 'dd"), "2005 dd");
  EXPECT_EQ(Format("yyyy \""), "2005 ");
}

TEST(DateTimeFormat, SeparatorsComeFromTheSettings) {
  TFormatSettings settings;
  settings.DateSepChar = ".";
  settings.TimeSepChar = "-";
  EXPECT_EQ(Format("d/m h:n '/:'", kMoment, settings), "2.11 14-5 /:");
  EXPECT_EQ(Format("d.m-y", kMoment, settings), "2.11-05");
  settings.DateSepChar = "";
  EXPECT_EQ(Format("d/m", kMoment, settings), "211");
}

TEST(DateTimeFormat, EraElementsUseTheEraOfTheDate) {
  TFormatSettings settings;
  settings.Eras = {{1989, 1, 8, "Heisei"}, {2019, 5, 1, "Reiwa"}};
  EXPECT_EQ(Format("g gg e ee eeee", kMoment, settings), "Heisei Heisei 17 17 0017");
  EXPECT_EQ(Format("gg e", {2019, 4, 30, 2, 0, 0, 0, 0}, settings), "Heisei 31");
  EXPECT_EQ(Format("gg e", {2019, 5, 1, 3, 0, 0, 0, 0}, settings), "Reiwa 1");
  // Before the first era, or without eras, the year stands as it is.
  EXPECT_EQ(Format("[g] e", {1900, 1, 1, 1, 0, 0, 0, 0}, settings), "[] 1900");
  EXPECT_EQ(Format("[gg] ee"), "[] 05");
}

TEST(DateTimeFormat, CutsLongTextsAt256Characters) {
  EXPECT_EQ(Format(std::string(300, 'x')), std::string(256, 'x'));
  std::string manyDays;
  for (int i = 0; i < 100; ++i) manyDays += "dddd ";
  EXPECT_EQ(Format(manyDays).size(), 256u);

  // A cut never leaves part of a UTF-8 character behind.
  TFormatSettings settings;
  settings.LongDayNames[3] = "\xC3\xA9\xC3\xA9";  // "éé"
  EXPECT_EQ(Format(std::string(255, 'x') + "dddd", kMoment, settings), std::string(255, 'x'));
  EXPECT_EQ(Format(std::string(254, 'x') + "dddd", kMoment, settings),
            std::string(254, 'x') + "\xC3\xA9");
}

TEST(DateTimeFormat, OutOfRangeFieldsGiveNoNames) {
  const DateTimeParts odd{-1, 13, 0, 9, 25, -1, 60, 0};
  EXPECT_EQ(Format("[ddd][dddd][mmm][mmmm]", odd), "[][][][]");
  EXPECT_EQ(Format("yy yyyy h", odd), "99 -0001 25");
  const int least = std::numeric_limits<int>::min();
  const DateTimeParts extreme{least, least, least, least, least, least, least, least};
  EXPECT_EQ(Format("yy|mmmm|h ampm|ee", extreme), "52||-8 am|52");
}

}  // namespace
