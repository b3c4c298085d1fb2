#pragma once
// A kernel event a thread can wait on (an eventfd on POSIX, an event object
// on Windows): signalled once, it stays signalled (manual reset) until Reset.

#include <cstdint>

namespace async32 {

class EventObject {
 public:
  EventObject();
  ~EventObject();
  EventObject(const EventObject&) = delete;
  EventObject& operator=(const EventObject&) = delete;

  // False when the system had no descriptor or handle to spare for the
  // event; Error then says why (the platform's error code).
  bool Valid() const { return handle_ != kNone; }
  int Error() const { return error_; }
  void Set() const;
  void Reset() const;
  bool IsSet() const;
  // What the backend waits on: the descriptor, or the HANDLE's bits.
  intptr_t Native() const { return handle_; }

 private:
  static constexpr intptr_t kNone = -1;
  intptr_t handle_;
  int error_;
};

}  // namespace async32
