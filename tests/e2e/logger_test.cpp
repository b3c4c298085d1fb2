// karolx-log, the logger without a window, run as a service runs it against
// the device simulator and a silent device on a pseudo-terminal; the Linux
// build, and for the first two the Windows build under wine as well.

#include <grp.h>
#include <sys/ioctl.h>

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <thread>

#include "app/open_hints.h"
#include "device_simulator.h"
#include "log_invariant.h"
#include "program_platform.h"
#include "pty_pair.h"

namespace {

using namespace testing_support;
using namespace std::chrono_literals;

class Logger : public ::testing::Test {
 protected:
  std::unique_ptr<ProgramRun> Start(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), KAROLX_LOG_PROGRAM);
    return std::make_unique<ProgramRun>(arguments, dir.path().toStdString());
  }
  bool UntilOutput(const ProgramRun& logger, const std::string& line) {
    for (int i = 0; i < 1000 && Count(logger, line) == 0; ++i) std::this_thread::sleep_for(10ms);
    return Count(logger, line) > 0;
  }
  // How often `line` is a whole line of the output.
  static long Count(const ProgramRun& logger, const std::string& line) {
    // Windows ends a line with CR LF.
    const QStringList lines = QString::fromStdString(logger.Output()).remove('\r').split('\n');
    return lines.count(QString::fromStdString(line));
  }
  static DeviceLog Log(const devsim::DeviceSimulator& sim) { return {sim.state().sent, sim.state().acked}; }

  // A device as real ones answer: byte by byte at the line rate.
  static devsim::SimOptions Paced(int recordsPerPoll, std::chrono::milliseconds delay = {}) {
    devsim::SimOptions options;
    options.pace = true;
    options.chunkSize = 1;
    options.recordsPerPoll = recordsPerPoll;
    options.answerDelay = delay;
    return options;
  }

  QTemporaryDir dir;
  std::string link = dir.filePath("device").toStdString();
};

class LoggerOn : public Logger, public ::testing::WithParamInterface<Platform> {
 protected:
  void SetUp() override {
    if (GetParam().Absent()) GTEST_SKIP() << "KAROLX_WINDOWS_APP is not set";
  }
  std::unique_ptr<ProgramRun> Start(std::vector<std::string> arguments, const std::string& device,
                                    int com = 40, const std::string& in = "") {
    arguments.push_back(GetParam().Port(device, com));
    return GetParam().Start(KAROLX_LOG_PROGRAM, arguments,
                            in.empty() ? dir.path().toStdString() : in, device, com);
  }
  int Stop(ProgramRun& logger) { return logger.Stop(GetParam().Stops().front()); }
};

// An answer may take many ticks (20 records at 4800 baud: 1.4 s; one record
// at 300 baud: 1.1 s) or start late. Every row at once, a logger each. The
// stop ends it with status 0; a German user's stamps and clock message are right.
TEST_P(LoggerOn, EveryAcknowledgedRecordIsOnDiskAtEveryLineRate) {
  const struct {
    const char* baud;
    int records;
    std::chrono::milliseconds delay;
  } rows[] = {{"300", 1, 0ms}, {"1200", 1, 150ms}, {"4800", 20, 0ms}, {"115200", 20, 150ms}};
  std::vector<std::unique_ptr<devsim::DeviceSimulator>> sims;
  std::vector<std::unique_ptr<ProgramRun>> loggers;
  for (const auto& row : rows) {
    sims.push_back(std::make_unique<devsim::DeviceSimulator>(Paced(row.records, row.delay)));
    sims.back()->start();
    const QString rowDir = dir.filePath(row.baud);
    QDir().mkpath(rowDir);
    loggers.push_back(Start({"--baud", row.baud, "--stale-after", "0"}, sims.back()->slavePath(),
                            40 + static_cast<int>(loggers.size()), rowDir.toStdString()));
  }
  for (size_t i = 0; i < sims.size(); ++i) {
    SCOPED_TRACE(rows[i].baud);
    const size_t want = 2 * static_cast<size_t>(rows[i].records);
    EXPECT_TRUE(sims[i]->waitFor([&](const devsim::SimState& s) { return s.recordsAcked >= want; },
                                 20s + GetParam().StartUp()));
    EXPECT_EQ(Stop(*loggers[i]), 0) << loggers[i]->Output();
    const std::string log = FileText(dir.filePath(rows[i].baud).toStdString() + "/Karo.txt");
    EXPECT_TRUE(LogHoldsEveryAcknowledged(log, {Log(*sims[i])}, "", rows[i].records));
    if (GetParam().windows) {
      EXPECT_TRUE(std::regex_search(
          log, std::regex(R"(^.{34} \(\d{1,2}\.\d{1,2}\.\d{4} \d\d:\d\d:\d\d\)\r\n)")))
          << "a German stamp: " << log.substr(0, 60);
    }
    const devsim::SimState state = sims[i]->state();
    EXPECT_LE(state.recordsSent - state.recordsAcked, static_cast<size_t>(rows[i].records))
        << "no answer sent twice";
    EXPECT_FALSE(state.clockSetTo.empty()) << "the clock message was a valid one";
  }
}

// A device missing at start, then lost by a hang-up mid-answer and back
// under the same link on another terminal: one line each, logging goes on,
// every record acknowledged is logged; the stop ends it with status 0, the
// port free.
TEST_P(LoggerOn, WaitsForTheDeviceAndLogsAcrossALoss) {
  auto logger = Start({"--stale-after", "0"}, link);
  const std::string port = GetParam().Port(link);
  ASSERT_TRUE(UntilOutput(*logger, "Device not there yet: " + port));
  EXPECT_TRUE(logger->Output().starts_with("Log file created: Karo.txt"));
  std::this_thread::sleep_for(1500ms);  // attempts that say nothing new
  devsim::SimOptions options = Paced(5);
  options.linkPath = link;
  options.hangupAfter = 8;
  devsim::DeviceSimulator first(options);
  first.start();
  ASSERT_TRUE(UntilOutput(*logger, "Device lost: " + port));
  options.hangupAfter = 0;
  devsim::DeviceSimulator second(options);
  second.start();
  EXPECT_TRUE(second.waitFor([](const devsim::SimState& s) { return s.recordsAcked >= 1; }, 3s))
      << "logging resumes within 3 s";
  ASSERT_TRUE(second.waitFor([](const devsim::SimState& s) { return s.recordsAcked >= 10; }, 10s));
  EXPECT_EQ(Stop(*logger), 0);
  if (!GetParam().windows) {
    int exclusive = 1;
    const int fd = open(second.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0) << "the port is free again";
    close(fd);
  }

  EXPECT_EQ(Count(*logger, "Device not there yet: " + port), 1);
  EXPECT_EQ(Count(*logger, "Device lost: " + port), 1);
  EXPECT_EQ(Count(*logger, "Device back: " + port), 1);
  EXPECT_EQ(Count(*logger, "TXEMPTY SIGNAL"), 0) << "no line with every poll";
  EXPECT_TRUE(LogHoldsEveryAcknowledged(FileText(dir.filePath("Karo.txt").toStdString()),
                                        {Log(first), Log(second)}, "", 5));
}

// A spinning loop takes a whole core; a logger that waits for its device,
// or logs a quiet one, takes next to nothing.
TEST_F(Logger, WaitingAndAQuietDeviceCostNoCpu) {
  PtyPair quiet;
  auto waiting = Start({link});
  auto logging = Start({"--log", dir.filePath("quiet.txt").toStdString(), quiet.path()});
  std::this_thread::sleep_for(1s);
  const double waited = waiting->CpuSeconds(), logged = logging->CpuSeconds();
  std::this_thread::sleep_for(3s);
  EXPECT_LT(waiting->CpuSeconds() - waited, 0.3);
  EXPECT_LT(logging->CpuSeconds() - logged, 0.3);
}

TEST_F(Logger, WatchdogSaysWhenRecordsStopAndWhenTheyComeAgain) {
  PtyPair device;
  auto logger = Start({"--stale-after", "1", device.path()});
  const std::string name = device.path();
  ASSERT_TRUE(UntilOutput(*logger, "No record from " + name + " for 1 s"));
  // A device that answers but never completes a record is as silent.
  device.Send(std::string(20, 'x'));
  std::this_thread::sleep_for(1200ms);
  EXPECT_EQ(Count(*logger, "No record from " + name + " for 1 s"), 1);
  device.Send(std::string(34, 'r'));  // a poll has cut the 20 bytes off
  ASSERT_TRUE(UntilOutput(*logger, "Records from " + name + " again"));
}

// logrotate's ways: "create" renames the log and makes a new one, "nocreate"
// only renames it, "copytruncate" copies it and empties it in place. Logging
// goes on in the file of the log's name, nothing more goes into a file
// renamed away, and every acknowledged record is in one of the two.
TEST_F(Logger, LogrotateEitherWayLosesNothing) {
  for (const std::string style : {"create", "nocreate", "copytruncate"}) {
    SCOPED_TRACE(style);
    QTemporaryDir rotation;
    const std::string log = rotation.filePath("Karo.txt").toStdString();
    const std::string conf = rotation.filePath("rotate.conf").toStdString();
    std::ofstream(conf) << log << " {\n  rotate 1\n  " << style << "\n}\n";
    devsim::DeviceSimulator sim(Paced(2));
    sim.start();
    auto logger = Start({"-L", log, sim.slavePath()});
    auto acked = [&](size_t n) {
      return sim.waitFor([n](const devsim::SimState& s) { return s.recordsAcked >= n; }, 10s);
    };
    ASSERT_TRUE(acked(4));
    const std::string rotate = "logrotate -f -s " + rotation.filePath("state").toStdString() + " " + conf;
    ASSERT_EQ(std::system(rotate.c_str()), 0) << rotate;
    std::this_thread::sleep_for(300ms);  // an append begun before the rename ends
    const std::string rotated = FileText(log + ".1");
    ASSERT_TRUE(acked(sim.state().recordsAcked + 6));
    logger->Stop(SIGTERM);
    EXPECT_EQ(FileText(log + ".1"), rotated) << "nothing went into the file renamed away";
    EXPECT_TRUE(LogHoldsEveryAcknowledged(rotated + FileText(log), {Log(sim)}, "", 2));
    EXPECT_EQ(Count(*logger, "Log file created: " + log), style == "nocreate" ? 2 : 1);
  }
}

// A terminal keeps no mark parity: the device opens and refuses it, and
// will refuse it at every try. The logger says so and ends, as it does for a
// log it cannot make, in words.
TEST_F(Logger, RefusedSettingsAndALogItCannotMakeEndItWithStatusOne) {
  auto noLog = Start({"-L", "/nonexistent-kx/Karo.txt", "x"});
  EXPECT_EQ(noLog->Stop(0), 1 << 8);
  EXPECT_EQ(noLog->Output(), "Cannot create the log file /nonexistent-kx/Karo.txt: No such file or "
                             "directory (File not found)\n");
  PtyPair device;
  auto refused = Start({"--parity", "mark", device.path()});
  const int status = refused->Stop(0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  EXPECT_NE(refused->Output().find("Settings refused by " + device.path() +
                                   ": 4800 baud, 8 data bits, mark parity, 1 stop bit"),
            std::string::npos)
      << refused->Output();
}

INSTANTIATE_TEST_SUITE_P(, LoggerOn, ::testing::Values(Platform{false}, Platform{true}),
                         [](const auto& info) { return PrintToString(info.param); });

TEST(OpenHint, NamesWhoHoldsTheDeviceAndTheGroupItNeeds) {
  PtyPair pty;  // this test holds the terminal open
  EXPECT_NE(OpenHint(pty.path(), EBUSY).find("logger_tests (pid " + std::to_string(getpid()) + ")"),
            std::string::npos);
  // A program names itself: its name reaches the terminal without escapes.
  QTemporaryDir dir;
  const std::string proc = dir.filePath("proc").toStdString();
  std::filesystem::create_directories(proc + "/42/fd");
  std::filesystem::create_symlink(pty.path(), proc + "/42/fd/3");
  std::ofstream(proc + "/42/comm") << "\x1b]0;owned\x07\n";
  EXPECT_EQ(OpenHint(pty.path(), EBUSY, proc), pty.path() + " is in use by ?]0;owned? (pid 42).");
  const std::string device = dir.filePath("ttyX").toStdString();
  std::ofstream{device};
  const group* dialout = getgrnam("dialout");
  ASSERT_NE(dialout, nullptr);
  ASSERT_EQ(chown(device.c_str(), geteuid(), dialout->gr_gid), 0);
  const std::string hint = OpenHint(device, EACCES);
  if (getegid() != dialout->gr_gid && getgroups(0, nullptr) <= 1) {
    EXPECT_NE(hint.find("belongs to the group dialout"), std::string::npos) << hint;
    EXPECT_NE(hint.find("sudo usermod -aG dialout "), std::string::npos) << hint;
  }
  EXPECT_EQ(OpenHint(device + "-gone", ENOENT).rfind("There is no " + device + "-gone. ", 0), 0u);
}

}  // namespace
