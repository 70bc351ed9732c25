#include "platform/net/TlsTransport.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <cerrno>
#include <climits>
#include <mutex>

#include "platform/net/NetError.h"

namespace vandrel {

namespace {

// OpenSSL's own socket BIO writes with write(), which raises SIGPIPE on a closed peer; this one sends with
// MSG_NOSIGNAL and reads the same descriptor.
int BioWrite(BIO* bio, const char* data, int size) {
  auto* tcp = static_cast<TTcpTransport*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  const ssize_t n = send(tcp->Fd(), data, static_cast<size_t>(size), MSG_NOSIGNAL);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) BIO_set_retry_write(bio);
  return static_cast<int>(n);
}

int BioRead(BIO* bio, char* data, int size) {
  auto* tcp = static_cast<TTcpTransport*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  const ssize_t n = recv(tcp->Fd(), data, static_cast<size_t>(size), 0);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) BIO_set_retry_read(bio);
  return static_cast<int>(n);
}

long BioCtrl(BIO*, int cmd, long, void*) {
  return cmd == BIO_CTRL_FLUSH ? 1 : 0;
}

int BioCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

BIO_METHOD* SocketBioMethod() {
  static BIO_METHOD* method = nullptr;
  static std::once_flag once;
  std::call_once(once, [] {
    method = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "vandrel socket");
    if (!method) return;
    BIO_meth_set_write(method, BioWrite);
    BIO_meth_set_read(method, BioRead);
    BIO_meth_set_ctrl(method, BioCtrl);
    BIO_meth_set_create(method, BioCreate);
  });
  return method;
}

struct TCtxDeleter {
  void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
struct TSslDeleter {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};

class TTlsTransport final : public ITransport {
 public:
  TTlsTransport(TTcpTransport& tcp, std::unique_ptr<SSL_CTX, TCtxDeleter> ctx,
                std::unique_ptr<SSL, TSslDeleter> ssl)
      : tcp_(tcp), ctx_(std::move(ctx)), ssl_(std::move(ssl)) {}

  // A peer that closes the connection while we send has reset it; while we receive, it has ended the data.
  int Send(const char* data, size_t size, size_t& sent) override {
    return Transfer([&](int chunk) { return SSL_write(ssl_.get(), data, chunk); }, size, sent, kNetConnReset);
  }

  int Receive(char* data, size_t size, size_t& received) override {
    return Transfer([&](int chunk) { return SSL_read(ssl_.get(), data, chunk); }, size, received, kNetOk);
  }

  void Abandon() override { tcp_.Abandon(); }

 private:
  static constexpr int kRetry = -1;
  static constexpr int kClosed = -2;

  // Runs one SSL read or write of at most INT_MAX bytes until it moves some, retrying after the waits the
  // session asks for; a clean close answers `onClosed`.
  template <class Call>
  int Transfer(Call call, size_t size, size_t& moved, int onClosed) {
    moved = 0;
    const int chunk = size > INT_MAX ? INT_MAX : static_cast<int>(size);
    for (;;) {
      ERR_clear_error();
      const int n = call(chunk);
      if (n > 0) {
        moved = static_cast<size_t>(n);
        return kNetOk;
      }
      if (const int rc = Retry(n); rc != kRetry) return rc == kClosed ? onClosed : rc;
    }
  }

  // Turns a failed SSL call into kRetry after waiting, kClosed, or a socket error number.
  int Retry(int result) {
    switch (SSL_get_error(ssl_.get(), result)) {
      case SSL_ERROR_WANT_READ:
        if (const int rc = tcp_.Wait(false); rc != kNetOk) return rc;
        return kRetry;
      case SSL_ERROR_WANT_WRITE:
        if (const int rc = tcp_.Wait(true); rc != kNetOk) return rc;
        return kRetry;
      case SSL_ERROR_ZERO_RETURN:
        return kClosed;
      case SSL_ERROR_SYSCALL:
        return errno != 0 ? NetErrorFromErrno(errno) : kClosed;
      default:
        return kNetConnReset;
    }
  }

  TTcpTransport& tcp_;
  std::unique_ptr<SSL_CTX, TCtxDeleter> ctx_;
  std::unique_ptr<SSL, TSslDeleter> ssl_;
};

bool IsIpAddress(const std::string& host) {
  in_addr v4{};
  in6_addr v6{};
  return inet_pton(AF_INET, host.c_str(), &v4) == 1 || inet_pton(AF_INET6, host.c_str(), &v6) == 1;
}

}  // namespace

int StartTls(TTcpTransport& tcp, const std::string& serverName, const std::string& caFile,
             std::unique_ptr<ITransport>& tls) {
  std::unique_ptr<SSL_CTX, TCtxDeleter> ctx(SSL_CTX_new(TLS_client_method()));
  BIO_METHOD* method = SocketBioMethod();
  if (!ctx || !method || serverName.empty()) return kNetTlsHandshakeFailed;
  SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
  SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
  // Bodies are delimited by HTTP itself, and many servers close without a TLS close_notify.
  SSL_CTX_set_options(ctx.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
  const int loaded = caFile.empty() ? SSL_CTX_set_default_verify_paths(ctx.get())
                                    : SSL_CTX_load_verify_locations(ctx.get(), caFile.c_str(), nullptr);
  if (loaded != 1) return kNetTlsUntrusted;

  std::unique_ptr<SSL, TSslDeleter> ssl(SSL_new(ctx.get()));
  if (!ssl) return kNetTlsHandshakeFailed;
  BIO* bio = BIO_new(method);
  if (!bio) return kNetTlsHandshakeFailed;
  BIO_set_data(bio, &tcp);
  SSL_set_bio(ssl.get(), bio, bio);
  if (IsIpAddress(serverName)) {
    if (X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl.get()), serverName.c_str()) != 1)
      return kNetTlsHandshakeFailed;
  } else {
    SSL_set_tlsext_host_name(ssl.get(), serverName.c_str());
    if (SSL_set1_host(ssl.get(), serverName.c_str()) != 1) return kNetTlsHandshakeFailed;
  }

  for (;;) {
    ERR_clear_error();
    errno = 0;
    const int rc = SSL_connect(ssl.get());
    if (rc == 1) break;
    const int err = SSL_get_error(ssl.get(), rc);
    int waited = kNetOk;
    if (err == SSL_ERROR_WANT_READ) {
      waited = tcp.Wait(false);
    } else if (err == SSL_ERROR_WANT_WRITE) {
      waited = tcp.Wait(true);
    } else if (SSL_get_verify_result(ssl.get()) != X509_V_OK) {
      return kNetTlsUntrusted;
    } else if (err == SSL_ERROR_SYSCALL && errno != 0) {
      return NetErrorFromErrno(errno);
    } else {
      return kNetTlsHandshakeFailed;
    }
    if (waited != kNetOk) return waited;
  }
  tls = std::make_unique<TTlsTransport>(tcp, std::move(ctx), std::move(ssl));
  return kNetOk;
}

}  // namespace vandrel
