// The texts of the polling protocol: the clock-setting message and the names
// of device kinds.

#include "protocol/record_assembly.h"

#include <gtest/gtest.h>

namespace {

TEST(RecordTexts, ClockMessageIsTwoDigitsPerField) {
  EXPECT_EQ(ClockMessage({2026, 12, 31, 4, 23, 59, 58, 999}), "(123126235958)");
  EXPECT_EQ(ClockMessage({2000, 1, 2, 0, 3, 4, 5, 0}), "(010200030405)");
}

TEST(RecordTexts, ProviderSubTypeNames) {
  EXPECT_EQ(ProviderSubTypeText(1), "RS-232 serial port");
  EXPECT_EQ(ProviderSubTypeText(0), "Unspecified");
  EXPECT_EQ(ProviderSubTypeText(6), "Modem device");
  EXPECT_EQ(ProviderSubTypeText(259), "X.25 standards");
  EXPECT_EQ(ProviderSubTypeText(7), "");
}

}  // namespace
