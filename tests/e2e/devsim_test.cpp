// The device simulator driven over its terminal the way karolx drives a device.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "device_simulator.h"

namespace {

using devsim::DeviceSimulator;
using devsim::SimOptions;
using devsim::SimState;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr std::size_t kRecord = DeviceSimulator::kRecordSize;
constexpr auto kDeadline = 5s;

// The terminal opened as the program opens its port: exclusive, raw.
class Port {
 public:
  explicit Port(const std::string& path, speed_t speed = B9600)
      : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
    EXPECT_GE(fd_, 0) << path;
    EXPECT_EQ(ioctl(fd_, TIOCEXCL), 0);
    EXPECT_EQ(flock(fd_, LOCK_EX | LOCK_NB), 0);
    termios settings{};
    tcgetattr(fd_, &settings);
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    cfsetspeed(&settings, speed);
    EXPECT_EQ(tcsetattr(fd_, TCSANOW, &settings), 0);
  }
  ~Port() { close(fd_); }
  int fd() const { return fd_; }

  void send(std::string_view bytes) {
    ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // Reads exactly `count` bytes, or what came before the deadline; `reads` counts the reads.
  std::string receive(std::size_t count, int* reads = nullptr) {
    std::string bytes;
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
      pollfd ready{fd_, POLLIN, 0};
      if (poll(&ready, 1, 100) <= 0) continue;
      char buffer[256];
      const ssize_t got = read(fd_, buffer, std::min(sizeof buffer, count - bytes.size()));
      if (got <= 0) break;
      bytes.append(buffer, static_cast<std::size_t>(got));
      if (reads) ++*reads;
    }
    return bytes;
  }

 private:
  int fd_;
};

std::string TempDir() {
  std::string pattern = (fs::temp_directory_path() / "devsim-XXXXXX").string();
  return mkdtemp(pattern.data());
}

TEST(DeviceSimulator, ClockMessageAndPollAcknowledgeCycle) {
  DeviceSimulator device;
  device.start();
  Port port(device.slavePath());

  port.send("(110205140509)");  // 2 November 2005, 14:05:09
  ASSERT_TRUE(
      device.waitFor([](const SimState& s) { return s.clockMessages.size() == 1; }, kDeadline));
  // Regional texts that are no digits reach the device, but do not set its clock;
  // "?" and "*" inside a clock message are not commands.
  port.send("(.205.1140509)(?*?*?*?*?*?*)");
  ASSERT_TRUE(
      device.waitFor([](const SimState& s) { return s.clockMessages.size() == 3; }, kDeadline));
  SimState state = device.state();
  EXPECT_EQ(state.clockMessages[0], "(110205140509)");
  EXPECT_EQ(state.clockMessages[1], "(.205.1140509)");
  EXPECT_EQ(state.clockSetTo, "2005-11-02 14:05:09");
  EXPECT_EQ(state.polls, 0u);
  EXPECT_EQ(state.acks, 0u);

  port.send("?");
  const std::string first = port.receive(kRecord);
  port.send("?");  // not acknowledged: the same record again
  EXPECT_EQ(port.receive(kRecord), first);
  port.send("*");
  ASSERT_TRUE(device.waitFor([](const SimState& s) { return s.recordsAcked == 1; }, kDeadline));
  port.send("?");
  const std::string second = port.receive(kRecord);

  ASSERT_EQ(first.size(), kRecord);
  EXPECT_EQ(first.substr(0, 24), "000000 2005-11-02 14:05:");  // counter, then the device clock
  EXPECT_EQ(second.substr(0, 7), "000001 ");
  ASSERT_TRUE(device.waitFor([](const SimState& s) { return s.recordsSent == 3; }, kDeadline));
  state = device.state();
  EXPECT_EQ(state.polls, 3u);
  EXPECT_EQ(state.acks, 1u);
  EXPECT_EQ(state.sent, (std::vector<std::string>{first, first, second}));
  EXPECT_EQ(state.acked, std::vector<std::string>{first});
}

TEST(DeviceSimulator, PacedChunkedAnswersOfSeveralRecordsWithSpecialBytes) {
  SimOptions options;
  options.chunkSize = 5;
  options.recordsPerPoll = 3;
  options.specialBytes = true;
  options.pace = true;
  DeviceSimulator device(options);
  device.start();
  Port port(device.slavePath(), B9600);  // 3 records take about 100 ms at this rate

  port.send("?");
  int reads = 0;
  const std::string answer = port.receive(3 * kRecord, &reads);
  port.send("*");
  ASSERT_TRUE(device.waitFor([](const SimState& s) { return s.recordsAcked == 3; }, kDeadline));

  const SimState state = device.state();
  ASSERT_EQ(state.sent.size(), 3u);
  EXPECT_EQ(answer, state.sent[0] + state.sent[1] + state.sent[2]);
  EXPECT_GT(reads, 1);                 // the answer came in pieces, not in one write
  EXPECT_EQ(state.acked, state.sent);  // one "*" acknowledges the whole answer
  for (const std::string& record : state.sent) {
    ASSERT_EQ(record.size(), kRecord);
    EXPECT_NE(record.find('\0'), std::string::npos);
    EXPECT_NE(record.find('\r'), std::string::npos);
    EXPECT_NE(record.find('\x1a'), std::string::npos);
  }
}

TEST(DeviceSimulator, StreamCarriesEveryByteValueAndAcknowledgesOnlyWhatWasTaken) {
  SimOptions options;
  options.stream = true;
  options.allByteValues = true;
  options.pace = true;
  DeviceSimulator device(options);
  device.start();
  Port port(device.slavePath(), B230400);

  port.send("?");
  const std::string taken = port.receive(10 * kRecord);
  ASSERT_TRUE(device.waitFor([](const SimState& s) { return s.recordsSent > 20; }, kDeadline));
  port.send("*");  // records still waiting in the terminal are not acknowledged
  ASSERT_TRUE(device.waitFor([](const SimState& s) { return s.recordsAcked > 0; }, kDeadline));

  const std::set<unsigned char> values(taken.begin(), taken.end());
  EXPECT_EQ(values.size(), 256u);
  const SimState state = device.state();
  ASSERT_EQ(state.acked.size(), 10u);
  for (std::size_t i = 0; i < 10; ++i)
    EXPECT_EQ(state.acked[i], taken.substr(i * kRecord, kRecord));
}

TEST(DeviceSimulator, HangUpThenRecreationOnTheSameLinkWithTranscript) {
  const std::string dir = TempDir();
  SimOptions options;
  options.linkPath = dir + "/device";
  options.transcriptPath = dir + "/transcript";
  options.hangupAfter = 2;
  std::vector<std::string> sent, acked;
  {
    DeviceSimulator device(options);
    device.start();
    EXPECT_EQ(fs::read_symlink(options.linkPath), device.slavePath());
    Port port(options.linkPath);
    port.send("(123126235958)?");
    port.receive(kRecord);
    port.send("*?");
    ASSERT_TRUE(device.waitFor([](const SimState& s) { return s.hungUp; }, kDeadline));

    pollfd hangup{port.fd(), POLLIN, 0};
    ASSERT_EQ(poll(&hangup, 1, 1000), 1);
    EXPECT_TRUE(hangup.revents & POLLHUP);
    EXPECT_EQ(write(port.fd(), "?", 1), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_FALSE(fs::exists(fs::symlink_status(options.linkPath)));  // the device is gone
    sent = device.state().sent;
    acked = device.state().acked;
  }

  options.hangupAfter = 0;
  DeviceSimulator again(options);
  again.start();
  EXPECT_EQ(fs::read_symlink(options.linkPath), again.slavePath());
  Port port(options.linkPath);
  port.send("?");
  const std::string record = port.receive(kRecord);
  port.send("*");
  ASSERT_TRUE(again.waitFor([](const SimState& s) { return s.recordsAcked == 1; }, kDeadline));
  again.stop();
  EXPECT_FALSE(fs::exists(fs::symlink_status(options.linkPath)));
  sent.push_back(record);
  acked.push_back(record);

  const devsim::Transcript transcript = devsim::ReadTranscript(options.transcriptPath);
  EXPECT_EQ(transcript.clockMessages, std::vector<std::string>{"(123126235958)"});
  EXPECT_EQ(transcript.sent, sent);
  EXPECT_EQ(transcript.acked, acked);
  EXPECT_EQ(transcript.acked.size(), 2u);
  EXPECT_TRUE(transcript.hungUp);
  EXPECT_EQ(transcript.polls, 3u);
  fs::remove_all(dir);
}

}  // namespace
