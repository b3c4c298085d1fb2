#pragma once
// The log file Karo.txt: one line per record, appended and closed per record.

#include <stdexcept>
#include <string>
#include <string_view>

// A failed file operation, with the system's error code and its text.
class EInOutError : public std::runtime_error {
 public:
  explicit EInOutError(int code);
  int ErrorCode() const { return code_; }

 private:
  int code_;
};

// The text that goes with an error code: "File not found", "Invalid
// filename", "Too many open files", "File access denied" or "I/O error N".
std::string InOutErrorText(int code);

// Appends `line` and CR LF to the existing file `fileName`; never creates
// it. An end-of-file mark (byte 26) after the file's last line is replaced.
// When the file then ends in a broken line (a crash cut it short), the new
// line starts with CR LF, so it never continues one; nothing logged is cut.
// Other writers that lock the file the same way are kept out meanwhile;
// readers are not. Throws EInOutError; a failed append leaves the file as it
// was, without a part of the line.
void AppendLogLine(const std::string& fileName, std::string_view line);

// Puts every line appended to `fileName` so far on the disk itself, so that
// a power cut cannot take them. Throws EInOutError.
void SyncLogFile(const std::string& fileName);

// Where an append to a file whose last bytes are `tail` must start, counted
// from the start of `tail`: at the first byte 26 after the tail's last
// CR LF (anywhere in a tail without CR LF), else at its end. A 26 inside a
// logged line is record data and is kept.
size_t AppendPosition(std::string_view tail);
