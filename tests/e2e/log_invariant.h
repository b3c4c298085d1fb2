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

// What one device (one simulator run) sent and saw acknowledged.
struct DeviceLog {
  std::vector<std::string> sent;
  std::vector<std::string> acked;
};

// Checks `log` (the whole file, every line stamped with `stamp`) against the
// devices that fed it, one after the other. After each device's acknowledged
// records, up to `inFlight` records it sent may be logged whose
// acknowledgement it never saw (the tick had not come, or it went away).
inline ::testing::AssertionResult LogHoldsExactly(const std::string& log,
                                                  const std::vector<DeviceLog>& devices,
                                                  const std::string& stamp, size_t inFlight = 1) {
  const std::string end = stamp + "\r\n";
  const size_t lineSize = kRecordBytes + end.size();
  std::vector<std::string> logged;
  for (size_t pos = 0; pos < log.size(); pos += lineSize) {
    if (log.size() - pos < lineSize || log.compare(pos + kRecordBytes, end.size(), end) != 0) {
      return ::testing::AssertionFailure() << "malformed line at byte " << pos;
    }
    logged.push_back(log.substr(pos, kRecordBytes));
  }
  size_t next = 0;
  for (size_t d = 0; d < devices.size(); ++d) {
    for (const std::string& record : devices[d].acked) {
      if (next >= logged.size() || logged[next++] != record) {
        return ::testing::AssertionFailure() << "acknowledged record " << next - 1 << " of device "
                                             << d << " is missing or out of order";
      }
    }
    const std::set<std::string> sent(devices[d].sent.begin(), devices[d].sent.end());
    const std::set<std::string> acked(devices[d].acked.begin(), devices[d].acked.end());
    const auto* nextFirst = d + 1 < devices.size() && !devices[d + 1].acked.empty()
                                ? &devices[d + 1].acked[0] : nullptr;
    for (size_t extra = 0; extra < inFlight && next < logged.size(); ++extra, ++next) {
      const std::string& r = logged[next];
      if (!sent.count(r) || acked.count(r) || (nextFirst && r == *nextFirst)) break;
    }
  }
  if (next != logged.size()) {
    return ::testing::AssertionFailure() << "the log's record " << next << " of " << logged.size()
                                         << " was never sent, or is logged twice";
  }
  return ::testing::AssertionSuccess();
}

}  // namespace testing_support
