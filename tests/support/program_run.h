#pragma once
// Runs one of the programs as a lab does: in its own working directory, its
// standard output and error to files, with `env` (NAME=value) added to the
// environment it inherits.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "log_reader.h"
#include "process_cpu.h"

namespace testing_support {

class ProgramRun {
 public:
  ProgramRun(std::vector<std::string> argv, const std::string& dir,
             std::vector<std::string> env = {})
      : out_(dir + "/out.txt"), err_(dir + "/err.txt") {
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    if ((pid_ = fork()) == 0) {
      const int out = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      for (auto& e : env) putenv(e.data());
      if (chdir(dir.c_str()) == 0 && dup2(out, 1) == 1 && dup2(err, 2) == 2) execv(args[0], args.data());
      _exit(127);
    }
  }
  ~ProgramRun() { Stop(SIGKILL); }
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;
  // Sends `signal` (0: none) and returns the wait status. A program still
  // running after 15 s is killed: a stop it ignores fails the test, not hangs it.
  int Stop(int signal) {
    int status = -1;
    if (pid_ > 0 && (signal == 0 || kill(pid_, signal) == 0)) {
      pid_t ended = 0;
      for (int i = 0; i < 1500 && (ended = waitpid(pid_, &status, WNOHANG)) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      if (ended == 0 && kill(pid_, SIGKILL) == 0) waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    return status;
  }
  // User and system CPU seconds the program has used so far.
  double CpuSeconds() const { return ProcessCpuSeconds(pid_); }
  std::string Output() const { return FileText(out_); }
  std::string Errors() const { return FileText(err_); }

 private:
  std::string out_, err_;
  pid_t pid_ = -1;
};

}  // namespace testing_support
