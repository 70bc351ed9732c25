#include "search/SearchOutcome.h"

#include "platform/TextUtils.h"

namespace vandrel {

void TSearchRunEngines::Add(const std::string& name, bool supportsNew) {
  engines_[AsciiLowerCase(name)] = TEngineRun{supportsNew, true};
}

void TSearchRunEngines::MarkIncomplete(const std::string& name) {
  auto it = engines_.find(AsciiLowerCase(name));
  if (it != engines_.end()) it->second.Completed = false;
}

const TSearchRunEngines::TEngineRun* TSearchRunEngines::Find(const std::string& name) const {
  auto it = engines_.find(AsciiLowerCase(name));
  return it == engines_.end() ? nullptr : &it->second;
}

bool TSearchRunEngines::TookPart(const std::string& name) const {
  return Find(name) != nullptr;
}

bool TSearchRunEngines::Completed(const std::string& name) const {
  const TEngineRun* run = Find(name);
  return run && run->Completed;
}

TOldResultFate TSearchRunEngines::Fate(const std::vector<std::string>& foundBy) const {
  bool completed = false;
  bool supportsNew = false;
  for (const std::string& name : foundBy) {
    const TEngineRun* run = Find(name);
    if (!run) continue;
    completed = completed || run->Completed;
    supportsNew = supportsNew || run->SupportsNew;
  }
  if (!completed) return TOldResultFate::orfRemains;
  return supportsNew ? TOldResultFate::orfOutdated : TOldResultFate::orfDeleted;
}

}  // namespace vandrel
