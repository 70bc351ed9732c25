#include "kernel/StartupTrace.h"

#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>

namespace vandrel {
namespace {

using Clock = std::chrono::steady_clock;

// How long the process had run when the first mark came, from the kernel's start time (in clock ticks
// since boot, so only to 10 ms or so); later marks add the steady clock to it.
double AgeAtFirstMarkMs() {
  const std::vector<std::string> fields = ProcessStatFields(0);
  constexpr size_t kStartTime = 22 - 3;
  if (fields.size() <= kStartTime) return 0;
  const double ticks = std::strtod(fields[kStartTime].c_str(), nullptr);
  timespec now{};
  clock_gettime(CLOCK_BOOTTIME, &now);
  const double bootMs = now.tv_sec * 1e3 + now.tv_nsec / 1e6;
  return bootMs - ticks * 1e3 / sysconf(_SC_CLK_TCK);
}

}  // namespace

std::vector<std::string> ProcessStatFields(int pid) {
  std::ifstream stat(pid == 0 ? std::string("/proc/self/stat") : "/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  std::getline(stat, text);
  const size_t close = text.rfind(')');
  std::vector<std::string> fields;
  if (close == std::string::npos || close + 2 > text.size()) return fields;
  std::istringstream rest(text.substr(close + 2));
  for (std::string field; rest >> field;) fields.push_back(field);
  return fields;
}

void StartupMark(std::string_view step) {
  static const bool enabled = std::getenv("VANDREL_STARTUP_TRACE") != nullptr;
  if (!enabled) return;
  static std::mutex lock;
  static const Clock::time_point first = Clock::now();
  static const double age = AgeAtFirstMarkMs();
  const double ms = age + std::chrono::duration<double, std::milli>(Clock::now() - first).count();
  // The calling thread's processor time beside the wall time: a busy machine stretches only the latter.
  timespec cpu{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
  const double cpuMs = cpu.tv_sec * 1e3 + cpu.tv_nsec / 1e6;
  std::lock_guard<std::mutex> guard(lock);
  std::fprintf(stderr, "startup %8.1f ms (thread cpu %7.1f ms)  %.*s\n", ms, cpuMs,
               static_cast<int>(step.size()), step.data());
}

}  // namespace vandrel
