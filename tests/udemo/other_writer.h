#pragma once
// Another program that writes the log file: it holds the same kind of write
// lock the window takes, for as long as this object lives.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace testing_support {

class OtherWriter {
 public:
  explicit OtherWriter(const std::string& path) {
    int ready[2];
    if (pipe(ready) != 0) return;
    child_ = fork();
    if (child_ == 0) {
      const int fd = open(path.c_str(), O_RDWR);
      struct flock lock {};
      lock.l_type = F_WRLCK;
      const char c = fcntl(fd, F_SETLK, &lock) == 0 ? 1 : 0;
      [[maybe_unused]] auto n = write(ready[1], &c, 1);
      pause();
      _exit(0);
    }
    char c = 0;
    locked_ = child_ > 0 && read(ready[0], &c, 1) == 1 && c == 1;
    close(ready[0]);
    close(ready[1]);
  }
  ~OtherWriter() {
    if (child_ > 0) {
      kill(child_, SIGKILL);
      waitpid(child_, nullptr, 0);
    }
  }
  OtherWriter(const OtherWriter&) = delete;
  OtherWriter& operator=(const OtherWriter&) = delete;

  bool locked() const { return locked_; }

 private:
  pid_t child_ = -1;
  bool locked_ = false;
};

}  // namespace testing_support
