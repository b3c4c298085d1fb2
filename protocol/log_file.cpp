#include "protocol/log_file.h"

#include <algorithm>
#include <filesystem>
#include <utility>

#include "async32/errors.h"

namespace {

// How much of the file's end is searched for an end-of-file mark.
constexpr uint64_t kTailLength = 128;
constexpr char kEndOfFile = 26;

}  // namespace

size_t AppendPosition(std::string_view tail) {
  const size_t lineEnd = tail.rfind("\r\n");
  const size_t from = lineEnd == std::string_view::npos ? 0 : lineEnd + 2;
  const size_t mark = tail.find(kEndOfFile, from);
  return mark == std::string_view::npos ? tail.size() : mark;
}

bool AppendLogLine(const std::string& fileName, std::string_view line, TUnsyncedLog& unsynced,
                   bool create) {
  bool created = false;
  TLogFileHandle file(fileName, create, created);
  file.Lock();
  TLogFileHandle::Id id;
  const uint64_t size = file.Size(id);
  // The tail searched for an end-of-file mark, and the two bytes before it
  // that tell whether a cut at its first byte leaves a whole line behind.
  const uint64_t tailStart = size > kTailLength ? size - kTailLength : 0;
  const uint64_t readStart = tailStart > 2 ? tailStart - 2 : 0;
  char tail[kTailLength + 2];
  file.ReadAt(tail, static_cast<size_t>(size - readStart), readStart);
  const std::string_view searched(tail + (tailStart - readStart), static_cast<size_t>(size - tailStart));
  const uint64_t at = tailStart + AppendPosition(searched);

  // What stays before `at` is never cut: a line broken by a crash may hold an
  // acknowledged record. The new line starts on a line of its own instead.
  std::string bytes;
  const std::string_view before(tail, static_cast<size_t>(at - readStart));
  if (at > 0 && !before.ends_with("\r\n")) bytes = "\r\n";
  bytes += line;
  bytes += "\r\n";
  if (at < size) file.Truncate(at);
  try {
    file.WriteAt(bytes, at);
  } catch (const EInOutError&) {
    // No part of a line stays behind: the next record starts clean.
    try {
      file.Truncate(at);
    } catch (const EInOutError&) {
    }
    throw;
  }
  // The first line since the last sync to go to this file: the file is held
  // for the sync, and the lock goes now, or it would last as long. Closing
  // the file (any other time) lets the lock go.
  if (!unsynced.Holds(id)) {
    file.Unlock();
    unsynced.Keep(std::move(file), id);
  }
  return created;
}

bool TUnsyncedLog::Holds(const TLogFileHandle::Id& id) const {
  return std::any_of(files_.begin(), files_.end(), [&](const Held& held) { return held.id == id; });
}

void TUnsyncedLog::Keep(TLogFileHandle file, const TLogFileHandle::Id& id) {
  files_.push_back({std::move(file), id});
}

void TUnsyncedLog::Sync() {
  std::vector<Held> files = std::exchange(files_, {});
  for (Held& held : files) held.file.Sync();  // the first failure is raised
}

std::string LogErrorDetail(const std::string& fileName, const EInOutError& error) {
  std::error_code ignored;
  const std::string path = std::filesystem::absolute(fileName, ignored).string();
  return path + ": " + async32::ErrorText(error.ErrorCode()) + " (" + error.what() + ")";
}
