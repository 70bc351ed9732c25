#include <algorithm>
#include <utility>

#include "actions/AppErrors.h"
#include "actions/QuorinApplications.h"
#include "kernel/AppConfig.h"
#include "kernel/AppKernel.h"
#include "search/SearchAction.h"
#include "search/SearchHistory.h"

namespace vandrel {

// Hears the connection test of the search a StartSearch call starts, so a refusal can say why.
class TAppKernel::TStartWatch : public IQuorinApplicationObserver {
 public:
  explicit TStartWatch(TQuorinApplication& runner) : runner_(runner) { runner_.AddObserver(this); }
  ~TStartWatch() override {
    runner_.RemoveObserver(this);
    if (action_) action_->RemoveObserver(&ear_);
  }
  TStartWatch(const TStartWatch&) = delete;
  TStartWatch& operator=(const TStartWatch&) = delete;

  void ActionStarting(TQuorinAction& action) override {
    if (action_) return;
    action_ = dynamic_cast<TQuorinSearchAction*>(&action);
    if (action_) action_->AddObserver(&ear_);
  }
  // The action goes after it finishes; it must not be reached after that.
  void ActionFinished(TQuorinAction& action) override {
    if (&action != action_) return;
    action_->RemoveObserver(&ear_);
    action_ = nullptr;
  }

  // A refused search's action is gone by the time Submit answers.
  void Forget() { action_ = nullptr; }
  bool ConnectionFailed() const { return ear_.Result != 0; }

 private:
  struct TEar : ISearchActionObserver {
    void ConnectionDetectDone(int result) override { Result = result; }
    int Result = 0;
  };
  TQuorinApplication& runner_;
  TQuorinSearchAction* action_ = nullptr;  // the action being watched; not owned
  TEar ear_;
};

void TAppKernel::SetSearchContext(TQuorinApplication* runner, TAppConfig* config,
                                  TAppSearchHistoryPtr compare, TAppSearchHistoryPtr reviews) {
  runner_ = runner;
  config_ = config;
  compareHistory_ = std::move(compare);
  reviewsHistory_ = std::move(reviews);
}

bool TAppKernel::StartSearch(TSearchStorageItem* search, bool isReviews, bool isNew) {
  if (!debugMode_ && updateDue_ && searchHooks_.BeforeSearch && updateDue_()) searchHooks_.BeforeSearch();
  TAppSearchHistory* history = isReviews ? reviewsHistory_.get() : compareHistory_.get();
  lastStartError_ = aeCategoryWithoutEngine;
  if (!search || !history || !runner_) {
    ShowAppError(aeCategoryWithoutEngine);
    return false;
  }
  struct TInside {
    bool& Flag;
    bool Was;
    ~TInside() { Flag = Was; }
  } inside{inStartSearch_, std::exchange(inStartSearch_, true)};
  auto operation = std::make_unique<TQuorinSearchOperation>();
  operation->Folder = history->Folder();
  operation->SrhNum = search->Index();
  if (runner_->State() == asIdle) history->SetCurrentSearch(search);
  if (isNew) history->NotifySearchAdded(search);
  // Behind a running action (or its connection test) the search waits in the queue: that is success.
  TStartWatch watch(*runner_);
  const TQuorinActionResult result = runner_->Submit(std::move(operation));
  if (result != arOk) {
    watch.Forget();
    if (watch.ConnectionFailed()) lastStartError_ = aeNotConnected;
    // A stop the user asked for while the search was starting is no error of the category.
    if (!stopping_) ShowAppError(lastStartError_);
    // A search queued while this one was starting (its connection test pumps messages) would otherwise
    // wait for a finished action that never comes.
    while (runner_->State() == asIdle && !runner_->Queue().Empty() && runner_->Run() != arOk) {
    }
    return false;
  }
  lastStartError_ = aeNoError;
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
