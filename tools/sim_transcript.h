// The device's transcript: one line per event, appended, so that a test in
// another process can check what the device sent and saw acknowledged.
//   START <terminal path>     CLOCK <28 hex digits>     POLL     ACK
//   SENT <index> <68 hex digits>     ACKED <index>     HANGUP
// An ACKED index refers to the latest SENT line with that index since START.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace devsim {

class TranscriptWriter {
 public:
  explicit TranscriptWriter(const std::string& path);  // throws std::system_error
  ~TranscriptWriter();
  TranscriptWriter(const TranscriptWriter&) = delete;
  TranscriptWriter& operator=(const TranscriptWriter&) = delete;

  void line(std::string_view word);
  void line(std::string_view word, std::string_view text);
  void clock(std::string_view message);
  void sent(std::uint64_t index, std::string_view record);
  void acked(std::uint64_t index);
  void flush();

 private:
  std::FILE* file_;
};

}  // namespace devsim
