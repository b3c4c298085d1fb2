#pragma once
// Fault tests run the real window against the device simulator and check,
// at the end of each, that the log holds exactly what the device saw
// acknowledged.

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "async32/c32_thread.h"
#include "device_simulator.h"
#include "log_invariant.h"
#include "process_counts.h"
#include "window_fixture.h"

namespace testing_support {

inline const std::string kStamp = " (2005-11-02 14:05:09)";

inline double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

class FaultTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    async32::SetEventErrorHook([this](const std::string& m) {
      std::lock_guard lock(errorMutex);
      handlerErrors.push_back(m);
    });
  }
  void TearDown() override {
    if (form && form->Port().IsOpen()) CloseQuietly();
    if (checkInvariant) {
      std::vector<DeviceLog> logs = previousDevices;
      for (const auto& sim : sims) {
        const devsim::SimState s = sim->state();
        logs.push_back({s.sent, s.acked});
      }
      EXPECT_TRUE(LogHoldsExactly(LogContents(), logs, kStamp, inFlight));
    }
    WindowTest::TearDown();
    for (auto& sim : sims) sim->stop();
    async32::SetEventErrorHook(nullptr);
  }

  devsim::DeviceSimulator& StartDevice(devsim::SimOptions options = {}) {
    sims.push_back(std::make_unique<devsim::DeviceSimulator>(options));
    sims.back()->start();
    return *sims.back();
  }
  devsim::DeviceSimulator& Device() { return *sims.back(); }
  size_t Acked() { return Device().state().recordsAcked; }
  bool UntilAcked(size_t n, int ms = 20000) { return Until([&] { return Acked() >= n; }, ms); }

  std::vector<std::string> HandlerErrors() {
    std::lock_guard lock(errorMutex);
    return handlerErrors;
  }
  bool UntilHandlerError(const std::string& message) {
    return Until([&] {
      const auto e = HandlerErrors();
      return std::find(e.begin(), e.end(), message) != e.end();
    });
  }
  long StatusCount(const std::string& line) {
    const auto lines = Lines(Memo1());
    return std::count(lines.begin(), lines.end(), line);
  }
  // Presses CLOSE between two answers, once every record the device sent is
  // in the log. Closing discards what is still on its way; the device, which
  // counts a "*" as covering all it sent, would take such records as logged.
  void CloseQuietly() {
    if (!sims.empty()) {
      Until([&] {
        size_t sent = previousLines;
        for (const auto& sim : sims) {
          const devsim::SimState s = sim->state();
          sent += s.sent.empty() ? s.recordsSent
                                 : std::set<std::string>(s.sent.begin(), s.sent.end()).size();
        }
        return static_cast<size_t>(LogLines()) >= sent;
      }, 5000);
    }
    Click("CloseButton");
  }

  // Each record is one line of the record pane, whatever bytes it holds.
  void ExpectOneLinePerRecord() {
    for (const auto& line : Lines(Memo2())) {
      if (line.empty()) continue;
      EXPECT_EQ(QString::fromStdString(line).size(), static_cast<int>(kRecordBytes + kStamp.size()));
    }
  }
  // Lets a few ticks pass: used to show that something does not happen.
  void SeveralTicks() { QTest::qWait(700); }

  std::vector<std::unique_ptr<devsim::DeviceSimulator>> sims;
  bool checkInvariant = true;
  std::vector<DeviceLog> previousDevices;  // what the log held before the test's devices
  size_t previousLines = 0;  // lines of the log not from the current device
  size_t inFlight = 1;
  std::mutex errorMutex;
  std::vector<std::string> handlerErrors;
};

}  // namespace testing_support
