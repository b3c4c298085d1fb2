#pragma once
// What a lab relies on: every record the device saw acknowledged is in the
// log exactly once, in order, and the log holds nothing the device did not send.

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

// Cuts `log` into its records. Every line must be a record and `stamp`, or
// any " (...)" stamp when `stamp` is empty (a program's own clock), then CR LF.
inline ::testing::AssertionResult LogRecords(const std::string& log, const std::string& stamp,
                                             std::vector<std::string>& records) {
  for (size_t pos = 0; pos < log.size();) {
    const size_t end = stamp.empty() ? log.find("\r\n", pos + kRecordBytes)
                                     : pos + kRecordBytes + stamp.size();
    const bool whole =
        end != std::string::npos && end + 2 <= log.size() && log.compare(end, 2, "\r\n") == 0 &&
        (stamp.empty() ? log.compare(pos + kRecordBytes, 2, " (") == 0 && log[end - 1] == ')'
                       : log.compare(pos + kRecordBytes, stamp.size(), stamp) == 0);
    if (!whole) return ::testing::AssertionFailure() << "malformed line at byte " << pos;
    records.push_back(log.substr(pos, kRecordBytes));
    pos = end + 2;
  }
  return ::testing::AssertionSuccess();
}

// Checks `log` against the devices that fed it, one after the other. After
// each device's acknowledged records, up to `inFlight` records it sent may be
// logged whose acknowledgement it never saw (the tick had not come, or it
// went away).
inline ::testing::AssertionResult LogHoldsExactly(const std::string& log,
                                                  const std::vector<DeviceLog>& devices,
                                                  const std::string& stamp, size_t inFlight = 1) {
  std::vector<std::string> logged;
  if (auto parsed = LogRecords(log, stamp, logged); !parsed) return parsed;
  size_t next = 0;
  for (size_t d = 0; d < devices.size(); ++d) {
    for (const std::string& record : devices[d].acked) {
      if (next >= logged.size() || logged[next++] != record) {
        return ::testing::AssertionFailure() << "acknowledged record " << next - 1 << " missing";
      }
    }
    // Records sent but not seen acknowledged, before the next device's first.
    const std::set<std::string> sent(devices[d].sent.begin(), devices[d].sent.end());
    const std::set<std::string> acked(devices[d].acked.begin(), devices[d].acked.end());
    for (size_t extra = 0; extra < inFlight && next < logged.size() && sent.count(logged[next]) &&
                           !acked.count(logged[next]) &&
                           (d + 1 == devices.size() || devices[d + 1].acked.empty() ||
                            logged[next] != devices[d + 1].acked[0]);
         ++extra) {
      ++next;
    }
  }
  if (next == logged.size()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the log's record " << next << " of " << logged.size()
                                       << " was never sent, or is logged twice";
}

}  // namespace testing_support
