#pragma once
// A pseudo-terminal pair for tests: the component opens the slave by path,
// the test plays the device on the master.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

class PtyPair {
 public:
  PtyPair() : master_(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    path_ = ptsname(master_);
    // Held open, the slave gives the master no hang-up while the component reopens it.
    holder_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  }
  ~PtyPair() { CloseMaster(); }

  bool ok() const { return master_ >= 0 && holder_ >= 0; }
  const std::string& path() const { return path_; }
  int master() const { return master_; }
  // The device hangs up: the slave side sees POLLHUP and EIO.
  void CloseMaster() {
    if (master_ >= 0) close(master_);
    if (holder_ >= 0) close(holder_);
    master_ = holder_ = -1;
  }

  bool Send(const std::string& s) { return Send(std::vector<uint8_t>(s.begin(), s.end())); }
  bool Send(const std::vector<uint8_t>& bytes) {
    for (size_t done = 0; done < bytes.size();) {
      if (!Ready(POLLOUT, std::chrono::seconds(5))) return false;
      const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
      done += n > 0 ? static_cast<size_t>(n) : 0;
    }
    return true;
  }
  // Reads until `count` bytes have come or the time is up.
  std::vector<uint8_t> Receive(size_t count,
                               std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::vector<uint8_t> got(count);
    size_t n = 0;
    for (const auto end = Now() + timeout; n < count && Ready(POLLIN, end - Now());) {
      const ssize_t r = read(master_, got.data() + n, count - n);
      n += r > 0 ? static_cast<size_t>(r) : 0;
    }
    got.resize(n);
    return got;
  }

 private:
  using Clock = std::chrono::steady_clock;
  static Clock::time_point Now() { return Clock::now(); }
  bool Ready(short events, std::chrono::nanoseconds left) {
    pollfd p{master_, events, 0};
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(left).count();
    return poll(&p, 1, ms > 0 ? static_cast<int>(ms) : 0) > 0;
  }

  int master_ = -1, holder_ = -1;
  std::string path_;
};

}  // namespace testing_support
