#include <algorithm>

#include "actions/AppErrors.h"
#include "actions/QuorinApplications.h"
#include "kernel/AppConfig.h"
#include "kernel/AppKernel.h"
#include "search/SearchAction.h"
#include "search/SearchHistory.h"

namespace vandrel {

void TAppKernel::SetSearchContext(TQuorinApplication* runner, TAppConfig* config,
                                  TAppSearchHistoryPtr compare, TAppSearchHistoryPtr reviews) {
  runner_ = runner;
  config_ = config;
  compareHistory_ = std::move(compare);
  reviewsHistory_ = std::move(reviews);
}

bool TAppKernel::StartSearch(TSearchStorageItem* search, bool isReviews, bool isNew) {
  if (!debugMode_ && searchHooks_.UpdateDue && searchHooks_.BeforeSearch && searchHooks_.UpdateDue())
    searchHooks_.BeforeSearch();
  TAppSearchHistory* history = isReviews ? reviewsHistory_.get() : compareHistory_.get();
  if (!search || !history || !runner_) {
    ShowAppError(aeCategoryWithoutEngine);
    return false;
  }
  auto operation = std::make_unique<TQuorinSearchOperation>();
  operation->Folder = history->Folder();
  operation->SrhNum = search->Index();
  if (runner_->State() == asIdle) history->SetCurrentSearch(search);
  if (isNew) history->NotifySearchAdded(search);
  // Behind a running action (or its connection test) the search waits in the queue: that is success.
  const TQuorinActionResult result = runner_->Submit(std::move(operation));
  if (result != arOk) {
    // A stop the user asked for while the search was starting is no error of the category.
    if (!stopping_) ShowAppError(aeCategoryWithoutEngine);
    // A search queued while this one was starting (its connection test pumps messages) would otherwise
    // wait for a finished action that never comes.
    while (runner_->State() == asIdle && !runner_->Queue().Empty() && runner_->Run() != arOk) {
    }
    return false;
  }
  stopping_ = false;
  const std::vector<IAppKernelObserver*> observers = observers_;
  for (IAppKernelObserver* observer : observers)
    if (std::find(observers_.begin(), observers_.end(), observer) != observers_.end())
      observer->SearchStarted(*this, search, isReviews);
  return true;
}

bool TAppKernel::StopSearch() {
  if (config_ && config_->Prompts().PromptStopMsg() && searchHooks_.AskStop) {
    const TStopAnswer answer = searchHooks_.AskStop();
    config_->Prompts().SetPromptStopMsg(!answer.DontAskAgain);
    if (!answer.Stop) return false;
  }
  stopping_ = true;
  if (runner_) runner_->Stop(true);
  return true;
}

void TAppKernel::AddObserver(IAppKernelObserver* observer) {
  if (observer && std::find(observers_.begin(), observers_.end(), observer) == observers_.end())
    observers_.push_back(observer);
}

void TAppKernel::RemoveObserver(IAppKernelObserver* observer) {
  std::erase(observers_, observer);
}

}  // namespace vandrel
