// One transfer's connection: socket life cycle, line and block transfer with typed errors, SOCKS 4
// tunnelling.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/net/TcpTransport.h"

namespace vandrel {

// Where a received body goes. Append throws EStreamWriteError when the bytes cannot be kept.
class TByteSink {
 public:
  virtual ~TByteSink() = default;
  virtual void Append(const char* data, size_t size) = 0;
  virtual int64_t Size() const = 0;
};

class TMemorySink final : public TByteSink {
 public:
  explicit TMemorySink(std::string& target) : target_(target) {}
  void Append(const char* data, size_t size) override { target_.append(data, size); }
  int64_t Size() const override { return static_cast<int64_t>(target_.size()); }

 private:
  std::string& target_;
};

// The socket layer of a transfer. Used by one worker thread; Cancel may be called from any thread, and a
// cancel stays in force for every later connection of the same object.
class TagSocket {
 public:
  TagSocket();
  virtual ~TagSocket();
  TagSocket(const TagSocket&) = delete;
  TagSocket& operator=(const TagSocket&) = delete;

  std::string Host;           // "host" or "host:port" to connect to
  std::string Service;        // service name for the port look-up when Host has no port
  uint16_t DefaultPort = 80;  // used when neither Host nor the service gives a port
  int TimeOut = 60;           // seconds; bounds every single connect, send and receive wait
  int64_t MaxFileSize = 0;    // bytes a body may reach; 0 or less means no limit

  // Events, each optional, fired on the worker thread; OnCancel fires on the thread that cancels.
  std::function<void()> OnOpen, OnConnected, OnClosing, OnClosed, OnCancel;
  std::function<void(int perc, int64_t transferred)> OnProgress;
  std::function<void(const std::string&msg)> OnError, OnLineSent, OnLineReceived;

  // Resolves Host and picks the port.
  virtual void Open();
  // Connects to the resolved address, waiting at most TimeOut.
  virtual void Connect();
  void Close();
  // Abandons whatever the worker is doing on this transfer, now and for every later call.
  void Cancel();

  // One line without its CR LF; an empty line when the peer closed before a line was complete.
  std::string ReadLine();
  // Sends `line` and CR LF.
  void SendLine(std::string_view line);
  // Appends a body of `size` bytes (0 or less: until the peer closes) to `sink`.
  void ReceiveToStream(TByteSink& sink, int64_t size);
  void SendStream(std::string_view data);

  bool IsOpen() const { return tcp_ != nullptr; }
  bool Canceled() const { return canceled_; }
  bool TimedOut() const { return timedOut_; }
  bool Closed() const { return closed_; }
  bool SizeExceeded() const { return sizeExceeded_; }
  bool PeerClosed() const { return peerClosed_; }
  const std::string& ResolvedAddress() const { return addressText_; }
  uint16_t ResolvedPort() const { return port_; }
  const std::string& LocalHostName() const { return localHostName_; }
  // Trusted certificates for TLS in place of the system store (tests use their own CA).
  std::string TlsCaFile;

  // Longest line and longest header block a peer may send.
  static constexpr size_t kMaxLineLength = 64 * 1024;
  static constexpr size_t kMaxHeaderBlock = 256 * 1024;

 protected:
  // Raises `code` (a socket error number or client error id) as the matching typed error.
  [[noreturn]] void Fail(int code);
  // Raises ETimedOutError or ECanceledError when the flag is set, after announcing it through OnError.
  void CheckFlags();
  // The host:port the socket connects to; the SOCKS layer substitutes its server.
  virtual std::string ConnectTarget() { return Host; }
  // Resolves "host[:port]" to an address and port; the port falls back to the service, then `fallbackPort`.
  void ResolveHostPort(const std::string& hostPort, bool useService, in_addr& address, uint16_t& port);
  // Continues the connection in TLS for `serverName`.
  void StartTls(const std::string& serverName);
  // Clears TimedOut, Closed and the body counters before a new connection; a requested cancel stays.
  void ResetFlags();
  // Sends every byte or raises.
  void SendAll(std::string_view data);
  // Reads exactly `size` bytes or raises (the peer closing early is a failure here).
  std::string ReceiveExactly(size_t size);
  // Uses an already connected stream socket, which the object then owns, in place of Open and Connect.
  void AdoptConnection(int fd);

  bool Chunked = false;      // a chunked body is being read: progress reports the running total
  int64_t BodyReceived = 0;  // bytes of the current body over all its chunks
  bool sizeExceeded_ = false;

 private:
  ITransport* Stream() const { return tls_ ? tls_.get() : static_cast<ITransport*>(tcp_.get()); }
  // Handles a transport result: time-outs and cancels set their flag, other failures raise unless canceled.
  void Check(int code);
  // Reads more bytes into the buffer; false when nothing came (peer closed, or a flag is set).
  bool Fill();

  TWakeUp wake_;
  std::mutex transportLock_;  // guards the transport pointers against Cancel from other threads
  std::unique_ptr<TTcpTransport> tcp_;
  std::unique_ptr<ITransport> tls_;  // over tcp_, destroyed first
  std::string buffer_;               // received and not yet consumed
  size_t bufferPos_ = 0;
  in_addr address_{};
  std::string addressText_;
  uint16_t port_ = 0;
  std::string localHostName_;
  std::atomic<bool> canceled_{false};
  std::atomic<bool> cancelRequested_{false};
  bool timedOut_ = false;
  bool closed_ = false;
  bool peerClosed_ = false;
};

// Adds a SOCKS 4 proxy: the destination is resolved here and the proxy is asked to connect to it.
class TZSocket : public TagSocket {
 public:
  // "host:port" of the SOCKS server; anything up to "://" is dropped; empty for none.
  void SetSocksServer(const std::string& value);
  const std::string& SocksServer() const { return socksServer_; }

  void Open() override;
  void Connect() override;

 protected:
  std::string ConnectTarget() override { return socksServer_.empty() ? Host : socksServer_; }

 private:
  std::string socksServer_;
  in_addr destAddress_{};
  uint16_t destPort_ = 0;
};

// Whether the port of "[user@]host[:port]" is absent, empty or within 1..65535.
bool HasValidPort(std::string_view hostPort);

// Drops "scheme://" and checks that a non-empty proxy value has a port.
std::string NormalizeProxyValue(const std::string& value);

}  // namespace vandrel
