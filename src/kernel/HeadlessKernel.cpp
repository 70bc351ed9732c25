#include "kernel/HeadlessKernel.h"

#include "search/SearchAction.h"
#include "search/SearchHistory.h"

namespace vandrel {

THeadlessKernel::THeadlessKernel()
    : Runner_(Actions_, MainDispatcher::Default()), Kernel_(Processor_, MainDispatcher::Default()) {
  Runner_.AddObserver(this);
}

THeadlessKernel::~THeadlessKernel() {
  if (!RunnerIdle()) {
    Runner_.Stop(true);
    MainDispatcher::Default().RunUntil([this] { return RunnerIdle(); }, std::chrono::seconds(30));
  }
  Runner_.RemoveObserver(this);
  Kernel_.ShutDown();
  // A finished action is disposed of through a posted task; it must go before the runner does.
  MainDispatcher::Default().ProcessPending();
}

bool THeadlessKernel::Open(const TStartOptions& options, TAppKernel::THooks hooks) {
  hooks.Headless = true;
  hooks.Runner = &Runner_;
  hooks.Actions = &Actions_;
  return Kernel_.Start(options, std::move(hooks)) == TStartResult::srRun && Kernel_.Catalogue() &&
         Kernel_.CompareHistory() && Kernel_.CompareHistory()->Item() && Kernel_.ReviewsHistory() &&
         Kernel_.ReviewsHistory()->Item();
}

bool THeadlessKernel::RunSearch(TSearchStorageItem& search, bool isReviews, bool isNew,
                                std::chrono::milliseconds limit) {
  if (!Kernel_.StartSearch(&search, isReviews, isNew)) return false;
  return MainDispatcher::Default().RunUntil([this] { return RunnerIdle(); }, limit,
                                            std::chrono::milliseconds(5));
}

bool THeadlessKernel::RunnerIdle() const {
  return Runner_.State() == asIdle && !Runner_.IsBusy() && Runner_.Queue().Empty();
}

void THeadlessKernel::ActionStarting(TQuorinAction& action) {
  auto* search = dynamic_cast<TQuorinSearchAction*>(&action);
  if (!search) return;
  search->Debug = Kernel_.DebugMode();
  if (OnStarting) OnStarting(*search);
}

void THeadlessKernel::ActionFinished(TQuorinAction& action) {
  if (auto* search = dynamic_cast<TQuorinSearchAction*>(&action); search && OnFinished) OnFinished(*search);
}

}  // namespace vandrel
