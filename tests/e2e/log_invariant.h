#pragma once
// What a lab relies on: every record the device saw acknowledged is in the
// log file exactly once, byte for byte, in order, and the file holds nothing
// the device did not send.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace testing_support {

constexpr size_t kRecordBytes = 34;

// Checks `log` (the whole of Karo.txt, every line stamped with `stamp`)
// against what the device sent and saw acknowledged. Up to `inFlight`
// records may be logged whose acknowledgement the device has not seen yet.
inline ::testing::AssertionResult LogHoldsExactly(const std::string& log,
                                                  const std::vector<std::string>& sent,
                                                  const std::vector<std::string>& acked,
                                                  const std::string& stamp, size_t inFlight = 1) {
  std::vector<std::string> logged;
  const size_t lineSize = kRecordBytes + stamp.size() + 2;
  for (size_t pos = 0; pos < log.size(); pos += lineSize) {
    if (log.size() - pos < lineSize || log.compare(pos + kRecordBytes, stamp.size(), stamp) != 0 ||
        log.compare(pos + kRecordBytes + stamp.size(), 2, "\r\n") != 0) {
      return ::testing::AssertionFailure() << "malformed line at byte " << pos;
    }
    logged.push_back(log.substr(pos, kRecordBytes));
  }
  if (logged.size() < acked.size() || logged.size() > acked.size() + inFlight) {
    return ::testing::AssertionFailure()
           << logged.size() << " records logged, " << acked.size() << " acknowledged";
  }
  for (size_t i = 0; i < acked.size(); ++i) {
    if (logged[i] != acked[i]) return ::testing::AssertionFailure() << "record " << i << " differs";
  }
  const std::set<std::string> sentSet(sent.begin(), sent.end());
  std::set<std::string> seen;
  for (const auto& record : logged) {
    if (!sentSet.count(record)) return ::testing::AssertionFailure() << "a record never sent";
    if (!seen.insert(record).second) return ::testing::AssertionFailure() << "a record twice";
  }
  return ::testing::AssertionSuccess();
}

}  // namespace testing_support
