#include "device_simulator.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <deque>
#include <optional>
#include <random>
#include <system_error>
#include <utility>

#include "line_rate.h"
#include "sim_record.h"
#include "sim_transcript.h"

namespace devsim {
namespace {

using Clock = std::chrono::steady_clock;

// The input queue holds 4 KiB; what does not fit waits in the kernel unseen by
// FIONREAD. The device keeps less than that queued, as a serial line would, and
// counts bytes younger than kFlowWindow as queued; when full it looks again
// after kFlowRetry.
constexpr std::size_t kMaxQueued = 3000;
constexpr auto kFlowWindow = std::chrono::milliseconds(5);
constexpr auto kFlowRetry = std::chrono::milliseconds(1);
// A paced line keeps its schedule across delays this short (a late wake-up),
// so its average is the line rate.
constexpr auto kPaceSlack = std::chrono::milliseconds(3);
constexpr std::size_t kClockMessageSize = 14;
constexpr std::size_t kMaxGarbage = DeviceSimulator::kRecordSize - 1;

std::system_error Error(const std::string& what) {
  return std::system_error(errno, std::generic_category(), what);
}

// Points `link` at `target`, replacing an existing link in one step.
void MakeLink(const std::string& target, const std::string& link) {
  static std::atomic<unsigned> serial{0};
  const std::string temp =
      link + ".new." + std::to_string(getpid()) + "." + std::to_string(serial++);
  unlink(temp.c_str());
  if (symlink(target.c_str(), temp.c_str()) != 0) throw Error("symlink " + temp);
  if (rename(temp.c_str(), link.c_str()) != 0) {
    const auto error = Error("rename to " + link);
    unlink(temp.c_str());
    throw error;
  }
}

void Close(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// A record on its way out; `end` is its last byte's offset in the output, plus one.
struct Record {
  std::uint64_t index;
  std::string bytes;
  std::uint64_t end = 0;
};

}  // namespace

class DeviceSimulator::Device {
 public:
  explicit Device(DeviceSimulator& sim) : sim_(sim), options_(sim.options_) {}
  void run();

 private:
  void handleInput(unsigned char byte);
  void handleClockMessage();
  void handlePoll();
  void handleAck();
  Record newRecord();
  void queue(Record record);
  void queueGarbage();
  std::size_t nextChunkSize();
  bool terminalFull(Clock::time_point now);
  void writeChunk(std::size_t size);
  void recordWritten(Record record);
  void hangUp();
  void note(std::string_view word) {
    if (sim_.transcript_) sim_.transcript_->line(word);
  }

  DeviceSimulator& sim_;
  const SimOptions& options_;
  DeviceClock clock_;
  std::string clockMessage_;  // a clock message being received
  std::string out_;           // bytes still to write, from outPos_ on
  std::size_t outPos_ = 0;
  std::deque<Record> inOut_;   // the records in out_, in order
  std::vector<Record> batch_;  // the answer to "?", repeated until "*" comes
  bool batchAcked_ = true;
  std::vector<Record> unacked_;  // written and not yet acknowledged, by index
  std::uint64_t nextIndex_ = 0;
  std::uint64_t written_ = 0;  // bytes written since start
  std::size_t recordsWritten_ = 0;
  bool streaming_ = false;
  bool done_ = false;
  Clock::time_point nextWriteAt_{};
  std::deque<std::pair<Clock::time_point, std::size_t>> recentWrites_;  // within kFlowWindow
  std::size_t chunk_ = 0;  // size of the next write, once drawn
  std::minstd_rand random_{20051102};
};

void DeviceSimulator::Device::run() {
  while (!done_) {
    const auto now = Clock::now();
    const bool outWaiting = outPos_ < out_.size();
    std::optional<Clock::time_point> wake;
    short events = 0;
    // Like the real device, it takes the next command once its answer is out.
    if (options_.stream || !outWaiting) events |= POLLIN;
    if (outWaiting && nextWriteAt_ > now) {
      wake = nextWriteAt_;  // the line's pace, or an answer that starts late
    } else if (outWaiting && terminalFull(now)) {
      wake = now + kFlowRetry;
    } else if (outWaiting) {
      events |= POLLOUT;
    }
    pollfd fds[2] = {{sim_.master_, events, 0}, {sim_.stopEvent_, POLLIN, 0}};
    timespec timeout{};
    if (wake) {
      const auto wait = std::chrono::nanoseconds(std::max(*wake - now, Clock::duration::zero()));
      timeout.tv_sec = static_cast<time_t>(wait.count() / 1'000'000'000);
      timeout.tv_nsec = static_cast<long>(wait.count() % 1'000'000'000);
    }
    if (ppoll(fds, 2, wake ? &timeout : nullptr, nullptr) < 0 && errno != EINTR) break;
    if (fds[1].revents) break;

    const short got = fds[0].revents;
    if (got & POLLIN) {
      unsigned char byte;
      if (read(sim_.master_, &byte, 1) == 1) handleInput(byte);
    } else if (got & (POLLHUP | POLLERR | POLLNVAL)) {
      hangUp();  // the terminal went away under the device
    }
    if (!done_ && (got & POLLOUT)) writeChunk(nextChunkSize());
    if (!done_ && streaming_ && outPos_ == out_.size()) queue(newRecord());
    if (sim_.transcript_) sim_.transcript_->flush();
  }
}

void DeviceSimulator::Device::handleInput(unsigned char byte) {
  // The 12 bytes of a clock message may be anything the program's regional
  // texts hold, "?" and "*" included: they are taken by count.
  if (!clockMessage_.empty()) {
    clockMessage_ += static_cast<char>(byte);
    if (clockMessage_.size() == kClockMessageSize) handleClockMessage();
    return;
  }
  if (byte == '(') clockMessage_ = "(";
  if (byte == '?') handlePoll();
  if (byte == '*') handleAck();
}

void DeviceSimulator::Device::handleClockMessage() {
  const std::string message = std::exchange(clockMessage_, {});
  if (message.back() != ')') return;
  const bool valid = clock_.set(std::string_view(message).substr(1, 12));
  const std::string setTo = valid ? clock_.text() : std::string();
  if (sim_.transcript_) sim_.transcript_->clock(message);
  sim_.update([&](SimState& state) {
    state.clockMessages.push_back(message);
    if (valid) state.clockSetTo = setTo;
  });
}

void DeviceSimulator::Device::handlePoll() {
  note("POLL");
  sim_.update([](SimState& state) { ++state.polls; });
  if (options_.stream) {
    streaming_ = true;
    return;
  }
  if (options_.answerDelay.count() > 0 && out_.empty()) {
    nextWriteAt_ = std::max(nextWriteAt_, Clock::now() + options_.answerDelay);
  }
  if (batchAcked_) {
    batch_.clear();
    for (int i = 0; i < std::max(1, options_.recordsPerPoll); ++i) batch_.push_back(newRecord());
    batchAcked_ = false;
  }
  for (const Record& record : batch_) queue(record);
  if (options_.garbage && random_() % 2 == 0) queueGarbage();
}

// "*" acknowledges every record written since the last "*", whether or not
// the program has taken it from the line yet: the device cannot tell.
void DeviceSimulator::Device::handleAck() {
  note("ACK");
  batchAcked_ = true;
  std::vector<Record> acked = std::exchange(unacked_, {});
  if (sim_.transcript_) {
    for (const Record& record : acked) sim_.transcript_->acked(record.index);
  }
  sim_.update([&](SimState& state) {
    ++state.acks;
    state.recordsAcked += acked.size();
    if (!options_.keepRecords) return;
    for (Record& record : acked) state.acked.push_back(std::move(record.bytes));
  });
}

Record DeviceSimulator::Device::newRecord() {
  const RecordContent content = options_.allByteValues  ? RecordContent::kAllByteValues
                                : options_.specialBytes ? RecordContent::kSpecialBytes
                                                        : RecordContent::kText;
  const std::uint64_t index = nextIndex_++;
  return Record{index, MakeRecord(index, clock_.text(), content)};
}

void DeviceSimulator::Device::queue(Record record) {
  out_ += record.bytes;
  record.end = written_ + (out_.size() - outPos_);
  inOut_.push_back(std::move(record));
}

void DeviceSimulator::Device::queueGarbage() {
  const std::size_t count = 1 + random_() % kMaxGarbage;
  for (std::size_t i = 0; i < count; ++i) out_ += static_cast<char>(random_() % 256);
}

// The size of the next write, drawn once and kept until it is written.
std::size_t DeviceSimulator::Device::nextChunkSize() {
  const std::size_t left = out_.size() - outPos_;
  if (chunk_ == 0) {
    const std::size_t limit =
        options_.chunkSize ? options_.chunkSize : (options_.randomChunks ? kRecordSize : left);
    chunk_ = options_.randomChunks ? 1 + random_() % limit : limit;
  }
  return std::min({chunk_, left, kMaxQueued});
}

bool DeviceSimulator::Device::terminalFull(Clock::time_point now) {
  while (!recentWrites_.empty() && recentWrites_.front().first + kFlowWindow < now) {
    recentWrites_.pop_front();
  }
  int queued = 0;
  if (ioctl(sim_.heldSlave_, FIONREAD, &queued) != 0) queued = 0;
  std::size_t waiting = static_cast<std::size_t>(queued);
  for (const auto& write : recentWrites_) waiting += write.second;
  return waiting + nextChunkSize() > kMaxQueued;
}

void DeviceSimulator::Device::writeChunk(std::size_t size) {
  const ssize_t count = write(sim_.master_, out_.data() + outPos_, size);
  if (count < 0) {
    if (errno != EAGAIN && errno != EINTR) hangUp();
    return;
  }
  const auto now = Clock::now();
  const auto bytes = static_cast<std::size_t>(count);
  chunk_ = bytes < chunk_ ? chunk_ - bytes : 0;
  outPos_ += bytes;
  written_ += bytes;
  recentWrites_.emplace_back(now, bytes);
  if (const unsigned rate = options_.pace ? LineRate(sim_.master_) : 0) {
    // Ten bits per byte (start, eight data, stop); after a longer pause the
    // schedule starts anew.
    const auto lineTime = std::chrono::nanoseconds(bytes * 10 * 1'000'000'000ull / rate);
    nextWriteAt_ = (nextWriteAt_ + kPaceSlack < now ? now : nextWriteAt_) + lineTime;
  }
  while (!done_ && !inOut_.empty() && inOut_.front().end <= written_) {
    Record record = std::move(inOut_.front());
    inOut_.pop_front();
    recordWritten(std::move(record));
  }
  if (outPos_ == out_.size()) {
    out_.clear();
    outPos_ = 0;
  }
}

void DeviceSimulator::Device::recordWritten(Record record) {
  ++recordsWritten_;
  if (sim_.transcript_) sim_.transcript_->sent(record.index, record.bytes);
  sim_.update([&](SimState& state) {
    ++state.recordsSent;
    if (options_.keepRecords) state.sent.push_back(record.bytes);
  });
  // A repeated record keeps its place among the unacknowledged ones. A
  // stream never repeats one, and is never acknowledged while it flows: its
  // list grows long, and is not searched.
  auto it = options_.stream ? unacked_.rend()
                            : std::find_if(unacked_.rbegin(), unacked_.rend(),
                                           [&](const Record& old) { return old.index == record.index; });
  if (it != unacked_.rend()) {
    it->end = record.end;
  } else {
    unacked_.push_back(std::move(record));
  }
  if (options_.hangupAfter && recordsWritten_ >= options_.hangupAfter) hangUp();
}

void DeviceSimulator::Device::hangUp() {
  sim_.removeLink();  // while the terminal is still ours, so its name cannot be reused yet
  Close(sim_.heldSlave_);
  Close(sim_.master_);  // the program's side of the terminal now sees a hang-up
  done_ = true;
  note("HANGUP");
  sim_.update([](SimState& state) { state.hungUp = true; });
}

template <typename Change>
void DeviceSimulator::update(Change change) {
  {
    std::lock_guard lock(mutex_);
    change(state_);
  }
  changed_.notify_all();
}

DeviceSimulator::DeviceSimulator(SimOptions options) : options_(std::move(options)) {}

DeviceSimulator::~DeviceSimulator() { stop(); }

void DeviceSimulator::start() {
  if (thread_.joinable()) return;
  try {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) throw Error("posix_openpt");
    char name[PATH_MAX];
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name, sizeof name) != 0) {
      throw Error("pseudo-terminal");
    }
    slavePath_ = name;
    // Settings made through the master are the slave's: it starts raw, so nothing
    // the device sends is echoed or translated before the program sets its own.
    termios raw{};
    if (tcgetattr(master_, &raw) == 0) {
      cfmakeraw(&raw);
      raw.c_cflag |= CLOCAL | CREAD;
      tcsetattr(master_, TCSANOW, &raw);
    }
    if (fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK) != 0) throw Error("fcntl");
    heldSlave_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (heldSlave_ < 0) throw Error(slavePath_);
    stopEvent_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopEvent_ < 0) throw Error("eventfd");
    if (!options_.transcriptPath.empty()) {
      transcript_ = std::make_unique<TranscriptWriter>(options_.transcriptPath);
      transcript_->line("START", slavePath_);
      transcript_->flush();
    }
    if (!options_.linkPath.empty()) MakeLink(slavePath_, options_.linkPath);
    thread_ = std::thread([this] { Device(*this).run(); });
  } catch (...) {
    closeAll();
    throw;
  }
}

void DeviceSimulator::stop() {
  if (thread_.joinable()) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t signalled = write(stopEvent_, &one, sizeof one);
    thread_.join();
  }
  if (master_ >= 0) removeLink();
  closeAll();
}

void DeviceSimulator::closeAll() {
  Close(heldSlave_);
  Close(master_);
  Close(stopEvent_);
  transcript_.reset();
}

void DeviceSimulator::removeLink() {
  if (options_.linkPath.empty()) return;
  char target[PATH_MAX];
  const ssize_t size = readlink(options_.linkPath.c_str(), target, sizeof target);
  if (size >= 0 && std::string_view(target, static_cast<std::size_t>(size)) == slavePath_) {
    unlink(options_.linkPath.c_str());
  }
}

SimState DeviceSimulator::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

bool DeviceSimulator::waitFor(const std::function<bool(const SimState&)>& condition,
                              std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return condition(state_); });
}

}  // namespace devsim
