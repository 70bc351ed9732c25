#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "storage/StorageTestSupport.h"

namespace vandrel {
namespace {

using storagetest::TRecordingBackend;
using storagetest::TRecordingObserver;
using storagetest::TTestItem;
using ::testing::ElementsAre;
using Strings = std::vector<std::string>;

class TMinPriceFilter : public TStorageDataFilterItem {
  VANDREL_PERSISTENT(TMinPriceFilter)
 public:
  int32_t MinPrice() const { return MinPrice_; }
  void SetMinPrice(int32_t price) {
    MinPrice_ = price;
    Changed();
  }
  bool Accepts(const TStorageDataItem& item) const override {
    return static_cast<const TTestItem&>(item).Price() >= MinPrice_;
  }
  int LoadedCalls = 0;
  void Loaded() override { ++LoadedCalls; }

 private:
  int32_t MinPrice_ = 0;
};

const TClassInfo& TMinPriceFilter::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TMinPriceFilter>("TMinPriceFilter", TStorageDataFilterItem::StaticClass())
          .Integer("MinPrice", &TMinPriceFilter::MinPrice_)
          .Build();
  return info;
}

// Groups items by the first letter of their title; the key "*" takes every item.
class TLetterGroup : public TStorageDataGroupItem {
  VANDREL_PERSISTENT(TLetterGroup)
 public:
  std::string Key;
  std::string GetCaption() const override { return Key; }
  bool Accepts(const TStorageDataItem& item) const override {
    const std::string& title = static_cast<const TTestItem&>(item).Title().substr(0, 1);
    return Key == "*" || title == Key;
  }
  void Initialize(TStorageDataGroupManager& manager, TStorageDataItem& first) override {
    TStorageDataGroupItem::Initialize(manager, first);
    Key = static_cast<TTestItem&>(first).Title().substr(0, 1);
  }
};

const TClassInfo& TLetterGroup::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TLetterGroup>("TLetterGroup", TStorageDataGroupItem::StaticClass())
          .String("Key", &TLetterGroup::Key)
          .Build();
  return info;
}

class TLetterGrouping : public TStorageDataGroupDefinition {
  VANDREL_PERSISTENT(TLetterGrouping)
 public:
  int Compare(const TStorageDataGroupItem& a, const TStorageDataGroupItem& b) const override {
    return static_cast<const TLetterGroup&>(a).Key.compare(static_cast<const TLetterGroup&>(b).Key);
  }
};

const TClassInfo& TLetterGrouping::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TLetterGrouping>("TLetterGrouping", TStorageDataGroupDefinition::StaticClass()).Build();
  return info;
}

// A definition whose group class was never registered.
class TOrphanGrouping : public TLetterGrouping {
  VANDREL_PERSISTENT(TOrphanGrouping)
};

const TClassInfo& TOrphanGrouping::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TOrphanGrouping>("TOrphanGrouping", TLetterGrouping::StaticClass()).Build();
  return info;
}

int ByTitle(TStorageDataItem* a, TStorageDataItem* b) {
  return static_cast<TTestItem*>(a)->Title().compare(static_cast<TTestItem*>(b)->Title());
}
int ByPrice(TStorageDataItem* a, TStorageDataItem* b) {
  return static_cast<TTestItem*>(a)->Price() - static_cast<TTestItem*>(b)->Price();
}

class StorageDataView : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterClass(TMinPriceFilter::StaticClass());
    RegisterGroupDefinition(TLetterGrouping::StaticClass(), TLetterGroup::StaticClass());
    RegisterClass(TOrphanGrouping::StaticClass());
    list = storagetest::MakeTestList();
    backend = std::make_shared<TRecordingBackend>();
    list->AttachStorage(backend);
  }
  void Fill(std::vector<std::pair<std::string, int>> items) {
    list->BeginTransaction(lsAdding);
    for (const auto& [title, price] : items) {
      auto* item = static_cast<TTestItem*>(list->NewItem());
      item->SetTitle(title);
      item->SetPrice(price);
    }
    list->EndTransaction();
  }
  TStorageDataListView* Watched(const std::string& name) {
    auto* view = list->GetView(name);
    view->AddObserver(&observer);
    list->AddObserver(&observer);
    return view;
  }
  TTestItem* Find(const std::string& title) {
    for (size_t i = 0; i < list->Count(); ++i)
      if (auto* item = static_cast<TTestItem*>(list->Item(i)); item->Title() == title) return item;
    return nullptr;
  }
  static Strings Visible(const TStorageDataListView& view) {
    Strings out;
    for (size_t i = 0; i < view.Count(); ++i) out.push_back(static_cast<TTestItem*>(view.Item(i))->Title());
    return out;
  }
  static Strings Groups(const TStorageDataListView& view) {
    Strings out;
    for (size_t i = 0; i < view.GroupCount(); ++i) {
      std::string text = view.Group(i)->GetCaption() + ":";
      for (auto* item : view.Group(i)->Items) text += static_cast<TTestItem*>(item)->Title() + ",";
      out.push_back(text);
    }
    return out;
  }
  void Group(TStorageDataListView* view) {
    view->SetGroupDefinition(std::make_unique<TLetterGrouping>());
    view->SetGrouped(true);
  }

  std::unique_ptr<TStorageDataList> list;
  std::shared_ptr<TRecordingBackend> backend;
  TRecordingObserver observer;
};

TEST_F(StorageDataView, FiltersFollowItemChanges) {
  Fill({{"a", 1}, {"b", 5}, {"c", 9}});
  auto* view = Watched("main");
  EXPECT_EQ(Visible(*view), (Strings{"a", "b", "c"}));  // no filters: every item

  auto filter = std::make_unique<TMinPriceFilter>();
  auto* f = filter.get();
  f->SetMinPrice(5);  // no manager yet: nothing happens
  view->AddFilter(std::move(filter));
  EXPECT_EQ(Visible(*view), (Strings{"b", "c"}));
  EXPECT_THAT(observer.Take("V:re"), ElementsAre("V:refilled", "V:refiltered"));
  EXPECT_EQ(backend->Calls.back().Op, "UpdateItems");
  EXPECT_EQ(backend->Calls.back().FieldIndex, kStoreFilterManagers);

  Find("b")->SetPrice(2);
  EXPECT_EQ(Visible(*view), (Strings{"c"}));
  EXPECT_THAT(observer.Take(), ElementsAre("V:filteredOut b", "V:deleted b", "L:changed b"));

  Find("a")->SetPrice(7);
  EXPECT_EQ(Visible(*view), (Strings{"c", "a"}));
  EXPECT_THAT(observer.Take(), ElementsAre("V:changed a", "L:changed a", "V:changed a"));

  f->SetMinPrice(8);
  EXPECT_EQ(Visible(*view), (Strings{"c"}));
  EXPECT_EQ(view->FindNextFilter(TMinPriceFilter::StaticClass(), nullptr), f);
  EXPECT_EQ(view->FindNextFilter(TMinPriceFilter::StaticClass(), f), nullptr);
  view->RemoveFilter(f);
  EXPECT_EQ(view->Count(), 3u);
}

TEST_F(StorageDataView, DeletedItemsLeaveViewsAndGroups) {
  Fill({{"apple", 1}, {"avocado", 2}, {"banana", 3}});
  auto* view = Watched("main");
  Group(view);
  EXPECT_EQ(Groups(*view), (Strings{"a:apple,avocado,", "b:banana,"}));
  observer.Log.clear();
  list->BeginTransaction(lsDeleting);
  Find("banana")->Delete();
  list->EndTransaction();
  EXPECT_THAT(observer.Take(),
              ElementsAre("L:deleted banana", "V:deleted banana", "V:groupRemoved b", "V:changed *"));
  EXPECT_EQ(Visible(*view), (Strings{"apple", "avocado"}));
  EXPECT_EQ(Groups(*view), (Strings{"a:apple,avocado,"}));
}

TEST_F(StorageDataView, GroupsFollowItemChanges) {
  Fill({{"apple", 1}, {"banana", 2}, {"cherry", 3}});
  auto* view = Watched("main");
  Group(view);
  EXPECT_TRUE(view->Grouped());
  EXPECT_EQ(Groups(*view), (Strings{"a:apple,", "b:banana,", "c:cherry,"}));

  observer.Log.clear();
  Find("banana")->SetTitle("avocado");
  EXPECT_EQ(Groups(*view), (Strings{"a:apple,avocado,", "c:cherry,"}));
  EXPECT_THAT(observer.Take("V:group"), ElementsAre("V:groupRemoved b"));

  // Of two groups that accept an item, the later one takes it.
  auto wildcard = std::make_unique<TLetterGroup>();
  wildcard->Key = "*";
  view->GroupManager().Add(std::move(wildcard));
  Find("cherry")->SetTitle("cranberry");
  EXPECT_EQ(Groups(*view), (Strings{"a:apple,avocado,", "*:cranberry,"}));

  Find("apple")->SetTitle("durian");  // a new group appended at the end
  EXPECT_EQ(Groups(*view).back(), "*:cranberry,durian,");

  view->SetGrouped(false);
  EXPECT_EQ(view->GroupCount(), 0u);
  EXPECT_EQ(view->GroupDefinition(), nullptr);
  EXPECT_EQ(backend->Calls.back().FieldIndex, kStoreGroupManagers);
}

TEST_F(StorageDataView, RowsOfAGroupedView) {
  Fill({{"a1", 1}, {"a2", 2}, {"a3", 3}, {"b1", 4}, {"b2", 5}});
  auto* view = Watched("main");
  EXPECT_EQ(view->RowCount(), 5u);
  EXPECT_EQ(view->RowItem(4), Find("b2"));
  Group(view);
  view->Group(1)->SetExpanded(true);
  observer.Log.clear();
  view->Group(0)->SetExpanded(false);  // already collapsed: nothing happens
  EXPECT_TRUE(observer.Log.empty());
  view->Group(0)->SetExpanded(true);
  view->Group(0)->SetExpanded(false);
  EXPECT_THAT(observer.Take("V:"),
              ElementsAre("V:expansion", "V:deleted a1", "V:deleted a2", "V:deleted a3", "V:expansion"));

  EXPECT_EQ(view->RowCount(), 4u);
  EXPECT_EQ(view->RowItem(0), nullptr);
  EXPECT_EQ(view->RowGroup(0), view->Group(0));
  EXPECT_EQ(view->RowGroup(1), view->Group(1));
  EXPECT_EQ(view->RowItem(1), nullptr);
  EXPECT_EQ(view->RowItem(2), Find("b1"));
  EXPECT_EQ(view->RowItem(3), Find("b2"));
  EXPECT_EQ(view->RowGroup(4), nullptr);
  EXPECT_EQ(view->ItemRow(Find("a2")), -1);
  EXPECT_EQ(view->ItemRow(Find("b2")), 3);
  EXPECT_EQ(view->GroupRow(view->Group(1)), 1);
}

// The rows as a walk over the groups gives them, for checking the view's remembered rows.
Strings WalkedRows(const TStorageDataListView& view) {
  Strings rows;
  for (size_t g = 0; g < view.GroupCount(); ++g) {
    const TStorageDataGroupItem* group = view.Group(g);
    rows.push_back("[" + group->GetCaption() + "]");
    if (group->Expanded())
      for (auto* item : group->Items) rows.push_back(static_cast<TTestItem*>(item)->Title());
  }
  return rows;
}

Strings ViewRows(const TStorageDataListView& view) {
  Strings rows;
  for (size_t r = 0; r < view.RowCount(); ++r) {
    const TStorageDataItem* item = view.RowItem(r);
    const TStorageDataGroupItem* group = view.RowGroup(r);
    if (!group) return {"no group for row " + std::to_string(r)};
    if (item && view.ItemRow(item) != static_cast<int>(r))
      return {"ItemRow disagrees at " + std::to_string(r)};
    if (!item && view.GroupRow(group) != static_cast<int>(r))
      return {"GroupRow disagrees at " + std::to_string(r)};
    rows.push_back(item ? static_cast<const TTestItem*>(item)->Title() : "[" + group->GetCaption() + "]");
  }
  if (view.RowItem(view.RowCount()) || view.RowGroup(view.RowCount())) rows.push_back("a row past the end");
  return rows;
}

TEST_F(StorageDataView, RowsFollowEveryChangeOfTheGroups) {
  Fill({{"a1", 1}, {"b1", 2}, {"a2", 3}, {"c1", 4}});
  auto* view = Watched("main");
  Group(view);
  // Each step reads the rows first, so that a remembered row map would be stale after it.
  auto check = [&](const char* step) {
    SCOPED_TRACE(step);
    EXPECT_EQ(ViewRows(*view), WalkedRows(*view));
  };
  check("grouped");
  view->Group(0)->SetExpanded(true);
  check("expanded");
  Fill({{"a3", 5}});  // joins an expanded group
  check("item added to a group");
  Fill({{"d1", 6}});  // a new group at the end
  check("group appended");
  view->Group(3)->SetExpanded(true);
  view->Sort([](TStorageDataItem* a, TStorageDataItem* b) { return -ByTitle(a, b); });
  check("sorted");
  Find("a1")->SetTitle("b0");  // moves between groups
  check("item moved");
  Find("c1")->SetTitle("a9");  // its group goes
  check("group removed");
  auto* filter = static_cast<TMinPriceFilter*>(view->AddFilter(std::make_unique<TMinPriceFilter>()));
  filter->SetMinPrice(3);
  check("refiltered");
  view->Group(0)->SetExpanded(false);
  check("collapsed");
  auto wildcard = std::make_unique<TLetterGroup>();
  wildcard->Key = "*";
  view->GroupManager().Add(std::move(wildcard));  // past the view
  check("group added to the manager directly");
  view->SetGrouped(false);
  EXPECT_EQ(view->RowCount(), view->Count());
  EXPECT_EQ(view->RowGroup(0), nullptr);
}

TEST_F(StorageDataView, SortingAndRepositioning) {
  Fill({{"c", 2}, {"a", 1}, {"b", 2}, {"d", 2}, {"e", 3}});
  auto* view = Watched("main");
  view->Sort(ByPrice);
  EXPECT_EQ(Visible(*view), (Strings{"a", "c", "b", "d", "e"}));  // equal prices keep their order
  EXPECT_THAT(observer.Take("V:"), ElementsAre("V:changed *", "V:sorted *"));

  // An item that compares equal to its neighbours stays where it is.
  view->Reposition(Find("b"), ByPrice);
  EXPECT_EQ(Visible(*view), (Strings{"a", "c", "b", "d", "e"}));
  EXPECT_THAT(observer.Take("V:"), ElementsAre("V:changed *", "V:sorted b"));

  list->BeginUpdate();
  Find("c")->SetPrice(9);
  Find("a")->SetPrice(2);
  list->EndUpdate(false);
  view->Reposition(Find("c"), ByPrice);
  EXPECT_EQ(Visible(*view), (Strings{"a", "b", "d", "e", "c"}));
  view->Reposition(Find("a"), ByPrice);
  EXPECT_EQ(Visible(*view), (Strings{"a", "b", "d", "e", "c"}));

  Group(view);
  view->Sort(ByTitle);
  EXPECT_EQ(Visible(*view), (Strings{"a", "b", "c", "d", "e"}));
  EXPECT_EQ(view->Group(0)->GetCaption(), "a");
}

TEST_F(StorageDataView, StoredManagersReturnWithTheirView) {
  Fill({{"apple", 1}, {"avocado", 6}, {"banana", 7}});
  auto* view = list->GetView("main");
  view->SaveFilters = true;
  view->SaveGroups = true;
  auto filter = std::make_unique<TMinPriceFilter>();
  filter->SetMinPrice(5);
  view->AddFilter(std::move(filter));
  Group(view);
  view->Group(1)->SetExpanded(true);
  TBytes filters = backend->StoredFilterBlob;
  TBytes groups = backend->StoredGroupBlob;
  ASSERT_GT(filters.size(), 4u);
  EXPECT_EQ(std::string(filters.begin(), filters.begin() + 4), "TPF0");

  // A second list over the same records: the view made after the load takes its managers.
  auto other = storagetest::MakeTestList();
  auto otherBackend = std::make_shared<TRecordingBackend>();
  other->AttachStorage(otherBackend);
  otherBackend->LoadResult = storagetest::MakeLoadResult(
      {{0, "apple", 1}, {1, "avocado", 6}, {2, "banana", 7}, {3, "blueberry", 8}}, filters, groups);
  ASSERT_TRUE(other->Load());
  ASSERT_NE(other->StoredFilterManagers().Find("main"), nullptr);
  auto* copy = other->GetView("main");
  EXPECT_EQ(other->StoredFilterManagers().Find("main"), nullptr);
  EXPECT_EQ(other->StoredGroupManagers().Find("main"), nullptr);
  ASSERT_EQ(copy->FilterManager().Count(), 1u);
  auto* restored = dynamic_cast<TMinPriceFilter*>(copy->FilterManager().Filter(0));
  ASSERT_NE(restored, nullptr);
  EXPECT_EQ(restored->MinPrice(), 5);
  EXPECT_EQ(restored->LoadedCalls, 1);
  EXPECT_TRUE(copy->Grouped());
  EXPECT_NE(dynamic_cast<TLetterGrouping*>(copy->GroupDefinition()), nullptr);
  EXPECT_EQ(Groups(*copy), (Strings{"a:avocado,", "b:banana,blueberry,"}));
  EXPECT_FALSE(copy->Group(0)->Expanded());
  EXPECT_TRUE(copy->Group(1)->Expanded());
}

TEST_F(StorageDataView, AStoredGroupingHoldingSomethingElseLosesItInsteadOfCrashing) {
  Fill({{"apple", 1}, {"banana", 7}});
  auto stored = std::make_unique<TStorageDataGroupManager>();
  stored->Name = "main";
  stored->SetDefinition(std::make_unique<TLetterGrouping>());
  stored->Add(std::make_unique<TMinPriceFilter>());
  list->StoredGroupManagers().Add(std::move(stored));
  auto* view = list->GetView("main");
  EXPECT_TRUE(view->Grouped());
  EXPECT_EQ(Groups(*view), (Strings{"a:apple,", "b:banana,"}));
}

TEST_F(StorageDataView, ManagersOfViewsNotYetMadeSurviveACommit) {
  Fill({{"a", 1}});
  for (const char* name : {"main", "later"}) {
    auto* view = list->GetView(name);
    view->SaveFilters = true;
    auto filter = std::make_unique<TMinPriceFilter>();
    filter->SetMinPrice(name[0] == 'm' ? 1 : 2);
    view->AddFilter(std::move(filter));
  }
  auto other = storagetest::MakeTestList();
  auto otherBackend = std::make_shared<TRecordingBackend>();
  other->AttachStorage(otherBackend);
  otherBackend->LoadResult = storagetest::MakeLoadResult({{0, "a"}}, backend->StoredFilterBlob);
  ASSERT_TRUE(other->Load());
  auto* main = other->GetView("main");
  main->SaveFilters = true;
  static_cast<TMinPriceFilter*>(main->FilterManager().Filter(0))->SetMinPrice(3);

  TStorageDataFilterManagerList stored;
  ReadObjectStream(otherBackend->StoredFilterBlob, stored);
  ASSERT_EQ(stored.Count(), 2u);
  EXPECT_EQ(static_cast<TMinPriceFilter*>(stored.Find("later")->Filter(0))->MinPrice(), 2);
  EXPECT_EQ(static_cast<TMinPriceFilter*>(stored.Find("main")->Filter(0))->MinPrice(), 3);
  EXPECT_EQ(static_cast<TMinPriceFilter*>(other->GetView("later")->FilterManager().Filter(0))->MinPrice(), 2);
}

TEST_F(StorageDataView, GroupDefinitionsMustBeRegistered) {
  Fill({{"a", 1}});
  auto* view = list->GetView("main");
  EXPECT_THROW(view->SetGroupDefinition(std::make_unique<TOrphanGrouping>()), std::logic_error);

  TStorageDataGroupManager manager;
  TBytes bytes;
  TPropertyWriter writer(bytes);
  writer.WriteListBegin();
  writer.WritePropName("GroupDefinition");
  writer.WriteString("TMinPriceFilter");
  writer.WriteListBegin();
  writer.WriteListEnd();
  writer.WriteListEnd();
  try {
    ReadPropertyList(bytes, manager);
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Invalid GroupDefinition class");
  }

  // A definition class without a group class is refused while reading, not when grouping later.
  bytes.clear();
  TPropertyWriter orphan(bytes);
  orphan.WriteListBegin();
  orphan.WritePropName("GroupDefinition");
  orphan.WriteString("TOrphanGrouping");
  orphan.WriteListBegin();
  orphan.WriteListEnd();
  orphan.WriteListEnd();
  EXPECT_THROW(ReadPropertyList(bytes, manager), EReadError);
  EXPECT_EQ(manager.Definition(), nullptr);
}

// The item index against a plain map through inserts, look-ups and erasures in runs of colliding
// addresses, where an erasure that stops a later search early would lose an item.
TEST(ItemIndexTest, AgreesWithAMapThroughInsertsAndErasures) {
  std::vector<TTestItem> items(600);
  auto at = [&items](size_t i) -> const TStorageDataItem* { return &items[i]; };
  TItemIndex index;
  std::map<const TStorageDataItem*, uint32_t> expected;
  EXPECT_EQ(index.Find(at(0)), nullptr) << "an index never reset finds nothing";
  EXPECT_FALSE(index.Erase(at(0)));
  uint32_t seed = 7;
  for (int step = 0; step < 20000; ++step) {
    seed = seed * 1103515245u + 12345u;
    // Few distinct items at a time keep runs long; the index grows past its first size on the way.
    const size_t i = (seed >> 8) % (step < 10000 ? 40 : items.size());
    if ((seed >> 20) % 3 == 0) {
      EXPECT_EQ(index.Erase(at(i)), expected.erase(at(i)) == 1);
    } else {
      const bool added = expected.emplace(at(i), static_cast<uint32_t>(step)).second;
      EXPECT_EQ(index.Insert(at(i), static_cast<uint32_t>(step)), added);
    }
    ASSERT_EQ(index.Size(), expected.size());
    if (step % 97 == 0)
      for (size_t k = 0; k < items.size(); ++k) {
        const uint32_t* found = index.Find(at(k));
        auto it = expected.find(at(k));
        ASSERT_EQ(found != nullptr, it != expected.end()) << "step " << step << " item " << k;
        if (found) {
          EXPECT_EQ(*found, it->second) << "an item keeps its first value";
        }
      }
  }
  index.Reset(3);
  EXPECT_EQ(index.Size(), 0u);
  for (size_t k = 0; k < items.size(); ++k) EXPECT_FALSE(index.Contains(at(k)));
}

}  // namespace
}  // namespace vandrel
