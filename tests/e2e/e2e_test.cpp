// The whole program path: the real window on the offscreen platform, the real
// component, and the bundled device simulator on a pseudo-terminal.

#include <unistd.h>

#include <QDir>

#include <set>

#include "device_simulator.h"
#include "log_invariant.h"
#include "window_fixture.h"

namespace {

using testing_support::LogHoldsExactly;
const std::string kStamp = " (2005-11-02 14:05:09)";

class EndToEnd : public testing_support::WindowTest {
 protected:
  void StartDevice(devsim::SimOptions options) {
    sim = std::make_unique<devsim::DeviceSimulator>(options);
    sim->start();
  }
  void TearDown() override {
    WindowTest::TearDown();  // the window closes the port first
    if (sim) sim->stop();
  }
  bool UntilAcked(size_t n) {
    return Until([&] { return sim->state().recordsAcked >= n; }, 20000);
  }
  ::testing::AssertionResult LogMatchesDevice() {
    const devsim::SimState s = sim->state();
    return LogHoldsExactly(LogContents(), s.sent, s.acked, kStamp);
  }

  std::unique_ptr<devsim::DeviceSimulator> sim;
};

TEST_F(EndToEnd, PollsAcknowledgementsAndTheLogFollowTheDevice) {
  // The program's own log file name, in the working directory.
  const QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(dir.path()));
  form->LogFileHolder().FileName = "Karo.txt";
  devsim::SimOptions options;
  options.chunkSize = 8;  // as a UART delivers: a few bytes at a time
  options.pace = true;
  StartDevice(options);

  OpenDevice(sim->slavePath());
  ASSERT_TRUE(UntilAcked(4));
  Click("CloseButton");
  const devsim::SimState s = sim->state();
  EXPECT_EQ(s.clockMessages.front(), "(110205140509)");
  EXPECT_EQ(s.clockSetTo, "2005-11-02 14:05:09");
  EXPECT_GE(s.polls, s.acks) << "a poll, then an acknowledgement";
  EXPECT_LE(s.polls, s.acks + 2);
  EXPECT_TRUE(LogMatchesDevice());

  // Every logged record is a line of the pane, with its stamp.
  const auto lines = Lines(Memo2());
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[1], s.acked[0] + kStamp);
  const auto status = Lines(Memo1());
  EXPECT_NE(std::find(status.begin(), status.end(), "Reading 8 characters"), status.end());
  EXPECT_NE(std::find(status.begin(), status.end(), "Closing: " + sim->slavePath()), status.end());

  // CLOSE stops the polls.
  const size_t polls = sim->state().polls;
  QTest::qWait(700);
  EXPECT_EQ(sim->state().polls, polls);
  QDir::setCurrent(previous);
}

TEST_F(EndToEnd, RecordsWithControlBytesArriveExactlyInRandomPieces) {
  devsim::SimOptions options;
  options.specialBytes = true;
  options.randomChunks = true;
  options.recordsPerPoll = 3;
  StartDevice(options);

  OpenDevice(sim->slavePath());
  ASSERT_TRUE(UntilAcked(9));
  // Closed between two answers: closing discards what is on its way, which
  // the device, counting one "*" for all it sent, would take as logged.
  Until([&] {
    const devsim::SimState st = sim->state();
    return LogLines() >= static_cast<long>(std::set<std::string>(st.sent.begin(), st.sent.end()).size());
  }, 5000);
  Click("CloseButton");
  const devsim::SimState s = sim->state();
  EXPECT_TRUE(LogHoldsExactly(LogContents(), s.sent, s.acked, kStamp, 3));
  // Each record is one line of the pane whatever bytes it holds.
  const auto lines = Lines(Memo2());
  EXPECT_GE(lines.size(), 10u);
  for (size_t i = 1; i < lines.size(); ++i) {
    EXPECT_EQ(QString::fromStdString(lines[i]).size(), static_cast<int>(34 + kStamp.size())) << i;
  }
}

}  // namespace
