#include "async32/errors.h"

#include <windows.h>

namespace async32 {

ErrorKind ClassifyError(int code) {
  switch (static_cast<DWORD>(code)) {
    case ERROR_SUCCESS: return ErrorKind::kNone;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH: return ErrorKind::kNotFound;
    // A serial port is never shared: another program holds it.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY: return ErrorKind::kBusy;
    case ERROR_OPERATION_ABORTED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED: return ErrorKind::kGone;
    case ERROR_INVALID_PARAMETER: return ErrorKind::kRefusedSetting;
    default: return ErrorKind::kOther;
  }
}

// The system's words, without the line end it puts after them.
std::string ErrorText(int code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string words = length > 0 ? std::string(text, length) : "Error " + std::to_string(code);
  LocalFree(text);
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ' ||
                            words.back() == '.')) {
    words.pop_back();
  }
  return words;
}

int NotOpenError() { return ERROR_INVALID_HANDLE; }

}  // namespace async32
