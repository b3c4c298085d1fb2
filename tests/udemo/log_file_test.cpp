// Appending record lines to the log file.

#include "udemo/log_file.h"

#include "other_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <csignal>
#include <unistd.h>

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <iterator>

namespace {

class LogFile : public ::testing::Test {
 protected:
  void SetUp() override { path = dir.filePath("Karo.txt").toStdString(); }
  void Write(const std::string& contents) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
  }
  std::string Read() {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  int AppendError(const std::string& line) {
    try {
      AppendLogLine(path, line);
    } catch (const EInOutError& e) {
      message = e.what();
      return e.ErrorCode();
    }
    return 0;
  }

  QTemporaryDir dir;
  std::string path;
  std::string message;
};

TEST_F(LogFile, AppendsRawBytesAndCrLfToAnExistingFile) {
  Write("");
  const std::string line = std::string("a\0b\rc\x1a" "d\xff", 8) + " (2005-11-02 14:05:09)";
  ASSERT_EQ(AppendError(line), 0);
  ASSERT_EQ(AppendError(line), 0);
  EXPECT_EQ(Read(), line + "\r\n" + line + "\r\n");
}

TEST_F(LogFile, MissingFileIsNeverCreated) {
  EXPECT_EQ(AppendError("x"), ENOENT);
  EXPECT_EQ(message, "File not found");
  EXPECT_NE(access(path.c_str(), F_OK), 0);
}

TEST_F(LogFile, ReadOnlyFileAndLockedFile) {
  Write("old\r\n");
  chmod(path.c_str(), 0444);
  if (geteuid() != 0) {  // root writes anyway
    EXPECT_EQ(AppendError("x"), EACCES);
    EXPECT_EQ(message, "File access denied");
  }
  chmod(path.c_str(), 0644);

  // Another writer of this kind holds the file: this append waits for no one.
  {
    testing_support::OtherWriter writer(path);
    ASSERT_TRUE(writer.locked());
    EXPECT_EQ(AppendError("x"), EAGAIN);
    EXPECT_EQ(message, "I/O error " + std::to_string(EAGAIN));
  }
  EXPECT_EQ(Read(), "old\r\n") << "nothing written while refused";
  EXPECT_EQ(AppendError("new"), 0);
  EXPECT_EQ(Read(), "old\r\nnew\r\n");
}

TEST_F(LogFile, EndOfFileMarkAfterTheLastLineIsReplaced) {
  Write("line one\r\n\x1a\x1a");
  ASSERT_EQ(AppendError("two"), 0);
  EXPECT_EQ(Read(), "line one\r\ntwo\r\n");
  Write("no line end\x1a junk");
  ASSERT_EQ(AppendError("next"), 0);
  EXPECT_EQ(Read(), "no line endnext\r\n");
}

TEST_F(LogFile, ByteTwentySixInsideALoggedRecordIsKept) {
  const std::string record = std::string(10, 'r') + "\x1a" + std::string(23, 'r') + " (stamp)\r\n";
  Write(record + record);
  ASSERT_EQ(AppendError("third"), 0);
  EXPECT_EQ(Read(), record + record + "third\r\n");
}

TEST(AppendPosition, SearchesOnlyAfterTheLastLineEnd) {
  EXPECT_EQ(AppendPosition(""), 0u);
  EXPECT_EQ(AppendPosition("abc"), 3u);
  EXPECT_EQ(AppendPosition("a\x1a" "b\r\n"), 5u);
  EXPECT_EQ(AppendPosition("a\x1a" "b\r\nc\x1a"), 6u);
  EXPECT_EQ(AppendPosition("\x1a" "abc"), 0u);
}

}  // namespace
