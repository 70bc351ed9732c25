// Keeps a downloader's results until they are finished, and reports a page done once everything it
// holds (its frames and images) is done.
#include "http/HttpResultManager.h"

#include "http/HttpDownloaderCore.h"

namespace vandrel {

void THttpResultManager::ResultStateChanged(const IHttpResultPtr& result, THttpItemState state) {
  auto r = std::dynamic_pointer_cast<THttpResult>(result);
  if (!r) return;
  if (state == hisWaiting || state == hisSuspended) {
    std::lock_guard<std::mutex> g(lock_);
    results_[r->UniqueId()] = r;
    return;
  }
  if (state != hisDonePage && state != hisCanceled) return;  // the rest is only recorded
  const bool notify = state == hisDonePage;
  // Finishing may deliver the page-done event, which belongs to the main thread.
  if (dispatcher_.IsMainThread()) {
    if (!core_.closed_) Finish(r, notify);
    return;
  }
  auto core = core_.weak_from_this();
  dispatcher_.Post([core, r, notify] {
    if (auto c = core.lock(); c && !c->closed_) c->Results().Finish(r, notify);
  });
}

void THttpResultManager::Finish(const THttpResultPtr& result, bool notify) {
  if (result->finished_ || !result->IsComplete()) return;  // its frames and images finish it later
  result->finished_ = true;
  if (notify) core_.PageDone(result);
  if (!core_.Settings().KeepResults) {
    {
      std::lock_guard<std::mutex> g(lock_);
      results_.erase(result->UniqueId());
    }
    result->RemoveObserver(this);
  }
  // A frame or image counts for its page once it is finished itself, so a page is reported after all of
  // its parts, nested ones included.
  if (!result->IsSubItem()) return;
  auto parent = std::dynamic_pointer_cast<THttpResult>(result->Parent());
  if (!parent) return;
  parent->Edit([](THttpResult& p) { ++p.subItemsDone_; });
  const auto state = parent->State();
  if (state == hisDonePage || state == hisCanceled || state >= hisTimedOut) Finish(parent, notify);
}

IHttpResultPtr THttpResultManager::Find(int uniqueId) const {
  std::lock_guard<std::mutex> g(lock_);
  auto it = results_.find(uniqueId);
  return it == results_.end() ? nullptr : it->second;
}

void THttpResultManager::Clear() {
  std::map<int, THttpResultPtr> all;
  {
    std::lock_guard<std::mutex> g(lock_);
    all.swap(results_);
  }
  for (auto& [id, r] : all) r->RemoveObserver(this);
}

}  // namespace vandrel
