// What became of the engines of one search run, and what that means for stored results the run did not
// find again.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

namespace vandrel {

// ORDER: none stored; only compared.
enum class TOldResultFate {
  orfRemains,   // kept visible: no engine that found it finished a full look this time
  orfOutdated,  // kept, hidden: an engine that lists only new items looked and did not show it again
  orfDeleted,   // an engine that found it looked again in full and it was gone
};

// The engines of one run by name (letter case ignored). Main thread only.
class TSearchRunEngines {
 public:
  // An engine of this run; `supportsNew`: it shows only items new since a date, so missing ones may
  // still exist.
  void Add(const std::string& name, bool supportsNew);
  // The engine ended by a stop or an error: its look was not complete.
  void MarkIncomplete(const std::string& name);
  void Clear() { engines_.clear(); }

  bool TookPart(const std::string& name) const;
  bool Completed(const std::string& name) const;

  // The fate of a stored result found by `foundBy` and not found again in this run. A result whose
  // engines took no part was not checked at all, so it remains like one whose engines were stopped.
  TOldResultFate Fate(const std::vector<std::string>& foundBy) const;

 private:
  struct TEngineRun {
    bool SupportsNew = false;
    bool Completed = true;
  };
  const TEngineRun* Find(const std::string& name) const;
  std::unordered_map<std::string, TEngineRun> engines_;  // by lower-cased name
};

}  // namespace vandrel
