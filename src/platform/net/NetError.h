// Maps POSIX errno and getaddrinfo codes onto the socket error numbers whose texts the client shows.
#pragma once

namespace vandrel {

// Socket error numbers with a meaning of their own to the callers of the transport.
enum : int {
  kNetOk = 0,
  kNetInterrupted = 10004,  // the transfer's wake-up fired: the call was abandoned on purpose
  kNetTimedOut = 10060,     // no progress within the time-out
  kNetConnReset = 10054,
  kNetConnRefused = 10061,
  kNetHostNotFound = 11001,
  kNetTlsHandshakeFailed = 57025,  // "TLS handshake failed"
  kNetTlsUntrusted = 57026,        // "Server certificate is not trusted"
};

int NetErrorFromErrno(int err);
int NetErrorFromEai(int eaiCode, int err);

}  // namespace vandrel
