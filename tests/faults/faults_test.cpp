// Faults and bad input while the window logs: nothing the device saw
// acknowledged may be lost or damaged, and the program keeps working.

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <fstream>

#include "fault_fixture.h"

namespace {

using namespace testing_support;

const std::string kOverflowLine = "An input buffer overflow has occurred. There is either no";

// The log on a small file system of its own, to make read-only or fill up
// (skipped where mounting is not allowed).
class LogOnOwnFileSystem : public FaultTest {
 protected:
  void SetUp() override {
    FaultTest::SetUp();
    mountPoint = dir.filePath("fs").toStdString();
    mkdir(mountPoint.c_str(), 0755);
    if (!Mount(0)) GTEST_SKIP() << "cannot mount a tmpfs here (" << strerror(errno) << ")";
    mounted = true;
    logPath = mountPoint + "/Karo.txt";
    form->LogFileHolder().FileName = logPath;
    std::ofstream(logPath, std::ios::binary);
  }
  void TearDown() override {
    FaultTest::TearDown();
    if (mounted) umount2(mountPoint.c_str(), MNT_DETACH);
  }
  bool Mount(unsigned long flags) {
    return mount("karolx", mountPoint.c_str(), "tmpfs", flags, "size=64k") == 0;
  }
  // Fills what is left of the file system, up to the last byte.
  void FillUp() {
    const int fd = open(filler().c_str(), O_WRONLY | O_CREAT, 0644);
    const std::string block(1000, 'f');
    while (write(fd, block.data(), block.size()) > 0) continue;
    while (write(fd, block.data(), 1) > 0) continue;
    close(fd);
  }
  std::string filler() const { return mountPoint + "/filler"; }

  std::string mountPoint;
  bool mounted = false;
};

TEST_F(LogOnOwnFileSystem, ReadOnlyFileSystemIsReportedAndLoggingResumes) {
  StartDevice();
  OpenDevice(Device().slavePath());
  ASSERT_TRUE(UntilAcked(2));
  ASSERT_TRUE(Mount(MS_REMOUNT | MS_RDONLY));
  ASSERT_TRUE(UntilHandlerError("File access denied"));
  ExpectNoAckUntil([&] { Mount(MS_REMOUNT); });
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
  std::ofstream(logPath, std::ios::binary) << lines;
  previousDevices.push_back(earlier);
  FillUp();

  StartDevice();
  OpenDevice(Device().slavePath());
  ASSERT_TRUE(UntilHandlerError("I/O error " + std::to_string(ENOSPC)));
  EXPECT_EQ(LogContents(), lines) << "every complete line kept, no part of a line";
  ExpectNoAckUntil([&] { unlink(filler().c_str()); });
}

// Another writer holds the log in the middle of a long answer: the answer
// earns no "*", the device sends it again, and logging goes on.
TEST_F(FaultTest, AnAppendRefusedMidAnswerCostsThatAnswerItsAcknowledgement) {
  devsim::SimOptions options;
  options.pace = true;
  options.chunkSize = 1;
  options.recordsPerPoll = 20;  // 1.4 s at 4800 baud
  StartDevice(options);
  extraLines = 20;
  OpenDevice(Device().slavePath());
  ASSERT_TRUE(UntilAcked(20));
  ASSERT_TRUE(Until([&] { return Device().state().recordsSent >= 30; }));
  const int other = open(logPath.c_str(), O_RDWR);
  struct flock lock {};
  lock.l_type = F_WRLCK;
  ASSERT_EQ(fcntl(other, F_OFD_SETLK, &lock), 0);
  ASSERT_TRUE(UntilHandlerError("I/O error " + std::to_string(EAGAIN)));
  close(other);
  ASSERT_TRUE(UntilAcked(40));
  EXPECT_GE(Device().state().recordsSent, 60u) << "the refused answer was sent again";
}

TEST_F(FaultTest, BurstFarLargerThanTheQueueIsHeldBackAndLoggedWhole) {
  devsim::SimOptions options;
  options.recordsPerPoll = 1500;  // 51,000 bytes in one answer
  StartDevice(options);
  extraLines = 1500;
  OpenDevice(Device().slavePath());
  ASSERT_TRUE(UntilAcked(3000, 60000));
  EXPECT_EQ(StatusCount(kOverflowLine), 0) << "XON/XOFF holds the device back";
}

// Records in random pieces, with control bytes or every byte value (without
// XON/XOFF, where 17 and 19 steer the line) and stray bytes after each
// answer: each is one line of the pane and reaches the file exactly.
TEST_F(FaultTest, RandomPiecesControlBytesAndGarbageReachTheFileExactly) {
  for (bool allValues : {false, true}) {
    SCOPED_TRACE(allValues ? "every byte value" : "bytes 0, 13 and 26");
    if (form->Port().IsOpen()) Click("CloseButton");
    form->Port().SetFlowControl(allValues ? async32::fcNone : async32::fcSoftware);
    devsim::SimOptions options;
    options.randomChunks = true;
    options.garbage = true;  // each answer that ends in stray bytes is polled again
    extraLines = 100;
    options.specialBytes = !allValues;
    options.allByteValues = allValues;
    StartDevice(options);
    OpenDevice(Device().slavePath());
    ASSERT_TRUE(UntilAcked(9));  // 9 x 34 bytes cover all 256 values
  }
  for (const auto& line : Lines(Memo2())) {
    if (!line.empty()) {
      EXPECT_EQ(QString::fromStdString(line).size(), 34 + kStamp.size());
    }
  }
}

TEST_F(FaultTest, BadDeviceNamesAreRefusedWithAMeaningfulCode) {
  const std::string tag = std::to_string(getpid() % 100000);  // short names fit the field
  const std::string file = "/tmp/kxf" + tag, fifo = "/tmp/kxp" + tag;
  std::ofstream(file) << "not a terminal";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int fds = OpenDescriptors();
  const std::pair<std::string, int> cases[] = {
      {"", ENOENT},     {"abcdefghijklmno", ENOENT}, {"/dev/kx-nothing", ENOENT},
      {"/tmp", ENOTTY}, {file, ENOTTY},              {"null", ENOTTY},  // looked up in /dev
      {fifo, ENOTTY},
  };
  for (const auto& [name, code] : cases) {
    OpenDevice(name);
    EXPECT_FALSE(form->Port().IsOpen() || form->Timer().isActive() || W("CloseButton")->isEnabled());
    EXPECT_EQ(Lines(Memo1()).back(),
              "Error accessing device: " + name + " (code: " + std::to_string(code) + ")");
  }
  EXPECT_EQ(Memo1()->LineCount(), std::ssize(cases)) << "each open reports once";
  EXPECT_EQ(OpenDescriptors(), fds) << "nothing stays open";
  unlink(file.c_str());
  unlink(fifo.c_str());
}

}  // namespace
