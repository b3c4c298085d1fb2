#include "protocol/comm_error_lines.h"

#include <initializer_list>

#include "async32/comm_codes.h"
#include "async32/comm_records.h"

namespace {

struct ErrorLines {
  uint32_t flag;
  std::initializer_list<std::string_view> lines;
};

const ErrorLines kErrorLines[] = {
    {async32::CE_BREAK, {"The hardware detected a break condition."}},
    {async32::CE_DNS, {"Windows 95 only: A parallel device is not selected."}},
    {async32::CE_FRAME, {"The hardware detected a framing error."}},
    {async32::CE_IOE, {"An I/O error occurred during communications with the device."}},
    {async32::CE_MODE,
     {"The requested mode is not supported, or the hFile parameter",
      "is invalid. If this value is specified, it is the only valid error."}},
    {async32::CE_OOP, {"Windows 95 only: A parallel device signaled that it is out of paper."}},
    {async32::CE_OVERRUN, {"A character-buffer overrun has occurred. The next character is lost."}},
    {async32::CE_PTO, {"Windows 95 only: A time-out occurred on a parallel device."}},
    {async32::CE_RXOVER,
     {"An input buffer overflow has occurred. There is either no",
      "room in the input buffer, or a character was received after",
      "the end-of-file (EOF) character."}},
    {async32::CE_RXPARITY, {"The hardware detected a parity error."}},
    {async32::CE_TXFULL,
     {"The application tried to transmit a character, but the output", "buffer was full."}},
};

}  // namespace

std::vector<std::string_view> CommErrorLines(int32_t errors) {
  std::vector<std::string_view> lines;
  for (const ErrorLines& e : kErrorLines) {
    if (static_cast<uint32_t>(errors) & e.flag) lines.insert(lines.end(), e.lines);
  }
  return lines;
}
