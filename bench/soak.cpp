// The long run: the real window on Qt's offscreen platform logs to Karo.txt
// in a temporary directory while the device simulator, in this process on a
// pseudo-terminal, answers every poll with a batch of records as fast as the
// terminal takes them. Karo.txt is checked as it grows: every line must be a
// record the device made, stamped, and the record numbers must run on
// without a gap or a repeat. At the end every record the device saw
// acknowledged must be in the file, and the descriptors and threads in use
// must be those from before OPEN.
//
// Usage: bench_soak [--seconds S] [--records-per-poll N] [--progress S]
// Prints name=value lines; progress goes to stderr. Exits with 1 when a
// record was lost, repeated or damaged, or when a descriptor or thread leaked.

#include <dirent.h>
#include <time.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "bench_support.h"
#include "bench_window.h"
#include "device_simulator.h"
#include "sim_record.h"

namespace {

using bench::Clock;
using bench::CpuSeconds;
using bench::Fail;
using bench::Print;
using bench::StatusField;
using Seconds = std::chrono::duration<double>;

constexpr size_t kRecordSize = devsim::DeviceSimulator::kRecordSize;
// The device numbers its records with six digits.
constexpr uint64_t kCounterWrap = 1'000'000;
constexpr auto kCheckPeriod = std::chrono::milliseconds(500);
constexpr auto kFirstRecordTimeout = std::chrono::seconds(10);
// At the end, how long the device may take to finish its last batch.
constexpr auto kQuietTimeout = std::chrono::seconds(10);

long OpenDescriptors() {
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) Fail("cannot list /proc/self/fd");
  long count = 0;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count - 1;  // the listing's own descriptor
}

// Follows Karo.txt as it grows and checks each complete line: the device's
// record (number, clock text and the value that goes with the number),
// " (", a stamp, ")" and CR LF. Remembers which record numbers it has seen.
class LogChecker {
 public:
  explicit LogChecker(const std::string& path) : log_(path) {}

  void Poll() {
    log_.Poll([this](std::string_view line) { Check(line); });
  }

  // Records numbered below `acked` that are not in the file.
  uint64_t MissingBelow(uint64_t acked) const {
    uint64_t missing = 0;
    for (uint64_t i = 0; i < acked; ++i) {
      if (i >= seen_.size() || !seen_[i]) ++missing;
    }
    return missing;
  }

  uint64_t logged() const { return logged_; }
  uint64_t duplicated() const { return duplicated_; }
  uint64_t outOfOrder() const { return outOfOrder_; }
  uint64_t malformed() const { return malformed_; }
  // Bytes after the last line end: a line being written, or a torn one.
  size_t partialBytes() const { return log_.partialBytes(); }

 private:
  void Check(std::string_view line) {
    if (!line.ends_with('\r')) {
      ++malformed_;
      return;
    }
    line.remove_suffix(1);
    const std::string_view record = line.substr(0, kRecordSize);
    uint64_t counter = 0;
    bool numbered = line.size() > kRecordSize + 3 && record[6] == ' ';
    for (size_t i = 0; numbered && i < 6; ++i) {
      numbered = record[i] >= '0' && record[i] <= '9';
      counter = counter * 10 + static_cast<uint64_t>(record[i] - '0');
    }
    if (!numbered || line.substr(kRecordSize, 2) != " (" || line.back() != ')') {
      ++malformed_;
      return;
    }
    const uint64_t index = FullIndex(counter);
    const std::string clock(record.substr(7, 19));
    if (devsim::MakeRecord(index, clock, devsim::RecordContent::kText) != record) {
      ++malformed_;
      return;
    }
    ++logged_;
    if (index >= seen_.size()) seen_.resize(index + 1 + kCounterWrap / 4, false);
    if (seen_[index]) {
      ++duplicated_;
    } else if (logged_ > 1 && index != next_) {
      ++outOfOrder_;
    }
    seen_[index] = true;
    next_ = index + 1;
  }

  // The record number whose six digits are `counter`, nearest to the next
  // one expected.
  uint64_t FullIndex(uint64_t counter) const {
    uint64_t index = next_ - next_ % kCounterWrap + counter;
    if (index + kCounterWrap / 2 < next_) index += kCounterWrap;
    if (index > next_ + kCounterWrap / 2 && index >= kCounterWrap) index -= kCounterWrap;
    return index;
  }

  bench::FollowedLog log_;
  std::vector<bool> seen_;
  uint64_t next_ = 0;
  uint64_t logged_ = 0;
  uint64_t duplicated_ = 0;
  uint64_t outOfOrder_ = 0;
  uint64_t malformed_ = 0;
};

bool RunUntil(const std::function<bool()>& check, Clock::duration timeout) {
  return bench::RunUntil(check, timeout, kCheckPeriod);
}

}  // namespace

int main(int argc, char* argv[]) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QCommandLineParser parser;
  bench::ParseOptions(parser, "The window against the device simulator for a long run.",
                      {{"seconds", "Length of the run (default 3600).", "s", "3600"},
                       {"records-per-poll", "Records in each answer (default 200).", "n", "200"},
                       {"progress", "Seconds between progress lines (default 60).", "s", "60"}});
  const auto runTime = bench::DurationOption(parser, "seconds");
  const int recordsPerPoll = static_cast<int>(bench::PositiveOption(parser, "records-per-poll"));
  const auto progressPeriod = bench::DurationOption(parser, "progress");
  bench::ProgramHooks hooks;

  // The program's own log file name, in the working directory.
  bench::LogFile file;
  if (!QDir::setCurrent(QString::fromStdString(file.dir()))) Fail("no temporary directory");
  LogChecker log(file.path());

  // As fast as the terminal takes the bytes, but still one batch per poll,
  // so that every poll and acknowledgement means what it says.
  devsim::SimOptions simOptions;
  simOptions.recordsPerPoll = recordsPerPoll;
  simOptions.keepRecords = false;
  devsim::DeviceSimulator sim(simOptions);
  sim.start();

  bench::Window window("Karo.txt");
  QCoreApplication::processEvents();
  const long fdsBefore = OpenDescriptors();
  const long threadsBefore = StatusField("Threads");

  window.Open(sim.slavePath());
  const auto start = Clock::now();
  const double cpuStart = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
  const double uiCpuStart = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
  const auto firstRecord = [&] {
    log.Poll();
    return log.logged() > 0;
  };
  if (!RunUntil(firstRecord, kFirstRecordTimeout)) {
    Fail("no record arrived");
  }

  // Records acknowledged before the file is read must all be in it: the
  // window appends a record before it acknowledges it.
  uint64_t lost = 0;
  uint64_t checkedAcked = 0;
  const auto checkLost = [&] {
    const uint64_t acked = sim.state().recordsAcked;
    log.Poll();
    lost = log.MissingBelow(acked);
    checkedAcked = acked;
  };
  auto nextProgress = start + progressPeriod;
  RunUntil(
      [&] {
        const auto now = Clock::now();
        if (now >= nextProgress) {
          nextProgress += progressPeriod;
          checkLost();
          std::fprintf(stderr,
                       "bench_soak: %.0f s: logged %llu, acked %llu, lost %llu, duplicated %llu, "
                       "malformed %llu, rss %ld KiB\n",
                       Seconds(now - start).count(), static_cast<unsigned long long>(log.logged()),
                       static_cast<unsigned long long>(checkedAcked),
                       static_cast<unsigned long long>(lost),
                       static_cast<unsigned long long>(log.duplicated()),
                       static_cast<unsigned long long>(log.malformed()), StatusField("VmRSS"));
        } else {
          log.Poll();
        }
        return now - start >= runTime;
      },
      runTime + std::chrono::minutes(1));

  double wall = 0, cpu = 0, uiCpu = 0;
  const auto closePort = [&] {
    wall = Seconds(Clock::now() - start).count();
    cpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuStart;
    uiCpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - uiCpuStart;
    window.Close();
  };
  // CLOSE between batches, once the device has written its whole answer to
  // every poll, every record it wrote is in the file and the window has
  // acknowledged them all: closing discards
  // what the terminal still holds, and the simulator would count discarded
  // bytes as taken when an acknowledgement is on its way. The click comes in
  // the same step as the look, so no tick can come between them.
  const auto answered = static_cast<size_t>(recordsPerPoll);
  const bool quiet = RunUntil(
      [&] {
        const devsim::SimState s = sim.state();
        log.Poll();
        if (s.recordsSent != s.polls * answered || log.logged() < s.recordsSent ||
            window.AckPending()) {
          return false;
        }
        closePort();
        return true;
      },
      kQuietTimeout);
  if (!quiet) closePort();
  QCoreApplication::processEvents();
  const long fdsLeaked = OpenDescriptors() - fdsBefore;
  const long threadsLeaked = StatusField("Threads") - threadsBefore;

  // The device counts the last acknowledgement once its input has settled.
  sim.waitFor([&](const devsim::SimState& state) { return state.recordsAcked >= log.logged(); },
              std::chrono::seconds(1));
  const devsim::SimState s = sim.state();
  checkLost();
  const uint64_t acked = s.recordsAcked;
  Print("seconds", wall);
  Print("records_per_poll", recordsPerPoll);
  Print("polls", s.polls);
  Print("acks", s.acks);
  Print("records_sent", s.recordsSent);
  // Logged in the last moments, after the device's last acknowledgement.
  Print("records_logged_unacked",
        static_cast<int64_t>(log.logged() - log.duplicated()) - static_cast<int64_t>(acked - lost));
  Print("records_out_of_order", log.outOfOrder());
  Print("partial_line_bytes", log.partialBytes());
  Print("closed_between_batches", quiet ? 1 : 0);
  Print("status_pane_lines", window.StatusLines());
  Print("record_pane_lines", window.RecordLines());
  Print("errors_shown", bench::Window::errors());
  Print("records_per_s", static_cast<double>(log.logged()) / wall);
  Print("ui_thread_cpu_percent", 100 * uiCpu / wall);
  Print("records_logged", log.logged());
  Print("records_acked", acked);
  Print("records_lost", lost);
  Print("records_duplicated", log.duplicated());
  Print("malformed_lines", log.malformed());
  Print("peak_rss_kib", StatusField("VmHWM"));
  Print("rss_kib_end", StatusField("VmRSS"));
  Print("cpu_percent", 100 * cpu / wall);
  Print("fds_leaked", fdsLeaked);
  Print("threads_leaked", threadsLeaked);

  sim.stop();
  const bool sound = lost == 0 && log.duplicated() == 0 && log.malformed() == 0 &&
                     log.outOfOrder() == 0 && fdsLeaked <= 0 && threadsLeaked <= 0;
  return sound ? 0 : 1;
}
