// Named views of a storage data list: their filters, groups, sorting and the rows of a grouped view.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "storage/StorageDataLists.h"

namespace vandrel {

class TStorageDataListView;
class TStorageDataGroupItem;

// A value per item, open addressing over the item addresses: views look up thousands of items in one go,
// and a node-based container would allocate once per item and free again at every refill.
class TItemIndex {
 public:
  // Empties the index; room for `count` items without growing.
  void Reset(size_t count = 0);
  size_t Size() const { return Size_; }
  // False, and the first value kept, when the item is already there.
  bool Insert(const TStorageDataItem* item, uint32_t value);
  bool Erase(const TStorageDataItem* item);
  bool Contains(const TStorageDataItem* item) const { return Find(item) != nullptr; }
  const uint32_t* Find(const TStorageDataItem* item) const;
  uint32_t* Find(const TStorageDataItem* item) {
    return const_cast<uint32_t*>(static_cast<const TItemIndex*>(this)->Find(item));
  }

 private:
  struct TSlot {
    const TStorageDataItem* Item;
    uint32_t Value;
  };
  size_t Home(const TStorageDataItem* item) const;
  void Grow(size_t capacity);

  std::vector<TSlot> Slots_;  // empty, or a power of two at least twice Size_
  size_t Mask_ = 0;
  size_t Size_ = 0;
};

// A filter or group manager of one view, or a stored copy of one (then without a view).
class TStorageDataViewManager : public TPersistentList {
  VANDREL_PERSISTENT(TStorageDataViewManager)
 public:
  // Name (published) is the view's name.
  TStorageDataListView* View = nullptr;  // none for stored copies

  // A deep copy through the property stream; the name stays.
  virtual void Assign(const TStorageDataViewManager& source);

  void BeginUpdate() { ++LockCount_; }
  // Calls the changed hook when the count returns to 0 and `changed` is set.
  void EndUpdate(bool changed);
  bool Locked() const { return LockCount_ > 0; }

 protected:
  virtual void ManagerChanged() {}

 private:
  int LockCount_ = 0;
};

class TStorageDataFilterManager;

// A filter of a view. Derived filters decide which items pass.
class TStorageDataFilterItem : public TPersistentEx {
  VANDREL_PERSISTENT(TStorageDataFilterItem)
 public:
  TStorageDataFilterManager* Manager = nullptr;
  // Makes the manager refilter its view unless the manager is locked.
  virtual void Changed();
  // Called after the filters were restored from the back end.
  virtual void Loaded() {}
  virtual std::string GetDescription() const { return {}; }
  virtual bool Accepts(const TStorageDataItem& item) const = 0;
};

class TStorageDataFilterManager : public TStorageDataViewManager {
  VANDREL_PERSISTENT(TStorageDataFilterManager)
 public:
  TStorageDataFilterItem* Filter(size_t i) const { return ItemAs<TStorageDataFilterItem>(i); }
  // Every filter accepts the item (an empty manager accepts everything); stops at the first refusal.
  bool Accepts(const TStorageDataItem& item) const;

 protected:
  void Added(TPersistent* object) override;
  void ManagerChanged() override;
};

class TStorageDataGroupManager;

// Orders the groups of a view; derived definitions pair with a group item class.
class TStorageDataGroupDefinition : public TPersistentEx {
  VANDREL_PERSISTENT(TStorageDataGroupDefinition)
 public:
  TStorageDataGroupManager* Manager = nullptr;
  // Negative when a comes before b.
  virtual int Compare(const TStorageDataGroupItem& a, const TStorageDataGroupItem& b) const = 0;
  // Called before the groups are sorted, so Compare may read state of the view it would be slow to look up.
  virtual void PrepareCompare() {}

  // A fast path for a view that places every item afresh: the position of the last group that accepts
  // `item` (-1: none does), the same answer asking each group would give, or kAskEveryGroup.
  static constexpr int kAskEveryGroup = -2;
  virtual int FindAcceptingGroup(const TStorageDataItem& item) { return kAskEveryGroup; }
  // A number whose order is the order Compare gives (after PrepareCompare), so that a thousand groups
  // sort on plain numbers; false: the groups are compared pair by pair. Overriding Compare means
  // overriding this too.
  virtual bool OrderKey(const TStorageDataGroupItem& group, int64_t& key) const { return false; }
  // Groups were removed, reordered or replaced: positions remembered by FindAcceptingGroup are stale.
  virtual void GroupsInvalidated() {}
  // A group was appended at the end of the manager.
  virtual void GroupAppended(TStorageDataGroupItem& group) {}
};

// One group of a grouped view; its items are not owned.
class TStorageDataGroupItem : public TPersistentEx {
  VANDREL_PERSISTENT(TStorageDataGroupItem)
 public:
  TStorageDataGroupManager* Manager = nullptr;
  std::vector<TStorageDataItem*> Items;

  bool Expanded() const { return Expanded_; }
  // Collapsing tells the view's observers that the group's rows went away; the change is stored.
  void SetExpanded(bool expanded);
  bool Contains(const TStorageDataItem* item) const;
  int IndexOfItem(const TStorageDataItem* item) const;

  virtual std::string GetCaption() const = 0;
  virtual bool Accepts(const TStorageDataItem& item) const = 0;
  // Completes a group created for `firstItem`.
  virtual void Initialize(TStorageDataGroupManager& manager, TStorageDataItem& firstItem) {
    Manager = &manager;
  }

 private:
  bool Expanded_ = false;
};

class TStorageDataGroupManager : public TStorageDataViewManager {
  VANDREL_PERSISTENT(TStorageDataGroupManager)
 public:
  TStorageDataGroupItem* Group(size_t i) const { return ItemAs<TStorageDataGroupItem>(i); }
  TStorageDataGroupDefinition* Definition() const { return Definition_.get(); }
  void SetDefinition(std::unique_ptr<TStorageDataGroupDefinition> definition);
  void Assign(const TStorageDataViewManager& source) override;
  void DefineProperties(TFiler& filer) override;

 protected:
  void Added(TPersistent* object) override;
  void ManagerChanged() override;

 private:
  std::unique_ptr<TStorageDataGroupDefinition> Definition_;
};

// The managers a back end keeps for a list, one per view name.
class TStorageDataFilterManagerList : public TPersistentList {
  VANDREL_PERSISTENT(TStorageDataFilterManagerList)
 public:
  TStorageDataFilterManager* Find(const std::string& name) const;
  TStorageDataFilterManager* Manager(size_t i) const { return ItemAs<TStorageDataFilterManager>(i); }
};

class TStorageDataGroupManagerList : public TPersistentList {
  VANDREL_PERSISTENT(TStorageDataGroupManagerList)
 public:
  TStorageDataGroupManager* Find(const std::string& name) const;
  TStorageDataGroupManager* Manager(size_t i) const { return ItemAs<TStorageDataGroupManager>(i); }
};

// Pairs a group definition class with the group item class it creates; a definition class registered
// twice keeps its first pairing. Both classes become known to the stream readers.
void RegisterGroupDefinition(const TClassInfo& definitionClass, const TClassInfo& groupItemClass);
const TClassInfo* FindGroupItemClass(const TClassInfo& definitionClass);

class IStorageDataListViewObserver : public IStorageDataListItemObserver {
 public:
  virtual void FiltersLoaded(TStorageDataListView* view) {}
  virtual void Refiltered(TStorageDataListView* view) {}
  virtual void ItemFilteredOut(TStorageDataListView* view, TStorageDataItem* item) {}
  virtual void Refilled(TStorageDataListView* view) {}
  virtual void GroupsLoaded(TStorageDataListView* view) {}
  virtual void GroupExpansionChanged(TStorageDataListView* view) {}
  // Sent before the group is destroyed.
  virtual void GroupRemoved(TStorageDataListView* view, TStorageDataGroupItem* group) {}
  virtual void GroupsRebuilt(TStorageDataListView* view) {}
  // `item`: the one re-positioned item, or null after a full sort.
  virtual void Sorted(TStorageDataListView* view, TStorageDataItem* item) {}
};

// Negative when a sorts before b.
using TItemCompare = std::function<int(TStorageDataItem* a, TStorageDataItem* b)>;

// Orders a whole sequence at once, so that a sort can read each item's keys once rather than at every
// comparison. Must be stable and give the order a stable sort by the matching TItemCompare would.
class IItemSequenceSorter {
 public:
  virtual ~IItemSequenceSorter() = default;
  virtual void SortItems(std::vector<TStorageDataItem*>& items) const = 0;
};

// The items of a list that pass the view's filters, optionally in groups. Main thread only.
class TStorageDataListView : public TStorageNotifier {
 public:
  TStorageDataListView(TStorageDataList& list, std::string name);
  ~TStorageDataListView() override;

  TStorageDataList& List() const { return List_; }
  const std::string& Name() const { return Name_; }
  bool SaveFilters = false;  // write this view's filters to the back end
  bool SaveGroups = false;

  void AddObserver(IStorageDataListViewObserver* observer);
  void RemoveObserver(IStorageDataListViewObserver* observer);

  size_t Count() const { return Visible_.size(); }
  TStorageDataItem* Item(size_t index) const { return Visible_[index]; }
  int IndexOf(const TStorageDataItem* item) const;
  bool IsVisible(const TStorageDataItem* item) const { return VisibleSet_.Contains(item); }

  void Refill();
  void Refilter();

  // Filters.
  TStorageDataFilterManager& FilterManager() { return *Filters_; }
  TStorageDataFilterItem* AddFilter(std::unique_ptr<TStorageDataFilterItem> filter);
  void RemoveFilter(TStorageDataFilterItem* filter);
  // The first filter of `cls` (or a descendant) after `after` (from the start when null).
  TStorageDataFilterItem* FindNextFilter(const TClassInfo& cls, const TStorageDataFilterItem* after) const;

  // Groups.
  TStorageDataGroupManager& GroupManager() { return *Groups_; }
  bool Grouped() const { return Grouped_; }
  void SetGrouped(bool grouped);
  TStorageDataGroupDefinition* GroupDefinition() const { return Groups_->Definition(); }
  // The definition class must have a registered group item class.
  void SetGroupDefinition(std::unique_ptr<TStorageDataGroupDefinition> definition);
  size_t GroupCount() const { return Groups_->Count(); }
  TStorageDataGroupItem* Group(size_t index) const { return Groups_->Group(index); }
  TStorageDataGroupItem* GroupOf(const TStorageDataItem* item) const;

  // Sorting.
  void Sort(const TItemCompare& compare);
  void Sort(const IItemSequenceSorter& sorter);
  void Reposition(TStorageDataItem* item, const TItemCompare& compare);

  // Rows: a grouped view shows each group as a header row followed, when expanded, by its items.
  size_t RowCount() const;
  TStorageDataGroupItem* RowGroup(size_t row) const;
  TStorageDataItem* RowItem(size_t row) const;  // null for a header row
  int ItemRow(const TStorageDataItem* item) const;
  int GroupRow(const TStorageDataGroupItem* group) const;

  // Called by the list.
  // Re-tests one changed item against the filters.
  virtual void TestItem(TStorageDataItem* item);
  // Passes a list change on to the observers when the item is visible (or null).
  void PassItemChanged(TStorageDataItem* item);
  void RemoveItem(TStorageDataItem* item);
  void TakeStoredManagers();
  void DropGroups();
  void ClearFilters();
  void ClearVisible();

  // Called by the managers and groups.
  void GroupsChanged();
  void GroupExpanded();
  void GroupExpanding(TStorageDataGroupItem* group, bool expanded);
  void StoreGroups();
  // The rows are no longer what the row map says.
  void RowsChanged() { RowsValid_ = false; }

 private:
  void StoreFilters();
  // `fresh`: no group holds the item yet (a rebuild), so the definition's fast path may place it.
  void PlaceItem(TStorageDataItem* item, bool fresh = false);
  void AppendGroupFor(TStorageDataItem* item);
  void RebuildGroups();
  void RemoveGroupAt(size_t index);
  void SortGroups();
  template <class F>
  void Notify(F&& call);
  // The groups in order, each cast once, with the first row of each (and the row count last): a list
  // widget asks for rows cell by cell, and walking a thousand groups each time costs more than the paint.
  struct TRowMap {
    std::vector<TStorageDataGroupItem*> Groups;
    std::vector<size_t> Starts;  // Groups.size() + 1 entries
  };
  const TRowMap& Rows() const;
  // The position of the group holding `row`; Groups.size() when none does.
  size_t GroupAtRow(size_t row) const;

  TStorageDataList& List_;
  std::string Name_;
  std::vector<TStorageDataItem*> Visible_;  // not owned; items that pass the filters, in view order
  TItemIndex VisibleSet_;                   // the items of Visible_
  std::unique_ptr<TStorageDataFilterManager> Filters_;
  std::unique_ptr<TStorageDataGroupManager> Groups_;
  std::vector<IStorageDataListViewObserver*> Observers_;  // not owned, registration order
  bool Grouped_ = false;
  bool Refilling_ = false;  // groups are rebuilt once at the end of a refill
  mutable TRowMap Rows_;
  mutable bool RowsValid_ = false;
};

}  // namespace vandrel
