// "Find in Results": walks the visible results of a view, within groups when it is grouped, one hit at a
// time; and the find window's model.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "storage/StorageDataViews.h"

namespace vandrel {

class TSearchTypeStorageItem;

// Main thread only.
class TFindContext : public IStorageDataListViewObserver {
 public:
  TFindContext() = default;
  ~TFindContext() override;
  TFindContext(const TFindContext&) = delete;
  TFindContext& operator=(const TFindContext&) = delete;

  // Sets the view searched (null: none) and resets.
  void Bind(TStorageDataListView* view);
  // The search type whose output layout and definitions decide which fields are searched; not owned.
  void SetSearchType(const TSearchTypeStorageItem* searchType) { SearchType_ = searchType; }
  // Text empty, no current item, MatchCase off.
  void Reset();

  TStorageDataItem* Start(const std::string& text);
  TStorageDataItem* FindNext();
  bool CanFindNext() const { return View_ && !Text_.empty(); }
  bool HasView() const { return View_ != nullptr; }

  const std::string& Text() const { return Text_; }
  TStorageDataItem* Current() const { return Current_; }
  bool MatchCase = false;
  bool OnePerGroup = false;  // after a hit, go on with the next group

  std::function<void(TFindContext&, TStorageDataItem*)> OnFound;
  std::function<void(TFindContext&, const std::string&)> OnFinished;

  // Indexes into the output definitions of the fields searched, as last rebuilt.
  const std::vector<int>& SearchedFields() const { return Fields_; }
  bool Matches(const TStorageDataItem& item) const;

  // A deleted or reloaded result must not stay the place the next search starts from.
  void ItemChanged(TStorageNotifier* sender, TStorageDataItem* item) override;
  void ItemDeleted(TStorageNotifier* sender, TStorageDataItem* item) override;
  void ItemFilteredOut(TStorageDataListView* view, TStorageDataItem* item) override;
  void Refilled(TStorageDataListView* view) override;
  void GroupRemoved(TStorageDataListView* view, TStorageDataGroupItem* group) override;

 private:
  void RebuildFields();
  TStorageDataItem* Walk();

  TStorageDataListView* View_ = nullptr;  // observed while bound
  const TSearchTypeStorageItem* SearchType_ = nullptr;
  std::string Text_;
  std::string Folded_;  // Text_ in lower case, for searches ignoring case
  TStorageDataItem* Current_ = nullptr;
  int32_t CurrentKey_ = -1;  // Current_'s record key: a reload may put another result at the same address
  std::vector<int> Fields_;
};

// The find window ("Find in Results") as a model.
class TFindDialogModel {
 public:
  static constexpr const char* kPrompt = "Type a word or a phrase to find and press Enter.";

  explicit TFindDialogModel(TFindContext& context);

  std::string Text;          // "F&ind:", starts with the last text typed
  bool MatchCase = false;    // "Match &case"
  bool StartFromTop = true;  // "Start from &top of list"
  std::string CancelCaption() const { return Searched_ ? "&Close" : "Cancel"; }
  bool FindNextEnabled() const { return !Text.empty(); }
  // "&Find Next".
  TStorageDataItem* FindNext();

  // The last text typed into any find window of this process.
  static std::string& LastText();

 private:
  TFindContext& Context_;
  bool Searched_ = false;
};

}  // namespace vandrel
