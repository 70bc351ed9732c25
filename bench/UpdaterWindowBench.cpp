// The update window's wait while the update site is slow: processor time of the whole program (the
// downloader's threads included) per second of waiting, beside a plain loop that sleeps 55 ms between
// looks at the same dispatcher.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <thread>

#include "actions/QuorinApplications.h"
#include "presentation/UpdaterWindow.h"
#include "search/QuorinEngineRepository.h"

namespace {

using namespace vandrel;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// An event loop in miniature: sleeps until the next timer is due, then runs it.
class TSleepingScheduler : public IScheduler {
 public:
  TTimerId Schedule(int delayMs, std::function<void()> task) override {
    Timers_[++Next_] = {Clock::now() + std::chrono::milliseconds(delayMs), std::move(task)};
    return Next_;
  }
  void Cancel(TTimerId id) override { Timers_.erase(id); }
  void RunUntil(const std::function<bool()>& done, Clock::time_point deadline) {
    while (!done() && Clock::now() < deadline && !Timers_.empty()) {
      auto next = Timers_.begin();
      for (auto it = Timers_.begin(); it != Timers_.end(); ++it)
        if (it->second.first < next->second.first) next = it;
      std::this_thread::sleep_until(next->second.first);
      auto task = std::move(next->second.second);
      Timers_.erase(next);
      task();
    }
  }

 private:
  std::map<TTimerId, std::pair<Clock::time_point, std::function<void()>>> Timers_;
  TTimerId Next_ = 0;
};

class TFixedSettings : public IUpdaterSettings {
 public:
  std::string Address;
  std::string UpdateAddress() const override { return Address; }
  void SetUpdateAddress(const std::string&) override {}
  TDateTime LastChannelUpdate() const override { return 0; }
  void SetLastChannelUpdate(TDateTime) override {}
  void SetSoftwareUpdateAddress(const std::string&) override {}
};

class TNoPrompts : public IUserPrompts {
 public:
  TPromptReply Ask(const TPrompt& prompt) override { return {prompt.Default, false}; }
};

// A site that takes the connection and never answers.
class TSilentSite {
 public:
  TSilentSite() {
    Fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(Fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(Fd, 8) != 0) return;
    socklen_t length = sizeof address;
    getsockname(Fd, reinterpret_cast<sockaddr*>(&address), &length);
    Port = ntohs(address.sin_port);
  }
  ~TSilentSite() { close(Fd); }
  int Fd = -1;
  int Port = 0;
};

constexpr auto kWait = std::chrono::seconds(2);

void BM_UpdateWindowWaitOnSlowSite(benchmark::State& state) {
  MainDispatcher& dispatcher = MainDispatcher::Default();
  dispatcher.AdoptCurrentThread();
  std::string folder = (fs::temp_directory_path() / "vandrel-bench-XXXXXX").string();
  if (!mkdtemp(folder.data())) return state.SkipWithError("no temporary folder");
  TSilentSite site;
  if (!site.Port) return state.SkipWithError("no loopback listener");

  TQuorinActionRepository actions;
  TQuorinApplication runner(actions, dispatcher);
  TQuorinApplicationParts parts;
  parts.Repository = NewEngineRepository();
  parts.Repository->SetDataFolder(folder + "/");
  parts.Repository->Refresh(nullptr, {});
  runner.InstallParts(std::move(parts));
  RegisterUpdateAction(actions, runner);
  TFixedSettings settings;
  settings.Address = "http://127.0.0.1:" + std::to_string(site.Port) + "/update-info/013";
  TAppUpdater updater(runner, settings);
  TNoPrompts prompts;

  double ours = 0, peer = 0;
  int ticks = 0;
  for (auto _ : state) {
    TSleepingScheduler scheduler;
    TUpdaterWindow window(updater, scheduler, prompts, dispatcher);
    window.Shown();
    scheduler.RunUntil([&] { return window.Started(); }, Clock::now() + std::chrono::seconds(1));
    const double cpu0 = ProcessCpuSeconds();
    const auto wall0 = Clock::now();
    scheduler.RunUntil([&] { return window.Finished(); }, wall0 + kWait);
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    ours = (ProcessCpuSeconds() - cpu0) / wall;
    ticks = window.WaitTicks();
    window.CancelPressed();
    scheduler.RunUntil([&] { return window.Finished(); }, Clock::now() + std::chrono::seconds(10));
    dispatcher.RunUntil([&] { return runner.State() == asIdle; }, std::chrono::seconds(10));

    // The peer: nothing but the 55 ms rhythm over the same dispatcher.
    const double cpu1 = ProcessCpuSeconds();
    const auto wall1 = Clock::now();
    while (Clock::now() - wall1 < kWait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(TUpdaterWindow::kWaitTickMs));
      dispatcher.ProcessPending();
    }
    peer = (ProcessCpuSeconds() - cpu1) / std::chrono::duration<double>(Clock::now() - wall1).count();
  }
  fs::remove_all(folder);
  state.counters["ours_cpu_pct"] = ours * 100;
  state.counters["peer_cpu_pct"] = peer * 100;
  state.counters["looks"] = ticks;
  std::printf(
      "update window waiting on a silent site: %.2f %% of one core (%d looks in %.0f s); plain 55 ms "
      "loop %.2f %%; ratio %.2f\n",
      ours * 100, ticks, std::chrono::duration<double>(kWait).count(), peer * 100,
      peer > 0 ? ours / peer : 0.0);
}
BENCHMARK(BM_UpdateWindowWaitOnSlowSite)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
