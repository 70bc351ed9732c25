#include "storage/StorageDataViews.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "platform/Format.h"

namespace vandrel {

// ---- the item index ----

void TItemIndex::Reset(size_t count) {
  size_t capacity = 16;
  while (capacity < count * 2) capacity *= 2;
  // Keeps its memory across refills of the same size: clearing is cheaper than faulting pages in again.
  if (Slots_.size() == capacity)
    std::fill(Slots_.begin(), Slots_.end(), TSlot{nullptr, 0});
  else
    Slots_.assign(capacity, TSlot{nullptr, 0});
  Mask_ = capacity - 1;
  Size_ = 0;
}

size_t TItemIndex::Home(const TStorageDataItem* item) const {
  // Fibonacci hashing of the address; its low bits are alignment and carry nothing.
  return static_cast<size_t>((reinterpret_cast<uintptr_t>(item) >> 4) * 0x9E3779B97F4A7C15ull >> 20) & Mask_;
}

void TItemIndex::Grow(size_t capacity) {
  std::vector<TSlot> old;
  old.swap(Slots_);
  Slots_.assign(capacity, TSlot{nullptr, 0});
  Mask_ = capacity - 1;
  for (const TSlot& slot : old)
    if (slot.Item) {
      size_t i = Home(slot.Item);
      while (Slots_[i].Item) i = (i + 1) & Mask_;
      Slots_[i] = slot;
    }
}

bool TItemIndex::Insert(const TStorageDataItem* item, uint32_t value) {
  if (Slots_.empty() || (Size_ + 1) * 2 > Slots_.size()) Grow(Slots_.empty() ? 16 : Slots_.size() * 2);
  for (size_t i = Home(item);; i = (i + 1) & Mask_) {
    if (Slots_[i].Item == item) return false;
    if (!Slots_[i].Item) {
      Slots_[i] = {item, value};
      ++Size_;
      return true;
    }
  }
}

const uint32_t* TItemIndex::Find(const TStorageDataItem* item) const {
  if (Slots_.empty() || !item) return nullptr;
  for (size_t i = Home(item);; i = (i + 1) & Mask_) {
    if (Slots_[i].Item == item) return &Slots_[i].Value;
    if (!Slots_[i].Item) return nullptr;
  }
}

bool TItemIndex::Erase(const TStorageDataItem* item) {
  if (Slots_.empty() || !item) return false;
  size_t hole = Home(item);
  while (Slots_[hole].Item != item) {
    if (!Slots_[hole].Item) return false;
    hole = (hole + 1) & Mask_;
  }
  // Shifts back every later entry of the run whose home does not lie between the hole and itself, so
  // that no search stops early at the hole.
  for (size_t i = (hole + 1) & Mask_; Slots_[i].Item; i = (i + 1) & Mask_) {
    const size_t home = Home(Slots_[i].Item);
    if (((i - home) & Mask_) >= ((i - hole) & Mask_)) {
      Slots_[hole] = Slots_[i];
      hole = i;
    }
  }
  Slots_[hole] = {nullptr, 0};
  --Size_;
  return true;
}

// ---- managers ----

const TClassInfo& TStorageDataViewManager::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TStorageDataViewManager>("TStorageDataViewManager", TPersistentList::StaticClass())
          .String("Name", &TStorageDataViewManager::Name)
          .Build();
  return info;
}

void TStorageDataViewManager::Assign(const TStorageDataViewManager& source) {
  std::string name = Name;
  Clear();
  AssignByStream(source, *this);
  Name = name;
}

void TStorageDataViewManager::EndUpdate(bool changed) {
  if (LockCount_ > 0) --LockCount_;
  if (LockCount_ == 0 && changed) ManagerChanged();
}

const TClassInfo& TStorageDataFilterItem::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TStorageDataFilterItem>("TStorageDataFilterItem", TPersistentEx::StaticClass()).Build();
  return info;
}

void TStorageDataFilterItem::Changed() {
  if (Manager && !Manager->Locked() && Manager->View) Manager->View->Refilter();
}

const TClassInfo& TStorageDataFilterManager::StaticClass() {
  static const TClassInfo info = TClassBuilder<TStorageDataFilterManager>(
                                     "TStorageDataFilterManager", TStorageDataViewManager::StaticClass())
                                     .Build();
  return info;
}

bool TStorageDataFilterManager::Accepts(const TStorageDataItem& item) const {
  for (size_t i = 0; i < Count(); ++i)
    if (const auto* filter = Filter(i); filter && !filter->Accepts(item)) return false;
  return true;
}

void TStorageDataFilterManager::Added(TPersistent* object) {
  if (auto* filter = dynamic_cast<TStorageDataFilterItem*>(object)) filter->Manager = this;
}

void TStorageDataFilterManager::ManagerChanged() {
  if (View) View->Refilter();
}

const TClassInfo& TStorageDataGroupDefinition::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TStorageDataGroupDefinition>("TStorageDataGroupDefinition", TPersistentEx::StaticClass())
          .Build();
  return info;
}

const TClassInfo& TStorageDataGroupItem::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TStorageDataGroupItem>("TStorageDataGroupItem", TPersistentEx::StaticClass())
          .Boolean("Expanded", &TStorageDataGroupItem::Expanded_)
          .Build();
  return info;
}

void TStorageDataGroupItem::SetExpanded(bool expanded) {
  if (expanded == Expanded_) return;
  TStorageDataListView* view = Manager ? Manager->View : nullptr;
  if (!view) {
    Expanded_ = expanded;
    return;
  }
  view->GroupExpanding(this, expanded);
  Expanded_ = expanded;
  view->RowsChanged();
  view->StoreGroups();
  view->GroupExpanded();
}

bool TStorageDataGroupItem::Contains(const TStorageDataItem* item) const {
  return IndexOfItem(item) >= 0;
}

int TStorageDataGroupItem::IndexOfItem(const TStorageDataItem* item) const {
  auto it = std::find(Items.begin(), Items.end(), item);
  return it == Items.end() ? -1 : static_cast<int>(it - Items.begin());
}

const TClassInfo& TStorageDataGroupManager::StaticClass() {
  static const TClassInfo info = TClassBuilder<TStorageDataGroupManager>(
                                     "TStorageDataGroupManager", TStorageDataViewManager::StaticClass())
                                     .Build();
  return info;
}

void TStorageDataGroupManager::SetDefinition(std::unique_ptr<TStorageDataGroupDefinition> definition) {
  Definition_ = std::move(definition);
  if (Definition_) Definition_->Manager = this;
}

void TStorageDataGroupManager::Assign(const TStorageDataViewManager& source) {
  SetDefinition(nullptr);
  TStorageDataViewManager::Assign(source);
}

void TStorageDataGroupManager::Added(TPersistent* object) {
  if (auto* group = dynamic_cast<TStorageDataGroupItem*>(object)) group->Manager = this;
}

void TStorageDataGroupManager::ManagerChanged() {
  if (View) View->GroupsChanged();
}

void TStorageDataGroupManager::DefineProperties(TFiler& filer) {
  TStorageDataViewManager::DefineProperties(filer);
  filer.DefineProperty(
      "GroupDefinition",
      [this](TPropertyReader& reader) {
        std::string className = reader.ReadString();
        const TClassInfo* cls = FindClass(className);
        // Refused here rather than when the first item is grouped: a definition needs its group class.
        if (!cls || !cls->InheritsFrom(TStorageDataGroupDefinition::StaticClass()) || !cls->Create ||
            !FindGroupItemClass(*cls))
          throw EReadError("Invalid GroupDefinition class");
        std::unique_ptr<TPersistent> object = cls->Create();
        auto* definition = static_cast<TStorageDataGroupDefinition*>(object.get());
        reader.ReadListBegin();
        ReadProperties(reader, *definition);
        object.release();
        SetDefinition(std::unique_ptr<TStorageDataGroupDefinition>(definition));
      },
      [this](TPropertyWriter& writer) { WriteListedObject(writer, *Definition_); }, Definition_ != nullptr);
}

namespace {

// The first manager of a list that bears `name`, or null.
template <class List>
auto FindManagerNamed(const List& list, const std::string& name) -> decltype(list.Manager(0)) {
  for (size_t i = 0; i < list.Count(); ++i)
    if (auto* m = list.Manager(i); m && m->Name == name) return m;
  return nullptr;
}

}  // namespace

const TClassInfo& TStorageDataFilterManagerList::StaticClass() {
  static const TClassInfo info = TClassBuilder<TStorageDataFilterManagerList>("TStorageDataFilterManagerList",
                                                                              TPersistentList::StaticClass())
                                     .Build();
  return info;
}

TStorageDataFilterManager* TStorageDataFilterManagerList::Find(const std::string& name) const {
  return FindManagerNamed(*this, name);
}

const TClassInfo& TStorageDataGroupManagerList::StaticClass() {
  static const TClassInfo info = TClassBuilder<TStorageDataGroupManagerList>("TStorageDataGroupManagerList",
                                                                             TPersistentList::StaticClass())
                                     .Build();
  return info;
}

TStorageDataGroupManager* TStorageDataGroupManagerList::Find(const std::string& name) const {
  return FindManagerNamed(*this, name);
}

namespace {

std::vector<std::pair<const TClassInfo*, const TClassInfo*>>& GroupRegistry() {
  static std::vector<std::pair<const TClassInfo*, const TClassInfo*>> registry;
  return registry;
}

}  // namespace

void RegisterGroupDefinition(const TClassInfo& definitionClass, const TClassInfo& groupItemClass) {
  if (FindGroupItemClass(definitionClass)) return;
  GroupRegistry().emplace_back(&definitionClass, &groupItemClass);
  RegisterClass(definitionClass);
  RegisterClass(groupItemClass);
}

const TClassInfo* FindGroupItemClass(const TClassInfo& definitionClass) {
  for (const auto& [definition, group] : GroupRegistry())
    if (definition == &definitionClass) return group;
  return nullptr;
}

// ---- the view ----

TStorageDataListView::TStorageDataListView(TStorageDataList& list, std::string name)
    : List_(list),
      Name_(std::move(name)),
      Filters_(std::make_unique<TStorageDataFilterManager>()),
      Groups_(std::make_unique<TStorageDataGroupManager>()) {
  Filters_->Name = Name_;
  Filters_->View = this;
  Groups_->Name = Name_;
  Groups_->View = this;
}

TStorageDataListView::~TStorageDataListView() = default;

template <class F>
void TStorageDataListView::Notify(F&& call) {
  for (size_t i = 0; i < Observers_.size(); ++i) call(Observers_[i]);
}

void TStorageDataListView::AddObserver(IStorageDataListViewObserver* observer) {
  if (observer && std::find(Observers_.begin(), Observers_.end(), observer) == Observers_.end())
    Observers_.push_back(observer);
}

void TStorageDataListView::RemoveObserver(IStorageDataListViewObserver* observer) {
  Observers_.erase(std::remove(Observers_.begin(), Observers_.end(), observer), Observers_.end());
}

int TStorageDataListView::IndexOf(const TStorageDataItem* item) const {
  auto it = std::find(Visible_.begin(), Visible_.end(), item);
  return it == Visible_.end() ? -1 : static_cast<int>(it - Visible_.begin());
}

void TStorageDataListView::TestItem(TStorageDataItem* item) {
  if (Filters_->Accepts(*item)) {
    if (VisibleSet_.Insert(item, 0)) {
      Visible_.push_back(item);
      RowsChanged();
      if (!List_.Locked()) Notify([&](auto* o) { o->ItemChanged(this, item); });
    }
    if (Grouped_ && !Refilling_) PlaceItem(item);
  } else {
    Notify([&](auto* o) { o->ItemFilteredOut(this, item); });
    if (IsVisible(item)) RemoveItem(item);
  }
}

void TStorageDataListView::PassItemChanged(TStorageDataItem* item) {
  if (!item || IsVisible(item)) Notify([&](auto* o) { o->ItemChanged(this, item); });
}

void TStorageDataListView::RemoveItem(TStorageDataItem* item) {
  if (!IsVisible(item)) return;
  if (!List_.Locked()) Notify([&](auto* o) { o->ItemDeleted(this, item); });
  for (size_t i = 0; i < Groups_->Count(); ++i) {
    TStorageDataGroupItem* group = Groups_->Group(i);
    int at = group->IndexOfItem(item);
    if (at < 0) continue;
    group->Items.erase(group->Items.begin() + at);
    RowsChanged();
    if (group->Items.empty()) {
      RemoveGroupAt(i);
      Notify([&](auto* o) { o->ItemChanged(this, nullptr); });
    }
    break;
  }
  Visible_.erase(std::find(Visible_.begin(), Visible_.end(), item));
  VisibleSet_.Erase(item);
  RowsChanged();
}

void TStorageDataListView::ClearVisible() {
  Visible_.clear();
  VisibleSet_.Reset(List_.Count());
  RowsChanged();
}

void TStorageDataListView::Refill() {
  ClearVisible();
  if (List_.Count() > 0) {
    List_.BeginUpdate();
    Filters_->BeginUpdate();
    Refilling_ = true;
    for (size_t i = 0; i < List_.Count(); ++i) TestItem(List_.Item(i));
    Refilling_ = false;
    Filters_->EndUpdate(false);
    List_.EndUpdate(false);
  }
  if (Grouped_)
    RebuildGroups();
  else
    DropGroups();
  if (!Visible_.empty()) Notify([&](auto* o) { o->Refilled(this); });
}

void TStorageDataListView::Refilter() {
  if (Filters_->Locked()) return;
  Refill();
  StoreFilters();
  Notify([&](auto* o) { o->Refiltered(this); });
}

void TStorageDataListView::StoreFilters() {
  if (!List_.InTransaction()) List_.RunTransaction(lsUpdating, kStoreFilterManagers);
}

void TStorageDataListView::StoreGroups() {
  if (!List_.InTransaction()) List_.RunTransaction(lsUpdating, kStoreGroupManagers);
}

TStorageDataFilterItem* TStorageDataListView::AddFilter(std::unique_ptr<TStorageDataFilterItem> filter) {
  auto* added = static_cast<TStorageDataFilterItem*>(Filters_->Add(std::move(filter)));
  if (!Filters_->Locked()) Refilter();
  return added;
}

void TStorageDataListView::RemoveFilter(TStorageDataFilterItem* filter) {
  if (!Filters_->Remove(filter)) return;
  if (!Filters_->Locked()) Refilter();
}

TStorageDataFilterItem* TStorageDataListView::FindNextFilter(const TClassInfo& cls,
                                                             const TStorageDataFilterItem* after) const {
  size_t start = 0;
  if (after) {
    int at = Filters_->IndexOf(after);
    if (at < 0) return nullptr;
    start = static_cast<size_t>(at) + 1;
  }
  for (size_t i = start; i < Filters_->Count(); ++i)
    if (auto* f = Filters_->Filter(i); f && f->InheritsFrom(cls)) return f;
  return nullptr;
}

void TStorageDataListView::ClearFilters() {
  // Memory only: the stored filters are not touched.
  Filters_->BeginUpdate();
  Filters_->Clear();
  Filters_->EndUpdate(false);
}

void TStorageDataListView::TakeStoredManagers() {
  if (TStorageDataFilterManager* stored = List_.StoredFilterManagers().Find(Name_)) {
    Filters_->BeginUpdate();
    Filters_->Assign(*stored);
    List_.StoredFilterManagers().Remove(stored);
    for (size_t i = 0; i < Filters_->Count(); ++i)
      if (auto* filter = Filters_->Filter(i)) filter->Loaded();
    Filters_->EndUpdate(false);
    Notify([&](auto* o) { o->FiltersLoaded(this); });
  }
  if (TStorageDataGroupManager* stored = List_.StoredGroupManagers().Find(Name_)) {
    DropGroups();
    Groups_->BeginUpdate();
    Groups_->Assign(*stored);
    // The blob came from the database: anything in it that is not a group would be taken for one later.
    for (size_t i = Groups_->Count(); i-- > 0;)
      if (!Groups_->Group(i)) Groups_->Delete(i);
    Groups_->EndUpdate(false);
    List_.StoredGroupManagers().Remove(stored);
    Grouped_ = Groups_->Definition() != nullptr;
    RowsChanged();
    Notify([&](auto* o) { o->GroupsLoaded(this); });
  }
}

void TStorageDataListView::RemoveGroupAt(size_t index) {
  TStorageDataGroupItem* group = Groups_->Group(index);
  Notify([&](auto* o) { o->GroupRemoved(this, group); });
  Groups_->Delete(index);
  RowsChanged();
  if (auto* definition = Groups_->Definition()) definition->GroupsInvalidated();
}

void TStorageDataListView::DropGroups() {
  while (Groups_->Count() > 0) RemoveGroupAt(Groups_->Count() - 1);
}

TStorageDataGroupItem* TStorageDataListView::GroupOf(const TStorageDataItem* item) const {
  for (size_t i = 0; i < Groups_->Count(); ++i)
    if (Groups_->Group(i)->Contains(item)) return Groups_->Group(i);
  return nullptr;
}

void TStorageDataListView::PlaceItem(TStorageDataItem* item, bool fresh) {
  TStorageDataGroupDefinition* definition = Groups_->Definition();
  if (fresh && definition) {
    int at = definition->FindAcceptingGroup(*item);
    if (at >= 0 && static_cast<size_t>(at) < Groups_->Count()) {
      Groups_->Group(static_cast<size_t>(at))->Items.push_back(item);
      RowsChanged();
      return;
    }
    if (at == -1) {
      AppendGroupFor(item);
      return;
    }
  }
  bool accepted = false;
  bool removed = false;
  // Later groups win: the last group that accepts the item takes it.
  for (size_t i = Groups_->Count(); i-- > 0;) {
    TStorageDataGroupItem* group = Groups_->Group(i);
    int at = group->IndexOfItem(item);
    if (!accepted && group->Accepts(*item)) {
      accepted = true;
      if (at < 0) group->Items.push_back(item);
      RowsChanged();
    } else if (at >= 0) {
      group->Items.erase(group->Items.begin() + at);
      RowsChanged();
      if (group->Items.empty()) {
        RemoveGroupAt(i);
        removed = true;
      }
    }
  }
  if (removed) Notify([&](auto* o) { o->ItemChanged(this, nullptr); });
  if (accepted || !Groups_->Definition()) return;
  AppendGroupFor(item);
}

void TStorageDataListView::AppendGroupFor(TStorageDataItem* item) {
  TStorageDataGroupDefinition* definition = Groups_->Definition();
  const TClassInfo* groupClass = FindGroupItemClass(definition->ClassType());
  if (!groupClass || !groupClass->Create) throw std::logic_error("Invalid GroupDefinition");
  std::unique_ptr<TPersistent> object = groupClass->Create();
  auto* group = dynamic_cast<TStorageDataGroupItem*>(object.get());
  if (!group) throw std::logic_error("Invalid GroupDefinition");
  group->Initialize(*Groups_, *item);
  group->Items.push_back(item);
  Groups_->Add(std::move(object));
  RowsChanged();
  definition->GroupAppended(*group);
}

void TStorageDataListView::SortGroups() {
  TStorageDataGroupDefinition* definition = Groups_->Definition();
  if (!definition) return;
  definition->PrepareCompare();
  // Each group's place read once, rather than twice in each of ten thousand comparisons.
  std::vector<int64_t> keys(Groups_->Count());
  bool keyed = true;
  for (size_t i = 0; i < keys.size() && keyed; ++i) {
    const TStorageDataGroupItem* group = Groups_->Group(i);
    keyed = group && definition->OrderKey(*group, keys[i]);
  }
  if (!keyed) {
    Groups_->Sort([definition](TPersistent* a, TPersistent* b) {
      return definition->Compare(*static_cast<TStorageDataGroupItem*>(a),
                                 *static_cast<TStorageDataGroupItem*>(b)) < 0;
    });
  } else if (!std::is_sorted(keys.begin(), keys.end())) {
    std::vector<size_t> order(keys.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&keys](size_t a, size_t b) { return keys[a] < keys[b]; });
    Groups_->Reorder(order);
  }
  RowsChanged();
  definition->GroupsInvalidated();
}

void TStorageDataListView::RebuildGroups() {
  Groups_->BeginUpdate();
  // The groups by position, each cast once: placing ten thousand items must not cast a group for each.
  std::vector<TStorageDataGroupItem*> groups;
  groups.reserve(Groups_->Count());
  for (size_t i = 0; i < Groups_->Count(); ++i) {
    groups.push_back(Groups_->Group(i));
    groups.back()->Items.clear();
  }
  RowsChanged();
  TStorageDataGroupDefinition* definition = Groups_->Definition();
  for (auto* item : Visible_) {
    const int at =
        definition ? definition->FindAcceptingGroup(*item) : TStorageDataGroupDefinition::kAskEveryGroup;
    if (at >= 0 && static_cast<size_t>(at) < groups.size()) {
      groups[static_cast<size_t>(at)]->Items.push_back(item);
      continue;
    }
    if (at == -1)
      AppendGroupFor(item);
    else
      PlaceItem(item);  // asks every group, as the definition could not say
    // Placing may only have appended groups; anything else and the positions are taken afresh.
    if (Groups_->Count() < groups.size()) groups.clear();
    for (size_t i = groups.size(); i < Groups_->Count(); ++i) groups.push_back(Groups_->Group(i));
  }
  RowsChanged();
  for (size_t i = Groups_->Count(); i-- > 0;)
    if (Groups_->Group(i)->Items.empty()) RemoveGroupAt(i);
  SortGroups();
  Groups_->EndUpdate(true);
}

void TStorageDataListView::GroupsChanged() {
  RowsChanged();
  Notify([&](auto* o) { o->GroupsRebuilt(this); });
}

void TStorageDataListView::GroupExpanded() {
  RowsChanged();
  Notify([&](auto* o) { o->GroupExpansionChanged(this); });
}

void TStorageDataListView::GroupExpanding(TStorageDataGroupItem* group, bool expanded) {
  if (!expanded)
    for (auto* item : std::vector(group->Items)) Notify([&](auto* o) { o->ItemDeleted(this, item); });
}

void TStorageDataListView::SetGrouped(bool grouped) {
  if (grouped == Grouped_) return;
  Grouped_ = grouped;
  RowsChanged();
  if (grouped) {
    RebuildGroups();
  } else {
    DropGroups();
    Groups_->SetDefinition(nullptr);
    GroupsChanged();
  }
  StoreGroups();
}

void TStorageDataListView::SetGroupDefinition(std::unique_ptr<TStorageDataGroupDefinition> definition) {
  if (definition && !FindGroupItemClass(definition->ClassType()))
    throw std::logic_error("Invalid GroupDefinition");
  DropGroups();
  Groups_->SetDefinition(std::move(definition));
  if (Grouped_) RebuildGroups();
  StoreGroups();
}

void TStorageDataListView::Sort(const TItemCompare& compare) {
  class TPairwise final : public IItemSequenceSorter {
   public:
    explicit TPairwise(const TItemCompare& compare) : Compare_(compare) {}
    void SortItems(std::vector<TStorageDataItem*>& items) const override {
      std::stable_sort(items.begin(), items.end(),
                       [this](TStorageDataItem* a, TStorageDataItem* b) { return Compare_(a, b) < 0; });
    }

   private:
    const TItemCompare& Compare_;
  };
  Sort(TPairwise(compare));
}

void TStorageDataListView::Sort(const IItemSequenceSorter& sorter) {
  sorter.SortItems(Visible_);
  if (Grouped_) {
    for (size_t i = 0; i < Groups_->Count(); ++i) sorter.SortItems(Groups_->Group(i)->Items);
    SortGroups();
  }
  RowsChanged();
  Notify([&](auto* o) { o->ItemChanged(this, nullptr); });
  Notify([&](auto* o) { o->Sorted(this, nullptr); });
}

namespace {

// Moves one item to its sorted place; equal items keep their former relative order.
void RepositionIn(std::vector<TStorageDataItem*>& items, TStorageDataItem* item,
                  const TItemCompare& compare) {
  auto it = std::find(items.begin(), items.end(), item);
  if (it == items.end()) return;
  const int old = static_cast<int>(it - items.begin());
  items.erase(it);
  int lo = 0;
  int hi = static_cast<int>(items.size()) - 1;
  while (lo <= hi) {
    int mid = (lo + hi) / 2;
    int c = compare(items[static_cast<size_t>(mid)], item);
    if (c < 0 || (c == 0 && mid < old))
      lo = mid + 1;
    else
      hi = mid - 1;
  }
  items.insert(items.begin() + lo, item);
}

}  // namespace

void TStorageDataListView::Reposition(TStorageDataItem* item, const TItemCompare& compare) {
  if (!IsVisible(item)) return;
  RepositionIn(Visible_, item, compare);
  if (Grouped_) {
    SortGroups();
    if (TStorageDataGroupItem* group = GroupOf(item)) RepositionIn(group->Items, item, compare);
  }
  RowsChanged();
  Notify([&](auto* o) { o->ItemChanged(this, nullptr); });
  Notify([&](auto* o) { o->Sorted(this, item); });
}

const TStorageDataListView::TRowMap& TStorageDataListView::Rows() const {
  // Groups added to or taken from the manager directly, not through the view, are noticed by their count.
  if (RowsValid_ && Rows_.Groups.size() == Groups_->Count()) return Rows_;
  Rows_.Groups.clear();
  Rows_.Starts.clear();
  size_t rows = 0;
  for (size_t i = 0; i < Groups_->Count(); ++i) {
    TStorageDataGroupItem* group = Groups_->Group(i);
    Rows_.Groups.push_back(group);
    Rows_.Starts.push_back(rows);
    rows += 1 + (group->Expanded() ? group->Items.size() : 0);
  }
  Rows_.Starts.push_back(rows);
  RowsValid_ = true;
  return Rows_;
}

size_t TStorageDataListView::GroupAtRow(size_t row) const {
  const TRowMap& map = Rows();
  if (row >= map.Starts.back()) return map.Groups.size();
  // The last group starting at or before the row.
  return static_cast<size_t>(std::upper_bound(map.Starts.begin(), map.Starts.end(), row) -
                             map.Starts.begin()) -
         1;
}

size_t TStorageDataListView::RowCount() const {
  if (!Grouped_) return Visible_.size();
  return Rows().Starts.back();
}

TStorageDataGroupItem* TStorageDataListView::RowGroup(size_t row) const {
  if (!Grouped_) return nullptr;
  const size_t g = GroupAtRow(row);
  return g < Rows_.Groups.size() ? Rows_.Groups[g] : nullptr;
}

TStorageDataItem* TStorageDataListView::RowItem(size_t row) const {
  if (!Grouped_) return row < Visible_.size() ? Visible_[row] : nullptr;
  const size_t g = GroupAtRow(row);
  if (g >= Rows_.Groups.size()) return nullptr;
  const size_t first = Rows_.Starts[g];
  return row == first ? nullptr : Rows_.Groups[g]->Items[row - first - 1];
}

int TStorageDataListView::ItemRow(const TStorageDataItem* item) const {
  if (!Grouped_) return IndexOf(item);
  const TRowMap& map = Rows();
  for (size_t i = 0; i < map.Groups.size(); ++i) {
    const TStorageDataGroupItem* group = map.Groups[i];
    int at = group->IndexOfItem(item);
    if (at >= 0) return group->Expanded() ? static_cast<int>(map.Starts[i]) + 1 + at : -1;
  }
  return -1;
}

int TStorageDataListView::GroupRow(const TStorageDataGroupItem* group) const {
  const TRowMap& map = Rows();
  for (size_t i = 0; i < map.Groups.size(); ++i)
    if (map.Groups[i] == group) return static_cast<int>(map.Starts[i]);
  return -1;
}

}  // namespace vandrel
