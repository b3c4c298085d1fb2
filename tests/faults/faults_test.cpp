// Faults and bad input while the window logs: nothing the device saw
// acknowledged may be lost or damaged, and the program keeps working.

#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <QDir>

#include <atomic>
#include <fstream>
#include <thread>

#include "async32/platform/termios_map.h"
#include "fault_fixture.h"
#include "other_writer.h"

namespace {

using namespace testing_support;

const std::string kIoErrorLine = "An I/O error occurred during communications with the device.";
const std::string kOverflowLine = "An input buffer overflow has occurred. There is either no";

// A device name short enough for the 15-character name field.
std::string ShortLink() { return "/tmp/kx" + std::to_string(getpid() % 100000); }

TEST_F(FaultTest, HangUpMidStreamIsOneErrorLineThenTheRecreatedDeviceResumes) {
  devsim::SimOptions options;
  options.linkPath = ShortLink();
  options.hangupAfter = 5;
  options.chunkSize = 8;
  StartDevice(options);
  OpenDevice(options.linkPath);
  ASSERT_TRUE(Until([&] { return StatusCount(kIoErrorLine) == 1; }));

  // The dead port costs nothing while it waits for the operator.
  const double cpuBefore = ProcessCpuSeconds();
  QTest::qWait(1000);
  EXPECT_LT(ProcessCpuSeconds() - cpuBefore, 0.1) << "no busy loop";
  EXPECT_EQ(StatusCount(kIoErrorLine), 1);

  Click("CloseButton");
  EXPECT_FALSE(form->Port().IsOpen());
  options.hangupAfter = 0;
  StartDevice(options);  // the link now points at the new terminal
  OpenDevice(options.linkPath);
  ASSERT_TRUE(UntilAcked(2));
}

TEST_F(FaultTest, LogFileRemovedOrLockedIsReportedAndLoggingResumes) {
  StartDevice();
  OpenDevice(Device().slavePath());
  ASSERT_TRUE(UntilAcked(2));

  // Moved away: "File not found", no acknowledgement; moved back: logging
  // goes on with what was there intact.
  const std::string away = logPath + ".away";
  ASSERT_EQ(rename(logPath.c_str(), away.c_str()), 0);
  ASSERT_TRUE(UntilHandlerError("File not found"));
  const size_t acked = Acked();
  SeveralTicks();
  EXPECT_EQ(Acked(), acked) << "an unlogged record is not acknowledged";
  ASSERT_EQ(rename(away.c_str(), logPath.c_str()), 0);
  ASSERT_TRUE(UntilAcked(acked + 2));

  // Locked by another writer of this kind.
  size_t whileLocked = 0;
  {
    OtherWriter writer(logPath);
    ASSERT_TRUE(writer.locked());
    ASSERT_TRUE(UntilHandlerError("I/O error " + std::to_string(EAGAIN)));
    whileLocked = Acked();
    SeveralTicks();
    EXPECT_EQ(Acked(), whileLocked);
  }
  ASSERT_TRUE(UntilAcked(whileLocked + 2));
  EXPECT_TRUE(form->Port().IsOpen()) << "the program kept running";
}

// The log file on a small file system of its own, which the test can make
// read-only or fill up. Mounting needs privileges; without them the test is
// skipped.
class LogOnOwnFileSystem : public FaultTest {
 protected:
  void SetUp() override {
    FaultTest::SetUp();
    mountPoint = dir.filePath("fs").toStdString();
    mkdir(mountPoint.c_str(), 0755);
    if (mount("karolx", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0) {
      mounted = false;
      GTEST_SKIP() << "cannot mount a tmpfs here (" << strerror(errno) << "): skipped";
    }
    logPath = mountPoint + "/Karo.txt";
    form->LogFileHolder().FileName = logPath;
    std::ofstream(logPath, std::ios::binary);
  }
  void TearDown() override {
    FaultTest::TearDown();
    if (mounted) umount2(mountPoint.c_str(), MNT_DETACH);
  }
  bool Remount(unsigned long flags) {
    return mount("karolx", mountPoint.c_str(), "tmpfs", MS_REMOUNT | flags, "size=64k") == 0;
  }

  std::string mountPoint;
  bool mounted = true;
};

TEST_F(LogOnOwnFileSystem, ReadOnlyFileSystemIsReportedAndLoggingResumes) {
  StartDevice();
  OpenDevice(Device().slavePath());
  ASSERT_TRUE(UntilAcked(2));
  ASSERT_TRUE(Remount(MS_RDONLY));
  ASSERT_TRUE(UntilHandlerError("File access denied"));
  const size_t acked = Acked();
  SeveralTicks();
  EXPECT_EQ(Acked(), acked);
  ASSERT_TRUE(Remount(0));
  ASSERT_TRUE(UntilAcked(acked + 2));
}

// Fills what is left of the file system, up to the last byte.
void FillUp(const std::string& filler) {
  const int fd = open(filler.c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  const std::string block(1000, 'f');
  while (write(fd, block.data(), block.size()) > 0) {
  }
  while (write(fd, block.data(), 1) > 0) {
  }
  close(fd);
}

TEST_F(LogOnOwnFileSystem, FullDiskKeepsEveryCompleteLineAndLoggingResumes) {
  // 70 lines end 36 bytes short of a page, so the next line does not fit in
  // the file's last page: it would be written only in part.
  DeviceLog earlier;
  std::string lines;
  for (int i = 0; i < 70; ++i) {
    std::string record = "earlier record " + std::to_string(i);
    record.resize(kRecordBytes, '.');
    earlier.sent.push_back(record);
    lines += record + kStamp + "\r\n";
  }
  earlier.acked = earlier.sent;
  ASSERT_EQ(lines.size(), 4060u);
  std::ofstream(logPath, std::ios::binary) << lines;
  previousDevices.push_back(earlier);
  previousLines = earlier.acked.size();
  const std::string filler = mountPoint + "/filler";
  FillUp(filler);

  StartDevice();
  OpenDevice(Device().slavePath());
  ASSERT_TRUE(UntilHandlerError("I/O error " + std::to_string(ENOSPC)));
  EXPECT_EQ(LogContents(), lines) << "every complete line kept, no part of a line";
  SeveralTicks();
  EXPECT_EQ(Acked(), 0u);
  ASSERT_EQ(unlink(filler.c_str()), 0);
  ASSERT_TRUE(UntilAcked(2));
}

// With several records in one answer, one "*" acknowledges them all: after a
// failed append none may be acknowledged. The device then sends the answer
// again, so records logged before the failure may appear twice; none is lost.
TEST_F(LogOnOwnFileSystem, FailureMidAnswerLosesNoAcknowledgedRecord) {
  checkInvariant = false;
  devsim::SimOptions options;
  options.recordsPerPoll = 20;
  StartDevice(options);
  OpenDevice(Device().slavePath());
  ASSERT_TRUE(UntilAcked(20));
  const std::string filler = mountPoint + "/filler";
  FillUp(filler);
  ASSERT_TRUE(UntilHandlerError("I/O error " + std::to_string(ENOSPC)));
  ASSERT_EQ(unlink(filler.c_str()), 0);
  const size_t acked = Acked();
  ASSERT_TRUE(UntilAcked(acked + 40));
  CloseQuietly();

  const std::string log = LogContents();
  const size_t lineSize = kRecordBytes + kStamp.size() + 2;
  ASSERT_EQ(log.size() % lineSize, 0u) << "whole lines only";
  size_t at = 0;
  for (const std::string& record : Device().state().acked) {
    while (at < log.size() && log.compare(at, kRecordBytes, record) != 0) at += lineSize;
    ASSERT_LT(at, log.size()) << "an acknowledged record is missing";
  }
}

TEST_F(FaultTest, BurstFarLargerThanTheQueueIsHeldBackAndLoggedWhole) {
  devsim::SimOptions options;
  options.recordsPerPoll = 1500;  // 51,000 bytes in one answer
  StartDevice(options);
  inFlight = 1500;
  OpenDevice(Device().slavePath());
  ASSERT_TRUE(UntilAcked(3000, 60000));
  EXPECT_EQ(StatusCount(kOverflowLine), 0) << "XON/XOFF holds the device back";
}

TEST_F(FaultTest, OverflowWithoutFlowControlIsReportedAndPollingRealigns) {
  checkInvariant = false;  // the test itself plays a device that ignores polls
  form->Port().SetFlowControl(async32::fcNone);
  OpenDevice(pty.path());
  ASSERT_EQ(FromWindow(14).size(), 14u);
  std::atomic<bool> flooding{true};
  std::thread device([&] {
    const std::string flood(4096, 'F');
    while (flooding) pty.Send(flood);
  });
  // A busy user-interface thread while the device floods the line: the
  // monitor goes on receiving until the queue overflows.
  for (int i = 0; i < 20 && StatusCount(kOverflowLine) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    QTest::qWait(50);
  }
  flooding = false;
  Until([&] { return false; }, 300);  // drain what is left
  device.join();
  ASSERT_GE(StatusCount(kOverflowLine), 1);

  // The next poll starts a record afresh.
  Until([&] { return false; }, 300);
  pty.Receive(4096, std::chrono::milliseconds(1));
  ASSERT_EQ(FromWindow(1), "?");
  const std::string record = "0123456789abcdefghijklmnopqrstuvwx";
  ASSERT_TRUE(pty.Send(record));
  ASSERT_TRUE(Until([&] {
    const std::string log = LogContents();
    return log.size() >= 58 && log.compare(log.size() - 58, 58, record + kStamp + "\r\n") == 0;
  }));
}

TEST_F(FaultTest, RandomPiecesControlBytesAndGarbageReachTheFileExactly) {
  devsim::SimOptions options;
  options.randomChunks = true;
  options.specialBytes = true;  // 0, 13 and 26 inside records
  options.garbage = true;       // stray bytes after each answer
  StartDevice(options);
  OpenDevice(Device().slavePath());
  ASSERT_TRUE(UntilAcked(6));
  ExpectOneLinePerRecord();
}

TEST_F(FaultTest, EveryByteValueWithoutSoftwareFlowControl) {
  // Under XON/XOFF, bytes 17 and 19 steer the line and cannot be data; a
  // device that sends them needs another flow control.
  form->Port().SetFlowControl(async32::fcNone);
  devsim::SimOptions options;
  options.randomChunks = true;
  options.allByteValues = true;
  options.garbage = true;
  StartDevice(options);
  OpenDevice(Device().slavePath());
  ASSERT_TRUE(UntilAcked(9));  // 9 x 34 bytes cover all 256 values
  ExpectOneLinePerRecord();
}

TEST_F(FaultTest, AThousandOpenCloseClicksLeakNothing) {
  devsim::SimOptions options;
  options.chunkSize = 8;
  StartDevice(options);
  const std::string path = Device().slavePath();
  OpenDevice(path);
  Click("CloseButton");
  const int fds = OpenDescriptors();
  const int threads = Threads();
  const size_t heap = mallinfo2().uordblks;
  for (int i = 1; i <= 1000; ++i) {
    OpenDevice(path);
    // Now and then long enough for polls and records.
    QTest::qWait(i % 100 == 0 ? 450 : 0);
    Click("CloseButton");
  }
  EXPECT_EQ(OpenDescriptors(), fds);
  EXPECT_EQ(Threads(), threads);
  Click("Button1");  // the panes' lines are not a leak
  EXPECT_LT(mallinfo2().uordblks, heap + 1024 * 1024);
  OpenDevice(path);
  const size_t acked = Acked();
  ASSERT_TRUE(UntilAcked(acked + 2)) << "still logging";
}

TEST_F(FaultTest, SecondUserOfTheDeviceIsRefusedAndTheFirstLogsOn) {
  StartDevice();
  OpenDevice(Device().slavePath());
  ASSERT_TRUE(UntilAcked(1));

  TForm1 second;
  second.findChild<QLineEdit*>("Edit1")->setText(QString::fromStdString(Device().slavePath()));
  QTest::mouseClick(second.findChild<QPushButton*>("OpenButton"), Qt::LeftButton);
  EXPECT_FALSE(second.Port().IsOpen());
  auto* status = second.findChild<TMemo*>("Memo1");
  ASSERT_EQ(status->LineCount(), 1);
  EXPECT_EQ(status->Line(0).toStdString(),
            "Error accessing device: " + Device().slavePath() + " (code: " + std::to_string(EBUSY) + ")");
  const size_t acked = Acked();
  ASSERT_TRUE(UntilAcked(acked + 2));
}

TEST_F(FaultTest, BadDeviceNamesAreRefusedWithAMeaningfulCode) {
  const std::string tag = std::to_string(getpid() % 100000);
  const std::string file = "/tmp/kxf" + tag;
  const std::string fifo = "/tmp/kxp" + tag;
  std::ofstream(file) << "not a terminal";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int fds = OpenDescriptors();
  const std::vector<std::pair<std::string, int>> cases = {
      {"", ENOENT},           {"abcdefghijklmno", ENOENT}, {"/dev/kx-nothing", ENOENT},
      {"/tmp", ENOTTY},       {file, ENOTTY},               {"/dev/null", ENOTTY},
      {fifo, ENOTTY},
  };
  for (const auto& [name, code] : cases) {
    OpenDevice(name);
    EXPECT_FALSE(form->Port().IsOpen()) << name;
    EXPECT_EQ(Lines(Memo1()).back(),
              "Error accessing device: " + name + " (code: " + std::to_string(code) + ")");
  }
  EXPECT_EQ(OpenDescriptors(), fds) << "nothing stays open";
  unlink(file.c_str());
  unlink(fifo.c_str());
}

TEST_F(FaultTest, SettingsTheDeviceRefusesLeaveItWorking) {
  StartDevice();
  OpenDevice(Device().slavePath());
  ASSERT_TRUE(UntilAcked(1));

  auto* databits = W<QComboBox>("DatabitsCombo");
  databits->setFocus();
  QTest::keyClick(databits, Qt::Key_Home);  // da4
  EXPECT_EQ(Lines(Memo1()).back(), "Databits: da4");
  QTest::keyClick(databits, Qt::Key_End);  // da8 again
  auto* stopbits = W<QComboBox>("StopBitsCombo");
  stopbits->setFocus();
  QTest::keyClick(stopbits, Qt::Key_Down);  // sb15 with 8 data bits
  EXPECT_EQ(Lines(Memo1()).back(), "StopBits: sb15");

  // The line keeps its last working settings (root may look past the lock).
  const int fd = open(Device().slavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  if (fd >= 0) {
    termios2 t{};
    ASSERT_EQ(ioctl(fd, TCGETS2, &t), 0);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(async32::OutputSpeed(t), 4800u);
    close(fd);
  }
  const size_t acked = Acked();
  ASSERT_TRUE(UntilAcked(acked + 2)) << "logging goes on";
}

}  // namespace
