#include "http/TestPeers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace vandrel::test {

namespace {

pid_t Spawn(const std::vector<std::string>& argv, const std::string& logFile) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
  return pid;
}

std::string ReadFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void MakeKeyAndCsr(const TempFolder& dir, const std::string& stem, const std::string& subject) {
  const std::string log = dir / "openssl.log";
  if (!RunCommand({"openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                   "-keyout", dir / (stem + ".key"), "-out", dir / (stem + ".csr"), "-subj", subject},
                  log))
    throw std::runtime_error("openssl cannot make a key: " + ReadFile(log));
}

}  // namespace

TPeerProcess::~TPeerProcess() {
  Stop();
}

void TPeerProcess::Start(const std::vector<std::string>& argv, const std::string& logFile) {
  Stop();
  pid_ = Spawn(argv, logFile);
}

void TPeerProcess::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

bool TPeerProcess::Running() const {
  return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0;
}

bool RunCommand(const std::vector<std::string>& argv, const std::string& logFile) {
  const pid_t pid = Spawn(argv, logFile);
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

uint16_t FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  uint16_t port = 0;
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    port = ntohs(addr.sin_port);
  if (fd >= 0) close(fd);
  if (port == 0) throw std::runtime_error("no free port");
  return port;
}

bool WaitForListener(uint16_t port, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

TTestCa::TTestCa(const std::string& hostName) {
  const std::string log = dir_ / "openssl.log";
  caFile_ = dir_ / "ca.pem";
  certFile_ = dir_ / "server.pem";
  keyFile_ = dir_ / "server.key";
  if (!RunCommand(
          {"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
           "-keyout", dir_ / "ca.key", "-out", caFile_, "-days", "2", "-subj", "/CN=Vandrel Test CA"},
          log))
    throw std::runtime_error("openssl cannot make the CA: " + ReadFile(log));
  MakeKeyAndCsr(dir_, "server", "/CN=" + hostName);
  WriteWholeFile(dir_ / "ext.cnf", "subjectAltName=DNS:" + hostName + "\n");
  if (!RunCommand(
          {"openssl", "x509", "-req", "-in", dir_ / "server.csr", "-CA", caFile_, "-CAkey", dir_ / "ca.key",
           "-CAcreateserial", "-out", certFile_, "-days", "2", "-extfile", dir_ / "ext.cnf"},
          log))
    throw std::runtime_error("openssl cannot issue the certificate: " + ReadFile(log));
}

TTlsFileServer::TTlsFileServer(const TTestCa& ca, bool selfSigned) {
  std::string cert = ca.CertFile(), key = ca.KeyFile();
  if (selfSigned) {
    cert = dir_ / "self.pem";
    key = dir_ / "self.key";
    if (!RunCommand({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                     "-nodes", "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=localhost",
                     "-addext", "subjectAltName=DNS:localhost"},
                    dir_ / "openssl.log"))
      throw std::runtime_error("openssl cannot make a self-signed certificate");
  }
  const std::string log = dir_ / "s_server.log";
  // -WWW serves paths relative to the working folder, so the server runs inside its own folder.
  process_.Start(
      {"sh", "-c", "cd \"$0\" && exec openssl s_server -accept 127.0.0.1:0 -WWW -cert \"$1\" -key \"$2\"",
       dir_.Path(), cert, key},
      log);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    const std::string text = ReadFile(log);
    const size_t at = text.find("ACCEPT 127.0.0.1:");
    if (at != std::string::npos && text.find('\n', at) != std::string::npos) {
      port_ = static_cast<uint16_t>(std::atoi(text.c_str() + at + 17));
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  throw std::runtime_error("openssl s_server did not start: " + ReadFile(log));
}

TTinyproxy::TTinyproxy(const std::string& user, const std::string& password) {
  for (int attempt = 0; attempt < 3 && port_ == 0; ++attempt) {
    const uint16_t port = FreeLoopbackPort();
    WriteWholeFile(dir_ / "tinyproxy.conf",
                   "User nobody\nGroup nogroup\nPort " + std::to_string(port) +
                       "\nListen 127.0.0.1\nTimeout 30\nAllow 127.0.0.1\nBasicAuth " + user + " " + password +
                       "\nMaxClients 50\nDisableViaHeader Yes\nLogLevel Info\n");
    process_.Start({"tinyproxy", "-d", "-c", dir_ / "tinyproxy.conf"}, dir_ / "tinyproxy.log");
    if (WaitForListener(port, 5000) && process_.Running()) port_ = port;
  }
  if (port_ == 0) throw std::runtime_error("tinyproxy did not start");
}

TDanteSocks::TDanteSocks() {
  for (int attempt = 0; attempt < 3 && port_ == 0; ++attempt) {
    const uint16_t port = FreeLoopbackPort();
    WriteWholeFile(dir_ / "danted.conf",
                   "logoutput: " + (dir_ / "danted.log") +
                       "\ninternal: 127.0.0.1 port = " + std::to_string(port) +
                       "\nexternal: 127.0.0.1\nclientmethod: none\nsocksmethod: none\n"
                       "user.privileged: root\nuser.unprivileged: nobody\n"
                       "client pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n"
                       "socks pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n  command: connect\n}\n");
    process_.Start({"danted", "-f", dir_ / "danted.conf", "-N", "1"}, dir_ / "danted.out");
    if (WaitForListener(port, 5000) && process_.Running()) port_ = port;
  }
  if (port_ == 0) throw std::runtime_error("danted did not start");
}

}  // namespace vandrel::test
