// Record assembly across any sequence of ticks and receive events, each event
// with any run of bytes: the window's record state is driven the way its
// timer and receive handlers drive it, and every completed record is compared
// with a plain model of the byte stream (records are the consecutive 34-byte
// pieces of what arrived since the last poll).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "udemo/record_assembly.h"

namespace {

// A broken expectation stops the run as a crash, so the input is kept.
void Check(bool holds) {
  if (!holds) __builtin_trap();
}

// The record state of the window and the two handlers' use of it.
struct RecordState {
  TRecord record{};
  int32_t index = 0;
  uint8_t lines = 0;
  bool ackPending = false;

  // Returns true when the tick polls ("?"), false when it acknowledges ("*").
  bool Tick() {
    if (ackPending) {
      ackPending = false;
      return false;
    }
    index = 1;
    return true;
  }
};

// What the device stream should give: the bytes since the last poll, cut into
// 34-byte records. The very first byte of the window's life, when it comes
// before any poll, is lost.
struct Model {
  bool beforeFirstPoll = true;
  std::string sincePoll;
  size_t recordsTaken = 0;  // records of sincePoll already completed
  size_t recordLines = 0;   // record lines ever added
  bool ackPending = false;

  void Poll() {
    beforeFirstPoll = false;
    sincePoll.clear();
    recordsTaken = 0;
  }
  // The record this byte completes, or empty.
  std::string Receive(uint8_t byte) {
    if (beforeFirstPoll) {
      beforeFirstPoll = false;
      return {};
    }
    sincePoll += static_cast<char>(byte);
    if (sincePoll.size() < (recordsTaken + 1) * kRecordLength) return {};
    return sincePoll.substr(recordsTaken++ * kRecordLength, kRecordLength);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string date = input.ConsumeRandomLengthString(12);
  const std::string time = input.ConsumeRandomLengthString(12);
  RecordState state;
  Model model;

  while (input.remaining_bytes() > 0) {
    if (input.ConsumeIntegralInRange(0, 3) == 0) {
      const bool polled = state.Tick();
      Check(polled == !model.ackPending);
      if (polled) model.Poll();
      model.ackPending = false;
      continue;
    }
    // One receive event. Now and then the log append of one of its records
    // fails: that record is shown but not acknowledged, and the rest of the
    // event's bytes are dropped.
    const size_t length = input.ConsumeIntegralInRange<size_t>(0, 3 * kRecordLength + 1);
    const int failingRecord = input.ConsumeIntegralInRange(-4, 3);
    const std::vector<uint8_t> bytes = input.ConsumeBytes<uint8_t>(length);
    int completed = 0;
    for (uint8_t byte : bytes) {
      const std::string expected = model.Receive(byte);
      const bool complete = StoreRecordByte(state.record, state.index, byte);
      Check(state.index >= 1 && state.index <= kRecordLength + 1);
      Check(complete == !expected.empty());
      if (!complete) continue;

      const std::string line = RecordLine(state.record, date, time);
      Check(line == expected + " (" + date + " " + time + ")");
      const bool emptied = CountRecordLine(state.lines);
      ++model.recordLines;
      Check(emptied == (model.recordLines % kRecordLinesPerPane == 0));
      Check(state.lines == model.recordLines % kRecordLinesPerPane);
      Check(state.lines < kRecordLinesPerPane);
      state.index = 1;
      if (completed++ == failingRecord) break;
      state.ackPending = true;
      model.ackPending = true;
    }
    Check(state.index >= 0 && state.index <= kRecordLength);
    Check(state.ackPending == model.ackPending);
  }
  return 0;
}
