#include "http/ZSocket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>

#include "http/HttpErrors.h"
#include "platform/net/NetError.h"
#include "platform/net/TlsTransport.h"

namespace vandrel {

namespace {

// Large enough that a big body costs few system calls per megabyte.
constexpr size_t kReceiveBlock = 64 * 1024;
constexpr size_t kSendBlock = 2047;

uint16_t ParsePort(std::string_view text) {
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value > 65535) return 0;
  return static_cast<uint16_t>(value);
}

uint16_t LookUpService(const std::string& service) {
  if (service == "http") return 80;
  if (service == "https") return 443;
  servent entry{};
  servent* found = nullptr;
  char buf[1024];
  if (getservbyname_r(service.c_str(), "tcp", &entry, buf, sizeof buf, &found) != 0 || !found) return 0;
  return ntohs(static_cast<uint16_t>(found->s_port));
}

std::string LoginName() {
  passwd entry{};
  passwd* found = nullptr;
  char buf[1024];
  if (getpwuid_r(getuid(), &entry, buf, sizeof buf, &found) == 0 && found && found->pw_name)
    return found->pw_name;
  return "";
}

}  // namespace

bool HasValidPort(std::string_view hostPort) {
  hostPort.remove_prefix(std::min(hostPort.size(), hostPort.rfind('@') + 1));
  const size_t colon = hostPort.find(':');
  return colon == std::string_view::npos || colon + 1 == hostPort.size() ||
         ParsePort(hostPort.substr(colon + 1)) != 0;
}

std::string NormalizeProxyValue(const std::string& value) {
  std::string result = value;
  if (const size_t scheme = result.find("://"); scheme != std::string::npos) result.erase(0, scheme + 3);
  if (!result.empty() && result.find(':') == std::string::npos)
    throw ESocketError(kErrProxyPortRequired, SocketErrorText(kErrProxyPortRequired));
  return result;
}

TagSocket::TagSocket() = default;

TagSocket::~TagSocket() {
  std::lock_guard<std::mutex> guard(transportLock_);
  tls_.reset();
  tcp_.reset();
}

void TagSocket::Fail(int code) {
  if (code == kNetInterrupted) {
    canceled_ = true;
    CheckFlags();
  }
  if (code == kNetTimedOut) {
    timedOut_ = true;
    CheckFlags();
  }
  const std::string message = SocketErrorText(code);
  if (OnError) OnError(message);
  if (code == kNetConnReset) Close();
  throw ESocketError(code, message);
}

void TagSocket::CheckFlags() {
  if (timedOut_) {
    if (OnError) OnError(SocketErrorText(kErrTimedOut));
    throw ETimedOutError();
  }
  if (canceled_) {
    if (OnError) OnError(SocketErrorText(kErrCanceled));
    throw ECanceledError();
  }
}

void TagSocket::Check(int code) {
  if (code == kNetOk) return;
  if (code == kNetTimedOut) {
    timedOut_ = true;
  } else if (code == kNetInterrupted || canceled_) {
    // A cancel shuts the socket down under the worker; whatever error that causes is the cancel.
    canceled_ = true;
  } else {
    Fail(code);
  }
}

void TagSocket::ResetFlags() {
  timedOut_ = false;
  closed_ = false;
  peerClosed_ = false;
  canceled_ = cancelRequested_.load();
  sizeExceeded_ = false;
  Chunked = false;
  BodyReceived = 0;
}

void TagSocket::ResolveHostPort(const std::string& hostPort, bool useService, in_addr& address,
                                uint16_t& port) {
  const size_t colon = hostPort.find(':');
  const std::string host = hostPort.substr(0, colon);
  port = colon == std::string::npos ? 0 : ParsePort(std::string_view(hostPort).substr(colon + 1));
  // A port that is written must be one: never quietly another.
  if (colon != std::string::npos && colon + 1 < hostPort.size() && port == 0) Fail(kErrInvalidUrl);
  if (port == 0 && useService) {
    if (Service.empty()) Fail(kErrServiceNameRequired);
    port = LookUpService(Service);
  }
  if (port == 0) port = DefaultPort;
  if (host.empty()) Fail(kErrResolvingHost);
  Check(ResolveIPv4(host, address, wake_, std::max(TimeOut, 1) * 1000));
  CheckFlags();
}

void TagSocket::Open() {
  if (OnOpen) OnOpen();
  if (Host.empty()) Fail(kErrServerNameRequired);
  char name[256] = {};
  localHostName_ = gethostname(name, sizeof name - 1) == 0 ? name : Host.substr(0, Host.find(':'));
  const std::string target = ConnectTarget();
  ResolveHostPort(target, true, address_, port_);
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address_, text, sizeof text);
  addressText_ = text;
  auto tcp = std::make_unique<TTcpTransport>(wake_, std::max(TimeOut, 1) * 1000);
  std::lock_guard<std::mutex> guard(transportLock_);
  tls_.reset();
  tcp_ = std::move(tcp);
  buffer_.clear();
  bufferPos_ = 0;
}

void TagSocket::AdoptConnection(int fd) {
  auto tcp = std::make_unique<TTcpTransport>(wake_, std::max(TimeOut, 1) * 1000);
  tcp->Adopt(fd);
  std::lock_guard<std::mutex> guard(transportLock_);
  tls_.reset();
  tcp_ = std::move(tcp);
  buffer_.clear();
  bufferPos_ = 0;
}

void TagSocket::Connect() {
  if (!IsOpen()) Fail(kErrNotConnected);
  if (!canceled_) Check(tcp_->Connect(address_, port_));
  CheckFlags();
  if (OnConnected) OnConnected();
}

void TagSocket::StartTls(const std::string& serverName) {
  if (!IsOpen()) Fail(kErrNotConnected);
  // TLS reads the socket itself: bytes a proxy sent past its answer would be lost to it.
  if (bufferPos_ != buffer_.size()) Fail(kNetTlsHandshakeFailed);
  std::unique_ptr<ITransport> tls;
  Check(vandrel::StartTls(*tcp_, serverName, TlsCaFile, tls));
  CheckFlags();
  std::lock_guard<std::mutex> guard(transportLock_);
  tls_ = std::move(tls);
}

void TagSocket::Close() {
  if (!IsOpen()) return;
  if (OnClosing) OnClosing();
  closed_ = true;
  {
    std::lock_guard<std::mutex> guard(transportLock_);
    tls_.reset();
    tcp_.reset();
  }
  if (OnClosed) OnClosed();
}

void TagSocket::Cancel() {
  canceled_ = true;
  cancelRequested_ = true;
  if (OnCancel) OnCancel();
  wake_.Signal();
  std::lock_guard<std::mutex> guard(transportLock_);
  if (tcp_) tcp_->Abandon();
}

bool TagSocket::Fill() {
  if (bufferPos_ == buffer_.size()) {
    buffer_.clear();
    bufferPos_ = 0;
  }
  if (canceled_ || timedOut_ || !IsOpen()) return false;
  const size_t old = buffer_.size();
  buffer_.resize(old + kReceiveBlock);
  size_t got = 0;
  const int rc = Stream()->Receive(buffer_.data() + old, kReceiveBlock, got);
  buffer_.resize(old + got);
  Check(rc);
  if (rc == kNetOk && got == 0) peerClosed_ = true;
  return got > 0;
}

std::string TagSocket::ReadLine() {
  if (!IsOpen()) Fail(kErrNotConnected);
  std::string line;
  bool complete = false;
  for (;;) {
    const size_t lf = buffer_.find('\n', bufferPos_);
    const size_t end = lf == std::string::npos ? buffer_.size() : lf + 1;
    line.append(buffer_, bufferPos_, end - bufferPos_);
    bufferPos_ = end;
    if (lf != std::string::npos) {
      complete = true;
      break;
    }
    if (line.size() > kMaxLineLength) Fail(kErrInvalidReply);
    if (peerClosed_ || !Fill()) break;
  }
  if (complete) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  } else {
    line.clear();
  }
  if (line.size() > kMaxLineLength) Fail(kErrInvalidReply);
  if (OnLineReceived) OnLineReceived(line);
  CheckFlags();
  return line;
}

void TagSocket::SendAll(std::string_view data) {
  if (!IsOpen()) Fail(kErrNotConnected);
  while (!data.empty() && !canceled_ && !timedOut_) {
    size_t sent = 0;
    const int rc = Stream()->Send(data.data(), data.size(), sent);
    Check(rc);
    if (rc != kNetOk) break;
    data.remove_prefix(sent);
  }
  CheckFlags();
}

void TagSocket::SendLine(std::string_view line) {
  std::string data(line);
  data += "\r\n";
  SendAll(data);
  if (OnLineSent) OnLineSent(std::string(line));
}

std::string TagSocket::ReceiveExactly(size_t size) {
  if (!IsOpen()) Fail(kErrNotConnected);
  while (buffer_.size() - bufferPos_ < size) {
    if (peerClosed_ || !Fill()) break;
  }
  CheckFlags();
  if (buffer_.size() - bufferPos_ < size) Fail(kNetConnReset);
  std::string result = buffer_.substr(bufferPos_, size);
  bufferPos_ += size;
  return result;
}

void TagSocket::ReceiveToStream(TByteSink& sink, int64_t size) {
  if (!IsOpen()) Fail(kErrNotConnected);
  if (!(Chunked && BodyReceived > 0) && OnProgress) OnProgress(0, 0);
  const int64_t startSize = sink.Size();
  int64_t received = 0;
  for (;;) {
    const int64_t want = size > 0 ? std::min<int64_t>(kReceiveBlock, size - received) : kReceiveBlock;
    if (want <= 0) break;
    if (bufferPos_ == buffer_.size() && (peerClosed_ || !Fill())) break;
    const size_t take = std::min<size_t>(static_cast<size_t>(want), buffer_.size() - bufferPos_);
    sink.Append(buffer_.data() + bufferPos_, take);
    bufferPos_ += take;
    received += static_cast<int64_t>(take);
    BodyReceived += static_cast<int64_t>(take);
    if (OnProgress) {
      if (size <= 0 || Chunked) {
        OnProgress(-1, BodyReceived);
      } else {
        OnProgress(static_cast<int>(std::lround((sink.Size() - startSize) * 100.0 / size)),
                   static_cast<int64_t>(take));
      }
    }
    // Checked after every block, so that one large chunk cannot slip past the limit.
    if (MaxFileSize > 0 && sink.Size() > MaxFileSize) {
      sizeExceeded_ = true;
      if (OnError) OnError(SocketErrorText(kErrFileSkipped));
      throw EFilesizeExceededError(std::llround(MaxFileSize / 1024.0));
    }
  }
  CheckFlags();
  // A body that announced its size and ended early is a broken transfer, not a complete one.
  if (size > 0 && received < size) Fail(kNetConnReset);
}

void TagSocket::SendStream(std::string_view data) {
  size_t position = 0;
  while (position < data.size()) {
    const size_t block = std::min(kSendBlock, data.size() - position);
    SendAll(data.substr(position, block));
    position += block;
    if (OnProgress)
      OnProgress(static_cast<int>(std::lround(position * 100.0 / data.size())),
                 static_cast<int64_t>(position));
  }
  CheckFlags();
  if (OnProgress) OnProgress(0, 0);
}

void TZSocket::SetSocksServer(const std::string& value) {
  socksServer_ = NormalizeProxyValue(value);
}

void TZSocket::Open() {
  if (!socksServer_.empty()) {
    if (Host.empty()) {
      if (OnOpen) OnOpen();
      Fail(kErrServerNameRequired);
    }
    // The proxy is handed an address, so the destination is resolved here.
    ResolveHostPort(Host, false, destAddress_, destPort_);
  }
  TagSocket::Open();
}

void TZSocket::Connect() {
  TagSocket::Connect();
  if (socksServer_.empty()) return;
  auto progress = std::move(OnProgress);
  OnProgress = nullptr;
  struct TRestore {
    std::function<void(int, int64_t)>& Target;
    std::function<void(int, int64_t)>& Saved;
    ~TRestore() { Target = std::move(Saved); }
  } restore{OnProgress, progress};
  std::string request;
  request += '\x04';
  request += '\x01';
  request += static_cast<char>(destPort_ >> 8);
  request += static_cast<char>(destPort_ & 0xFF);
  request.append(reinterpret_cast<const char*>(&destAddress_.s_addr), 4);  // already in network order
  request += LoginName();
  request += '\0';
  SendAll(request);
  const std::string reply = ReceiveExactly(8);
  if (reply[0] != 0 || static_cast<unsigned char>(reply[1]) != 90) Fail(kErrSocksRequestFailed);
}

}  // namespace vandrel
