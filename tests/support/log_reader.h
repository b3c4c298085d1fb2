#pragma once
// Reading what the programs write: a whole file at once, or a log file
// followed as it grows.

#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>

namespace testing_support {

// The contents of `path`; empty when it cannot be read.
inline std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Each Poll reads what was appended since the last one and counts the
// complete lines.
class LogReader {
 public:
  explicit LogReader(const std::string& path) : in_(path, std::ios::binary) {}

  bool ok() const { return in_.is_open(); }
  // Returns the number of complete lines so far; `line` sees each new one
  // without its '\n' (a record's line keeps its '\r').
  size_t Poll(const std::function<void(std::string_view)>& line = {}) {
    char buffer[65536];
    in_.clear();  // after the end of what was there: on to what came since
    while (in_.read(buffer, sizeof buffer) || in_.gcount() > 0) {
      pending_.append(buffer, static_cast<size_t>(in_.gcount()));
      size_t start = 0;
      for (size_t end; (end = pending_.find('\n', start)) != std::string::npos; start = end + 1) {
        ++lines_;
        if (line) line(std::string_view(pending_).substr(start, end - start));
      }
      pending_.erase(0, start);
    }
    return lines_;
  }
  // Bytes after the last line end: a line being written, or a torn one.
  size_t partialBytes() const { return pending_.size(); }

 private:
  std::ifstream in_;
  std::string pending_;
  size_t lines_ = 0;
};

}  // namespace testing_support
