// The log file on Windows: a handle shared for reading, writing and renaming
// (a rotated log is renamed under a running logger), a lock beyond the end of
// any real file so that readers are never refused, positioned reads and
// writes, FlushFileBuffers.
#include "protocol/log_file_handle.h"

#include <windows.h>

#include <utility>

namespace {

HANDLE File(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// A Windows lock refuses reads of what it covers: the lock covers one byte
// far past the end instead, and writers that lock the same way exclude
// each other.
constexpr DWORD kLockOffsetHigh = 0x7fffffff;

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

}  // namespace

std::string InOutErrorText(int code) {
  switch (static_cast<DWORD>(code)) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return "File not found";
    case ERROR_INVALID_NAME:
    case ERROR_FILENAME_EXCED_RANGE: return "Invalid filename";
    case ERROR_TOO_MANY_OPEN_FILES: return "Too many open files";
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_SHARING_VIOLATION: return "File access denied";
    default: return "I/O error " + std::to_string(code);
  }
}

TLogFileHandle::TLogFileHandle(const std::string& fileName, bool create, bool& created) {
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE file = CreateFileA(fileName.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND && create) {
    file = CreateFileA(fileName.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    created = file != INVALID_HANDLE_VALUE;
  }
  if (file == INVALID_HANDLE_VALUE) throw EInOutError(static_cast<int>(GetLastError()));
  handle_ = reinterpret_cast<intptr_t>(file);
}

TLogFileHandle::TLogFileHandle(TLogFileHandle&& other) noexcept
    : handle_(std::exchange(other.handle_, reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE))) {}

TLogFileHandle::~TLogFileHandle() {
  if (File(handle_) != INVALID_HANDLE_VALUE) CloseHandle(File(handle_));  // lets the lock go too
}

void TLogFileHandle::Lock() {
  OVERLAPPED at = At(0);
  at.OffsetHigh = kLockOffsetHigh;
  if (!LockFileEx(File(handle_), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    throw EInOutError(static_cast<int>(GetLastError()));
  }
}

void TLogFileHandle::Unlock() {
  OVERLAPPED at = At(0);
  at.OffsetHigh = kLockOffsetHigh;
  UnlockFileEx(File(handle_), 0, 1, 0, &at);
}

uint64_t TLogFileHandle::Size(Id& id) const {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(File(handle_), &info)) throw EInOutError(static_cast<int>(GetLastError()));
  id = {info.dwVolumeSerialNumber, (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
  return (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
}

void TLogFileHandle::ReadAt(char* buffer, size_t count, uint64_t at) const {
  while (count > 0) {
    OVERLAPPED position = At(at);
    DWORD n = 0;
    const DWORD chunk = count > 1u << 30 ? 1u << 30 : static_cast<DWORD>(count);
    if (!ReadFile(File(handle_), buffer, chunk, &n, &position)) {
      throw EInOutError(static_cast<int>(GetLastError()));
    }
    if (n == 0) throw EInOutError(ERROR_HANDLE_EOF);  // the file shrank under us
    buffer += n;
    count -= n;
    at += n;
  }
}

void TLogFileHandle::WriteAt(std::string_view bytes, uint64_t at) {
  while (!bytes.empty()) {
    OVERLAPPED position = At(at);
    DWORD n = 0;
    const DWORD chunk = bytes.size() > 1u << 30 ? 1u << 30 : static_cast<DWORD>(bytes.size());
    if (!WriteFile(File(handle_), bytes.data(), chunk, &n, &position)) {
      throw EInOutError(static_cast<int>(GetLastError()));
    }
    if (n == 0) throw EInOutError(ERROR_DISK_FULL);
    bytes.remove_prefix(n);
    at += n;
  }
}

void TLogFileHandle::Truncate(uint64_t size) {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  if (!SetFileInformationByHandle(File(handle_), FileEndOfFileInfo, &end, sizeof end)) {
    throw EInOutError(static_cast<int>(GetLastError()));
  }
}

void TLogFileHandle::Sync() {
  if (!FlushFileBuffers(File(handle_))) throw EInOutError(static_cast<int>(GetLastError()));
}
