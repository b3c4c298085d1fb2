#pragma once
// Child processes of the benchmarks: a program run beside the one measured,
// and a log file followed as it grows.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "bench_support.h"

namespace bench {

// Follows a growing log file: each Poll reads what was appended since the
// last one and counts the complete lines.
class LogReader {
 public:
  explicit LogReader(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (fd_ < 0) Fail("cannot read " + path);
  }
  ~LogReader() { close(fd_); }
  LogReader(const LogReader&) = delete;
  LogReader& operator=(const LogReader&) = delete;

  // Returns the number of complete lines so far; `line` sees each new one
  // without its CR LF.
  size_t Poll(const std::function<void(std::string_view)>& line = {}) {
    char buffer[65536];
    ssize_t got;
    while ((got = read(fd_, buffer, sizeof buffer)) > 0) {
      pending_.append(buffer, static_cast<size_t>(got));
      size_t start = 0;
      for (size_t end; (end = pending_.find('\n', start)) != std::string::npos; start = end + 1) {
        ++lines_;
        if (line) line(std::string_view(pending_).substr(start, end - start));
      }
      pending_.erase(0, start);
    }
    return lines_;
  }

 private:
  int fd_;
  std::string pending_;
  size_t lines_ = 0;
};

// A program as a child process, stopped with SIGTERM when this object goes.
// The simulator prints its terminal's path first: with `firstLine`, that
// line is waited for and kept.
class SimProcess {
 public:
  SimProcess(const std::string& program, const std::vector<std::string>& options,
             bool firstLine = true) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) Fail("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::vector<std::string> args{program};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int spawned =
        posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    output_ = out[0];
    if (spawned != 0) Fail("cannot start " + program);

    if (!firstLine) return;
    pollfd p{output_, POLLIN, 0};
    char c;
    while (poll(&p, 1, 5000) == 1 && read(output_, &c, 1) == 1 && c != '\n') path_ += c;
    if (path_.empty()) Fail(program + " printed no terminal path");
  }
  ~SimProcess() {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    close(output_);
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  const std::string& path() const { return path_; }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  std::string path_;
};

}  // namespace bench
