// Record assembly across any sequence of ticks and receive events, driven the
// way the window's timer and receive handlers drive it, against a plain model:
// records are the consecutive 34-byte pieces of what arrived since the last
// poll, and the very first byte, when it comes before any poll, is lost.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/record_assembly.h"

// A broken expectation stops the run as a crash, so the input is kept.
static void Check(bool holds) {
  if (!holds) __builtin_trap();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  TRecord record{};
  int32_t index = 0;
  uint8_t lines = 0;
  size_t linesEver = 0;
  bool polled = false;
  std::string sincePoll;
  size_t taken = 0;  // records of sincePoll already completed

  while (input.remaining_bytes() > 0) {
    if (input.ConsumeIntegralInRange(0, 3) == 0) {  // a tick that polls
      index = 1;
      polled = true;
      sincePoll.clear();
      taken = 0;
      continue;
    }
    const auto bytes = input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange(0, 103));
    for (uint8_t byte : bytes) {
      const bool complete = StoreRecordByte(record, index, byte);
      Check(index >= 1 && index <= kRecordLength + 1);
      if (!polled) {
        polled = true;  // the first byte of the window's life
        Check(!complete);
        continue;
      }
      sincePoll += static_cast<char>(byte);
      const bool expected = sincePoll.size() == (taken + 1) * kRecordLength;
      Check(complete == expected);
      if (!complete) continue;
      const std::string line = RecordLine(record, "d", "t");
      Check(line == sincePoll.substr(taken++ * kRecordLength, kRecordLength) + " (d t)");
      Check(CountRecordLine(lines) == (++linesEver % kRecordLinesPerPane == 0));
      Check(lines == linesEver % kRecordLinesPerPane);
      index = 1;
    }
  }
  return 0;
}
