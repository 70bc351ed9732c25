#include "http/ConnectionDetector.h"

#include <netdb.h>
#include <pthread.h>
#include <sys/socket.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/net/NetError.h"

namespace vandrel {

namespace {

constexpr int kInterruptedCall = 10004;  // the status of an abandoned look-up

}  // namespace

int TConnectionDetector::ResolveHost(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  int eai = ::getaddrinfo(host.c_str(), nullptr, &hints, &result);
  if (result) ::freeaddrinfo(result);
  // As the socket error numbers whose texts the client shows.
  return NetErrorFromEai(eai, eai == EAI_SYSTEM ? errno : 0);
}

// One detection, shared with its resolver thread; whichever of the thread and Cancel comes first
// finishes it, so detection done fires exactly once.
struct TDetectionRun {
  std::mutex lock;
  std::condition_variable posted;
  bool finished = false;                 // the outcome is decided (by the look-up or by Cancel)
  bool posting = false;                  // the resolver thread is handing its outcome to the dispatcher
  bool done = false;                     // the resolver thread no longer touches the dispatcher
  std::thread thread;                    // main thread only
  TConnectionDetector* owner = nullptr;  // main thread only; cleared when the detector goes away
};

// A finished run's thread has posted its outcome, or was abandoned by Cancel and returns without
// touching anything; either way it is not waited for beyond the end of its post.
void TConnectionDetector::Release(std::shared_ptr<TDetectionRun> run) {
  if (!run) return;
  std::unique_lock<std::mutex> g(run->lock);
  if (run->posting) {
    run->posted.wait(g, [&] { return run->done; });
    g.unlock();
    run->thread.join();
  } else if (run->thread.joinable()) {
    g.unlock();
    run->thread.detach();
  }
}

TConnectionDetector::TConnectionDetector(MainDispatcher& dispatcher) : dispatcher_(dispatcher) {}

TConnectionDetector::~TConnectionDetector() {
  if (!run_) return;
  run_->owner = nullptr;
  {
    std::lock_guard<std::mutex> g(run_->lock);
    run_->finished = true;  // a look-up still running now ends without posting
  }
  Release(std::move(run_));
}

std::string TConnectionDetector::ProbeHost(const std::string& link) {
  std::string host = link;
  auto scheme = host.find("://");
  if (scheme != std::string::npos) host.erase(0, scheme + 3);
  auto end = host.find_first_of("/?#");
  if (end != std::string::npos) host.erase(end);
  auto at = host.rfind('@');
  if (at != std::string::npos) host.erase(0, at + 1);
  auto colon = host.find(':');
  if (colon != std::string::npos) host.erase(colon);
  return host;
}

void TConnectionDetector::Start() {
  if (running_) return;
  auto run = std::make_shared<TDetectionRun>();
  run->owner = this;
  run_ = run;
  std::string host = ProbeHost(link_);
  MainDispatcher* dispatcher = &dispatcher_;
  run->thread = std::thread([run, host, dispatcher, resolve = resolver_] {
    pthread_setname_np(pthread_self(), "vandrel-detect");
    int status = resolve(host);
    {
      std::lock_guard<std::mutex> g(run->lock);
      if (run->finished) return;  // canceled meanwhile: its status has been reported
      run->finished = true;
      run->posting = true;
    }
    dispatcher->Post(
        [run, status] {
          if (run->owner) run->owner->Finished(status);
        },
        kMsgNone);
    std::lock_guard<std::mutex> g(run->lock);
    run->done = true;
    run->posted.notify_all();
  });
  running_ = true;
  if (OnDetectStart) OnDetectStart(*this);
}

void TConnectionDetector::Cancel() {
  auto run = run_;
  if (!run) return;
  {
    std::lock_guard<std::mutex> g(run->lock);
    if (run->finished) return;
    run->finished = true;
  }
  dispatcher_.Post(
      [run] {
        if (run->owner) run->owner->Finished(kInterruptedCall);
      },
      kMsgNone);
}

void TConnectionDetector::Finished(int status) {
  status_ = status;
  running_ = false;
  Release(std::move(run_));
  if (OnDetectDone) OnDetectDone(*this, status);
}

}  // namespace vandrel
