#pragma once
// What a lab relies on: every record the device saw acknowledged is in the
// log, in order, and the log holds nothing the device did not send.

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

// Checks `log` against the devices that fed it, one after the other: every
// record each saw acknowledged is there, in order, and every line is a record
// a device sent. A record logged but not acknowledged (the device went away,
// or the record's interval earned no "*") is sent again and may be logged
// twice: at most `extra` lines are more than the acknowledged records.
inline ::testing::AssertionResult LogHoldsEveryAcknowledged(const std::string& log,
                                                            const std::vector<DeviceLog>& devices,
                                                            const std::string& stamp,
                                                            size_t extra = 1) {
  std::vector<std::string> logged;
  if (auto parsed = LogRecords(log, stamp, logged); !parsed) return parsed;
  std::set<std::string> sent;
  std::vector<std::string> acked;
  for (const DeviceLog& device : devices) {
    sent.insert(device.sent.begin(), device.sent.end());
    acked.insert(acked.end(), device.acked.begin(), device.acked.end());
  }
  size_t next = 0;
  for (size_t i = 0; i < logged.size(); ++i) {
    if (!sent.count(logged[i])) {
      return ::testing::AssertionFailure() << "the log's record " << i << " was never sent";
    }
    if (next < acked.size() && logged[i] == acked[next]) ++next;
  }
  if (next < acked.size()) {
    return ::testing::AssertionFailure() << "acknowledged record " << next << " of "
                                         << acked.size() << " missing or out of order";
  }
  if (logged.size() > acked.size() + extra) {
    return ::testing::AssertionFailure() << logged.size() << " lines for " << acked.size()
                                         << " acknowledged records";
  }
  return ::testing::AssertionSuccess();
}

}  // namespace testing_support
