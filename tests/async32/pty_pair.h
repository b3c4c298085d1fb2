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
  PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
      path_ = ptsname(master_);
      // Holding the slave open keeps the master from seeing a hang-up while
      // the component closes and reopens it.
      holder_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    }
  }
  ~PtyPair() {
    CloseMaster();
    if (holder_ >= 0) close(holder_);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return master_ >= 0 && holder_ >= 0; }
  const std::string& path() const { return path_; }
  int master() const { return master_; }

  // The device hangs up: the slave side sees POLLHUP and EIO.
  void CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
    if (holder_ >= 0) close(holder_);
    holder_ = -1;
  }

  bool Send(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else if (!WaitFor(POLLOUT, std::chrono::seconds(5))) {
        return false;
      }
    }
    return true;
  }
  bool Send(const std::string& text) { return Send(std::vector<uint8_t>(text.begin(), text.end())); }

  // Reads until `count` bytes have come or the deadline passes.
  std::vector<uint8_t> Receive(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::vector<uint8_t> got;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (got.size() < count) {
      uint8_t buf[4096];
      const ssize_t n = read(master_, buf, std::min(sizeof buf, count - got.size()));
      if (n > 0) {
        got.insert(got.end(), buf, buf + n);
        continue;
      }
      const auto left = deadline - std::chrono::steady_clock::now();
      if (left <= std::chrono::milliseconds(0) ||
          !WaitFor(POLLIN, std::chrono::duration_cast<std::chrono::milliseconds>(left))) {
        break;
      }
    }
    return got;
  }

 private:
  bool WaitFor(short events, std::chrono::milliseconds timeout) {
    pollfd p{master_, events, 0};
    return poll(&p, 1, static_cast<int>(timeout.count())) > 0;
  }

  int master_ = -1;
  int holder_ = -1;
  std::string path_;
};

}  // namespace testing_support
