// The outcome of one download item: every field behind one lock, state changes told to observers.
#include "http/HttpResult.h"

#include <algorithm>

namespace vandrel {

std::vector<std::string> THttpResult::Visited() const {
  std::lock_guard<std::mutex> g(visitedLock_);
  return visited_;
}

bool THttpResult::WasRedirected() const {
  std::lock_guard<std::mutex> g(visitedLock_);
  return visited_.size() > 1;
}

bool THttpResult::IsComplete() const {
  std::lock_guard<std::mutex> g(lock_);
  if (resultType_ == rtHtml) return subItemsDone_ == subItemCount_ && state_ != hisRunning;
  return resultType_ <= rtImage;
}

void THttpResult::AddObserver(IHttpResultObserver* observer) {
  std::lock_guard<std::mutex> g(observerLock_);
  if (std::find(observers_.begin(), observers_.end(), observer) == observers_.end())
    observers_.push_back(observer);
}

void THttpResult::RemoveObserver(IHttpResultObserver* observer) {
  std::lock_guard<std::mutex> g(observerLock_);
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

void THttpResult::AddVisited(const std::string& url) {
  std::lock_guard<std::mutex> g(visitedLock_);
  if (std::find(visited_.begin(), visited_.end(), url) == visited_.end()) visited_.push_back(url);
}

bool THttpResult::MayVisit(const std::string& url) const {
  {
    std::lock_guard<std::mutex> g(visitedLock_);
    if (std::find(visited_.begin(), visited_.end(), url) != visited_.end()) return false;
  }
  auto parent = std::dynamic_pointer_cast<THttpResult>(Parent());
  return !parent || parent->MayVisit(url);
}

bool THttpResult::AcceptRedirection(const std::string& url) {
  if (!MayVisit(url)) return false;
  AddVisited(url);
  return true;
}

void THttpResult::SetState(THttpItemState state) {
  {
    std::lock_guard<std::mutex> g(lock_);
    state_ = state;
  }
  std::vector<IHttpResultObserver*> observers;
  {
    std::lock_guard<std::mutex> g(observerLock_);
    observers = observers_;
  }
  auto self = shared_from_this();
  for (auto* o : observers) o->ResultStateChanged(self, state);
}

bool THttpResult::ChangeState(THttpItemState from, THttpItemState to) {
  {
    std::lock_guard<std::mutex> g(lock_);
    if (state_ != from) return false;
  }
  SetState(to);
  return true;
}

}  // namespace vandrel
