// Merges the result records of every engine of a search into master results, one per distinct item.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engines/SearchResults.h"

namespace vandrel {

// ORDER/VALUES: stored with searches and compared by number; never renumber.
enum TMasterState : uint8_t {
  msNew = 0,         // first seen in this run
  msFoundAgain = 1,  // stored before and found in this run, or found again within the run
  msOld = 2,         // loaded from storage and not yet found in this run
};

// One engine's accumulated records; its name tells which engine found a record (`TResultRecord::List`).
class TEngineResults : public TSearchResultList {
 public:
  TEngineResults(TSearchTypeInstance* instance, std::string name, int index)
      : TSearchResultList(instance, true), Name(std::move(name)), Index(index) {}
  std::string Name;  // the engine's name as first given
  int Index;         // creation order within its TEngineResultList, from 0
};

// Per engine name (case-insensitive), the list of that engine's accumulated records.
class TEngineResultList {
 public:
  // Follows the search type: a different instance empties every list.
  void SetInstance(TSearchTypeInstance* instance);
  // The engine's list, created on first use with the next index.
  TEngineResults& FindOrAdd(const std::string& engineName);
  TEngineResults* Find(std::string_view engineName) const;
  // The name of the engine whose list holds `record`; empty for a record of no engine (a seed).
  std::string EngineNameOf(const TResultRecord& record) const;
  size_t Count() const { return lists_.size(); }
  void Clear();

 private:
  TSearchTypeInstance* instance_ = nullptr;
  std::map<std::string, std::unique_ptr<TEngineResults>> lists_;  // by lower-cased name
  std::map<const TSearchResultList*, TEngineResults*> byList_;    // to name a record's engine
  int nextIndex_ = 0;
};

class TMasterResult {
 public:
  TMasterResult(std::string key, TSearchTypeInstance* instance);

  // Engine names of the records, in record order (one per record, so an engine may repeat).
  std::vector<std::string> FoundBy(const TEngineResultList& engines) const;
  // How many records carried this key.
  size_t Occurrences() const { return Records.Count(); }

  std::string Key;                          // the unique key as the first record gave it
  TSearchResultList Records;                // not owning: every accepted record with this key
  TResultRecord* Representative = nullptr;  // one of Records; null only while the master is empty
  TMasterState State = msNew;
  int32_t Rank = 0;  // masters count + 1 at creation; a seeded master keeps its stored rank, else its
                     // stored position + 1
};

// Master results in insertion order, owned, found by key without regard to case.
class TMasterResultList {
 public:
  size_t Count() const { return items_.size(); }
  TMasterResult& At(size_t i) const { return *items_[i]; }
  TMasterResult* Find(std::string_view key) const;
  TMasterResult& Add(std::unique_ptr<TMasterResult> master);
  void Delete(TMasterResult* master);
  void Clear();
  // The masters in display order: old ones after all others, else by the sort keys applied to the
  // representatives; stable, so equal masters keep their insertion order.
  std::vector<TMasterResult*> Sorted(TSearchResultList& order) const;

 private:
  std::vector<std::unique_ptr<TMasterResult>> items_;
  std::unordered_map<std::string, TMasterResult*> byKey_;  // lower-cased key -> master
};

// The master list of one search manager. Main thread only.
class TResultManager {
 public:
  TResultManager();
  ~TResultManager();
  TResultManager(const TResultManager&) = delete;
  TResultManager& operator=(const TResultManager&) = delete;

  // Passes the instance on to every list; nothing when unchanged.
  void SetInstance(TSearchTypeInstance* instance);
  TSearchTypeInstance* Instance() const { return instance_; }
  // Before a run: empties the masters and seeds one old master per stored record.
  void Reset();
  // Evaluates `record` (not owned) and adds it to the master of its key. Null when the record was
  // rejected by the acceptance rule.
  TMasterResult* Merge(TResultRecord& record);
  // After a run: every master still old goes to OldResults.
  void CollectOld();

  TMasterResultList& Masters() { return masters_; }
  std::vector<TMasterResult*>& NewResults() { return new_; }          // created since the last report
  std::vector<TMasterResult*>& UpdatedResults() { return updated_; }  // found again since the last report
  std::vector<TMasterResult*>& OldResults() { return old_; }          // stored and not found again
  // Records of the results stored for this search, filled by the owner before a run (owned here).
  TSearchResultList& StoredRecords() { return *stored_; }
  // The master that stored record `i` seeded at the last Reset; records whose keys coincide share one.
  // Null past the stored records.
  TMasterResult* SeedMaster(size_t i) const { return i < seededFrom_.size() ? seededFrom_[i] : nullptr; }
  // The masters sorted by the search type's default order (see TMasterResultList::Sorted).
  std::vector<TMasterResult*> SortedMasters();

  bool ReportNew = true;
  bool ReportUpdated = true;

 private:
  // Appends an accepted record and picks the representative.
  void AddRecord(TMasterResult& master, TResultRecord& record);

  TSearchTypeInstance* instance_ = nullptr;
  TMasterResultList masters_;
  std::vector<TMasterResult*> new_, updated_, old_;
  std::unique_ptr<TSearchResultList> stored_;
  std::unique_ptr<TSearchResultList> seeds_;  // copies of the stored records, owned for one run
  std::vector<TMasterResult*> seededFrom_;    // per stored record, the master it went to
  std::unique_ptr<TSearchResultList> order_;  // an empty list that only lends its sort keys
};

}  // namespace vandrel
