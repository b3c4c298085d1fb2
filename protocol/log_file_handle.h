#pragma once
// One open log file, as each platform provides it: the few operations the
// log's rules (log_file.h) are made of. Every failure throws EInOutError with
// the platform's error code; the text of a code is the platform's too.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

// The text that goes with an error code: "File not found", "Invalid
// filename", "Too many open files", "File access denied" or "I/O error N".
std::string InOutErrorText(int code);

// A failed file operation, with the system's error code and its text.
class EInOutError : public std::runtime_error {
 public:
  explicit EInOutError(int code) : std::runtime_error(InOutErrorText(code)), code_(code) {}
  int ErrorCode() const { return code_; }

 private:
  int code_;
};

class TLogFileHandle {
 public:
  // Which file a handle is on, whatever its name is now.
  struct Id {
    uint64_t device = 0, file = 0;
    bool operator==(const Id&) const = default;
  };

  // Opens `fileName` for reading and writing. With `create`, a missing file
  // is made, and `created` says so.
  TLogFileHandle(const std::string& fileName, bool create, bool& created);
  TLogFileHandle(TLogFileHandle&& other) noexcept;
  TLogFileHandle& operator=(TLogFileHandle&&) = delete;
  TLogFileHandle(const TLogFileHandle&) = delete;
  ~TLogFileHandle();

  // Keeps other writers that lock the same way out, until Unlock or the
  // close; readers read on. Refused at once when another holds it.
  void Lock();
  void Unlock();
  // The file's size and which file it is.
  uint64_t Size(Id& id) const;
  // Reads `count` bytes at `at` whole: a short read is never taken for the end.
  void ReadAt(char* buffer, size_t count, uint64_t at) const;
  // Writes `bytes` at `at` whole, or fails.
  void WriteAt(std::string_view bytes, uint64_t at);
  void Truncate(uint64_t size);
  // Puts what was written on the disk itself.
  void Sync();

 private:
  intptr_t handle_;
};
