#include "protocol/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

namespace {

// How much of the file's end is searched for an end-of-file mark.
constexpr off_t kTailLength = 128;
constexpr char kEndOfFile = 26;

class File {
 public:
  explicit File(int fd) : fd_(fd) {}
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() {
    if (fd_ >= 0) ::close(fd_);
  }
  int fd() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

bool WriteAll(int fd, std::string_view bytes, off_t at) {
  while (!bytes.empty()) {
    const ssize_t n = pwrite(fd, bytes.data(), bytes.size(), at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
    at += n;
  }
  return true;
}

// Reads `count` bytes at `at` whole: a short read that is not at the end of
// the file would otherwise pass for the file's end.
void ReadWhole(int fd, char* buffer, size_t count, off_t at) {
  while (count > 0) {
    const ssize_t n = pread(fd, buffer, count, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw EInOutError(errno);
    if (n == 0) throw EInOutError(EIO);  // the file shrank under us
    buffer += n;
    count -= static_cast<size_t>(n);
    at += n;
  }
}

}  // namespace

std::string InOutErrorText(int code) {
  switch (code) {
    case ENOENT: return "File not found";
    case ENAMETOOLONG: return "Invalid filename";
    case EMFILE:
    case ENFILE: return "Too many open files";
    case EACCES:
    case EPERM:
    case EROFS: return "File access denied";
    default: return "I/O error " + std::to_string(code);
  }
}

EInOutError::EInOutError(int code) : std::runtime_error(InOutErrorText(code)), code_(code) {}

size_t AppendPosition(std::string_view tail) {
  const size_t lineEnd = tail.rfind("\r\n");
  const size_t from = lineEnd == std::string_view::npos ? 0 : lineEnd + 2;
  const size_t mark = tail.find(kEndOfFile, from);
  return mark == std::string_view::npos ? tail.size() : mark;
}

bool AppendLogLine(const std::string& fileName, std::string_view line, TUnsyncedLog& unsynced,
                   bool create) {
  int fd = open(fileName.c_str(), O_RDWR | O_CLOEXEC);
  bool created = false;
  if (fd < 0 && errno == ENOENT && create) {
    fd = open(fileName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    created = fd >= 0;
  }
  if (fd < 0) throw EInOutError(errno);
  File file(fd);

  // A write lock over the whole file keeps other writers of this kind out;
  // readers do not take locks and read on.
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (fcntl(file.fd(), F_SETLK, &lock) != 0) {
    throw EInOutError(errno == EACCES ? EAGAIN : errno);
  }

  struct stat st {};
  if (fstat(file.fd(), &st) != 0) throw EInOutError(errno);
  const off_t size = st.st_size;
  // The tail searched for an end-of-file mark, and the two bytes before it
  // that tell whether a cut at its first byte leaves a whole line behind.
  const off_t tailStart = size > kTailLength ? size - kTailLength : 0;
  const off_t readStart = tailStart > 2 ? tailStart - 2 : 0;
  char tail[kTailLength + 2];
  ReadWhole(file.fd(), tail, static_cast<size_t>(size - readStart), readStart);
  const std::string_view searched(tail + (tailStart - readStart), static_cast<size_t>(size - tailStart));
  const off_t at = tailStart + static_cast<off_t>(AppendPosition(searched));

  // What stays before `at` is never cut: a line broken by a crash may hold an
  // acknowledged record. The new line starts on a line of its own instead.
  std::string bytes;
  const std::string_view before(tail, static_cast<size_t>(at - readStart));
  if (at > 0 && !before.ends_with("\r\n")) bytes = "\r\n";
  bytes += line;
  bytes += "\r\n";
  if (at < size && ftruncate(file.fd(), at) != 0) throw EInOutError(errno);
  if (!WriteAll(file.fd(), bytes, at)) {
    const int error = errno;
    // No part of a line stays behind: the next record starts clean.
    [[maybe_unused]] const int ignored = ftruncate(file.fd(), at);
    throw EInOutError(error);
  }
  // The first line since the last sync to go to this file: the file is held
  // for the sync, and the lock goes now, or it would last as long. Closing
  // the file (any other time) lets the lock go.
  if (!unsynced.Holds(st.st_dev, st.st_ino)) {
    lock.l_type = F_UNLCK;
    fcntl(file.fd(), F_SETLK, &lock);
    unsynced.Keep(file.Release(), st.st_dev, st.st_ino);
  }
  return created;
}

bool TUnsyncedLog::Holds(uint64_t device, uint64_t inode) const {
  return std::any_of(files_.begin(), files_.end(), [&](const Held& held) {
    return held.device == device && held.inode == inode;
  });
}

void TUnsyncedLog::Keep(int fd, uint64_t device, uint64_t inode) {
  files_.push_back({fd, device, inode});
}

void TUnsyncedLog::Sync() {
  int error = 0;
  for (const Held& held : files_) {
    if (fdatasync(held.fd) != 0 && error == 0) error = errno;
  }
  Release();
  if (error != 0) throw EInOutError(error);
}

void TUnsyncedLog::Release() {
  for (const Held& held : std::exchange(files_, {})) close(held.fd);
}

std::string LogErrorDetail(const std::string& fileName, const EInOutError& error) {
  std::error_code ignored;
  const std::string path = std::filesystem::absolute(fileName, ignored).string();
  return path + ": " + std::strerror(error.ErrorCode()) + " (" + error.what() + ")";
}
