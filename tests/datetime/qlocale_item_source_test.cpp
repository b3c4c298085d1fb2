#include "datetime/qlocale_item_source.h"

#include <gtest/gtest.h>

#include "datetime/date_time_format.h"

namespace {

constexpr DateTimeParts kMoment{2005, 11, 2, 3, 14, 5, 9, 7};

struct Texts {
  TFormatSettings settings;
  std::string shortDate, longDate, time;
};

Texts For(const char* localeName) {
  const TFormatSettings s = ReadFormatSettings(QLocaleItemSource(QLocale(localeName)));
  return {s, FormatDateTime(s.ShortDatePattern, kMoment, s),
          FormatDateTime(s.LongDatePattern, kMoment, s),
          FormatDateTime(s.LongTimePattern, kMoment, s)};
}

TEST(QLocaleItemSource, UnitedStates) {
  const Texts t = For("en_US");
  EXPECT_EQ(t.settings.ShortDatePattern, "m/d/yy");
  EXPECT_EQ(t.settings.LongTimePattern, "h:mm:ss AMPM");
  EXPECT_EQ(t.shortDate, "11/2/05");
  EXPECT_EQ(t.longDate, "Wednesday, November 2, 2005");
  EXPECT_EQ(t.time, "2:05:09 PM");
}

TEST(QLocaleItemSource, Germany) {
  const Texts t = For("de_DE");
  EXPECT_EQ(t.settings.DateSepChar, ".");
  EXPECT_EQ(t.settings.TimeSepChar, ":");
  EXPECT_EQ(t.shortDate, "02.11.05");
  EXPECT_EQ(t.longDate, "Mittwoch, 2. November 2005");
  EXPECT_EQ(t.time, "14:05:09");
}

TEST(QLocaleItemSource, SwedenGivesTheDeviceFormats) {
  const Texts t = For("sv_SE");
  EXPECT_EQ(t.settings.ShortDatePattern, "yyyy-mm-dd");
  EXPECT_EQ(t.settings.LongTimePattern, "hh:mm:ss");
  EXPECT_EQ(t.shortDate, "2005-11-02");
  EXPECT_EQ(t.time, "14:05:09");
}

TEST(QLocaleItemSource, LiteralWordsSeparatorsAndDesignatorFirst) {
  // Words inside a Qt format are quoted so that their letters stay text.
  EXPECT_EQ(For("es_ES").longDate, "mi\xC3\xA9rcoles, 2 de noviembre de 2005");
  // Korean: ". " between the date fields is too long for the separator, and
  // the designator comes before the hour.
  const Texts korean = For("ko_KR");
  EXPECT_EQ(korean.settings.DateSepChar, "/");
  EXPECT_EQ(korean.shortDate, "05. 11. 2.");
  EXPECT_EQ(korean.settings.LongTimePattern, "AMPM h:mm:ss");
  // Finnish writes the time with dots.
  EXPECT_EQ(For("fi_FI").time, "14.05.09");
}

}  // namespace
