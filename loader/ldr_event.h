// A manual-reset event that can sit in the same poll set as a port, so that a
// command from the dialog ends a wait on the line at once.
#pragma once

class LdrEvent {
 public:
  LdrEvent();
  ~LdrEvent();
  LdrEvent(const LdrEvent&) = delete;
  LdrEvent& operator=(const LdrEvent&) = delete;

  bool valid() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  void set();
  void reset();
  bool is_set() const;
  // Waits until the event is set; timeout_ms < 0 waits without limit.
  // Gives true when set, false on time-out or failure.
  bool wait(int timeout_ms) const;

 private:
  int fd_ = -1;
};
