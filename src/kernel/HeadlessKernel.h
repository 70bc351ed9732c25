// The kernel with an action runner of its own, as programs and tests without windows hold it.
#pragma once

#include <chrono>
#include <functional>

#include "actions/QuorinActions.h"
#include "actions/QuorinApplications.h"
#include "kernel/AppKernel.h"
#include "kernel/CommandLineProcessor.h"

namespace vandrel {

class TQuorinSearchAction;

// Owns the runner, the action repository and the kernel over them. Main thread only.
class THeadlessKernel : public IQuorinApplicationObserver {
 public:
  THeadlessKernel();
  // Stops a search still running, then shuts the kernel down.
  ~THeadlessKernel() override;
  THeadlessKernel(const THeadlessKernel&) = delete;
  THeadlessKernel& operator=(const THeadlessKernel&) = delete;

  // The kernel's start-up without single instance, display or home page: folders, database, catalogue,
  // histories and currency table. False when it ended on an error, which the error presenter was shown.
  bool Open(const TStartOptions& options, TAppKernel::THooks hooks);

  TAppKernel& Kernel() { return Kernel_; }
  TQuorinApplication& Runner() { return Runner_; }
  // Valid after a successful Open.
  TEngineRepository& Repository() { return *Kernel_.Repository(); }
  ISearchCatalogue& Catalogue() { return *Kernel_.Catalogue(); }
  TAppSearchHistory& History(bool isReviews) { return *Kernel_.History(isReviews); }

  // Runs `search` of the chosen history and pumps the dispatcher until the runner is idle again. False
  // when the kernel refused it (LastStartError says why) or it did not end within `limit`.
  bool RunSearch(TSearchStorageItem& search, bool isReviews, bool isNew, std::chrono::milliseconds limit);

  // Told of each search action before it starts, and when it finishes (its searcher still exists then).
  std::function<void(TQuorinSearchAction& action)> OnStarting;
  std::function<void(TQuorinSearchAction& action)> OnFinished;

  void ActionStarting(TQuorinAction& action) override;
  void ActionFinished(TQuorinAction& action) override;

 private:
  bool RunnerIdle() const;

  TQuorinActionRepository Actions_;
  TQuorinApplication Runner_;
  TCommandLineProcessor Processor_;
  TAppKernel Kernel_;
};

}  // namespace vandrel
