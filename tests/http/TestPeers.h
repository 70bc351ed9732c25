// Real peers for integration tests: a TLS server with a CA made at test time, tinyproxy and danted.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "TempFolder.h"

namespace vandrel::test {

// A child process, ended with SIGTERM (then SIGKILL) when the object goes.
class TPeerProcess {
 public:
  TPeerProcess() = default;
  ~TPeerProcess();
  TPeerProcess(const TPeerProcess&) = delete;
  TPeerProcess& operator=(const TPeerProcess&) = delete;
  // Starts `argv` with stdout and stderr sent to `logFile`; throws std::runtime_error when it cannot.
  void Start(const std::vector<std::string>& argv, const std::string& logFile);
  void Stop();
  bool Running() const;

 private:
  pid_t pid_ = -1;
};

// Runs a shell-free command and returns whether it exited with 0.
bool RunCommand(const std::vector<std::string>& argv, const std::string& logFile);
// A port on 127.0.0.1 that was free a moment ago.
uint16_t FreeLoopbackPort();
// Waits until something accepts connections on 127.0.0.1:port.
bool WaitForListener(uint16_t port, int timeoutMs);

// A test certificate authority and a server certificate issued by it for `hostName` (as DNS name).
class TTestCa {
 public:
  explicit TTestCa(const std::string& hostName = "localhost");
  const std::string& CaFile() const { return caFile_; }
  const std::string& CertFile() const { return certFile_; }
  const std::string& KeyFile() const { return keyFile_; }
  const TempFolder& Dir() const { return dir_; }

 private:
  TempFolder dir_;
  std::string caFile_, certFile_, keyFile_;
};

// `openssl s_server -WWW`: serves the files of its folder over TLS (HTTP/1.0 answers).
class TTlsFileServer {
 public:
  // Certificate and key from `ca` (or self-signed ones made here when `selfSigned`).
  explicit TTlsFileServer(const TTestCa& ca, bool selfSigned = false);
  uint16_t Port() const { return port_; }
  void AddFile(const std::string& name, const std::string& content) const {
    WriteWholeFile(dir_ / name, content);
  }

 private:
  TempFolder dir_;
  TPeerProcess process_;
  uint16_t port_ = 0;
};

// tinyproxy on 127.0.0.1 with Basic authentication as `user`:`password`.
class TTinyproxy {
 public:
  TTinyproxy(const std::string& user, const std::string& password);
  uint16_t Port() const { return port_; }
  std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  TempFolder dir_;
  TPeerProcess process_;
  uint16_t port_ = 0;
};

// danted on 127.0.0.1 accepting SOCKS 4 connect requests from the loopback network.
class TDanteSocks {
 public:
  TDanteSocks();
  uint16_t Port() const { return port_; }
  std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  TempFolder dir_;
  TPeerProcess process_;
  uint16_t port_ = 0;
};

}  // namespace vandrel::test
