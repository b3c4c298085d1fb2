// karolx-sim: the measuring device on a pseudo-terminal, for the window to talk
// to on a machine without the device.
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string_view>

#include "device_simulator.h"

namespace {

constexpr char kUsage[] = R"(Usage: karolx-sim [options]
Plays the measuring device on a pseudo-terminal and prints the terminal's path
on the first line. Runs until interrupted or until it hangs up.

  --link PATH            make PATH a symlink to the terminal
  --chunk N              write answers in pieces of N bytes
  --random-chunks        pieces of random size (1..N, or 1..34 without --chunk)
  --records-per-poll N   answer each "?" with N records
  --special-bytes        put the bytes 0, 13 and 26 into every record
  --all-bytes            records carry every byte value 0..255 in turn
  --pace                 send no faster than the terminal's current line rate
  --answer-delay MS      start each answer MS milliseconds after its poll
  --hangup-after N       hang up after N records
  --stream               from the first "?" on, send records back to back
  --garbage              stray bytes after one answer in two
  --transcript PATH      append every event to PATH
  -h, --help             show this text
  -V, --version          show the version

Exit status: 0 when interrupted or hung up, 1 when the terminal cannot be
made, 2 for bad usage.
)";

bool ParseCount(const char* text, std::size_t& value) {
  if (!text || *text < '0' || *text > '9') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long parsed = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0') return false;
  value = static_cast<std::size_t>(parsed);
  return true;
}

// Fills `options` from the command line; false with a message on a bad argument.
bool ParseArguments(int argc, char** argv, devsim::SimOptions& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    std::size_t count = 0;
    bool usedValue = true;
    bool ok = true;
    if (arg == "--link" || arg == "--transcript") {
      ok = value != nullptr;
      (arg == "--link" ? options.linkPath : options.transcriptPath) = value ? value : "";
    } else if (arg == "--chunk") {
      ok = ParseCount(value, options.chunkSize);
    } else if (arg == "--hangup-after") {
      ok = ParseCount(value, options.hangupAfter);
    } else if (arg == "--answer-delay") {
      ok = ParseCount(value, count) && count <= 60000;
      options.answerDelay = std::chrono::milliseconds(count);
    } else if (arg == "--records-per-poll") {
      ok = ParseCount(value, count) && count >= 1 && count <= 1000;
      options.recordsPerPoll = static_cast<int>(count);
    } else {
      usedValue = false;
      if (arg == "--random-chunks") {
        options.randomChunks = true;
      } else if (arg == "--special-bytes") {
        options.specialBytes = true;
      } else if (arg == "--all-bytes") {
        options.allByteValues = true;
      } else if (arg == "--pace") {
        options.pace = true;
      } else if (arg == "--stream") {
        options.stream = true;
      } else if (arg == "--garbage") {
        options.garbage = true;
      } else {
        ok = false;
      }
    }
    if (!ok) {
      std::fprintf(stderr,
                   "karolx-sim: %s '%s'\nTry 'karolx-sim --help' for more information.\n",
                   usedValue ? "bad or missing value for" : "unknown option", argv[i]);
      return false;
    }
    if (usedValue) ++i;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "-V" || arg == "--version") {
      std::printf("karolx-sim %s\n", KAROLX_VERSION);
      return 0;
    }
  }
  devsim::SimOptions options;
  options.keepRecords = false;  // the transcript is the record of a long run
  if (!ParseArguments(argc, argv, options)) return 2;

  // Blocked before the device thread starts, so only sigtimedwait below takes them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  devsim::DeviceSimulator device(options);
  try {
    device.start();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "karolx-sim: %s\n", error.what());
    return 1;
  }
  std::printf("%s\n", device.slavePath().c_str());
  std::fflush(stdout);

  const timespec tick{0, 100'000'000};
  const auto hungUp = [](const devsim::SimState& state) { return state.hungUp; };
  while (!device.waitFor(hungUp, std::chrono::milliseconds(0))) {
    if (sigtimedwait(&stopSignals, nullptr, &tick) > 0) break;
  }
  device.stop();
  const devsim::SimState state = device.state();
  std::fprintf(
      stderr, "karolx-sim: %zu polls, %zu acknowledgements, %zu records sent, %zu acknowledged%s\n",
      state.polls, state.acks, state.recordsSent, state.recordsAcked,
      state.hungUp ? ", hung up" : "");
  return 0;
}
