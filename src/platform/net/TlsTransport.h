// TLS 1.2 or later over a connected TCP transport, with the peer's certificate and host name always verified.
#pragma once

#include <memory>
#include <string>

#include "platform/net/TcpTransport.h"

namespace vandrel {

// Performs the client handshake over `tcp` for `serverName` (sent as SNI and checked against the certificate,
// which may also name an IP address). Trust comes from the system CA store, or only from `caFile` when it is
// not empty. On success `tls` is a transport that uses `tcp`, which must outlive it; returns 0 or a socket
// error number (kNetTlsHandshakeFailed, kNetTlsUntrusted, kNetTimedOut, kNetInterrupted, ...).
int StartTls(TTcpTransport& tcp, const std::string& serverName, const std::string& caFile,
             std::unique_ptr<ITransport>& tls);

}  // namespace vandrel
