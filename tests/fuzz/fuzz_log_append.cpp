// The log append on any file contents and any line, against the model below;
// now and then with a file that may not grow enough (the append fails and
// leaves no piece of the line). A missing file is the unit tests' case.
#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "log_reader.h"
#include "protocol/log_file.h"

namespace {

void Check(bool holds) {
  if (!holds) __builtin_trap();
}

// One file in memory-backed /dev/shm where there is one: on a disk each
// run's truncations cost far more than the append.
std::string ScratchPath() {
  static std::string dir = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                           "/fuzz_log_append." + std::to_string(getpid());
  mkdir(dir.c_str(), 0700);
  atexit([] { std::filesystem::remove_all(dir); });
  return dir + "/Karo.txt";
}

// What an append keeps of `contents`, and what goes in front of the line.
std::string KeptPart(const std::string& contents) {
  const size_t tailStart = contents.size() > 128 ? contents.size() - 128 : 0;
  const size_t lineEnd = contents.rfind("\r\n");
  const size_t from = lineEnd == std::string::npos || lineEnd < tailStart ? tailStart : lineEnd + 2;
  const size_t mark = contents.find('\x1a', from);
  return mark == std::string::npos ? contents : contents.substr(0, mark);
}
std::string Separator(const std::string& kept) {
  return kept.empty() || kept.ends_with("\r\n") ? "" : "\r\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = ScratchPath();
  FuzzedDataProvider input(data, size);
  const bool limited = input.ConsumeIntegralInRange(0, 15) == 0;
  // Logged lines with a 26 inside a record in front of the fuzzed bytes, so
  // that short inputs reach files longer than the 128 bytes looked at.
  std::string contents;
  const size_t earlier = input.ConsumeIntegralInRange<size_t>(0, 400);
  while (contents.size() < earlier) contents += "000001 2005-11-02\x1a" "14:05:09 +21.345 (stamp)\r\n";
  contents.resize(earlier);
  contents += input.ConsumeRandomLengthString(1024);
  const size_t limitExtra = input.ConsumeIntegral<uint16_t>();
  const std::string line = input.ConsumeRemainingBytesAsString();
  TUnsyncedLog unsynced;
  std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
  const std::string kept = KeptPart(contents);
  const std::string appended = kept + Separator(kept) + line + "\r\n";
  if (limited) {
    // Room for the kept part and a piece of the rest at most; a write past
    // the limit fails with EFBIG instead of raising SIGXFSZ.
    signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    rlimit limit = previous;
    limit.rlim_cur = kept.size() + limitExtra % (appended.size() - kept.size());
    Check(setrlimit(RLIMIT_FSIZE, &limit) == 0);
    bool failed = false;
    try {
      AppendLogLine(path, line, unsynced);
    } catch (const EInOutError& e) {
      failed = e.ErrorCode() == EFBIG;
    }
    setrlimit(RLIMIT_FSIZE, &previous);
    Check(failed);
    Check(testing_support::FileText(path) == kept);
    return 0;
  }

  AppendLogLine(path, line, unsynced);
  Check(testing_support::FileText(path) == appended);
  return 0;
}
