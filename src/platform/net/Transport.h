// The byte-stream seam every connection goes through: plain TCP or TLS over it, with a per-transfer wake-up.
#pragma once

#include <cstddef>
#include <memory>

namespace vandrel {

// A per-transfer wake-up: once signalled it stays signalled, so every later wait of that transfer returns
// at once. Signal may be called from any thread; the fd belongs to the object.
class TWakeUp {
 public:
  TWakeUp();
  ~TWakeUp();
  TWakeUp(const TWakeUp&) = delete;
  TWakeUp& operator=(const TWakeUp&) = delete;

  void Signal();
  bool Signaled() const;
  int Fd() const { return fd_; }  // readable once signalled; -1 if no fd could be made

 private:
  int fd_;
};

// One connected byte stream. Send and Receive wait at most the transport's time-out and return 0 or a
// socket error number (kNetTimedOut, kNetInterrupted when the wake-up fired, others from NetError.h).
// Only the owning thread calls Send and Receive; Abandon may be called from any thread while the owner
// still holds the transport.
class ITransport {
 public:
  virtual ~ITransport() = default;

  // Sends some of `size` bytes; `sent` says how many (at least one on success).
  virtual int Send(const char* data, size_t size, size_t& sent) = 0;
  // Receives up to `size` bytes; `received` 0 with a result of 0 means the peer closed the stream.
  virtual int Receive(char* data, size_t size, size_t& received) = 0;
  // Makes a blocked or later call fail at once without releasing the descriptor.
  virtual void Abandon() = 0;
};

}  // namespace vandrel
