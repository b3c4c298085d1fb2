#pragma once
// Fault tests run the real window against the device simulator and check,
// at the end of each, that the log holds exactly what the device saw
// acknowledged.

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "device_simulator.h"
#include "log_invariant.h"
#include "process_counts.h"
#include "window_fixture.h"

namespace testing_support {

class FaultTest : public WindowTest {
 protected:
  void TearDown() override {
    if (form && form->Port().IsOpen()) CloseQuietly();
    if (checkInvariant) {
      std::vector<DeviceLog> logs = previousDevices;
      for (const auto& sim : sims) logs.push_back({sim->state().sent, sim->state().acked});
      EXPECT_TRUE(LogHoldsEveryAcknowledged(LogContents(), logs, kStamp, extraLines));
    }
    WindowTest::TearDown();
    for (auto& sim : sims) sim->stop();
  }

  devsim::DeviceSimulator& StartDevice(devsim::SimOptions options = {}) {
    sims.push_back(std::make_unique<devsim::DeviceSimulator>(options));
    sims.back()->start();
    return Device();
  }
  devsim::DeviceSimulator& Device() { return *sims.back(); }
  size_t Acked() { return Device().state().recordsAcked; }
  bool UntilAcked(size_t n, int ms = 20000) { return Until([&] { return Acked() >= n; }, ms); }
  // Shows that no record is acknowledged while logging fails, then that
  // logging resumes once `mend` has put things right.
  template <typename Mend>
  void ExpectNoAckUntil(Mend mend) {
    const size_t acked = Acked();
    QTest::qWait(700);
    EXPECT_EQ(Acked(), acked) << "an unlogged record is not acknowledged";
    mend();
    EXPECT_TRUE(UntilAcked(acked + 2)) << "logging resumes";
  }
  // Presses CLOSE between two answers, once every record the device sent is
  // in the log. Closing discards what is still on its way; the device, which
  // counts a "*" as covering all it sent, would take such records as logged.
  void CloseQuietly() {
    Until([&] {
      size_t sent = previousLines;
      for (const auto& sim : sims) {
        const auto records = sim->state().sent;
        sent += std::set(records.begin(), records.end()).size();
      }
      return static_cast<size_t>(LogLines()) >= sent;
    }, 5000);
    Click("CloseButton");
  }

  std::vector<std::unique_ptr<devsim::DeviceSimulator>> sims;
  bool checkInvariant = true;
  std::vector<DeviceLog> previousDevices;  // what the log held before the test's devices
  size_t previousLines = 0;
  size_t extraLines = 1;  // logged, not acknowledged: sent again, or cut off by the end
};

}  // namespace testing_support
