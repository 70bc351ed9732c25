// Start-up of the desktop program until its home page has loaded, beside a minimal Qt program that shows
// the same page in one web view; both on one virtual display, alternating, in the same run. Resident memory
// once the page is up is reported for the program alone and with its browser processes, and the processor
// time both used until then.
#ifdef VANDREL_BENCH_GUI_EXE
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "kernel/StartupTrace.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
constexpr const char* kLoadedLine = "# home page loaded";

std::string ScratchFolder() {
  std::string pattern = (fs::temp_directory_path() / "vandrel-bench-XXXXXX").string();
  return mkdtemp(pattern.data()) ? pattern : std::string();
}

// One X server for every start, so neither side pays for a display of its own.
class TVirtualDisplay {
 public:
  TVirtualDisplay() {
    if (const char* display = std::getenv("DISPLAY"); display && *display) {
      Name = display;
      return;
    }
    int fds[2];
    if (pipe(fds) != 0) return;
    Pid_ = fork();
    if (Pid_ == 0) {
      close(fds[0]);
      const int devNull = open("/dev/null", O_WRONLY);
      dup2(devNull, 2);
      const std::string fd = std::to_string(fds[1]);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x900x24", "-nolisten", "tcp",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    // The display number and a newline, once the server is ready. The server writes them apart and dies
    // when the pipe has gone in between, so the whole line is read before it is closed.
    std::string number;
    char c = 0;
    while (number.size() < 16 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (!number.empty()) Name = ":" + std::to_string(std::atoi(number.c_str()));
  }
  ~TVirtualDisplay() {
    if (Pid_ > 0) {
      kill(Pid_, SIGTERM);
      waitpid(Pid_, nullptr, 0);
    }
  }
  std::string Name;

 private:
  pid_t Pid_ = -1;
};

// User and system time `pid` has used so far, in milliseconds.
double CpuMs(pid_t pid) {
  const std::vector<std::string> fields = vandrel::ProcessStatFields(pid);
  constexpr size_t kUserTime = 14 - 3, kSystemTime = 15 - 3;
  if (fields.size() <= kSystemTime) return 0;
  const double ticks =
      std::strtod(fields[kUserTime].c_str(), nullptr) + std::strtod(fields[kSystemTime].c_str(), nullptr);
  return ticks * 1e3 / sysconf(_SC_CLK_TCK);
}

long RssKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

// `pid` and every process below it (the browser's helper processes).
std::vector<pid_t> ProcessTree(pid_t pid) {
  std::map<pid_t, std::vector<pid_t>> children;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t process = std::stoi(name);
    const std::vector<std::string> fields = vandrel::ProcessStatFields(process);
    constexpr size_t kParent = 4 - 3;
    if (fields.size() > kParent) children[std::atoi(fields[kParent].c_str())].push_back(process);
  }
  std::vector<pid_t> tree, todo{pid};
  while (!todo.empty()) {
    const pid_t next = todo.back();
    todo.pop_back();
    tree.push_back(next);
    for (pid_t child : children[next]) todo.push_back(child);
  }
  return tree;
}

long TreeRssKb(pid_t pid) {
  long total = 0;
  for (pid_t p : ProcessTree(pid)) total += RssKb(p);
  return total;
}

// The processor time a start has used, which a busy machine stretches far less than the wall time.
double TreeCpuMs(pid_t pid) {
  double total = 0;
  for (pid_t p : ProcessTree(pid)) total += CpuMs(p);
  return total;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t mid = values.size() / 2;
  return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

struct TStartup {
  double Ms = 0;
  double CpuMs = 0;  // the process and its helpers, until the page was up
  long RssKb = 0;
  long TreeRssKb = 0;
  bool Ok = false;
};

// Starts `argv` with its own folders and waits (at most 60 s) for the loaded line in its log.
TStartup Start(const std::vector<std::string>& argv, const std::string& folder, const std::string& display) {
  const std::string log = folder + "/command.log";
  fs::remove(log);
  for (const char* sub : {"runtime", "config", "data"}) fs::create_directories(folder + "/" + sub);
  chmod((folder + "/runtime").c_str(), 0700);
  // A configured installation: a first start's setup wizard is not what this measures.
  const std::string configure = "XDG_CONFIG_HOME='" + folder +
                                "/config' '" VANDREL_BENCH_BIN_DIR
                                "/vandrel-shopper-cli' config set AppConfigured 1 >/dev/null";
  if (std::system(configure.c_str()) != 0) return {};
  TStartup result;
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, 1);
    dup2(devNull, 2);
    setenv("DISPLAY", display.c_str(), 1);
    setenv("VANDREL_COMMAND_LOG", log.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (folder + "/runtime").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (folder + "/data").c_str(), 1);
    setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu", 1);
    if (geteuid() == 0) setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  while (Clock::now() - start < std::chrono::seconds(60)) {
    std::ifstream in(log);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.find(kLoadedLine) != std::string::npos) {
      result.Ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      result.CpuMs = TreeCpuMs(pid);
      result.Ok = true;
      break;
    }
    if (waitpid(pid, nullptr, WNOHANG) == pid) return result;  // ended without the page
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  // Memory once the page is up and the first frames are drawn.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  result.RssKb = RssKb(pid);
  result.TreeRssKb = TreeRssKb(pid);
  kill(pid, SIGTERM);
  for (int i = 0; i < 500 && waitpid(pid, nullptr, WNOHANG) != pid; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (kill(pid, 0) == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  return result;
}

void BM_StartupToHomePage(benchmark::State& state) {
  TVirtualDisplay display;
  if (display.Name.empty()) {
    state.SkipWithError("no display and no Xvfb");
    return;
  }
  const std::string scratch = ScratchFolder();
  const std::string root = scratch + "/root";
  const std::vector<std::string> program = {VANDREL_BENCH_GUI_EXE, "--root", root};
  // The same page the program shows, from the root it fills at its first start.
  const std::vector<std::string> peer = {VANDREL_BENCH_WEBVIEW_PEER, root + "/Web/Welcome.htm"};
  // Untimed first starts: the program fills its root, and both warm the file cache. A fresh display can
  // refuse the very first client, so each gets a second chance.
  auto warm = [&](const std::vector<std::string>& argv, const std::string& folder) {
    return Start(argv, folder, display.Name).Ok || Start(argv, folder, display.Name).Ok;
  };
  if (!warm(program, scratch + "/program") || !warm(peer, scratch + "/peer")) {
    state.SkipWithError("a first start did not reach its page");
    return;
  }
  TStartup sumProgram, sumPeer;
  std::vector<double> programMs, peerMs, ratios, programCpu, peerCpu;
  int runs = 0;
  for (auto _ : state) {
    // Alternating which goes first, so neither always finds the other's leftovers.
    TStartup p, w;
    if (runs % 2 == 0) {
      p = Start(program, scratch + "/program", display.Name);
      w = Start(peer, scratch + "/peer", display.Name);
    } else {
      w = Start(peer, scratch + "/peer", display.Name);
      p = Start(program, scratch + "/program", display.Name);
    }
    if (!p.Ok || !w.Ok) {
      state.SkipWithError("a start did not reach its page");
      break;
    }
    ++runs;
    programMs.push_back(p.Ms);
    peerMs.push_back(w.Ms);
    ratios.push_back(p.Ms / w.Ms);
    programCpu.push_back(p.CpuMs);
    peerCpu.push_back(w.CpuMs);
    sumProgram.Ms += p.Ms;
    sumPeer.Ms += w.Ms;
    sumProgram.RssKb += p.RssKb;
    sumPeer.RssKb += w.RssKb;
    sumProgram.TreeRssKb += p.TreeRssKb;
    sumPeer.TreeRssKb += w.TreeRssKb;
    state.SetIterationTime(p.Ms / 1e3);
  }
  if (runs > 0) {
    state.counters["program_ms"] = sumProgram.Ms / runs;
    state.counters["webview_ms"] = sumPeer.Ms / runs;
    state.counters["ratio_program_to_webview"] = sumPeer.Ms > 0 ? sumProgram.Ms / sumPeer.Ms : 0;
    // Medians, as one start slowed down by another helper's work would move a mean.
    state.counters["program_ms_median"] = Median(programMs);
    state.counters["webview_ms_median"] = Median(peerMs);
    state.counters["ratio_median"] = Median(ratios);
    state.counters["program_cpu_ms_median"] = Median(programCpu);
    state.counters["webview_cpu_ms_median"] = Median(peerCpu);
    state.counters["program_rss_MB"] = sumProgram.RssKb / 1024.0 / runs;
    state.counters["webview_rss_MB"] = sumPeer.RssKb / 1024.0 / runs;
    state.counters["program_all_rss_MB"] = sumProgram.TreeRssKb / 1024.0 / runs;
    state.counters["webview_all_rss_MB"] = sumPeer.TreeRssKb / 1024.0 / runs;
  }
  std::error_code ec;
  fs::remove_all(scratch, ec);
}

BENCHMARK(BM_StartupToHomePage)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(9);

}  // namespace
#endif
