// The polling protocol through the real window, with the test playing the
// device: on POSIX on the master side of a pseudo-terminal, where the C
// library lets the test watch the log's syncs too.

#include <atomic>
#include <thread>

#include "window_fixture.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>

// The C library's fdatasync, watched: for each sync of the log, the bytes
// the window had sent that the test has not read; failWith fails it as a disk would.
namespace sync_watch {
std::atomic<int> portMaster{-1}, failWith{0};
std::atomic<ino_t> logInode{0};
std::vector<int> sentBeforeSync;  // the window's thread only
}  // namespace sync_watch

extern "C" int fdatasync(int fd) {
  using namespace sync_watch;
  struct stat st {};
  int sent = 0;
  if (fstat(fd, &st) == 0 && st.st_ino == logInode && ioctl(portMaster, FIONREAD, &sent) == 0) {
    sentBeforeSync.push_back(sent);
  }
  if (failWith != 0) return errno = failWith, -1;
  return static_cast<int>(syscall(SYS_fdatasync, fd));
}
#endif

namespace {

using testing_support::kStamp;
using testing_support::WindowTest;

std::string Record(char fill, int n) {
  std::string r(34, fill);
  r.replace(0, std::to_string(n).size(), std::to_string(n));
  return r;
}

class Polling : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    OpenDevice(pty.path());
    ASSERT_EQ(FromWindow(14), "(110205140509)");
  }
  // The byte the next tick sends.
  char NextPoll() {
    const std::string b = FromWindow(1);
    return b.empty() ? '\0' : b[0];
  }
  // Waits for a logged record, then returns the byte of the tick after it.
  // No tick runs while the test looks, so what was sent before is stale.
  char TickAfterRecord() {
    if (!Until([&] { return form->AckPending(); })) return '\0';
    pty.Receive(4096, std::chrono::milliseconds(0));
    return NextPoll();
  }
  // Sends as the device would, while the window goes on serving its events;
  // with a gap, byte by byte, as a slow line delivers them.
  void Device(const std::string& bytes, std::chrono::milliseconds gap = {}) {
    std::atomic<int> sent{0};
    std::thread device([&] {
      bool ok = true;
      for (size_t i = 0; i < bytes.size() && ok; i += gap.count() ? 1 : bytes.size()) {
        std::this_thread::sleep_for(gap);
        ok = pty.Send(bytes.substr(i, gap.count() ? 1 : bytes.size()));
      }
      sent = ok ? 1 : -1;
    });
    Until([&] { return sent != 0; });
    device.join();
    ASSERT_EQ(sent, 1);
  }
  int ReadCount() {
    int total = 0;
    for (const auto& line : Lines(Memo1())) {
      if (line.rfind("Reading ", 0) == 0) total += std::stoi(line.substr(8));
    }
    return total;
  }
};

TEST_F(Polling, SeventyBytesAfterAPollAreTwoRecordsAndOneAcknowledgement) {
  ASSERT_EQ(NextPoll(), '?');
  EXPECT_FALSE(W("Label6")->isHidden()) << "the label blinks with every tick";
  const std::string a = Record('a', 1), b = Record('b', 2);
  Device(a + b + "xy");
  ASSERT_TRUE(Until([&] { return ReadCount() == 70; }));
  EXPECT_EQ(Lines(Memo2()), (std::vector<std::string>{"", a + kStamp, b + kStamp}));
  EXPECT_EQ(LogContents(), a + kStamp + "\r\n" + b + kStamp + "\r\n");
  EXPECT_GE(StatusCount("RXCHAR SIGNAL"), 1);
  // A "*" would cover "xy", which is no record: the quiet line is polled,
  // and "xy" is dropped. The next record starts afresh.
  EXPECT_EQ(TickAfterRecord(), '?');
  const std::string c = Record('c', 3);
  Device(c);
  EXPECT_EQ(TickAfterRecord(), '*');
  EXPECT_EQ(Lines(Memo2()).back(), c + kStamp);
}

// After a restart, the rest of an answer to the last program's poll may be
// waiting or still coming, cut anywhere: it is no record and earns no "*",
// and the first poll waits for a tick with none. The test runs the ticks.
TEST_F(Polling, BytesBeforeTheFirstPollAreDroppedAndThePollWaitsForQuiet) {
  Click("CloseButton");
  Device(std::string(50, 'x'));
  OpenDevice(pty.path());
  form->Timer().stop();
  ASSERT_EQ(FromWindow(14), "(110205140509)");
  Device(std::string(30, 'y'));
  ASSERT_TRUE(Until([&] { return ReadCount() == 80; }));
  for (int tick = 0; tick < 2; ++tick) {
    form->Poll().Tick();
    form->Timer().stop();
  }
  const std::vector<uint8_t> sent = pty.Receive(4096, std::chrono::milliseconds(0));
  EXPECT_EQ(std::string(sent.begin(), sent.end()), "?");
  EXPECT_EQ(LogLines(), 0);
}

#ifndef _WIN32
// An answer may take many ticks: nothing is sent while it arrives, and the
// "*" comes on the first quiet tick, after the sync.
TEST_F(Polling, RecordsAreOnDiskBeforeTheirAcknowledgementWhichWaitsForAQuietLine) {
  struct stat st {};
  ASSERT_EQ(stat(logPath.c_str(), &st), 0);
  sync_watch::logInode = st.st_ino;
  sync_watch::portMaster = pty.master();
  ASSERT_EQ(NextPoll(), '?');
  Device(Record('s', 1) + Record('s', 2), std::chrono::milliseconds(9));  // 1200 baud: 0.6 s
  EXPECT_TRUE(pty.Receive(4096, std::chrono::milliseconds(0)).empty()) << "silent while it came";
  ASSERT_TRUE(Until([&] { return LogLines() == 2; }));
  EXPECT_EQ(NextPoll(), '*');
  EXPECT_EQ(sync_watch::sentBeforeSync, std::vector<int>{0}) << "one sync, before the \"*\"";
  // A failed sync lets no "*" out: the tick polls, the device repeats.
  sync_watch::failWith = EIO;
  Device(Record('s', 3));
  EXPECT_EQ(TickAfterRecord(), '?');
  sync_watch::failWith = 0;
  sync_watch::portMaster = -1;
  EXPECT_EQ(shownErrors, std::vector<std::string>{"I/O error " + std::to_string(EIO)});
  Device(Record('s', 3));
  EXPECT_EQ(TickAfterRecord(), '*');
}
#endif

TEST_F(Polling, OneClockReadingStampsARecordAtMidnight) {
  auto readings = std::make_shared<int>(0);
  InstallLocalClock([readings] {
    return (*readings)++ == 0 ? DateTimeParts{2005, 11, 2, 3, 23, 59, 59, 999}
                           : DateTimeParts{2005, 11, 3, 4, 0, 0, 0, 0};
  });
  ASSERT_EQ(NextPoll(), '?');
  Device(Record('n', 1));
  ASSERT_EQ(TickAfterRecord(), '*');
  EXPECT_EQ(Lines(Memo2()).back(), Record('n', 1) + " (2005-11-02 23:59:59)");
}

TEST_F(Polling, PaneIsEmptiedAfterTheTwentyFifthRecordAndAFailedReadChangesNothing) {
  ASSERT_EQ(NextPoll(), '?');
  std::string burst;
  for (int i = 1; i <= 26; ++i) burst += Record('z', i);
  Device(burst);
  ASSERT_TRUE(Until([&] { return LogLines() == 26 && Memo2()->LineCount() == 1; }));
  EXPECT_EQ(Lines(Memo2()), std::vector<std::string>{Record('z', 26) + kStamp});

  const int32_t index = form->RecordIndex();
  form->Port().OnRxChar(&form->Port(), 5);  // five bytes announced, none waiting
  EXPECT_EQ(Lines(Memo1()).back(), "Error reading incoming data!");
  EXPECT_EQ(form->RecordIndex(), index);
}

#ifndef _WIN32
// A record that cannot be logged costs its interval the "*", and only that:
// the bytes after it are still cut where the device cut them.
TEST_F(Polling, AFailedAppendKeepsTheRecordsAlignedAndEarnsNoAcknowledgement) {
  ASSERT_EQ(remove(logPath.c_str()), 0);
  ASSERT_EQ(NextPoll(), '?');
  form->Timer().stop();  // this poll interval lasts as long as the test needs
  const std::string a = Record('a', 1), b = Record('b', 2), c = Record('c', 3);
  Device(a);
  ASSERT_TRUE(UntilHandlerError("File not found"));
  EXPECT_NE(access(logPath.c_str(), F_OK), 0) << "the file is never created";
  // Another writer holds the file for the first record of an answer only.
  std::ofstream(logPath, std::ios::binary);
  int other = open(logPath.c_str(), O_RDWR);
  struct flock lock {};
  lock.l_type = F_WRLCK;
  ASSERT_EQ(fcntl(other, F_OFD_SETLK, &lock), 0);
  form->Poll().OnRecordLine = [shown = form->Poll().OnRecordLine, &other](auto record, auto stamp) {
    shown(record, stamp);
    if (other >= 0) close(std::exchange(other, -1));
  };
  Device(a + b + c);
  ASSERT_TRUE(Until([&] { return LogLines() == 2; }));
  EXPECT_EQ(LogContents(), b + kStamp + "\r\n" + c + kStamp + "\r\n");
  EXPECT_EQ(Lines(Memo2()), (std::vector<std::string>{"", a + kStamp, a + kStamp, b + kStamp,
                                                       c + kStamp}));
  form->Timer().start();
  EXPECT_EQ(NextPoll(), '?') << "no \"*\" for an interval with an unlogged record";
  // Every open starts with "?": a "*" pending at CLOSE would cover bytes
  // that the closed port may have dropped.
  Device(a);
  ASSERT_TRUE(Until([&] { return form->AckPending(); }));
  Click("CloseButton");
  pty.Receive(4096, std::chrono::milliseconds(0));
  OpenDevice(pty.path());
  ASSERT_EQ(FromWindow(14), "(110205140509)");
  EXPECT_EQ(NextPoll(), '?');
}
#endif

TEST_F(Polling, LargeBurstIsReadWholeInParts) {
  Click("CloseButton");
  form->Port().SetReadBufferSize(65536);
  OpenDevice(pty.path());
  ASSERT_EQ(FromWindow(14), "(110205140509)");
  ASSERT_EQ(NextPoll(), '?');
  std::string burst;
  for (int i = 0; i < 1000; ++i) burst += Record('b', i);
  Device(burst);
  ASSERT_TRUE(Until([&] { return ReadCount() == 34000; }));
  EXPECT_EQ(LogLines(), 1000);
  for (const auto& line : Lines(Memo1())) {
    if (line.rfind("Reading ", 0) == 0) {
      EXPECT_LE(std::stoi(line.substr(8)), 16385) << line;
    }
  }
}

}  // namespace
