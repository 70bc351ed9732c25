// Typed failures of a transfer and the message tables of the socket client and of HTTP status codes.
#pragma once

#include <stdexcept>
#include <string>

namespace vandrel {

// Client error ids. They are resource ids that callers and stored texts rely on: do not renumber.
enum : int {
  kErrTimedOut = 57000,
  kErrCanceled = 57001,
  kErrServerNameRequired = 57002,
  kErrInvalidWinsockVersion = 57003,
  kErrResolvingHost = 57004,
  kErrServiceNameRequired = 57005,
  kErrProxyPortRequired = 57006,
  kErrInvalidUrl = 57007,
  kErrNotConnected = 57008,
  kErrInvalidReply = 57014,
  kErrFileSkipped = 57022,
  kErrFileExceeded = 57023,
  kErrSocksRequestFailed = 57024,
  // Added for the TLS transport.
  kErrTlsHandshake = 57025,
  kErrTlsUntrusted = 57026,
};

// The text of a socket error code (10000-11004) or client error id (57000-57026); "Error #n" for others.
std::string SocketErrorText(int code);

// "Continue", "OK", "Not found", ... for the known status codes; empty for any other code.
std::string HttpStatusText(int code);

// "Unknown error": the text of a failure that carries no message of its own.
inline constexpr const char* kUnknownErrorText = "Unknown error";

class ESocketError : public std::runtime_error {
 public:
  ESocketError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
  int Code() const { return code_; }

 private:
  int code_;  // socket error number or client error id
};

class ETimedOutError : public std::runtime_error {
 public:
  ETimedOutError() : std::runtime_error(SocketErrorText(kErrTimedOut)) {}
};

class ECanceledError : public std::runtime_error {
 public:
  ECanceledError() : std::runtime_error(SocketErrorText(kErrCanceled)) {}
};

class EFileSkippedError : public std::runtime_error {
 public:
  EFileSkippedError() : std::runtime_error(SocketErrorText(kErrFileSkipped)) {}
};

class EFilesizeExceededError : public std::runtime_error {
 public:
  explicit EFilesizeExceededError(long long limitKb);
};

// A body could not be written to its local file.
class EStreamWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace vandrel
