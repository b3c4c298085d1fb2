// A measuring device played on a Linux pseudo-terminal: it takes the clock
// message, answers each "?" with 34-byte records and moves on to the next
// record only after "*". Used by the karolx-sim program, tests and benchmarks.
//
// A "*" acknowledges every record written since the previous "*", as the
// real device takes it: records still on the line are forgotten too. Like a
// serial line, the device never has more than about 3000 bytes waiting in the
// terminal: a large answer goes out as fast as the program takes it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace devsim {

struct SimOptions {
  std::string linkPath;         // symlink made to point at the terminal; empty: none
  std::size_t chunkSize = 0;    // bytes per write; 0: a whole answer in one write
  bool randomChunks = false;    // chunk sizes drawn from 1..chunkSize (1..34 when 0)
  int recordsPerPoll = 1;       // records in one answer to "?"
  bool specialBytes = false;    // bytes 0, 13 and 26 inside every record
  bool allByteValues = false;   // records carry every byte value 0..255 in turn
  bool pace = false;            // send no faster than the terminal's current line rate
  std::chrono::milliseconds answerDelay{0};  // an answer starts this long after its "?"
  std::size_t hangupAfter = 0;  // hang up after this many records written; 0: never
  bool stream = false;          // from the first "?" on, records back to back without polls
  bool garbage = false;         // 1..33 stray bytes after one answer in two (not in stream mode)
  bool keepRecords = true;      // keep record bytes in SimState (off for long runs)
  std::string transcriptPath;   // append one line per event; empty: none
};

// What the device has seen and done so far.
struct SimState {
  std::vector<std::string> clockMessages;  // each clock message as received, 14 bytes
  std::string clockSetTo;                  // "YYYY-MM-DD hh:mm:ss" of the last valid one
  std::size_t polls = 0;                   // "?" received
  std::size_t acks = 0;                    // "*" received
  std::size_t recordsSent = 0;             // record writes, repeats included
  std::size_t recordsAcked = 0;
  std::vector<std::string> sent;   // every record written, in order (with keepRecords)
  std::vector<std::string> acked;  // each record acknowledged, once, in order (with keepRecords)
  bool hungUp = false;             // the device has gone away
};

// A transcript file read back: the records as the device saw them.
struct Transcript {
  std::vector<std::string> clockMessages;
  std::vector<std::string> sent;
  std::vector<std::string> acked;
  std::size_t polls = 0;
  std::size_t acks = 0;
  bool hungUp = false;
};
Transcript ReadTranscript(const std::string& path);

class TranscriptWriter;

class DeviceSimulator {
 public:
  static constexpr std::size_t kRecordSize = 34;

  explicit DeviceSimulator(SimOptions options = {});
  ~DeviceSimulator();
  DeviceSimulator(const DeviceSimulator&) = delete;
  DeviceSimulator& operator=(const DeviceSimulator&) = delete;

  // Opens the terminal pair and starts the device thread; throws std::system_error.
  void start();
  // Stops the device thread and closes the terminal; the link is removed while
  // it still points at this terminal. Safe to call twice.
  void stop();

  const std::string& slavePath() const { return slavePath_; }
  SimState state() const;
  // Waits until `condition` holds or `timeout` passes; returns whether it holds.
  bool waitFor(const std::function<bool(const SimState&)>& condition,
               std::chrono::milliseconds timeout) const;

 private:
  class Device;  // the device thread's own state and protocol
  void run();
  void closeAll();
  void removeLink();
  template <typename Change>
  void update(Change change);

  SimOptions options_;
  std::string slavePath_;
  int master_ = -1;
  int heldSlave_ = -1;  // keeps the terminal alive while the program closes and reopens it
  int stopEvent_ = -1;
  std::unique_ptr<TranscriptWriter> transcript_;
  std::thread thread_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  SimState state_;
};

}  // namespace devsim
