// Keeps a downloader's results until they are finished, and reports a page done once everything it
// holds (its frames and images) is done.
#pragma once

#include <map>
#include <mutex>

#include "http/HttpResult.h"
#include "platform/MainDispatcher.h"

namespace vandrel {

class THttpDownloaderCore;

class THttpResultManager : public IHttpResultObserver {
 public:
  THttpResultManager(THttpDownloaderCore& core, MainDispatcher& dispatcher)
      : core_(core), dispatcher_(dispatcher) {}
  ~THttpResultManager() override { Clear(); }

  void Register(const THttpResultPtr& result) { result->AddObserver(this); }
  // Any thread: finishing is handed to the main thread.
  void ResultStateChanged(const IHttpResultPtr& result, THttpItemState state) override;
  // Main thread. `notify`: deliver the page-done event once the result is complete.
  void Finish(const THttpResultPtr& result, bool notify);
  IHttpResultPtr Find(int uniqueId) const;
  void Clear();

 private:
  THttpDownloaderCore& core_;
  MainDispatcher& dispatcher_;
  mutable std::mutex lock_;                // guards results_
  std::map<int, THttpResultPtr> results_;  // by unique id
};

}  // namespace vandrel
