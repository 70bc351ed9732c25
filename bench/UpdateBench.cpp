// Engine updates against the project's own update site, beside libcurl fetching the same answers alone;
// and inflating a large "ZS" file beside Python's zlib inflating the same bytes.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "search/QuorinEngineRepository.h"
#include "update/AppUpdater.h"
#include "update/UpdateInfoFiles.h"
#include "update/UpdaterBlobs.h"

extern char** environ;

namespace {

using namespace vandrel;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

std::string TempFolder() {
  std::string pattern = (fs::temp_directory_path() / "vandrel-bench-XXXXXX").string();
  return mkdtemp(pattern.data()) ? pattern : std::string();
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// vandrel-update-site over the build's compiled bundled definitions, on a free loopback port.
class TSite {
 public:
  TSite() : Scratch_(TempFolder()) {
    const std::string program = std::string(VANDREL_BENCH_BIN_DIR) + "/vandrel-update-site";
    const std::string data = std::string(VANDREL_BENCH_BIN_DIR) + "/Data";
    const std::string ready = Scratch_ + "/ready";
    std::vector<std::string> args = {program, "--data", data, "--port", "0", "--once-ready-file", ready};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&Pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) Pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    for (int i = 0; i < 3000 && Pid_ > 0 && Port == 0; ++i) {
      if (fs::exists(ready)) Port = std::stoi(ReadWhole(ready));
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~TSite() {
    if (Pid_ > 0) {
      kill(Pid_, SIGTERM);
      waitpid(Pid_, nullptr, 0);
    }
    fs::remove_all(Scratch_);
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(Port) + "/update-info/013"; }
  int Port = 0;

 private:
  std::string Scratch_;
  pid_t Pid_ = -1;
};

class TSettings : public IUpdaterSettings {
 public:
  std::string Address;
  std::string UpdateAddress() const override { return Address; }
  void SetUpdateAddress(const std::string& address) override { Address = address; }
  TDateTime LastChannelUpdate() const override { return 0; }
  void SetLastChannelUpdate(TDateTime) override {}
  void SetSoftwareUpdateAddress(const std::string&) override {}
};

// One update of an empty root: the requests as the client sends them, and the wall time.
struct TUpdateOutcome {
  double Seconds = 0;
  std::vector<std::string> Bodies;
  size_t Installed = 0;
  bool Ok = false;
};

TUpdateOutcome UpdateEmptyRoot(const std::string& url) {
  TUpdateOutcome outcome;
  const std::string data = TempFolder();
  MainDispatcher::Default().AdoptCurrentThread();
  TQuorinActionRepository actions;
  TQuorinApplication runner(actions, MainDispatcher::Default());
  TQuorinApplicationParts parts;
  parts.Repository = NewEngineRepository();
  parts.Repository->SetDataFolder(data);
  runner.InstallParts(std::move(parts));
  RegisterUpdateAction(actions, runner);
  TSettings settings;
  settings.Address = url;
  TAppUpdater updater(runner, settings);
  TUpdateRun run(updater);
  const auto start = Clock::now();
  run.Run(true, std::chrono::minutes(5));
  outcome.Seconds = std::chrono::duration<double>(Clock::now() - start).count();
  outcome.Ok = run.ErrorText().empty() && run.Installed();
  outcome.Installed = run.Report().Count();
  MainDispatcher::Default().RunUntil([&runner] { return runner.State() == asIdle; },
                                     std::chrono::seconds(30));

  // The same three requests, rebuilt from the site's answers, for the peer to fetch.
  outcome.Bodies.push_back("standard.vui");
  std::string categories, files;
  TEngineRepository& repo = *runner.Repository();
  for (size_t i = 0; i < repo.Categories().Count(); ++i)
    categories += (categories.empty() ? "" : ";") + repo.Categories().Category(i)->CatName + ".vui";
  for (size_t i = 0; i < run.Report().Count(); ++i) {
    const std::string name = UpdateDownloadName(run.Report().Items(i), repo);
    if (files.find(name) == std::string::npos) files += (files.empty() ? "" : ";") + name;
  }
  outcome.Bodies.push_back(categories);
  outcome.Bodies.push_back(files);
  fs::remove_all(data);
  return outcome;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t mid = values.size() / 2;
  return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

size_t Discard(char*, size_t size, size_t count, void* total) {
  *static_cast<size_t*>(total) += size * count;
  return size * count;
}

// libcurl posting the same bodies one after another, as the client does, on one handle.
double CurlFetch(const std::string& url, const std::vector<std::string>& bodies, size_t& bytes) {
  CURL* curl = curl_easy_init();
  bytes = 0;
  const auto start = Clock::now();
  for (const std::string& body : bodies) {
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &bytes);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    if (curl_easy_perform(curl) != CURLE_OK) std::fprintf(stderr, "curl failed\n");
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  curl_easy_cleanup(curl);
  return seconds;
}

void BM_UpdateBundledFromEmptyRoot(benchmark::State& state) {
  TSite site;
  if (site.Port == 0) {
    state.SkipWithError("vandrel-update-site did not start");
    return;
  }
  UpdateEmptyRoot(site.Url());  // the site builds its files on the first request
  std::vector<double> oursRounds, peerRounds;
  size_t installed = 0, bytes = 0;
  for (auto _ : state) {
    TUpdateOutcome outcome = UpdateEmptyRoot(site.Url());
    if (!outcome.Ok) {
      state.SkipWithError("the update failed");
      return;
    }
    oursRounds.push_back(outcome.Seconds);
    installed = outcome.Installed;
    peerRounds.push_back(CurlFetch(site.Url(), outcome.Bodies, bytes));
    state.SetIterationTime(outcome.Seconds);
  }
  // Medians: on a shared machine one round now and then waits for the processor.
  const double ours = Median(oursRounds);
  const double peer = Median(peerRounds);
  state.counters["definitions"] = static_cast<double>(installed);
  state.counters["ours_s"] = ours;
  state.counters["curl_s"] = peer;
  state.counters["ratio"] = ours / peer;
  std::printf(
      "update of %zu definitions (%zu bytes), medians: ours %.4f s (exchange, install, catalogue), "
      "libcurl fetch alone %.4f s, ratio %.2f\n",
      installed, bytes, ours, peer, ours / peer);
}
BENCHMARK(BM_UpdateBundledFromEmptyRoot)->UseManualTime()->Iterations(9)->Unit(benchmark::kMillisecond);

// Best of five, in wall time and in the inflating thread's processor time: on a shared machine a
// process waiting for a processor counts only in the first.
struct TInflateTimes {
  double Wall = 0, Cpu = 0;
};

double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Runs python3's zlib on `file` (skipping the 4 signature bytes) and answers its inflate times alone.
TInflateTimes PythonInflate(const std::string& file, size_t& size) {
  const std::string script =
      "import sys,time,zlib\n"
      "d=open(sys.argv[1],'rb').read()[4:]\n"
      "best=1e9\n"
      "cpu=1e9\n"
      "for i in range(5):\n"
      "  t=time.perf_counter(); c=time.thread_time(); o=zlib.decompress(d)\n"
      "  cpu=min(cpu,time.thread_time()-c); best=min(best,time.perf_counter()-t)\n"
      "print(best, cpu, len(o))\n";
  const std::string out = file + ".py.out";
  std::vector<std::string> args = {"python3", "-c", script, file};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  int status = 0;
  if (posix_spawnp(&pid, "python3", &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  TInflateTimes times;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return times;
  std::sscanf(ReadWhole(out).c_str(), "%lf %lf %zu", &times.Wall, &times.Cpu, &size);
  fs::remove(out);
  return times;
}

void BM_Inflate20MB(benchmark::State& state) {
  // Text-like data that compresses about as well as definitions do.
  std::mt19937 random(7);
  const char* words[] = {"Procedure ",
                         "Register\r\n",
                         "DisplayName = ",
                         "\"Book Barn\"\r\n",
                         "If ",
                         "Endif\r\n",
                         "SourceUrl = SiteAddress + ",
                         "StrFormat(\"%d\", Trunc(Iteration + 1))\r\n"};
  std::string plain;
  plain.reserve(20u << 20);
  while (plain.size() < (20u << 20)) {
    plain += words[random() % 8];
    plain += static_cast<char>('a' + random() % 26);
  }
  plain.resize(20u << 20);
  const std::string wrapped = ZsCompress(plain);
  const std::string folder = TempFolder();
  const std::string file = folder + "/big.zst";
  std::ofstream(file, std::ios::binary) << wrapped;

  TInflateTimes ours{1e9, 1e9};
  long faults = 0;  // the most page faults one inflate took
  for (auto _ : state) {
    std::string out;
    const auto start = Clock::now();
    rusage before{}, after{};
    getrusage(RUSAGE_THREAD, &before);
    const double cpuStart = ThreadSeconds();
    const TZsResult result = ZsDecompress(wrapped, out);
    const double cpu = ThreadSeconds() - cpuStart;
    getrusage(RUSAGE_THREAD, &after);
    faults = std::max<long>(faults, after.ru_minflt - before.ru_minflt);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (result != TZsResult::Inflated || out.size() != plain.size()) {
      state.SkipWithError("inflate failed");
      return;
    }
    ours.Wall = std::min(ours.Wall, seconds);
    ours.Cpu = std::min(ours.Cpu, cpu);
    state.SetIterationTime(seconds);
  }
  size_t pySize = 0;
  const TInflateTimes python = PythonInflate(file, pySize);
  fs::remove_all(folder);
  if (python.Wall <= 0 || python.Cpu <= 0 || pySize != plain.size()) {
    state.SkipWithError("python3 could not inflate the file");
    return;
  }
  state.counters["ours_s"] = ours.Wall;
  state.counters["python_s"] = python.Wall;
  state.counters["ratio"] = ours.Wall / python.Wall;
  state.counters["cpu_ratio"] = ours.Cpu / python.Cpu;
  std::printf(
      "inflate %zu -> %zu bytes, best of 5: ours %.4f s (%.4f s cpu), python zlib %.4f s (%.4f s cpu), "
      "ratio %.2f (cpu %.2f), up to %ld page faults an inflate\n",
      wrapped.size(), plain.size(), ours.Wall, ours.Cpu, python.Wall, python.Cpu, ours.Wall / python.Wall,
      ours.Cpu / python.Cpu, faults);
}
BENCHMARK(BM_Inflate20MB)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
