#pragma once
// The log file Karo.txt: one line per record, appended and closed per record.
// The rules are the same everywhere: where the next line goes, a new line
// never continues a broken one, no part of a failed line stays, and what a
// "*" acknowledges is synced first. The file itself is the platform's
// (log_file_handle.h).

#include <string>
#include <string_view>
#include <vector>

#include "protocol/log_file_handle.h"

// The files lines were appended to since the last sync, held open until it:
// a sync by name would miss a log that was renamed away (rotated) meanwhile.
class TUnsyncedLog {
 public:
  TUnsyncedLog() = default;
  TUnsyncedLog(const TUnsyncedLog&) = delete;
  TUnsyncedLog& operator=(const TUnsyncedLog&) = delete;

  // Puts every line appended since the last sync on the disk itself, so that
  // a power cut cannot take them, and lets the files go. Throws EInOutError.
  void Sync();
  // Whether the file `id` is held.
  bool Holds(const TLogFileHandle::Id& id) const;
  // Takes over `file`, a file of the log that is not held yet.
  void Keep(TLogFileHandle file, const TLogFileHandle::Id& id);

 private:
  struct Held {
    TLogFileHandle file;
    TLogFileHandle::Id id;
  };
  std::vector<Held> files_;
};

// Appends `line` and CR LF to the file `fileName`, which must exist unless
// `create` is set; returns whether it was made. An end-of-file mark (byte 26)
// after the file's last line is replaced. When the file then ends in a broken
// line (a crash cut it short), the new line starts with CR LF, so it never
// continues one; nothing logged is cut. Other writers that lock the file the
// same way are kept out meanwhile; readers are not. The file is held in
// `unsynced` for the next sync. Throws EInOutError; a failed append leaves the
// file as it was, without a part of the line.
bool AppendLogLine(const std::string& fileName, std::string_view line, TUnsyncedLog& unsynced,
                   bool create = false);

// A log error in words for the command line: the file, the system's reason
// and the code's text ("/data/Karo.txt: No space left on device (I/O error 28)").
std::string LogErrorDetail(const std::string& fileName, const EInOutError& error);

// Where an append to a file whose last bytes are `tail` must start, counted
// from the start of `tail`: at the first byte 26 after the tail's last
// CR LF (anywhere in a tail without CR LF), else at its end. A 26 inside a
// logged line is record data and is kept.
size_t AppendPosition(std::string_view tail);
