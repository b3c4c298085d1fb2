// The whole program path: the real window on the offscreen platform, the real
// component, and the bundled device simulator on a pseudo-terminal.

#include <QDir>

#include "device_simulator.h"
#include "log_invariant.h"
#include "window_fixture.h"

namespace {

using namespace testing_support;

TEST_F(WindowTest, EndToEndThePollsAcknowledgementsAndTheLogFollowTheDevice) {
  // The program's own log file name, in the working directory.
  const QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(dir.path()));
  form->LogFileHolder().FileName = "Karo.txt";
  devsim::SimOptions options;
  options.chunkSize = 8;  // as a UART delivers: a few bytes at a time
  options.pace = true;
  devsim::DeviceSimulator sim(options);
  sim.start();

  OpenDevice(sim.slavePath());
  ASSERT_TRUE(Until([&] { return sim.state().recordsAcked >= 4; }, 20000));
  Click("CloseButton");
  const devsim::SimState s = sim.state();
  EXPECT_EQ(s.clockSetTo, "2005-11-02 14:05:09");
  EXPECT_GE(s.polls, s.acks) << "a poll, then an acknowledgement";
  EXPECT_LE(s.polls, s.acks + 2);
  EXPECT_TRUE(LogHoldsExactly(LogContents(), {{s.sent, s.acked}}, kStamp));
  const auto lines = Lines(Memo2());
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[1], s.acked[0] + kStamp);
  EXPECT_GT(StatusCount("Reading 8 characters"), 0);

  // CLOSE stops the polls.
  QTest::qWait(500);
  EXPECT_EQ(sim.state().polls, s.polls);
  QDir::setCurrent(previous);
}

}  // namespace
