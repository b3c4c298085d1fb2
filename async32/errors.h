#pragma once
// What the error codes of the port operations mean. Each backend has its own
// codes (errno values, system error codes); it sorts them into kinds once,
// and callers decide by kind.

#include <string>

namespace async32 {

enum class ErrorKind {
  kNone,            // 0: no error
  kNotFound,        // no device of that name
  kDenied,          // not the user's to open
  kBusy,            // held by another program
  kGone,            // it went away while open (unplugged, hung up)
  kRefusedSetting,  // it opened, but takes no such setting
  kOther,
};

ErrorKind ClassifyError(int code);

// The system's words for `code` ("Permission denied").
std::string ErrorText(int code);

// The code for an operation on a port that is not open.
int NotOpenError();

}  // namespace async32
