// Appending record lines to the log file.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "log_file_fixture.h"

// The C library's pread, as a file system that hands out a few bytes at a
// time (NFS, FUSE, a signal) does: a short read is legal anywhere.
static bool shortReads = false;
extern "C" ssize_t pread(int fd, void* buffer, size_t count, off_t at) {
  return syscall(SYS_pread64, fd, buffer, shortReads ? std::min<size_t>(count, 7) : count, at);
}

// The C library's fdatasync, watched: the files it was asked to sync.
static std::vector<ino_t> synced;
extern "C" int fdatasync(int fd) {
  struct stat st {};
  if (fstat(fd, &st) == 0) synced.push_back(st.st_ino);
  return static_cast<int>(syscall(SYS_fdatasync, fd));
}

namespace {

// Another writer of this kind holds the file: the append waits for no one,
// and writes nothing. (An open file description lock conflicts with the
// append's record lock as another process's lock would.)
TEST_F(LogFile, LockedFileIsRefusedAndLeftAloneAndErrorTexts) {
  Write("old\r\n");
  const int other = open(path.c_str(), O_RDWR);
  struct flock lock {};
  lock.l_type = F_WRLCK;
  ASSERT_EQ(fcntl(other, F_OFD_SETLK, &lock), 0);
  EXPECT_EQ(Append("x"), EAGAIN);
  EXPECT_EQ(message, "I/O error " + std::to_string(EAGAIN));
  close(other);
  EXPECT_EQ(Append("new"), 0);
  EXPECT_EQ(Read(), "old\r\nnew\r\n");
  for (auto [code, text] : {std::pair{ENOENT, "File not found"}, {ENAMETOOLONG, "Invalid filename"},
                            {EMFILE, "Too many open files"}, {EROFS, "File access denied"}}) {
    EXPECT_EQ(InOutErrorText(code), text);
  }
}

// An end-of-file mark after the last line is cut off; a line that a crash
// left broken is never cut, and never continued: the next starts on its own.
TEST_F(LogFile, EndOfFileMarksAndBrokenLines) {
  const std::string record = std::string(10, 'r') + "\x1a" + std::string(23, 'r') + " (stamp)\r\n";
  const std::string nul(40, '\0');
  const struct {
    std::string before, after;
  } cases[] = {
      {"line one\r\n\x1a\x1a", "line one\r\ntwo\r\n"},
      {"\x1a", "two\r\n"},
      {record + record, record + record + "two\r\n"},  // a 26 inside a logged record stays
      {record + "0002 2026-12-06 21:4", record + "0002 2026-12-06 21:4\r\ntwo\r\n"},
      {record + nul, record + nul + "\r\ntwo\r\n"},
      {record + "cut\r", record + "cut\r\r\ntwo\r\n"},
      {"no line end\x1a junk longer than the line", "no line end\r\ntwo\r\n"},
      {record + "a\x1a" "b", record + "a\r\ntwo\r\n"},
      {"\x1a" + std::string(130, 'y'), "\x1a" + std::string(130, 'y') + "\r\ntwo\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.before);
    Write(c.before);
    ASSERT_EQ(Append("two"), 0);
    EXPECT_EQ(Read(), c.after);
  }
}

TEST_F(LogFile, ShortReadsOfTheTailCutNothing) {
  std::string lines;
  for (int i = 0; i < 9; ++i) lines += std::string(34, 'a' + i) + " (stamp)\r\n";
  Write(lines + "\x1a");
  shortReads = true;
  const int error = Append("two");
  shortReads = false;
  ASSERT_EQ(error, 0);
  EXPECT_EQ(Read(), lines + "two\r\n");
}

// A log renamed away (rotated) between an append and the sync that lets its
// "*" out is synced all the same; each file once. The window never makes a
// missing log; the logger makes it again.
TEST_F(LogFile, TheSyncReachesALogRenamedAwayAndAMissingLogIsMadeOnlyWhenAsked) {
  Write("");
  EXPECT_FALSE(AppendLogLine(path, "one", unsynced));
  EXPECT_FALSE(AppendLogLine(path, "two", unsynced));
  struct stat old {}, now {};
  ASSERT_EQ(stat(path.c_str(), &old), 0);
  ASSERT_EQ(rename(path.c_str(), (path + ".1").c_str()), 0);
  EXPECT_EQ(Append("lost"), ENOENT);
  EXPECT_TRUE(AppendLogLine(path, "three", unsynced, true));
  ASSERT_EQ(stat(path.c_str(), &now), 0);
  synced.clear();
  unsynced.Sync();
  std::sort(synced.begin(), synced.end());
  EXPECT_EQ(synced, (std::vector<ino_t>{std::min(old.st_ino, now.st_ino), std::max(old.st_ino, now.st_ino)}));
  EXPECT_EQ(Read(), "three\r\n");
}

}  // namespace
