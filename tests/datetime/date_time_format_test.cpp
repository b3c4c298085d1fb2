// The date and time formatter: its rules, and the settings read from a
// region's items. No Qt: it builds for every platform.

#include <gtest/gtest.h>

#include <limits>
#include <tuple>

#include "datetime/date_time_format.h"
#include "datetime/format_item_source.h"

namespace {

// 2 November 2005, a Wednesday, 14:05:09.007.
constexpr DateTimeParts kMoment{2005, 11, 2, 3, 14, 5, 9, 7};

TEST(FormatDateTime, Rules) {
  TFormatSettings seps, nested, clock24, eras, odd;
  seps.DateSepChar = ".";
  seps.TimeSepChar = "-";
  nested.ShortDatePattern = "[ddddd|dddddd|t|tt|c|d]";
  clock24.LongTimePattern = "hh:mm:ss";
  eras.Eras = {{1989, 1, 8, "Heisei"}, {2019, 5, 1, "Reiwa"}};
  odd.DateSepChar = "";
  odd.LongDayNames[3] = "\xF0\x9F\x98\x80\xF0\x9F\x98\x80";  // two four-byte characters
  const auto x = [](int n) { return std::string(n, 'x'); };
  const int low = std::numeric_limits<int>::min();
  struct Row {
    std::string pattern, text;
    DateTimeParts moment = kMoment;
    const TFormatSettings* settings = nullptr;
  };
  const Row rows[] = {
      // Every element, in any letter case; other characters stand for themselves.
      {"d dd ddd dddd|aaa aaaa", "2 02 Wed Wednesday|Wed Wednesday"},
      {"m mm mmm mmmm mmmmmm", "11 11 Nov November November"},
      {"y yy yyy yyyy|h hh n nn s ss", "05 05 2005 2005|14 14 5 05 9 09"},
      {"m mm h hh|yy yyyy", "3 03 9 09|09 2009", {2009, 3, 4, 3, 9, 5, 7, 0}},
      {"ddddd|dddddd|t|tt|c", "11/2/05|November 2, 2005|2:05 pm|2:05:09 pm|11/2/05 2:05:09 pm"},
      {"c", "11/2/05", {2005, 11, 2, 3, 0, 0, 0, 0}},
      {"c", "11/2/05 12:00:09 am", {2005, 11, 2, 3, 0, 0, 9, 0}},
      {"DD.Mm.YYYY x#1 aa_", "02.11.2005 x#1 aa_"},
      {"ddddd|c", "[|||||2]|[|||||2] 2:05:09 pm", kMoment, &nested},  // no inserting twice
      // A designator puts the hours before it on the 12-hour clock, and those after.
      {"h ampm", "12 am", {2005, 11, 2, 3, 0}},
      {"h ampm", "12 pm", {2005, 11, 2, 3, 12}},
      {"hh ampm", "11 pm", {2005, 11, 2, 3, 23}},
      {"ampm h|AMPM h", "am 11|am 11", {2005, 11, 2, 3, 11}},
      {"h a/p Am/pM", "9 a Am", {2005, 11, 2, 3, 9}},
      {"h A/P Am/pM", "2 P pM"},
      {"h am/pm h", "2 pm 2"},
      {"h h ampm", "14 2 pm"},  // looking ahead stops at the next hour
      {"h 'h' ampm", "2 h pm"},  // and skips quoted text
      {"h \"am\" h|h aaa", "14 am 14|14 Wed"},
      {"ampm h tt", "pm 2 14:05:09", kMoment, &clock24},  // an inserted pattern starts afresh
      {"t h", "2:05 pm 14"},  // and does not carry over
      // A month element after an hour gives minutes.
      {"h:m hh:mm hh mmmm", "14:5 14:05 14 05"},
      {"h 'x' m m h d m h:nn m", "14 x 5 11 14 2 11 14:05 11"},
      // Quoted text loses its quotes; an unclosed quote runs to the end.
      {"'d' \"m\" 'it''s' \"a'b\" 'x\"y'", "d m its a'b x\"y"},
      {"yyyy 'dd", "2005 dd"},
      // "/" and ":" are the separators of the settings.
      {"d/m h:n '/:' d.m-y", "2.11 14-5 /: 2.11-05", kMoment, &seps},
      {"d/m", "211", kMoment, &odd},
      // Era names and years: the latest era begun by the date; the year as it is before any.
      {"g gg e ee eeee", "Heisei Heisei 17 17 0017", kMoment, &eras},
      {"gg e", "Heisei 31", {2019, 4, 30, 2, 0, 0, 0, 0}, &eras},
      {"gg e", "Reiwa 1", {2019, 5, 1, 3, 0, 0, 0, 0}, &eras},
      {"[g] e", "[] 1900", {1900, 1, 1, 1, 0, 0, 0, 0}, &eras},
      {"[gg] ee", "[] 05"},
      // At most 256 bytes, never ending in part of a character.
      {x(300), x(256)},
      {x(253) + "dddd", x(253), kMoment, &odd},
      {x(252) + "dddd", x(252) + "\xF0\x9F\x98\x80", kMoment, &odd},
      // Fields out of range.
      {"[ddd][dddd][mmm][mmmm] yy yyyy h", "[][][][] 99 -0001 25", {-1, 13, 0, 9, 25, -1, 60, 0}},
      {"yy|mmmm|h ampm|ee", "52||-8 am|52", {low, low, low, low, low, low, low, low}},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(FormatDateTime(r.pattern, r.moment, r.settings ? *r.settings : TFormatSettings{}),
              r.text)
        << r.pattern;
  }
}

TEST(ReadFormatSettings, ItemRules) {
  using enum FormatItem;
  struct Item { FormatItem item; std::string text; int index = 0; };
  // An empty pattern stands for the two date patterns themselves.
  struct Row { std::vector<Item> items; std::string pattern, text; DateTimeParts at = kMoment; };
  const Row rows[] = {
      // Nothing supplied: the defaults.
      {{}, "ddddd|dddddd|t|tt|ampm", "11/2/05|November 2, 2005|2:05 pm|2:05:09 pm|pm"},
      {{}, "dddd ddd mmmm mmm ampm", "Wednesday Wed November Nov am", {2005, 11, 2, 3, 9}},
      // Supplied empty stays empty; a separator of more than one character is not read.
      {{{kAmText, ""}, {kDateSeparator, ". "}, {kTimeSeparator, "\xC2\xB7"},
        {kLongMonthName, "novembre", 11}, {kShortMonthName, "nov.", 11},
        {kLongDayName, "mercredi", 3}, {kShortDayName, "mer.", 3}},
       "[ampm] m/d h:n mmmm mmm dddd ddd", "[] 11/2 9\xC2\xB7" "5 novembre nov. mercredi mer.",
       {2005, 11, 2, 3, 9, 5}},
      {{{kShortDate, "d. m. yyyy"}, {kLongDate, "d/m/yyyy"}, {kDateSeparator, ". "}},
       "ddddd|dddddd", "2. 11. 2005|2/11/2005"},
      {{{kDateSeparator, ""}}, "ddddd", "11205"},
      // The time patterns come from the clock numbers; a number not wholly an integer is 0.
      {{{kHourLeadingZero, "1"}}, "t|tt", "02:05 pm|02:05:09 pm"},
      {{{kDesignatorPosition, "1"}}, "t|tt", "pm 2:05|pm 2:05:09"},
      {{{kHourLeadingZero, "1"}, {kClock, "1"}}, "t|tt", "14:05|14:05:09"},
      {{{kClock, "1"}, {kDesignatorPosition, "1"}}, "tt", "14:05:09"},
      {{{kHourLeadingZero, "yes"}, {kClock, "1 "}}, "tt", "2:05:09 pm"},
      {{{kClock, "2"}}, "tt", "14:05:09"},
      // Era calendars (3 to 5) write era years, with the eras in date order.
      {{{kCalendarType, "3"}, {kLanguage, "ja"}, {kShortDate, "gg yy/MM/dd"},
        {kLongDate, "gg y 'yyyy' YYYY"}},
       "ddddd|dddddd", "Reiwa 02/01/01|Reiwa 2 yyyy 0002", {2020, 1, 1, 3, 0, 0, 0, 0}},
      {{{kCalendarType, "5"}, {kShortDate, "gg yy"}}, "ddddd", "Heisei 17"},
      {{{kCalendarType, "6"}, {kShortDate, "gg yy"}}, "ddddd", " 05"},
      // Chinese, Japanese and Korean regions on another calendar lose the era names.
      {{{kLanguage, "zh"}, {kShortDate, "gg yy 'g'"}, {kLongDate, "ggg d"}}, "", " yy 'g'| d"},
      {{{kLanguage, "ja"}, {kShortDate, "gg yy"}, {kLongDate, "ggg d"}}, "", " yy| d"},
      {{{kLanguage, "ko"}, {kShortDate, "gg yy"}, {kLongDate, "ggg d"}}, "", " yy| d"},
      {{{kLanguage, "de"}, {kShortDate, "gg yy"}, {kLongDate, "ggg d"}}, "", "gg yy|ggg d"},
  };
  for (const Row& r : rows) {
    FixedItemSource source;
    for (const Item& i : r.items) source.Set(i.item, i.text, i.index);
    source.SetEras({{2019, 5, 1, "Reiwa"}, {1989, 1, 8, "Heisei"}});
    const TFormatSettings s = ReadFormatSettings(source);
    EXPECT_EQ(r.pattern.empty() ? s.ShortDatePattern + "|" + s.LongDatePattern
                                : FormatDateTime(r.pattern, r.at, s),
              r.text)
        << "row " << &r - rows;
  }
}

}  // namespace
