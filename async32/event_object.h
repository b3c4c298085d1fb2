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

  // False when the system had no descriptor to spare for the event; Error
  // then says why (an errno value).
  bool Valid() const { return fd_ >= 0; }
  int Error() const { return error_; }
  void Set() const;
  void Reset() const;
  bool IsSet() const;
  int Fd() const { return fd_; }

 private:
  int fd_;
  int error_;
};

}  // namespace async32
