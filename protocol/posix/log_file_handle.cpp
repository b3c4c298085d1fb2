// The log file on POSIX: a descriptor, an fcntl record lock over the whole
// file, positioned reads and writes, fdatasync.
#include "protocol/log_file_handle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace {

int Fd(intptr_t handle) { return static_cast<int>(handle); }

bool LockAs(intptr_t handle, short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  return fcntl(Fd(handle), F_SETLK, &lock) == 0;
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

TLogFileHandle::TLogFileHandle(const std::string& fileName, bool create, bool& created) {
  int fd = open(fileName.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT && create) {
    fd = open(fileName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    created = fd >= 0;
  }
  if (fd < 0) throw EInOutError(errno);
  handle_ = fd;
}

TLogFileHandle::TLogFileHandle(TLogFileHandle&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)) {}

TLogFileHandle::~TLogFileHandle() {
  if (handle_ >= 0) close(Fd(handle_));  // lets the lock go too
}

void TLogFileHandle::Lock() {
  if (!LockAs(handle_, F_WRLCK)) throw EInOutError(errno == EACCES ? EAGAIN : errno);
}

// A lock that cannot be let go now goes with the close.
void TLogFileHandle::Unlock() { LockAs(handle_, F_UNLCK); }

uint64_t TLogFileHandle::Size(Id& id) const {
  struct stat st {};
  if (fstat(Fd(handle_), &st) != 0) throw EInOutError(errno);
  id = {st.st_dev, st.st_ino};
  return static_cast<uint64_t>(st.st_size);
}

void TLogFileHandle::ReadAt(char* buffer, size_t count, uint64_t at) const {
  while (count > 0) {
    const ssize_t n = pread(Fd(handle_), buffer, count, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw EInOutError(errno);
    if (n == 0) throw EInOutError(EIO);  // the file shrank under us
    buffer += n;
    count -= static_cast<size_t>(n);
    at += static_cast<uint64_t>(n);
  }
}

void TLogFileHandle::WriteAt(std::string_view bytes, uint64_t at) {
  while (!bytes.empty()) {
    const ssize_t n = pwrite(Fd(handle_), bytes.data(), bytes.size(), static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw EInOutError(n == 0 ? ENOSPC : errno);
    bytes.remove_prefix(static_cast<size_t>(n));
    at += static_cast<uint64_t>(n);
  }
}

void TLogFileHandle::Truncate(uint64_t size) {
  if (ftruncate(Fd(handle_), static_cast<off_t>(size)) != 0) throw EInOutError(errno);
}

void TLogFileHandle::Sync() {
  if (fdatasync(Fd(handle_)) != 0) throw EInOutError(errno);
}
