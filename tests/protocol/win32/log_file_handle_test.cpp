// The log file's rules on the Windows file class: another writer refused
// while readers read on, a broken line never continued, a log renamed away
// (rotated) under the logger still synced.

#include "log_file_fixture.h"

#include <windows.h>

namespace {

using WindowsLogFile = LogFile;

TEST_F(WindowsLogFile, AnotherWriterIsRefusedWhileReadersReadOn) {
  Write("old\r\n");
  bool created = false;
  {
    TLogFileHandle other(path, false, created);
    other.Lock();
    EXPECT_EQ(Append("x"), ERROR_LOCK_VIOLATION);
    EXPECT_EQ(Read(), "old\r\n") << "nothing written, and the file reads";
  }
  EXPECT_EQ(Append("new"), 0);
  EXPECT_EQ(Read(), "old\r\nnew\r\n");
  for (auto [code, text] : {std::pair{ERROR_FILE_NOT_FOUND, "File not found"},
                            {ERROR_INVALID_NAME, "Invalid filename"},
                            {ERROR_TOO_MANY_OPEN_FILES, "Too many open files"},
                            {ERROR_ACCESS_DENIED, "File access denied"}}) {
    EXPECT_EQ(InOutErrorText(static_cast<int>(code)), text);
  }
}

TEST_F(WindowsLogFile, BrokenLinesAreNeverContinuedAndARotatedLogIsStillSynced) {
  for (auto [before, after] : {std::pair<std::string, std::string>{"line one\r\n\x1a\x1a", "line one\r\ntwo\r\n"},
                               {"0002 2026-12-06 21:4", "0002 2026-12-06 21:4\r\ntwo\r\n"}}) {
    Write(before);
    ASSERT_EQ(Append("two"), 0);
    EXPECT_EQ(Read(), after);
  }
  const std::string rotated = path + ".1";
  ASSERT_TRUE(MoveFileExA(path.c_str(), rotated.c_str(), 0)) << "renamed while the logger holds it";
  EXPECT_NO_THROW(unsynced.Sync());
  EXPECT_EQ(Append("three"), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(AppendLogLine(path, "three", unsynced, true)) << "made anew when asked";
  EXPECT_EQ(Read(), "three\r\n");
}

}  // namespace
