#include "SearchTestWorld.h"

#include <gtest/gtest.h>

#include "platform/Format.h"
#include "platform/MainDispatcher.h"
#include "storage/PropertyStream.h"
#include "storage/ResultStorage.h"

namespace vandrel::searchtest {
namespace {

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

const char* const kStores[] = {"alpha", "beta", "gamma", "delta"};

}  // namespace

std::string StorePage(const std::vector<TBook>& books) {
  std::string page = "<html><body><ul>\n<!-- results -->\n";
  for (const TBook& book : books)
    page += Format(
        "<li class=\"item\"><a href=\"/item/%0:s\"><b>Book %0:s</b></a><br>Our price: $%1:.2f<br></li>\n",
        {book.Id, book.Price});
  page += "<!-- /results -->\n</ul></body></html>\n";
  return page;
}

void TStorePages::Set(const std::string& store, std::vector<TBook> books) {
  std::lock_guard<std::mutex> guard(lock_);
  answers_[store] = TAnswer{200, StorePage(books), false};
}

void TStorePages::Fail(const std::string& store, int status) {
  std::lock_guard<std::mutex> guard(lock_);
  answers_[store] = TAnswer{status, "<html>unavailable</html>", false};
}

void TStorePages::Stall(const std::string& store) {
  std::lock_guard<std::mutex> guard(lock_);
  answers_[store] = TAnswer{200, {}, true};
}

TStorePages::TAnswer TStorePages::Get(const std::string& store) const {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = answers_.find(store);
  return it == answers_.end() ? TAnswer{200, StorePage({}), false} : it->second;
}

bool TTestCatalogue::AddSearchType(const std::string& srtName) {
  TSearchTypeReader reader;
  if (!reader.Load(SearchTypeFile(srtName))) return false;
  TSearchTypeInstance instance(&reader);
  SearchTypes.BeginTransaction(lsAdding);
  TSearchTypeStorageItem* item = SearchTypes.NewSearchType();
  item->SrtName = srtName;
  Convert(*item, instance);
  SearchTypes.EndTransaction();
  return true;
}

TCategoryStorageItem* TTestCatalogue::AddCategory(const std::string& catName, const std::string& srtName) {
  Categories.BeginTransaction(lsAdding);
  TCategoryStorageItem* item = Categories.NewCategory();
  item->CatName = catName;
  item->SrtName = srtName;
  item->Enabled = true;
  Categories.EndTransaction();
  return item;
}

TEngineStorageItem* TTestCatalogue::AddEngine(const std::string& engName, bool supportsNew) {
  Engines.BeginTransaction(lsAdding);
  TEngineStorageItem* item = Engines.NewEngine();
  item->EngName = engName;
  item->DisplayName = engName;
  item->Flags = supportsNew ? efSupportsNew : 0;
  Engines.EndTransaction();
  return item;
}

bool TMemoryResultStore::AddItems(const TBytes& items) {
  if (FailWrites) return false;
  TResultStorageTransactionList list;
  ReadObjectStream(items, list);
  for (size_t i = 0; i < list.Count(); ++i)
    if (auto* result = list.ItemAs<TResultStorageItem>(i)) {
      TBytes row;
      WriteObjectStream(row, *result);
      Rows[list.SrhNum][result->Index()] = std::move(row);
    }
  return true;
}

bool TMemoryResultStore::LoadItems(const TBytes& selection, TBytes& result) {
  ++Loads;
  TResultStorageTransactionList list;
  ReadObjectStream(selection, list);
  for (const auto& [key, row] : Rows[list.SrhNum]) {
    auto item = std::make_unique<TResultStorageItem>();
    ReadObjectStream(row, *item);
    list.Add(std::move(item));
  }
  WriteObjectStream(result, list);
  return true;
}

bool TMemoryResultStore::DeleteItems(const TBytes& keys) {
  if (FailWrites) return false;
  TResultStorageTransactionList list;
  ReadObjectStream(keys, list);
  for (size_t i = 0; i < list.Count(); ++i)
    if (auto* key = list.ItemAs<TDefaultKeyItem>(i)) Rows[list.SrhNum].erase(key->Index);
  return true;
}

bool TMemoryResultStore::DeleteAllItems(const TBytes& selection) {
  if (FailWrites) return false;
  TResultStorageTransactionList list;
  ReadObjectStream(selection, list);
  Rows.erase(list.SrhNum);
  return true;
}

bool TMemoryResultStore::SetItemsField(const TBytes& keys, const TDynamicValue& value) {
  if (FailWrites) return false;
  TResultStorageTransactionList list;
  ReadObjectStream(keys, list);
  for (size_t i = 0; i < list.Count(); ++i) {
    auto* key = list.ItemAs<TDefaultKeyItem>(i);
    auto row = key ? Rows[list.SrhNum].find(key->Index) : Rows[list.SrhNum].end();
    if (row == Rows[list.SrhNum].end()) continue;
    TResultStorageItem item;
    ReadObjectStream(row->second, item);
    if (list.FieldIndex == kResultSetDeleted)
      item.FilterState =
          value.AsBoolean() ? (item.FilterState | rfsDeleted) : (item.FilterState & ~rfsDeleted);
    else if (list.FieldIndex == kResultSetChecked)
      item.Checked = value.AsBoolean();
    row->second.clear();
    WriteObjectStream(row->second, item);
  }
  return true;
}

bool TMemoryResultStore::GetNextKey(const TBytes& selection, int32_t& key) {
  TResultStorageTransactionList list;
  ReadObjectStream(selection, list);
  const auto& rows = Rows[list.SrhNum];
  key = rows.empty() ? 0 : rows.rbegin()->first + 1;
  return true;
}

void TRunnerLog::ActionStarting(TQuorinAction& action) {
  Events.push_back("starting");
  if (auto* search = dynamic_cast<TQuorinSearchAction*>(&action)) {
    search->MaxThreads = 4;
    search->EngineTimeLimit = 10000;
    if (Configure) Configure(*search);
  }
}

TSearchWorld::TSearchWorld(bool storeResults) : Catalogue(Dir / "Data") {
  std::filesystem::create_directories(Dir / "Data/buybooks");
  std::filesystem::create_directories(Dir / "UserData");
  test::WriteWholeFile(Dir / "Data/books.sst", kBooksType);
  for (const char* store : kStores) {
    std::string source = Replace(kStoreEngine, "%PORT%", std::to_string(Server.Port()));
    test::WriteWholeFile(Dir / ("Data/buybooks/" + std::string(store) + ".sen"),
                         Replace(source, "%NAME%", store));
    Server.Route("/" + std::string(store), [this, name = std::string(store)](test::TOriginConnection& c) {
      TStorePages::TAnswer answer = Pages.Get(name);
      if (answer.Stall) {
        c.Stall(std::chrono::seconds(15));
        return;
      }
      test::TestOriginServer::Reply(answer.Status, answer.Body, {"Content-Type: text/html"})(c);
    });
  }
  EXPECT_TRUE(Catalogue.AddSearchType("books"));
  Catalogue.AddCategory("buybooks", "books");
  Catalogue.AddEngine("alpha", false);
  Catalogue.AddEngine("beta", true);
  Catalogue.AddEngine("gamma", false);
  Catalogue.AddEngine("delta", false);

  TQuorinApplicationParts parts;
  History = new TSearchHistory(&Catalogue);
  parts.History = {History, [](TSearchHistory* h) { delete h; }};
  parts.BindStoredSearch = &TSearchHistory::Bind;
  Runner = std::make_unique<TQuorinApplication>(Actions, MainDispatcher::Default(), std::move(parts));
  RegisterSearchAction(Actions, *Runner, Catalogue);
  Runner->AddObserver(&Log);
  if (storeResults) {
    Store = std::make_shared<TMemoryResultStore>();
    History->SetStorage({nullptr, [this](const TFolderItem& folder) -> std::shared_ptr<IStorageManager> {
                           ResultsFolder = folder.Path();
                           return Store;
                         }});
  }
  History->SetFolder(Dir / "UserData");
  Compare = std::make_unique<TAppSearchHistory>(*History, "Compare", Runner.get());
  EXPECT_TRUE(Compare->Open(15, Now()));
}

TSearchWorld::~TSearchWorld() {
  if (Runner) {
    Runner->Stop(true);
    WaitIdle(std::chrono::seconds(5));
  }
  Compare.reset();
  Runner.reset();
  Server.Stop();
  MainDispatcher::Default().ProcessPending();
}

TSearchStorageItem* TSearchWorld::NewSearch(const std::string& keywords,
                                            const std::vector<std::string>& engines) {
  TCategoryStorageItem* category = Catalogue.FindCategory("buybooks");
  return Compare->Item()->NewSearch(*category, [&](TSearchStorageItem& search) {
    search.GetFields()->AddField("Keywords", TDynamicValue(keywords));
    search.GetFields()->AddField("KeywordOp", TDynamicValue(1));
    search.Engines.Lines = engines;
    search.ResultsPerEngine = 10;
  });
}

bool TSearchWorld::WaitIdle(std::chrono::milliseconds limit) {
  return MainDispatcher::Default().RunUntil(
      [this] { return Runner->State() == asIdle && !Runner->IsBusy() && Runner->Queue().Empty(); }, limit,
      std::chrono::milliseconds(5));
}

bool TSearchWorld::Run(TSearchStorageItem* search) {
  auto operation = std::make_unique<TQuorinSearchOperation>();
  operation->Folder = Compare->Folder();
  operation->SrhNum = search->Index();
  if (Runner->Submit(std::move(operation)) != arOk) return false;
  return WaitIdle();
}

TResultStorageList& TSearchWorld::Results(TSearchStorageItem* search) {
  return Compare->Item()->GetResultItem(search)->GetResults();
}

TResultStorageItem* TSearchWorld::Find(TSearchStorageItem* search, const std::string& id) {
  TResultStorageList& results = Results(search);
  const std::string tail = "/item/" + id;
  for (size_t i = 0; i < results.Count(); ++i) {
    TStorageFieldItem* url = results.Result(i)->FindField("url");
    if (!url) continue;
    const std::string text = url->Value().AsString();
    if (text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0)
      return results.Result(i);
  }
  return nullptr;
}

}  // namespace vandrel::searchtest
