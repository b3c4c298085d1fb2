#pragma once
// A kernel event a thread can wait on with poll(): signalled once, it stays
// signalled (manual reset) until Reset.

namespace async32 {

class EventObject {
 public:
  EventObject();
  ~EventObject();
  EventObject(const EventObject&) = delete;
  EventObject& operator=(const EventObject&) = delete;

  void Set() const;
  void Reset() const;
  bool IsSet() const;
  int Fd() const { return fd_; }

 private:
  int fd_;
};

}  // namespace async32
