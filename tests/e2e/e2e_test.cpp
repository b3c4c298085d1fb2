// The whole program path: the real window on the offscreen platform, the real
// component, and the bundled device simulator on a pseudo-terminal, which
// answers byte by byte at the line rate the window sets.

#include <QDir>

#include "device_simulator.h"
#include "log_invariant.h"
#include "window_fixture.h"

namespace {

using namespace testing_support;
using namespace std::chrono_literals;

TEST_F(WindowTest, EndToEndThePollsAcknowledgementsAndTheLogFollowTheDevice) {
  // The program's own log file name, in the working directory.
  const QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(dir.path()));
  form->LogFileHolder().FileName = "Karo.txt";
  // A long answer that spans many ticks, and a slow one that starts late.
  const struct {
    async32::TBaudRate rate;
    int records;
    std::chrono::milliseconds delay;
  } rows[] = {{async32::cbr4800, 20, 0ms}, {async32::cbr1200, 1, 150ms}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.records);
    std::ofstream("Karo.txt", std::ios::trunc);
    devsim::SimOptions options;
    options.pace = true;
    options.chunkSize = 1;
    options.recordsPerPoll = row.records;
    options.answerDelay = row.delay;
    devsim::DeviceSimulator sim(options);
    sim.start();
    form->Port().SetBaudRate(row.rate);
    OpenDevice(sim.slavePath());
    const size_t want = 2 * static_cast<size_t>(row.records);
    ASSERT_TRUE(Until([&] { return sim.state().recordsAcked >= want; }, 20000));
    Click("CloseButton");
    const devsim::SimState s = sim.state();
    EXPECT_EQ(s.clockSetTo, "2005-11-02 14:05:09");
    EXPECT_GE(s.polls, s.acks) << "a poll, then an acknowledgement";
    EXPECT_LE(s.polls, s.acks + 1);
    EXPECT_LE(s.recordsSent - s.recordsAcked, static_cast<size_t>(row.records))
        << "no answer sent twice";
    EXPECT_TRUE(LogHoldsEveryAcknowledged(LogContents(), {{s.sent, s.acked}}, kStamp, row.records));
    EXPECT_EQ(Lines(Memo2()).back(), s.acked.back() + kStamp);
    EXPECT_GT(StatusCount("Reading 1 characters"), 0);

    // CLOSE stops the polls.
    QTest::qWait(500);
    EXPECT_EQ(sim.state().polls, s.polls);
  }
  QDir::setCurrent(previous);
}

}  // namespace
