#include "datetime/date_time_text.h"

#include <gtest/gtest.h>

#include <memory>
#include <regex>

namespace {

class DateTimeText : public testing::Test {
 protected:
  void SetUp() override { SetClock({2005, 11, 2, 3, 14, 5, 9, 7}); }
  void TearDown() override {
    InstallLocalClock({});
    InstallFormatItemSource(nullptr);
  }
  void SetClock(DateTimeParts moment) {
    InstallLocalClock([moment] { return moment; });
  }
  // The regional formats the device's clock-setting message is cut from.
  static std::shared_ptr<FixedItemSource> DeviceFormats() {
    auto source = std::make_shared<FixedItemSource>();
    source->Set(FormatItem::kShortDate, "yyyy-MM-dd");
    source->Set(FormatItem::kHourLeadingZero, "1");
    source->Set(FormatItem::kClock, "1");
    return source;
  }
};

TEST_F(DateTimeText, WithoutRegionalDataUsesTheDefaults) {
  InstallFormatItemSource(std::make_shared<FixedItemSource>());
  EXPECT_EQ(DateText(), "11/2/05");
  EXPECT_EQ(TimeText(), "2:05:09 pm");

  auto designatorFirst = std::make_shared<FixedItemSource>();
  designatorFirst->Set(FormatItem::kDesignatorPosition, "1");
  InstallFormatItemSource(designatorFirst);
  EXPECT_EQ(TimeText(), "pm 2:05:09");
}

TEST_F(DateTimeText, DeviceFormatsGiveFixedWidthTexts) {
  InstallFormatItemSource(DeviceFormats());
  EXPECT_EQ(DateText(), "2005-11-02");
  EXPECT_EQ(TimeText(), "14:05:09");
  SetClock({2026, 12, 31, 4, 23, 59, 58, 999});
  EXPECT_EQ(DateText() + " " + TimeText(), "2026-12-31 23:59:58");
  SetClock({2000, 1, 1, 6, 0, 0, 0, 0});
  EXPECT_EQ(DateText() + " " + TimeText(), "2000-01-01 00:00:00");
}

TEST_F(DateTimeText, ReloadPicksUpChangedSettings) {
  auto source = std::make_shared<FixedItemSource>();
  InstallFormatItemSource(source);
  EXPECT_EQ(DateText(), "11/2/05");
  source->Set(FormatItem::kShortDate, "dd.MM.yyyy");
  source->Set(FormatItem::kClock, "1");
  EXPECT_EQ(DateText(), "11/2/05");  // settings are read only when told
  ReloadFormatSettings();
  EXPECT_EQ(DateText(), "02.11.2005");
  EXPECT_EQ(TimeText(), "14:05:09");
  EXPECT_EQ(CurrentFormatSettings().ShortDatePattern, "dd.MM.yyyy");
}

TEST_F(DateTimeText, ReadsTheLocalClockAndTheSystemRegion) {
  InstallLocalClock({});
  const DateTimeParts now = ReadLocalClock();
  EXPECT_GE(now.year, 2024);
  EXPECT_TRUE(now.month >= 1 && now.month <= 12 && now.day >= 1 && now.day <= 31);
  EXPECT_TRUE(now.dayOfWeek >= 0 && now.dayOfWeek <= 6);
  EXPECT_TRUE(now.hour >= 0 && now.hour <= 23 && now.minute <= 59 && now.second <= 60);

  InstallFormatItemSource(DeviceFormats());
  EXPECT_TRUE(std::regex_match(DateText(), std::regex(R"(\d{4}-\d\d-\d\d)")));
  EXPECT_TRUE(std::regex_match(TimeText(), std::regex(R"(\d\d:\d\d:\d\d)")));

  InstallFormatItemSource(nullptr);
  EXPECT_FALSE(DateText().empty());
  EXPECT_FALSE(TimeText().empty());
}

}  // namespace
