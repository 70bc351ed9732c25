// Feeds arbitrary bytes to the property stream readers: any input must end in a value or an EReadError.
// The typed lists also load the bytes as a back end's answer, so their items, money fields and stored
// groups are read, converted and regrouped.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "storage/CategoryStorage.h"
#include "storage/EngineStorage.h"
#include "storage/PersistentLists.h"
#include "storage/ResultStorage.h"
#include "storage/SearchStorage.h"
#include "storage/SearchTypeStorage.h"
#include "storage/StorageDataLists.h"
#include "storage/StorageDataViews.h"
#include "storage/TypedStorage.h"

namespace {

using namespace vandrel;

// Answers every load with the fuzzer's bytes.
class TFuzzBackend : public IStorageManager {
 public:
  explicit TFuzzBackend(std::span<const uint8_t> bytes) : Bytes_(bytes.begin(), bytes.end()) {}
  bool Login(const TBytes&) override { return true; }
  void Logout() override {}
  bool AddItems(const TBytes&) override { return true; }
  bool UpdateItems(const TBytes&, int) override { return true; }
  bool LoadItems(const TBytes&, TBytes& result) override {
    result = Bytes_;
    return true;
  }
  bool DeleteItems(const TBytes&) override { return true; }
  bool DeleteAllItems(const TBytes&) override { return true; }
  bool SetItemsField(const TBytes&, const TDynamicValue&) override { return true; }
  bool GetNextKey(const TBytes&, int32_t& key) override {
    key = 1;
    return true;
  }
  bool EmptyStorage() override { return true; }
  bool Compact() override { return true; }
  IStorageProgress* GetProgress() override { return nullptr; }
  void SetProgress(IStorageProgress*) override {}

 private:
  TBytes Bytes_;
};

template <class TList>
void LoadInto(TList& list, std::span<const uint8_t> bytes) {
  list.AttachStorage(std::make_shared<TFuzzBackend>(bytes));
  TStorageDataListView* view = list.GetView("Default");
  list.Load();
  view->Refill();
  // Views made after the load take over what the stream stored for them.
  list.GetView("Compact")->Refill();
}

template <class TTransaction>
void ReadAs(std::span<const uint8_t> bytes) {
  try {
    TTransaction transaction;
    ReadObjectStream(bytes, transaction);
  } catch (const EReadError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  RegisterStorageClasses();
  RegisterTypedStorageClasses();
  std::span<const uint8_t> bytes(data, size);
  ReadAs<TStorageTransactionList>(bytes);
  ReadAs<TStorageDataFilterManagerList>(bytes);
  ReadAs<TStorageDataGroupManagerList>(bytes);
  ReadAs<TSearchTypeStorageTransactionList>(bytes);
  ReadAs<TEngineStorageTransactionList>(bytes);
  try {
    TPropertyReader reader(bytes);
    while (reader.Remaining() > 0) reader.SkipValue();
  } catch (const EReadError&) {
  }
  try {
    TPropertyReader reader(bytes);
    while (reader.Remaining() > 0) ReadListedObject(reader, nullptr);
  } catch (const EReadError&) {
  }

  // Load failures are the lists' own business: they report them and keep what they had.
  TResultStorageList results;
  results.OutputFieldDefinitions().AddOutput("title", TStorageFieldType::ftString);
  results.OutputFieldDefinitions().AddOutput("price", TStorageFieldType::ftMoney);
  LoadInto(results, bytes);
  if (auto* view = results.FindResultView("Default")) {
    storage::TSortKeyList keys;
    keys.AddKey("title", TSortKeySortDirection::ksdAscending);
    view->SortResults("price", true, &keys, false);
    auto definition = std::make_unique<TResultStorageGroupDefinition>();
    definition->GroupField = "price";
    view->SetGroupDefinition(std::move(definition));
    view->SetGrouped(true);
    for (size_t row = 0; row < view->RowCount(); ++row) view->RowItem(row);
  }
  TSearchStorageList searches;
  LoadInto(searches, bytes);
  TSearchTypeStorageList searchTypes;
  LoadInto(searchTypes, bytes);
  TCategoryStorageList categories;
  LoadInto(categories, bytes);
  TEngineStorageList engines;
  LoadInto(engines, bytes);
  return 0;
}
