// The program itself as a lab runs it, started with --open against the device
// simulator: stopped by a signal it shuts down in order; killed at random
// moments and started again, it never loses an acknowledged record.

#include <sys/ioctl.h>

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <thread>

#include "device_simulator.h"
#include "log_invariant.h"
#include "program_run.h"

namespace {

using namespace testing_support;

class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(dir.filePath("Karo.txt").toStdString());
    devsim::SimOptions options;
    options.recordsPerPoll = 20;  // the device's fastest pace
    sim = std::make_unique<devsim::DeviceSimulator>(options);
    sim->start();
  }
  void TearDown() override { sim->stop(); }

  std::unique_ptr<ProgramRun> Start() {
    return std::make_unique<ProgramRun>(
        std::vector<std::string>{KAROLX_PROGRAM, "--device", sim->slavePath(), "--open"},
        dir.path().toStdString());
  }
  bool UntilAcked(size_t n) {
    return sim->waitFor([n](const devsim::SimState& s) { return s.recordsAcked >= n; },
                        std::chrono::seconds(20));
  }
  // Every line of the log is a record the device sent; every record it saw
  // acknowledged is there, in order. A record logged just before a kill is
  // sent again, unacknowledged, and may be logged twice.
  void ExpectEveryAcknowledgedRecord(size_t maxRepeats) {
    std::ifstream in(dir.filePath("Karo.txt").toStdString(), std::ios::binary);
    std::vector<std::string> logged;
    ASSERT_TRUE(LogRecords(std::string(std::istreambuf_iterator<char>(in), {}), "", logged));
    const devsim::SimState s = sim->state();
    const std::set<std::string> sent(s.sent.begin(), s.sent.end());
    std::map<std::string, int> times;
    auto acked = s.acked.begin();
    size_t repeats = 0;
    for (const std::string& record : logged) {
      EXPECT_TRUE(sent.count(record)) << "a record never sent";
      if (times[record]++ > 0) ++repeats;
      if (acked != s.acked.end() && *acked == record) ++acked;
    }
    EXPECT_EQ(acked, s.acked.end()) << "an acknowledged record is missing";
    EXPECT_LE(repeats, maxRepeats);
  }

  QTemporaryDir dir;
  std::unique_ptr<devsim::DeviceSimulator> sim;
};

TEST_F(Program, StopSignalsCloseThePortInOrder) {
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    auto karolx = Start();
    ASSERT_TRUE(UntilAcked(sim->state().recordsAcked + 20));
    const int status = karolx->Stop(signal);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    // The exclusive claim is released: anyone may open the device again.
    const int fd = open(sim->slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    int exclusive = 1;
    EXPECT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    close(fd);
  }
  ExpectEveryAcknowledgedRecord(3 * 20);
}

TEST_F(Program, KilledAtRandomMomentsItLosesNoAcknowledgedRecord) {
  if (geteuid() != 0) GTEST_SKIP() << "a killed program leaves the terminal exclusive to root";
  std::mt19937 random(std::random_device{}());
  constexpr int kKills = 24;
  for (int i = 0; i < kKills; ++i) {
    auto karolx = Start();
    const int ms = std::uniform_int_distribution(50, 900)(random);
    SCOPED_TRACE("killed after " + std::to_string(ms) + " ms");
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    karolx->Stop(SIGKILL);
  }
  auto karolx = Start();
  ASSERT_TRUE(UntilAcked(sim->state().recordsAcked + 40));
  karolx->Stop(SIGTERM);
  ExpectEveryAcknowledgedRecord((kKills + 1) * 20);
}

}  // namespace
