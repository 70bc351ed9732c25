#include "search/ResultManager.h"

#include <algorithm>

#include "platform/TextUtils.h"

namespace vandrel {

void TEngineResultList::SetInstance(TSearchTypeInstance* instance) {
  if (instance == instance_) return;
  Clear();
  instance_ = instance;
}

TEngineResults& TEngineResultList::FindOrAdd(const std::string& engineName) {
  auto& slot = lists_[LowerAscii(engineName)];
  if (!slot) {
    slot = std::make_unique<TEngineResults>(instance_, engineName, nextIndex_++);
    byList_[slot.get()] = slot.get();
  }
  return *slot;
}

TEngineResults* TEngineResultList::Find(std::string_view engineName) const {
  auto it = lists_.find(LowerAscii(engineName));
  return it == lists_.end() ? nullptr : it->second.get();
}

std::string TEngineResultList::EngineNameOf(const TResultRecord& record) const {
  auto it = byList_.find(record.List);
  return it == byList_.end() ? std::string() : it->second->Name;
}

void TEngineResultList::Clear() {
  byList_.clear();
  lists_.clear();
  nextIndex_ = 0;
}

// ---------------------------------------------------------------------------------------------------

TMasterResult::TMasterResult(std::string key, TSearchTypeInstance* instance)
    : Key(std::move(key)), Records(instance, false) {}

std::vector<std::string> TMasterResult::FoundBy(const TEngineResultList& engines) const {
  std::vector<std::string> names;
  for (size_t i = 0; i < Records.Count(); ++i) {
    std::string name = engines.EngineNameOf(Records.At(i));
    if (!name.empty()) names.push_back(std::move(name));
  }
  return names;
}

TMasterResult* TMasterResultList::Find(std::string_view key) const {
  auto it = byKey_.find(LowerAscii(key));
  return it == byKey_.end() ? nullptr : it->second;
}

TMasterResult& TMasterResultList::Add(std::unique_ptr<TMasterResult> master) {
  TMasterResult* m = master.get();
  byKey_[LowerAscii(m->Key)] = m;
  items_.push_back(std::move(master));
  return *m;
}

void TMasterResultList::Delete(TMasterResult* master) {
  // The master to delete is nearly always the one just added.
  for (size_t i = items_.size(); i-- > 0;) {
    if (items_[i].get() != master) continue;
    auto it = byKey_.find(LowerAscii(master->Key));
    if (it != byKey_.end() && it->second == master) byKey_.erase(it);
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(i));
    return;
  }
}

void TMasterResultList::Clear() {
  byKey_.clear();
  items_.clear();
}

std::vector<TMasterResult*> TMasterResultList::Sorted(TSearchResultList& order) const {
  std::vector<TMasterResult*> out;
  out.reserve(items_.size());
  for (const auto& m : items_) out.push_back(m.get());
  std::stable_sort(out.begin(), out.end(), [&order](TMasterResult* a, TMasterResult* b) {
    bool oldA = a->State == msOld, oldB = b->State == msOld;
    if (oldA != oldB) return oldB;
    if (!a->Representative || !b->Representative) return a->Representative && !b->Representative;
    return order.Compare(*a->Representative, *b->Representative) < 0;
  });
  return out;
}

// ---------------------------------------------------------------------------------------------------

TResultManager::TResultManager()
    : stored_(std::make_unique<TSearchResultList>(nullptr, true)),
      seeds_(std::make_unique<TSearchResultList>(nullptr, true)),
      order_(std::make_unique<TSearchResultList>(nullptr, false)) {}

TResultManager::~TResultManager() {
  // Masters refer to seeds; drop them first.
  masters_.Clear();
}

void TResultManager::SetInstance(TSearchTypeInstance* instance) {
  if (instance == instance_) return;
  seededFrom_.clear();
  new_.clear();
  updated_.clear();
  old_.clear();
  masters_.Clear();
  instance_ = instance;
  stored_->SetInstance(instance);
  seeds_->SetInstance(instance);
  order_->SetInstance(instance);
}

void TResultManager::Reset() {
  new_.clear();
  updated_.clear();
  old_.clear();
  masters_.Clear();
  seeds_->Clear();
  seededFrom_.clear();
  for (size_t i = 0; i < stored_->Count(); ++i) {
    TResultRecord& stored = stored_->At(i);
    std::unique_ptr<TResultRecord> copy = stored.Clone();
    TResultRecord* seed = copy.get();
    seeds_->Add(std::move(copy));
    TMasterResult* m = masters_.Find(seed->UniqueKey());
    if (!m) {
      auto master = std::make_unique<TMasterResult>(seed->UniqueKey(), instance_);
      // The rank a stored result keeps is the master rank its representative carried; results stored
      // without one rank by their stored order.
      master->Rank = stored.MasterRank > 0 ? stored.MasterRank : static_cast<int32_t>(i) + 1;
      master->State = msOld;
      m = &masters_.Add(std::move(master));
    }
    AddRecord(*m, *seed);
    seededFrom_.push_back(m);
  }
}

TMasterResult* TResultManager::Merge(TResultRecord& record) {
  const std::string& key = record.UniqueKey();
  TMasterResult* master = masters_.Find(key);
  bool created = false;
  if (!master) {
    auto fresh = std::make_unique<TMasterResult>(key, instance_);
    fresh->Rank = static_cast<int32_t>(masters_.Count()) + 1;
    master = &masters_.Add(std::move(fresh));
    created = true;
  }
  bool wasOld = master->State == msOld;
  // A stored copy is replaced by this run's records, so it does not count as an occurrence.
  size_t earlier = wasOld ? 0 : master->Records.Count();
  if (instance_) instance_->Variables.SetInteger("Occurrence", static_cast<int64_t>(earlier) + 1);
  record.Refresh();
  if (record.FilteredOut) {
    // A rejected record leaves no trace: a stored master keeps its stored copy and stays old.
    if (created) masters_.Delete(master);
    return nullptr;
  }
  if (wasOld) {
    master->Records.Clear();
    master->Representative = nullptr;
  }
  if (!created) master->State = msFoundAgain;
  AddRecord(*master, record);
  if (created) {
    if (ReportNew) new_.push_back(master);
  } else if (ReportUpdated && std::find(updated_.begin(), updated_.end(), master) == updated_.end()) {
    updated_.push_back(master);
  }
  return master;
}

void TResultManager::AddRecord(TMasterResult& master, TResultRecord& record) {
  record.Master = &master;
  master.Records.AddRef(&record);
  TResultRecord* current = master.Representative;
  if (!current) {
    master.Representative = &record;
  } else if (master.State != msOld) {
    // Scores depend on the occurrence count, so the current representative is compared as it stands now.
    current->Refresh();
    if (order_->Compare(record, *current) < 0) master.Representative = &record;
  }
  master.Representative->MasterRank = master.Rank;
}

void TResultManager::CollectOld() {
  for (size_t i = 0; i < masters_.Count(); ++i)
    if (masters_.At(i).State == msOld) old_.push_back(&masters_.At(i));
}

std::vector<TMasterResult*> TResultManager::SortedMasters() {
  return masters_.Sorted(*order_);
}

}  // namespace vandrel
