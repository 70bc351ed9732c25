// Resolves IPv4 host names and carries a non-blocking TCP connection whose every wait honours a wake-up.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/net/Transport.h"

namespace vandrel {

// Looks up the first IPv4 address of `host` (a dotted address is taken as it stands). The look-up runs on
// a helper thread so that the wait can end on `wake` or after `timeoutMs`; returns 0 or a socket error
// number (kNetTimedOut, kNetInterrupted, 11001, ...).
int ResolveIPv4(const std::string& host, in_addr& address, const TWakeUp& wake, int timeoutMs);

class TTcpTransport final : public ITransport {
 public:
  // `wake` must outlive the transport.
  TTcpTransport(const TWakeUp& wake, int timeoutMs);
  ~TTcpTransport() override;

  // Creates the socket (keep-alive on) and connects, waiting at most the time-out; 0 or a socket error.
  int Connect(const in_addr& address, uint16_t port);
  // Takes over an already connected stream socket instead (tests and fuzzers feed a socketpair).
  void Adopt(int fd);

  int Send(const char* data, size_t size, size_t& sent) override;
  int Receive(char* data, size_t size, size_t& received) override;
  void Abandon() override;

  // Waits until the socket is readable (`forWrite` false) or writable; 0, kNetTimedOut or kNetInterrupted.
  // Used by the TLS layer, which drives the same descriptor.
  int Wait(bool forWrite);
  int Fd() const { return fd_; }

 private:
  // Runs one send or receive until it moves some bytes, waiting while the socket is not ready.
  template <class Call>
  int Transfer(Call call, bool writing, size_t& moved);

  const TWakeUp& wake_;
  int timeoutMs_;            // bound on every single wait
  std::atomic<int> fd_{-1};  // written by the owner, read by Abandon from other threads
};

}  // namespace vandrel
