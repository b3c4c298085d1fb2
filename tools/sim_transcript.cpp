#include "sim_transcript.h"

#include <cerrno>
#include <fstream>
#include <map>
#include <sstream>
#include <system_error>

#include "device_simulator.h"

namespace devsim {
namespace {

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (const unsigned char byte : bytes) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}

// Decodes `hex` of exactly `size` bytes; false on anything else (a torn last line).
bool Unhex(const std::string& hex, std::size_t size, std::string& bytes) {
  if (hex.size() != size * 2) return false;
  bytes.assign(size, '\0');
  for (std::size_t i = 0; i < hex.size(); ++i) {
    const char c = hex[i];
    int nibble;
    if (c >= '0' && c <= '9') {
      nibble = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      nibble = c - 'a' + 10;
    } else {
      return false;
    }
    bytes[i / 2] = static_cast<char>(bytes[i / 2] << 4 | nibble);
  }
  return true;
}

}  // namespace

TranscriptWriter::TranscriptWriter(const std::string& path)
    : file_(std::fopen(path.c_str(), "ae")) {
  if (!file_) throw std::system_error(errno, std::generic_category(), "transcript " + path);
}

TranscriptWriter::~TranscriptWriter() { std::fclose(file_); }

void TranscriptWriter::line(std::string_view word) {
  std::fprintf(file_, "%.*s\n", static_cast<int>(word.size()), word.data());
}

void TranscriptWriter::line(std::string_view word, std::string_view text) {
  std::fprintf(file_, "%.*s %.*s\n", static_cast<int>(word.size()), word.data(),
               static_cast<int>(text.size()), text.data());
}

void TranscriptWriter::clock(std::string_view message) { line("CLOCK", Hex(message)); }

void TranscriptWriter::sent(std::uint64_t index, std::string_view record) {
  std::fprintf(file_, "SENT %llu %s\n", static_cast<unsigned long long>(index),
               Hex(record).c_str());
}

void TranscriptWriter::acked(std::uint64_t index) {
  std::fprintf(file_, "ACKED %llu\n", static_cast<unsigned long long>(index));
}

void TranscriptWriter::flush() { std::fflush(file_); }

Transcript ReadTranscript(const std::string& path) {
  Transcript transcript;
  std::map<std::uint64_t, std::string> records;  // by index, since the last START
  std::ifstream in(path, std::ios::binary);
  std::string text;
  while (std::getline(in, text)) {
    std::istringstream fields(text);
    std::string word, hex, bytes;
    std::uint64_t index = 0;
    fields >> word;
    if (word == "START") {
      records.clear();
    } else if (word == "CLOCK" && fields >> hex && Unhex(hex, 14, bytes)) {
      transcript.clockMessages.push_back(bytes);
    } else if (word == "POLL") {
      ++transcript.polls;
    } else if (word == "ACK") {
      ++transcript.acks;
    } else if (word == "SENT" && fields >> index >> hex &&
               Unhex(hex, DeviceSimulator::kRecordSize, bytes)) {
      records[index] = bytes;
      transcript.sent.push_back(bytes);
    } else if (word == "ACKED" && fields >> index && records.count(index)) {
      transcript.acked.push_back(records[index]);
    } else if (word == "HANGUP") {
      transcript.hungUp = true;
    }
  }
  return transcript;
}

}  // namespace devsim
