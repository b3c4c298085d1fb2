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

// Checks `log` (the whole of Karo.txt, every line stamped with `stamp`)
// against the devices that fed it, one after the other. After each device's
// acknowledged records, up to `inFlight` records it sent may be logged whose
// acknowledgement it never saw (the tick had not come, or it went away).
inline ::testing::AssertionResult LogHoldsExactly(const std::string& log,
                                                  const std::vector<DeviceLog>& devices,
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
  size_t next = 0;
  for (size_t d = 0; d < devices.size(); ++d) {
    const DeviceLog& device = devices[d];
    for (size_t i = 0; i < device.acked.size(); ++i, ++next) {
      if (next >= logged.size() || logged[next] != device.acked[i]) {
        return ::testing::AssertionFailure() << "acknowledged record " << i << " of device " << d
                                             << " is not the log's record " << next;
      }
    }
    const std::set<std::string> sent(device.sent.begin(), device.sent.end());
    const std::set<std::string> acked(device.acked.begin(), device.acked.end());
    const std::string* nextFirst =
        d + 1 < devices.size() && !devices[d + 1].acked.empty() ? &devices[d + 1].acked[0] : nullptr;
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

inline ::testing::AssertionResult LogHoldsExactly(const std::string& log,
                                                  const std::vector<std::string>& sent,
                                                  const std::vector<std::string>& acked,
                                                  const std::string& stamp, size_t inFlight = 1) {
  return LogHoldsExactly(log, {DeviceLog{sent, acked}}, stamp, inFlight);
}

}  // namespace testing_support
