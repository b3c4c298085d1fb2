// The program itself as a lab runs it, started with --open against the device
// simulator: stopped by a signal it shuts down in order; killed at random
// moments and started again, it never loses an acknowledged record.

#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "device_simulator.h"

namespace {

namespace fs = std::filesystem;

class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("karolx-program-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "Karo.txt");
    devsim::SimOptions options;
    options.recordsPerPoll = 20;  // the device's fastest pace
    sim = std::make_unique<devsim::DeviceSimulator>(options);
    sim->start();
  }
  void TearDown() override {
    sim->stop();
    fs::remove_all(dir);
  }

  pid_t Start() {
    const pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir.c_str()) == 0) {
        execl(KAROLX_PROGRAM, "karolx", "--device", sim->slavePath().c_str(), "--open", nullptr);
      }
      _exit(127);
    }
    return pid;
  }
  bool UntilAcked(size_t n) {
    return sim->waitFor([n](const devsim::SimState& s) { return s.recordsAcked >= n; },
                        std::chrono::seconds(20));
  }
  // Every line of the log is a record the device sent, with its stamp; every
  // record it saw acknowledged is there, in order. A record logged just
  // before a kill is sent again and may be logged twice, unacknowledged.
  void ExpectLogKeepsEveryAcknowledgedRecord(size_t maxRepeats) {
    std::ifstream in(dir / "Karo.txt", std::ios::binary);
    const std::string log(std::istreambuf_iterator<char>(in), {});
    const devsim::SimState s = sim->state();
    const std::set<std::string> sent(s.sent.begin(), s.sent.end());
    std::map<std::string, int> times;
    auto acked = s.acked.begin();
    size_t repeats = 0;
    for (size_t at = 0, end; at < log.size(); at = end + 2) {
      end = log.find("\r\n", at);
      ASSERT_NE(end, std::string::npos) << "a broken last line";
      const std::string record = log.substr(at, 34);
      ASSERT_TRUE(sent.count(record) && log.compare(at + 34, 2, " (") == 0 && log[end - 1] == ')')
          << "not a record line at byte " << at;
      if (times[record]++ > 0) ++repeats;
      if (acked != s.acked.end() && *acked == record) ++acked;
    }
    EXPECT_EQ(acked, s.acked.end()) << "an acknowledged record is missing";
    EXPECT_LE(repeats, maxRepeats);
  }

  fs::path dir;
  std::unique_ptr<devsim::DeviceSimulator> sim;
};

TEST_F(Program, StopSignalsCloseThePortInOrder) {
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    const pid_t pid = Start();
    ASSERT_TRUE(UntilAcked(sim->state().recordsAcked + 20));
    kill(pid, signal);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    // The exclusive claim is released: anyone may open the device again.
    const int fd = open(sim->slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    int exclusive = 1;
    EXPECT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    close(fd);
  }
  ExpectLogKeepsEveryAcknowledgedRecord(3 * 20);
}

TEST_F(Program, KilledAtRandomMomentsItLosesNoAcknowledgedRecord) {
  if (geteuid() != 0) GTEST_SKIP() << "a killed program leaves the terminal exclusive to root";
  std::mt19937 random(std::random_device{}());
  constexpr int kKills = 24;
  for (int i = 0; i < kKills; ++i) {
    const pid_t pid = Start();
    const int ms = std::uniform_int_distribution(50, 900)(random);
    SCOPED_TRACE("killed after " + std::to_string(ms) + " ms");
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    kill(pid, SIGKILL);
    ASSERT_EQ(waitpid(pid, nullptr, 0), pid);
  }
  const pid_t pid = Start();
  ASSERT_TRUE(UntilAcked(sim->state().recordsAcked + 40));
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  EXPECT_GT(sim->state().acks, 0u);
  ExpectLogKeepsEveryAcknowledgedRecord((kKills + 1) * 20);
}

}  // namespace
