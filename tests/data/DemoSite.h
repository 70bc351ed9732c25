// Test helpers around the bundled data: the compiled data folder, the demo store site as a child process,
// and plain GETs against it.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "TempFolder.h"

namespace vandrel::test {

// Where the build put the compiled definitions.
inline std::string CompiledDataDir() {
  return std::string(VANDREL_BIN_DIR) + "/Data";
}

// The demo store site in a child process on a free loopback port; stopped when this goes away.
class TDemoSite {
 public:
  TDemoSite() {
    const std::string ready =
        ProcessTempDir() + "/demo-site-" + std::to_string(reinterpret_cast<uintptr_t>(this)) + ".port";
    std::filesystem::remove(ready);
    pid_ = fork();
    if (pid_ == 0) {
      const int devNull = open("/dev/null", O_WRONLY);
      dup2(devNull, 1);
      execl(VANDREL_CLI, VANDREL_CLI, "demo-stores", "--port", "0", "--once-ready-file", ready.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 600 && Port == 0; ++i) {
      std::ifstream in(ready);
      unsigned port = 0;
      if (in >> port)
        Port = static_cast<uint16_t>(port);
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~TDemoSite() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  TDemoSite(const TDemoSite&) = delete;
  TDemoSite& operator=(const TDemoSite&) = delete;

  std::string Address() const { return "http://127.0.0.1:" + std::to_string(Port) + "/"; }

  uint16_t Port = 0;

 private:
  pid_t pid_ = -1;
};

struct THttpAnswer {
  int Status = 0;
  std::string Body;
};

// One GET of an absolute http://127.0.0.1:PORT/... address; status 0 when nothing usable came back.
inline THttpAnswer HttpGet(const std::string& url) {
  THttpAnswer answer;
  const std::string prefix = "http://127.0.0.1:";
  if (url.compare(0, prefix.size(), prefix) != 0) return answer;
  const size_t slash = url.find('/', prefix.size());
  if (slash == std::string::npos) return answer;
  const int port = std::stoi(url.substr(prefix.size(), slash - prefix.size()));
  const std::string request = "GET " + url.substr(slash) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return answer;
  }
  send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string raw;
  char buffer[8192];
  ssize_t n;
  while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) raw.append(buffer, static_cast<size_t>(n));
  close(fd);
  const size_t end = raw.find("\r\n\r\n");
  if (raw.compare(0, 9, "HTTP/1.1 ") != 0 || end == std::string::npos) return answer;
  answer.Status = std::stoi(raw.substr(9, 3));
  answer.Body = raw.substr(end + 4);
  return answer;
}

}  // namespace vandrel::test
