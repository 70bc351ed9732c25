#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "storage/StorageTestSupport.h"

namespace vandrel {
namespace {

using storagetest::TRecordingBackend;
using storagetest::TRecordingObserver;
using storagetest::TTestItem;
using ::testing::ElementsAre;
using Strings = std::vector<std::string>;

TTestItem* Add(TStorageDataList& list, const std::string& title) {
  auto* item = static_cast<TTestItem*>(list.NewItem());
  item->SetTitle(title);
  return item;
}

class StorageDataList : public ::testing::Test {
 protected:
  void SetUp() override {
    list = storagetest::MakeTestList();
    list->AddObserver(&observer);
  }
  void Attach() {
    backend = std::make_shared<TRecordingBackend>();
    list->AttachStorage(backend);
  }
  // Three items "a", "b", "c" added and committed.
  void Fill() {
    list->BeginTransaction(lsAdding);
    for (const char* t : {"a", "b", "c"}) Add(*list, t);
    list->EndTransaction();
    observer.Log.clear();
    if (backend) backend->Calls.clear();
  }
  TTestItem* At(size_t i) { return static_cast<TTestItem*>(list->Item(i)); }
  Strings Titles() {
    Strings out;
    for (size_t i = 0; i < list->Count(); ++i) out.push_back(At(i)->Title());
    return out;
  }

  std::unique_ptr<TStorageDataList> list;
  std::shared_ptr<TRecordingBackend> backend;
  TRecordingObserver observer;
};

TEST_F(StorageDataList, NewItemOnlyInsideATransaction) {
  EXPECT_EQ(list->NewItem(), nullptr);
  EXPECT_EQ(list->Count(), 0u);
  list->BeginTransaction(lsAdding);
  auto* item = list->NewItem();
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->Owner(), list.get());
  EXPECT_EQ(item->Index(), 0);
  EXPECT_EQ(list->NextKey(), 1);
  list->EndTransaction();
  EXPECT_EQ(list->State(), lsIdle);
}

TEST_F(StorageDataList, AddingWritesEachNewItemOnce) {
  Attach();
  backend->NextKey = 10;
  list->BeginTransaction(lsAdding);
  auto* a = Add(*list, "a");
  a->SetPrice(5);  // a second change of a new item
  Add(*list, "b");
  EXPECT_EQ(list->TransactionCount(), 2u);
  list->EndTransaction();
  EXPECT_THAT(backend->Ops(), ElementsAre("GetNextKey", "AddItems"));
  EXPECT_THAT(backend->Calls[1].Keys, ElementsAre(10, 11));
  EXPECT_THAT(backend->Calls[1].Titles, ElementsAre("a", "b"));
  EXPECT_EQ(observer.Take("L:").back(), "L:changed *");
  EXPECT_EQ(list->TransactionCount(), 0u);
}

TEST_F(StorageDataList, AddingWithAFailingBackEnd) {
  Attach();
  backend->Fails["GetNextKey"] = true;
  backend->Fails["AddItems"] = true;
  list->BeginTransaction(lsAdding);
  EXPECT_THAT(observer.Take(), ElementsAre("L:error read"));
  EXPECT_EQ(Add(*list, "a")->Index(), 0);  // NextKey kept its value
  list->EndTransaction();
  EXPECT_THAT(observer.Take("L:error"), ElementsAre("L:error write"));
  EXPECT_EQ(list->Count(), 1u);  // memory keeps the change
}

TEST_F(StorageDataList, CancelledAddingDestroysExactlyTheNewItems) {
  Fill();
  list->BeginTransaction(lsAdding);
  auto* d = Add(*list, "d");
  d->SetPrice(1);
  Add(*list, "e");
  list->EndTransaction(true);
  EXPECT_EQ(Titles(), (Strings{"a", "b", "c"}));
  EXPECT_THAT(observer.Take("L:deleted"), ElementsAre("L:deleted d", "L:deleted e"));
}

TEST_F(StorageDataList, UpdatingWritesEveryReportedChange) {
  Attach();
  Fill();
  list->BeginTransaction(lsUpdating, 2);
  At(1)->SetPrice(3);
  At(1)->SetTitle("B");
  At(0)->SetPrice(4);
  observer.Log.clear();
  list->EndTransaction();
  ASSERT_THAT(backend->Ops(), ElementsAre("UpdateItems"));
  EXPECT_EQ(backend->Calls[0].FieldIndex, 2);
  EXPECT_THAT(backend->Calls[0].Titles, ElementsAre("B", "B", "a"));
  EXPECT_THAT(observer.Take("L:"), ElementsAre("L:changed B", "L:changed B", "L:changed a"));

  // A cancelled update keeps the memory change and writes nothing.
  backend->Calls.clear();
  list->BeginTransaction(lsUpdating, 1);
  At(2)->SetTitle("C");
  list->EndTransaction(true);
  EXPECT_TRUE(backend->Calls.empty());
  EXPECT_EQ(At(2)->Title(), "C");

  // The single-item form.
  At(0)->RunTransaction(lsUpdating, 1);
  ASSERT_EQ(backend->Calls.size(), 1u);
  EXPECT_EQ(backend->Calls[0].FieldIndex, 1);
  EXPECT_THAT(backend->Calls[0].Titles, ElementsAre("a"));
}

TEST_F(StorageDataList, RewritingWithoutABackEndRenumbers) {
  Fill();
  list->BeginTransaction(lsRewriting);
  At(0)->Delete();  // acts at once
  EXPECT_EQ(Titles(), (Strings{"b", "c"}));
  Add(*list, "d");
  At(0)->SetTitle("B");  // silent
  EXPECT_EQ(list->TransactionCount(), 0u);
  EXPECT_THAT(observer.Take(), ElementsAre("L:deleted a"));
  list->EndTransaction();
  for (size_t i = 0; i < list->Count(); ++i) EXPECT_EQ(list->Item(i)->Index(), static_cast<int>(i));
  EXPECT_THAT(observer.Take(), ElementsAre("L:changed *"));
}

TEST_F(StorageDataList, RewritingReplacesTheStoredContent) {
  Attach();
  Fill();
  backend->NextKey = 50;
  list->BeginTransaction(lsRewriting);
  Add(*list, "d");
  list->EndTransaction();
  EXPECT_THAT(backend->Ops(), ElementsAre("DeleteAllItems", "GetNextKey", "AddItems"));
  EXPECT_THAT(backend->Calls[2].Keys, ElementsAre(50, 51, 52, 53));
  EXPECT_THAT(backend->Calls[2].Titles, ElementsAre("a", "b", "c", "d"));

  // No next key: the items keep theirs.
  backend->Calls.clear();
  backend->Fails["GetNextKey"] = true;
  list->RunTransaction(lsRewriting);
  EXPECT_THAT(backend->Calls.back().Keys, ElementsAre(50, 51, 52, 53));

  // A failed delete stops the rewrite.
  backend->Calls.clear();
  backend->Fails["DeleteAllItems"] = true;
  observer.Log.clear();
  list->RunTransaction(lsRewriting);
  EXPECT_THAT(backend->Ops(), ElementsAre("DeleteAllItems"));
  EXPECT_THAT(observer.Take(), ElementsAre("L:error write"));
}

TEST_F(StorageDataList, SettingAFieldWritesKeysAndTheValue) {
  Attach();
  Fill();
  list->PendingValue = TDynamicValue(true);
  list->BeginTransaction(lsSettingField, 2);
  At(0)->Changed();
  At(2)->Changed();
  observer.Log.clear();
  list->EndTransaction();
  ASSERT_THAT(backend->Ops(), ElementsAre("SetItemsField"));
  EXPECT_EQ(backend->Calls[0].FieldIndex, 2);
  EXPECT_THAT(backend->Calls[0].Keys, ElementsAre(100, 102));
  EXPECT_EQ(backend->Calls[0].Value, TDynamicValue(true));
  EXPECT_THAT(observer.Take("L:"), ElementsAre("L:changed a", "L:changed c"));
  EXPECT_EQ(list->Transaction().FieldIndex, 0);
}

TEST_F(StorageDataList, DeletingTwiceDestroysOnce) {
  Attach();
  Fill();
  list->BeginTransaction(lsDeleting);
  At(1)->Delete();
  At(1)->Delete();
  EXPECT_TRUE(observer.Log.empty());  // silent until the commit
  list->EndTransaction();
  EXPECT_THAT(backend->Calls[0].Keys, ElementsAre(101));
  EXPECT_EQ(Titles(), (Strings{"a", "c"}));
  EXPECT_THAT(observer.Take(), ElementsAre("L:deleted b"));

  // Without a back end, and after a failed write, the items are gone from memory all the same.
  backend->Fails["DeleteItems"] = true;
  list->BeginTransaction(lsDeleting);
  At(0)->Delete();
  list->EndTransaction();
  EXPECT_EQ(Titles(), (Strings{"c"}));
  EXPECT_THAT(observer.Take(), ElementsAre("L:error write", "L:deleted a"));
}

TEST_F(StorageDataList, LoadReplacesItemsOrKeepsThemOnFailure) {
  Attach();
  Fill();
  backend->LoadResult = storagetest::MakeLoadResult({{0, "x"}, {7, "y"}});
  EXPECT_TRUE(list->Load());
  EXPECT_EQ(Titles(), (Strings{"x", "y"}));
  EXPECT_EQ(list->Item(0)->Index(), 0);  // key 0 survives the stream
  EXPECT_EQ(list->Item(1)->Owner(), list.get());
  EXPECT_THAT(observer.Take(), ElementsAre("L:changed *"));

  backend->Fails["LoadItems"] = true;
  EXPECT_FALSE(list->Load());
  EXPECT_EQ(Titles(), (Strings{"x", "y"}));
  EXPECT_THAT(observer.Take(), ElementsAre("L:error read"));

  backend->Fails["LoadItems"] = false;
  backend->LoadResult = {'T', 'P', 'F', '0', 3, 'T', 'x'};
  EXPECT_FALSE(list->Load());
  EXPECT_EQ(Titles(), (Strings{"x", "y"}));
  EXPECT_EQ(list->LastReadError(), "Stream read error");
  EXPECT_EQ(list->State(), lsIdle);
}

TEST_F(StorageDataList, WholeListOperations) {
  Attach();
  Fill();
  EXPECT_TRUE(list->DeleteAll());
  EXPECT_EQ(list->Count(), 0u);
  Fill();
  backend->Fails["DeleteAllItems"] = true;
  EXPECT_FALSE(list->DeleteAll());
  EXPECT_EQ(list->Count(), 3u);
  backend->Fails["EmptyStorage"] = true;
  EXPECT_FALSE(list->Empty());
  EXPECT_EQ(list->Count(), 3u);
  backend->Fails["EmptyStorage"] = false;
  EXPECT_TRUE(list->Empty());
  EXPECT_EQ(list->Count(), 0u);
  list->Compact();
  EXPECT_THAT(backend->Ops(), ElementsAre("DeleteAllItems", "EmptyStorage", "EmptyStorage", "Compact"));

  EXPECT_TRUE(list->Login(storagetest::TTestLoginInfo::StaticClass()));
  EXPECT_EQ(backend->LoginFolder, "/data");
  EXPECT_TRUE(list->LoggedIn());
  list->Logout();
  EXPECT_FALSE(list->LoggedIn());

  TStorageDataList copy(*list);
  EXPECT_EQ(copy.Storage(), list->Storage());
  EXPECT_EQ(copy.Count(), 0u);
}

TEST_F(StorageDataList, ProgressIsMappedToTheRange) {
  Attach();
  list->SetProgressRange(20, 60);
  list->Compact();
  ASSERT_NE(backend->ProgressSink, nullptr);
  backend->ProgressSink->Progress(50);
  list->SetProgressRange(0, 3);
  backend->ProgressSink->Progress(50);  // 1.5 rounds to even
  list->SetProgressRange(0, 5);
  backend->ProgressSink->Progress(50);  // 2.5 rounds to even
  list->BeginUpdate();
  backend->ProgressSink->Progress(10);
  list->EndUpdate(false);
  EXPECT_THAT(observer.Take(), ElementsAre("L:progress 40", "L:progress 2", "L:progress 2"));
}

TEST_F(StorageDataList, ASharedBackEndForgetsTheProgressOfAListThatIsGone) {
  Attach();
  auto other = storagetest::MakeTestList();
  other->AttachStorage(backend);
  list->Compact();
  other->Compact();
  list.reset();  // not the one the back end reports to: the other keeps its progress
  EXPECT_NE(backend->ProgressSink, nullptr);
  other.reset();
  EXPECT_EQ(backend->ProgressSink, nullptr);
  auto again = storagetest::MakeTestList();
  again->AttachStorage(backend);
  again->Compact();
  again->DetachStorage();
  EXPECT_EQ(backend->ProgressSink, nullptr);
}

TEST_F(StorageDataList, LockingSuppressesNotifications) {
  Fill();
  list->BeginUpdate();
  list->BeginTransaction(lsUpdating);
  At(0)->SetTitle("A");
  list->EndTransaction();
  EXPECT_TRUE(observer.Log.empty());
  list->EndUpdate(true);
  EXPECT_THAT(observer.Take(), ElementsAre("L:changed *"));
  list->RemoveObserver(&observer);
  At(0)->SetTitle("AA");
  EXPECT_TRUE(observer.Log.empty());
}

// Observers that join or leave while the list is telling its observers.
class TJoiningObserver : public IStorageDataListObserver {
 public:
  TJoiningObserver(TStorageDataList& list, TRecordingObserver& late) : list_(list), late_(late) {}
  void ItemChanged(TStorageNotifier*, TStorageDataItem*) override {
    ++Calls;
    list_.AddObserver(&late_);
    if (Leave) list_.RemoveObserver(Leave);
  }
  int Calls = 0;
  IStorageDataListObserver* Leave = nullptr;

 private:
  TStorageDataList& list_;
  TRecordingObserver& late_;
};

TEST_F(StorageDataList, AnObserverAddedWhileOthersAreToldIsToldInTheSamePassAndOneRemovedIsNot) {
  Fill();
  list->RemoveObserver(&observer);
  TRecordingObserver late, leaving;
  TJoiningObserver joining(*list, late);
  joining.Leave = &leaving;
  list->AddObserver(&joining);
  list->AddObserver(&leaving);
  list->BeginTransaction(lsUpdating);
  At(0)->SetTitle("A");
  list->EndTransaction();
  EXPECT_FALSE(late.Log.empty()) << "added during the pass, told in it";
  EXPECT_TRUE(leaving.Log.empty()) << "removed during the pass before its turn";
  late.Log.clear();
  const int before = joining.Calls;
  At(1)->SetTitle("B");
  EXPECT_EQ(joining.Calls, before + 1);
  EXPECT_EQ(late.Log.size(), 1u) << "added once, told once";
}

}  // namespace
}  // namespace vandrel
