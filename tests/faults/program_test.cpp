// The program itself as a lab runs it, the Linux build and the Windows build
// under wine, started with --open against the device simulator, which
// answers byte by byte at the line rate: stopped by a signal mid-answer it
// shuts down in order; killed at random moments and started again, it never
// loses an acknowledged record.

#include <sys/ioctl.h>

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <thread>

#include "device_simulator.h"
#include "log_invariant.h"
#include "program_platform.h"
#include "pty_pair.h"

namespace {

using namespace testing_support;
using namespace std::chrono_literals;

class Program : public ::testing::TestWithParam<Platform> {
 protected:
  void SetUp() override {
    if (GetParam().Absent()) GTEST_SKIP() << "KAROLX_WINDOWS_APP is not set";
    std::ofstream(dir.filePath("Karo.txt").toStdString());
    devsim::SimOptions options;
    options.recordsPerPoll = 20;  // byte by byte at 4800 baud: 1.4 s an answer
    options.pace = true;
    options.chunkSize = 1;
    sim = std::make_unique<devsim::DeviceSimulator>(options);
    sim->start();
  }
  void TearDown() override {
    if (sim) sim->stop();
  }

  std::unique_ptr<ProgramRun> Start(const std::string& pty) {
    return GetParam().Start(KAROLX_PROGRAM, {"--device", GetParam().Port(pty), "--open"},
                            dir.path().toStdString(), pty);
  }
  std::unique_ptr<ProgramRun> Start() { return Start(sim->slavePath()); }
  // Waits for `n` more acknowledged records, then for the middle of the
  // answer after them.
  bool UntilMidAnswer(size_t n) {
    const size_t acked = sim->state().recordsAcked + n;
    if (!sim->waitFor([&](const devsim::SimState& s) { return s.recordsAcked >= acked; }, 30s)) {
      return false;
    }
    const size_t sent = sim->state().recordsSent + 10;
    return sim->waitFor([&](const devsim::SimState& s) { return s.recordsSent >= sent; }, 30s);
  }
  // A record logged just before a stop is sent again, unacknowledged, and
  // may be logged twice.
  void ExpectEveryAcknowledgedRecord(size_t extra) {
    const devsim::SimState s = sim->state();
    EXPECT_TRUE(LogHoldsEveryAcknowledged(FileText(dir.filePath("Karo.txt").toStdString()),
                                          {{s.sent, s.acked}}, "", extra));
  }

  QTemporaryDir dir;
  std::unique_ptr<devsim::DeviceSimulator> sim;
};

TEST_P(Program, StopSignalsMidAnswerCloseThePortInOrder) {
  const std::vector<int> stops = GetParam().Stops(true);
  if (stops.empty()) GTEST_SKIP() << "closing a window needs a display";
  for (int signal : stops) {
    SCOPED_TRACE(strsignal(signal));
    auto karolx = Start();
    ASSERT_TRUE(UntilMidAnswer(20));
    const int status = GetParam().Stop(*karolx, signal);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    // The exclusive claim is released: anyone may open the device again.
    const int fd = open(sim->slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    int exclusive = 1;
    EXPECT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    close(fd);
  }
  ExpectEveryAcknowledgedRecord(stops.size() * 20);
}

// A spinning loop (a wake-up left undrained, a timer re-armed at 0 ms)
// takes a whole core; an open, quiet port takes next to nothing.
TEST_P(Program, AnOpenQuietPortCostsNoCpu) {
  PtyPair quiet;
  auto karolx = Start(quiet.path());
  std::this_thread::sleep_for(1s + GetParam().StartUp());
  const double before = karolx->CpuSeconds();
  std::this_thread::sleep_for(3s);
  EXPECT_LT(karolx->CpuSeconds() - before, 0.3);
}

// Killed anywhere: while the clock message goes out, while the rest of an
// earlier answer still comes, mid-answer, between the sync and the "*".
TEST_P(Program, KilledAtRandomMomentsItLosesNoAcknowledgedRecord) {
  if (geteuid() != 0 && !GetParam().windows) {
    GTEST_SKIP() << "a killed program leaves the terminal exclusive to root";
  }
  std::mt19937 random(std::random_device{}());
  const int kKills = GetParam().windows ? 4 : 10;  // a start under wine takes seconds
  for (int i = 0; i < kKills; ++i) {
    auto karolx = Start();
    const auto ms = GetParam().StartUp().count() + std::uniform_int_distribution(100, 3000)(random);
    SCOPED_TRACE("killed after " + std::to_string(ms) + " ms");
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    karolx->Stop(SIGKILL);
  }
  auto karolx = Start();
  ASSERT_TRUE(UntilMidAnswer(40));
  karolx->Stop(SIGKILL);
  ExpectEveryAcknowledgedRecord((kKills + 1) * 20);
}

INSTANTIATE_TEST_SUITE_P(, Program, ::testing::Values(Platform{false}, Platform{true}),
                         [](const auto& info) { return PrintToString(info.param); });

}  // namespace
