#include "actions/QuorinActions.h"

#include <algorithm>

namespace vandrel {

bool TQuorinAction::Prepare(TEngineRepository* repository, TSearchHistory* history) {
  Repository_ = repository;
  History_ = history;
  return true;
}

void TQuorinAction::AddObserver(IQuorinActionObserver* observer) {
  if (observer && std::find(Observers_.begin(), Observers_.end(), observer) == Observers_.end())
    Observers_.push_back(observer);
}

void TQuorinAction::RemoveObserver(IQuorinActionObserver* observer) {
  auto it = std::find(Observers_.begin(), Observers_.end(), observer);
  if (it != Observers_.end()) Observers_.erase(it);
}

bool TQuorinAction::IsObserver(const IQuorinActionObserver* observer) const {
  return std::find(Observers_.begin(), Observers_.end(), observer) != Observers_.end();
}

void TQuorinAction::NotifyAllStarted() {
  ForEachObserver<IQuorinActionObserver>([this](IQuorinActionObserver& o) { NotifyStarted(o); });
}

void TQuorinAction::NotifyAllFinished() {
  ForEachObserver<IQuorinActionObserver>([this](IQuorinActionObserver& o) { NotifyFinished(o); });
}

void TQuorinAsynchronousAction::SetProgress(int percent) {
  if (percent == Progress_) return;
  Progress_ = percent;
  ForEachObserver<IQuorinAsynchronousActionObserver>(
      [this](IQuorinAsynchronousActionObserver& o) { NotifyProgress(o); });
}

TQuorinActionRepository& TQuorinActionRepository::Instance() {
  static TQuorinActionRepository instance;
  return instance;
}

void TQuorinActionRepository::Register(int category, TQuorinActionFactory createAction,
                                       const TClassInfo& operationClass) {
  if (category < 0 || category >= kCategoryCount || !createAction) return;
  RegisterClass(operationClass);
  Categories_[category].push_back({std::move(createAction), operationClass.Name});
}

const TActionItem* TQuorinActionRepository::FindActionClass(const TQuorinOperation& operation) const {
  const std::string& name = operation.ClassName();
  for (const auto& category : Categories_)
    for (const auto& item : category)
      if (item.OperationClassName == name) return &item;
  return nullptr;
}

void TQuorinActionRepository::Clear() {
  for (auto& category : Categories_) category.clear();
}

}  // namespace vandrel
