#pragma once
// Fault tests run the real window against the device simulator and check,
// at the end of each, that the log holds exactly what the device saw
// acknowledged.

#include <memory>
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
    // A "*" goes out only on a quiet line, so CLOSE may come mid-answer.
    if (form && form->Port().IsOpen()) Click("CloseButton");
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
  std::vector<std::unique_ptr<devsim::DeviceSimulator>> sims;
  bool checkInvariant = true;
  std::vector<DeviceLog> previousDevices;  // what the log held before the test's devices
  size_t extraLines = 1;  // logged, not acknowledged: sent again, or cut off by the end
};

}  // namespace testing_support
