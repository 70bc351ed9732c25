// Operations: the small streamable records that ask the action runner for a piece of long-running work.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "storage/Persistent.h"

namespace vandrel {

// A list of integers streamed as the list property "Items", written only when it holds something.
class TStreamableIntegerList : public TPersistent {
  VANDREL_PERSISTENT(TStreamableIntegerList)
 public:
  std::vector<int32_t> Items;
  void DefineProperties(TFiler& filer) override;
};

// What to do, without doing it; the action created for it when its turn comes does the work.
// Subclasses register their class description so that a stream can recreate them by name.
class TQuorinOperation : public TPersistentEx {
  VANDREL_PERSISTENT(TQuorinOperation)
 public:
  std::string Folder;              // search-history folder of the stored search; empty: no stored search
  int32_t SrhNum = -1;             // index of the stored search within Folder's history item
  TStreamableIntegerList ResNums;  // result numbers the operation is limited to; empty: all
};

// First in, first out; owns what it holds.
class TQuorinOperationQueue {
 public:
  void Push(std::unique_ptr<TQuorinOperation> operation);
  // Null when empty.
  std::unique_ptr<TQuorinOperation> Pop();
  size_t Count() const { return items_.size(); }
  bool Empty() const { return items_.empty(); }
  const TQuorinOperation& At(size_t index) const { return *items_[index]; }
  void Clear() { items_.clear(); }

 private:
  std::deque<std::unique_ptr<TQuorinOperation>> items_;
};

}  // namespace vandrel
