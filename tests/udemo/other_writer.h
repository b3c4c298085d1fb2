#pragma once
// Another program that writes the log file: it holds the same kind of write
// lock the window takes, for as long as this object lives. An open file
// description lock conflicts with the window's record lock even inside one
// process, as another process's lock would.

#include <fcntl.h>
#include <unistd.h>

#include <string>

namespace testing_support {

class OtherWriter {
 public:
  explicit OtherWriter(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_CLOEXEC)) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    locked_ = fd_ >= 0 && fcntl(fd_, F_OFD_SETLK, &lock) == 0;
  }
  ~OtherWriter() { close(fd_); }
  OtherWriter(const OtherWriter&) = delete;
  OtherWriter& operator=(const OtherWriter&) = delete;
  bool locked() const { return locked_; }

 private:
  int fd_;
  bool locked_ = false;
};

}  // namespace testing_support
