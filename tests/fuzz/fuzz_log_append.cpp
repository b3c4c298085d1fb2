// The log append on any existing file contents and any line, compared with a
// plain model: an end-of-file mark (byte 26) is cut off only when it comes
// after the last CR LF of the file's last 128 bytes (anywhere in them when
// they hold no CR LF), and the line with CR LF goes at the end. Now and then
// the file may not grow past a limit, so the append fails part way: the file
// must then hold the kept part without any piece of the line. And now and
// then the file is missing: the append fails with "File not found" and
// creates nothing.
#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "udemo/log_file.h"

namespace {

void Check(bool holds) {
  if (!holds) __builtin_trap();
}

// One file in a directory of its own, made once per process and removed at
// exit. Without TMPDIR it goes to memory-backed /dev/shm where there is one:
// on a disk file system each run's truncations cost some fifty times more
// than the append under test.
class ScratchFile {
 public:
  ScratchFile() {
    const char* base = std::getenv("TMPDIR");
    std::string dir = base && *base ? base : access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = dir + "/fuzz_log_append.XXXXXX";
    if (!mkdtemp(pattern.data())) {
      std::perror("mkdtemp");
      std::abort();
    }
    dir_ = pattern;
    path_ = dir_ + "/Karo.txt";
  }
  ~ScratchFile() {
    unlink(path_.c_str());
    rmdir(dir_.c_str());
  }
  const std::string& path() const { return path_; }

 private:
  std::string dir_;
  std::string path_;
};

std::string ReadAll(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  Check(fd >= 0);
  std::string contents;
  char buffer[4096];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) > 0)
    contents.append(buffer, static_cast<size_t>(got));
  Check(got == 0);
  close(fd);
  return contents;
}

void WriteAll(const std::string& path, const std::string& contents) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  Check(fd >= 0);
  Check(write(fd, contents.data(), contents.size()) == static_cast<ssize_t>(contents.size()));
  close(fd);
}

// Earlier logged lines in front of the fuzzed bytes, so that short inputs
// reach files longer than the 128 bytes looked at. A byte 26 inside a
// logged record must stay.
std::string EarlierLines(size_t length) {
  static const std::string kLine =
      "000001 2005-11-02\x1a"
      "14:05:09 +21.345 (2005-11-02 14:05:09)\r\n";
  std::string lines;
  while (lines.size() < length) lines += kLine;
  lines.resize(length);
  return lines;
}

// What of `contents` an append keeps.
std::string KeptPart(const std::string& contents) {
  const size_t tailStart = contents.size() > 128 ? contents.size() - 128 : 0;
  const std::string tail = contents.substr(tailStart);
  const size_t lineEnd = tail.rfind("\r\n");
  const size_t from = lineEnd == std::string::npos ? 0 : lineEnd + 2;
  const size_t mark = tail.find('\x1a', from);
  return mark == std::string::npos ? contents : contents.substr(0, tailStart + mark);
}

// Lets the file grow to at most `bytes` until destroyed; a write past it
// fails with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit limit = previous_;
    limit.rlim_cur = bytes;
    Check(setrlimit(RLIMIT_FSIZE, &limit) == 0);
  }
  ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &previous_); }

 private:
  rlimit previous_{};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ScratchFile file;
  FuzzedDataProvider input(data, size);
  const int mode = input.ConsumeIntegralInRange(0, 15);
  std::string contents = EarlierLines(input.ConsumeIntegralInRange<size_t>(0, 400));
  contents += input.ConsumeRandomLengthString(1024);
  const size_t limitExtra = input.ConsumeIntegral<uint16_t>();
  const std::string line = input.ConsumeRemainingBytesAsString();

  if (mode == 0) {
    unlink(file.path().c_str());
    try {
      AppendLogLine(file.path(), line);
      Check(false);
    } catch (const EInOutError& e) {
      Check(e.ErrorCode() == ENOENT);
      Check(std::strcmp(e.what(), "File not found") == 0);
    }
    Check(access(file.path().c_str(), F_OK) != 0 && errno == ENOENT);
    return 0;
  }

  WriteAll(file.path(), contents);
  const std::string kept = KeptPart(contents);
  const std::string appended = kept + line + "\r\n";
  if (mode == 1) {
    // Room for the kept part and a piece of the line at most.
    const size_t limit = kept.size() + limitExtra % (line.size() + 2);
    bool failed = false;
    {
      FileSizeLimit fileSize(limit);
      try {
        AppendLogLine(file.path(), line);
      } catch (const EInOutError& e) {
        failed = e.ErrorCode() == EFBIG;
      }
    }
    Check(failed);
    Check(ReadAll(file.path()) == kept);
    return 0;
  }

  AppendLogLine(file.path(), line);
  Check(ReadAll(file.path()) == appended);
  return 0;
}
