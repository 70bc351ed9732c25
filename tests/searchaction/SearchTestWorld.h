// A small world for search-action tests: a data folder with a book search type and four store engines
// whose pages a scripted server on 127.0.0.1 serves, a catalogue over it, a history and the runner.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "TempFolder.h"
#include "actions/QuorinApplications.h"
#include "engines/SearchTypeCompiler.h"
#include "http/TestOriginServer.h"
#include "search/SearchAction.h"
#include "search/SearchConverters.h"
#include "search/SearchHistory.h"
#include "storage/CategoryStorage.h"
#include "storage/EngineStorage.h"
#include "storage/SearchTypeStorage.h"

namespace vandrel::searchtest {

inline const char kBooksType[] = R"(Procedure Register
  Name = "books"
  DisplayName = "Books"
  InputDisplayFormula = "Keywords"
  f = AddInputField("Keywords")
  f = AddInputField("KeywordOp")
  f.datatype = DT_INTEGER
  Global KO_AND = 1
  Global KO_OR = 2
  Global KO_EXACT = 3
  Global KO_NONE = 0
  f = AddOutputField("title")
  f = AddOutputField("price")
  f.datatype = DT_MONEY
  f.formatstring = "%.2f"
  f = AddOutputField("url")
  f.isurl = True
  AddSortKey "price", SK_ASCENDING
  UniqueKey = "url"
  UrlReduction = REDUC_SLASH + REDUC_WWW
  SearchFrame = "BookSearch"
EndProcedure
)";

// One store: its page is /<name>?q=..., one <li> per book. `%PORT%` and `%NAME%` are filled in.
inline const char kStoreEngine[] = R"(Procedure Register
  DisplayName = "%NAME%"
EndProcedure

Procedure Init
  DefaultMoneyCode = "USD"
  ResultsPerPage = 65535
EndProcedure

Procedure BeforeDownload
  SearchQuerySeparator = "+"
  SetSearchQuery
  SourceUrl = "http://127.0.0.1:%PORT%/%NAME%?q=" + SearchQuery
EndProcedure

Procedure AfterDownload
  ParseType = PT_EXPRESSION
  ParseExpression = '<li class="item">'
  ParseIncompleteLinks = True
  BaseLink = "http://shop.test/"
  Rules["Range"].startmarker = "<!-- results -->"
  Rules["Range"].endmarker = "<!-- /results -->"
  Rules["url"].key = True
  Rules["url"].startmarker = 'href="'
  Rules["url"].endmarker = '"'
  Rules["title"].startmarker = "<b>"
  Rules["title"].endmarker = "</b>"
  Rules["price"].startmarker = "price: "
  Rules["price"].endmarker = "<"
  TranslateInRule "price", "$", ""
EndProcedure
)";

struct TBook {
  std::string Id;  // the page path is /item/<Id>
  double Price;
};

// A results page listing `books`.
std::string StorePage(const std::vector<TBook>& books);

// What each store answers, changed by the test between runs. Thread-safe: the server reads it.
class TStorePages {
 public:
  struct TAnswer {
    int Status = 200;
    std::string Body;
    bool Stall = false;  // sends nothing until the client gives up or the server stops
  };
  void Set(const std::string& store, std::vector<TBook> books);
  void Fail(const std::string& store, int status);
  void Stall(const std::string& store);
  TAnswer Get(const std::string& store) const;

 private:
  mutable std::mutex lock_;
  std::map<std::string, TAnswer> answers_;
};

// The catalogue over the world's data folder; its lists live in memory.
class TTestCatalogue : public ISearchCatalogue {
 public:
  explicit TTestCatalogue(std::string dataFolder) : Data(std::move(dataFolder)) {}

  std::string SearchTypeFile(const std::string& srtName) const override {
    return Data + "/" + srtName + ".sst";
  }
  std::string EngineFile(const std::string& catName, const std::string& engName) const override {
    return Data + "/" + catName + "/" + engName + ".sen";
  }
  TVariableList* Constants() override { return nullptr; }
  TSearchTypeStorageItem* FindSearchType(const std::string& srtName) override {
    return static_cast<TSearchTypeStorageItem*>(SearchTypes.FindByName(srtName));
  }
  TCategoryStorageItem* FindCategory(const std::string& catName) override {
    return static_cast<TCategoryStorageItem*>(Categories.FindByName(catName));
  }
  TEngineStorageList* CategoryEngines(const std::string& catName) override {
    return FindCategory(catName) ? &Engines : nullptr;
  }
  void SaveCategory(TCategoryStorageItem&) override { ++CategorySaves; }

  // Loads the search type file and stores it the way the catalogue builder does.
  bool AddSearchType(const std::string& srtName);
  TCategoryStorageItem* AddCategory(const std::string& catName, const std::string& srtName);
  TEngineStorageItem* AddEngine(const std::string& engName, bool supportsNew);

  std::string Data;
  TSearchTypeStorageList SearchTypes;
  TCategoryStorageList Categories;
  TEngineStorageList Engines;  // the one category's engines
  int CategorySaves = 0;
};

// A result back end that keeps every search's results in memory, the way the database would: a reload
// gives fresh objects. Counts reloads so tests can tell one happened.
class TMemoryResultStore : public IStorageManager {
 public:
  bool Login(const TBytes&) override { return true; }
  void Logout() override {}
  bool AddItems(const TBytes& items) override;
  bool UpdateItems(const TBytes& items, int) override { return AddItems(items); }
  bool LoadItems(const TBytes& selection, TBytes& result) override;
  bool DeleteItems(const TBytes& keys) override;
  bool DeleteAllItems(const TBytes& selection) override;
  bool SetItemsField(const TBytes& keys, const TDynamicValue& value) override;
  bool GetNextKey(const TBytes& selection, int32_t& key) override;
  bool EmptyStorage() override {
    Rows.clear();
    return true;
  }
  bool Compact() override { return true; }
  IStorageProgress* GetProgress() override { return Progress; }
  void SetProgress(IStorageProgress* progress) override { Progress = progress; }

  std::map<int32_t, std::map<int32_t, TBytes>> Rows;  // search number -> result key -> the stored result
  int Loads = 0;
  bool FailWrites = false;  // every write answers false and changes nothing, as on a full disk
  IStorageProgress* Progress = nullptr;
};

// Counts what the runner tells its observers.
class TRunnerLog : public IQuorinApplicationObserver {
 public:
  void ActionStarting(TQuorinAction& action) override;
  void ActionStarted(TQuorinAction&) override { Events.push_back("started"); }
  void ActionFinished(TQuorinAction& action) override {
    Events.push_back("finished");
    if (auto* search = dynamic_cast<TQuorinSearchAction*>(&action)) StorageFailure = search->StorageFailure();
  }
  void Busy() override { Events.push_back("busy"); }
  void Idle() override { Events.push_back("idle"); }
  void Error(TQuorinActionResult code) override { Events.push_back("error " + std::to_string(code)); }

  std::vector<std::string> Events;
  std::string StorageFailure;  // of the last search action that finished
  // Applied to every search action before it starts, as the main window does.
  std::function<void(TQuorinSearchAction&)> Configure;
};

struct TSearchWorld {
  // `storeResults`: result lists get a back end (reloads free their items), else they live in memory.
  explicit TSearchWorld(bool storeResults = false);
  ~TSearchWorld();

  // A stored search in the compare folder for `keywords` over `engines`.
  TSearchStorageItem* NewSearch(const std::string& keywords, const std::vector<std::string>& engines);
  // Queues the search and pumps until the runner is idle again; false on a time-out.
  bool Run(TSearchStorageItem* search);
  bool WaitIdle(std::chrono::milliseconds limit = std::chrono::seconds(20));
  TResultStorageList& Results(TSearchStorageItem* search);
  // The stored result whose url ends in /item/<id>; null when there is none.
  TResultStorageItem* Find(TSearchStorageItem* search, const std::string& id);

  test::TempFolder Dir;
  test::TestOriginServer Server;
  TStorePages Pages;
  TTestCatalogue Catalogue;
  TQuorinActionRepository Actions;
  std::unique_ptr<TQuorinApplication> Runner;
  TSearchHistory* History = nullptr;  // owned by the runner
  std::unique_ptr<TAppSearchHistory> Compare;
  TRunnerLog Log;
  std::shared_ptr<TMemoryResultStore> Store;  // null without a back end
  std::string ResultsFolder;                  // the folder the results' back end was asked for
};

}  // namespace vandrel::searchtest
