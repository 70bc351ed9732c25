// Tells, without blocking the main thread, whether the machine can resolve a public host name.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/MainDispatcher.h"

namespace vandrel {

struct TDetectionRun;

// Main thread only. Each detector cancels only its own look-up.
class TConnectionDetector {
 public:
  using TDetectStartEvent = std::function<void(TConnectionDetector& sender)>;
  using TDetectDoneEvent = std::function<void(TConnectionDetector& sender, int connectionStatus)>;

  static constexpr const char* kDefaultLink = "www.example.com";
  static constexpr int kStatusConnected = 0;
  static constexpr int kStatusNotStarted = -1;  // canceled before the look-up began

  explicit TConnectionDetector(MainDispatcher& dispatcher = MainDispatcher::Default());
  ~TConnectionDetector();
  TConnectionDetector(const TConnectionDetector&) = delete;
  TConnectionDetector& operator=(const TConnectionDetector&) = delete;

  // Resolves the probe host on a thread of its own; detection done follows on the main thread. Ignored
  // while a detection runs.
  void Start();
  // Abandons the look-up in progress: detection done comes at once with the interrupted-call status,
  // and the resolver thread finishes on its own.
  void Cancel();

  bool Running() const { return running_; }
  int Status() const { return status_; }  // 0 = connected, else a socket error number or -1
  // The probe: a host name, or an address whose host part is taken.
  const std::string& Link() const { return link_; }
  void SetLink(std::string link) { link_ = std::move(link); }

  TDetectStartEvent OnDetectStart;
  TDetectDoneEvent OnDetectDone;

  // Resolves one host name and answers 0 or a socket error number; may run on any thread. Tests
  // replace it to hold a look-up open.
  using TResolver = std::function<int(const std::string& host)>;
  void SetResolver(TResolver resolver) { resolver_ = std::move(resolver); }
  static int ResolveHost(const std::string& host);

  // The host part of an address or "host:port" ("http://a.b:8080/x" -> "a.b").
  static std::string ProbeHost(const std::string& link);

 private:
  void Finished(int status);
  static void Release(std::shared_ptr<TDetectionRun> run);

  MainDispatcher& dispatcher_;
  std::string link_ = kDefaultLink;
  bool running_ = false;
  int status_ = kStatusNotStarted;
  std::shared_ptr<TDetectionRun> run_;  // the detection in progress
  TResolver resolver_ = ResolveHost;
};

}  // namespace vandrel
