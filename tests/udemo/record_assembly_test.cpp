// The pure parts of the polling protocol.

#include "udemo/record_assembly.h"

#include <gtest/gtest.h>

#include "udemo/pane_text.h"

namespace {

std::string Bytes(const TRecord& record, int from, int to) {
  return std::string(reinterpret_cast<const char*>(record.data()) + from,
                     static_cast<size_t>(to - from + 1));
}

TEST(RecordAssembly, BytesFillSlotsOneToThirtyFourThenStartAgain) {
  TRecord record{};
  int32_t index = 0;
  // A byte before the first poll lands in slot 0 and is not part of a record.
  EXPECT_FALSE(StoreRecordByte(record, index, 'x'));
  EXPECT_EQ(record[0], 'x');
  EXPECT_EQ(index, 1);

  const std::string data = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcdefghijklmnopqrstuvwxyz0123456789";
  int completed = 0;
  std::vector<std::string> records;
  for (size_t i = 0; i < 70; ++i) {
    if (StoreRecordByte(record, index, static_cast<uint8_t>(data[i]))) {
      ++completed;
      records.push_back(Bytes(record, 1, 34));
      index = 1;
    }
  }
  ASSERT_EQ(completed, 2);
  EXPECT_EQ(records[0], data.substr(0, 34));
  EXPECT_EQ(records[1], data.substr(34, 34));
  EXPECT_EQ(index, 3) << "bytes 69 and 70 wait in slots 1 and 2";
  EXPECT_EQ(Bytes(record, 1, 2), data.substr(68, 2));

  // An index out of its range never writes outside the slots.
  index = 1000;
  EXPECT_FALSE(StoreRecordByte(record, index, 'q'));
  EXPECT_EQ(index, 2);
}

TEST(RecordAssembly, LineCarriesTheRawBytesAndTheStamp) {
  TRecord record{};
  for (int i = 1; i <= 34; ++i) record[static_cast<size_t>(i)] = static_cast<uint8_t>(i % 3 == 0 ? 26 : i);
  record[1] = 0;
  record[2] = 13;
  const std::string line = RecordLine(record, "2005-11-02", "14:05:09");
  ASSERT_EQ(line.size(), 34u + 22u);
  EXPECT_EQ(line.substr(0, 34), Bytes(record, 1, 34));
  EXPECT_EQ(line.substr(34), " (2005-11-02 14:05:09)");

  // The pane shows one line whatever the bytes: control bytes become pictures.
  const QString shown = PaneText(line.substr(0, 34));
  EXPECT_EQ(shown.size(), 34);
  EXPECT_FALSE(shown.contains('\r'));
  EXPECT_FALSE(shown.contains(QChar(0)));
  EXPECT_EQ(shown[0], QChar(0x2400));
  EXPECT_EQ(shown[1], QChar(0x240D));
  EXPECT_EQ(PaneText("\x7f\xe9"), QString::fromUtf8("\u2421\u00e9"));
}

TEST(RecordAssembly, PaneIsEmptiedAfterEveryTwentyFifthLine) {
  uint8_t lines = 0;
  int emptied = 0;
  for (int i = 1; i <= 60; ++i) {
    if (CountRecordLine(lines)) {
      ++emptied;
      EXPECT_EQ(i % 25, 0) << i;
    }
  }
  EXPECT_EQ(emptied, 2);
  EXPECT_EQ(lines, 10);
}

TEST(RecordAssembly, ClockMessageTakesCharactersByPosition) {
  EXPECT_EQ(ClockMessage("2005-11-02", "14:05:09"), "(110205140509)");
  EXPECT_EQ(ClockMessage("2026-12-31", "23:59:58"), "(123126235958)");
  EXPECT_EQ(ClockMessage("2000-01-01", "00:00:00"), "(010100000000)");
  // Another regional format is still sent by position, unchecked.
  EXPECT_EQ(ClockMessage("02.11.2005", "14:05:09"), "(.205.1140509)");
  EXPECT_EQ(ClockMessage("02.11.2005", "02:05:09 pm"), "(.205.1020509)");
  // Positions past the end of a shorter text are sent as "0".
  EXPECT_EQ(ClockMessage("11/2/05", "9:05:07"), "(0500/29:5:70)");
  EXPECT_EQ(ClockMessage("", ""), "(000000000000)");
  EXPECT_EQ(ClockMessage("2005-11-02", "14:05:09").size(), 14u);
}

TEST(RecordAssembly, ProviderSubTypeNames) {
  EXPECT_EQ(ProviderSubTypeText(1), "RS-232 serial port");
  EXPECT_EQ(ProviderSubTypeText(0), "Unspecified");
  EXPECT_EQ(ProviderSubTypeText(259), "X.25 standards");
  EXPECT_EQ(ProviderSubTypeText(7), "");
  EXPECT_EQ(ProviderSubTypeText(-1), "");
}

}  // namespace
