// "search": runs the engines of one category and prints the merged, sorted result list.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "cli/CliKernel.h"
#include "cli/CliOutput.h"
#include "cli/Commands.h"
#include "currency/CurrencyConverters.h"
#include "engines/SearchTypeCompiler.h"
#include "kernel/AppConfig.h"
#include "kernel/AppUpdaterSettings.h"
#include "platform/JsonWriter.h"
#include "platform/MainDispatcher.h"
#include "platform/TextUtils.h"
#include "search/HttpSearcher.h"
#include "search/QuorinEngineRepository.h"
#include "search/SearchAction.h"
#include "search/SearchHistory.h"
#include "storage/CodebaseStorage.h"
#include "storage/EngineStorage.h"
#include "storage/SearchStorage.h"
#include "update/AppUpdater.h"

namespace vandrel::cli {
namespace {

constexpr auto kSearchLimit = std::chrono::minutes(10);

int Usage(const std::string& problem) {
  return UsageError("search", problem);
}

// What the arguments asked for, checked against the catalogue.
struct TSearchPlan {
  TCategoryStorageItem* Category = nullptr;
  std::unique_ptr<TSearchTypeReader> Type;
  std::vector<std::string> Engines;                           // lower-cased names, sorted
  std::vector<std::pair<std::string, TDynamicValue>> Values;  // by the search type's field names
  int ResultsPerEngine = 10;
};

// Prices of different stores are in different currencies: they are compared and shown through the
// currency table, never as bare numbers.
class TResultPrinter {
 public:
  TResultPrinter(THttpSearchManager& manager, TCurrencyConverter& converter)
      : manager_(manager), converter_(converter), type_(*manager.SearchType()) {}

  std::vector<TMasterResult*> Sorted() {
    std::vector<TMasterResult*> masters;
    TMasterResultList& list = manager_.ResultManager().Masters();
    for (size_t i = 0; i < list.Count(); ++i)
      if (list.At(i).Representative) masters.push_back(&list.At(i));
    TSortKeyList& keys = *type_.CurrentView->SortKeys;
    keys.Resolve(*type_.OutputFields);
    std::stable_sort(masters.begin(), masters.end(), [&](TMasterResult* a, TMasterResult* b) {
      for (size_t k = 0; k < keys.Count(); ++k) {
        const TSortKey& key = keys.At(k);
        if (key.FieldIndex < 0) continue;
        const std::string& name = type_.OutputFields->At(static_cast<size_t>(key.FieldIndex)).FieldName;
        const int c = CompareField(a->Representative->FindField(name), b->Representative->FindField(name));
        if (c != 0) return key.Ascending ? c < 0 : c > 0;
      }
      return a->Rank < b->Rank;
    });
    return masters;
  }

  void Print(const std::vector<TMasterResult*>& masters, bool json) {
    if (json)
      PrintJson(masters);
    else
      PrintTable(masters);
  }

 private:
  std::string Text(TResultField* f) const {
    if (!f) return {};
    if (f->DataType != dtMoney) return f->DisplayText();
    TCurrencyMap map = MapOf(*f);
    return converter_.DisplayText(map);
  }

  void PrintJson(const std::vector<TMasterResult*>& masters) {
    TJsonWriter json;
    json.BeginArray();
    for (TMasterResult* master : masters) {
      json.BeginObject();
      for (size_t i = 0; i < type_.OutputFields->Count(); ++i) {
        const std::string& name = type_.OutputFields->At(i).FieldName;
        json.Member(name, Text(master->Representative->FindField(name)));
      }
      json.Member("Rank", master->Rank)
          .Member("Occurrences", static_cast<int64_t>(master->Occurrences()))
          .Member("FoundBy", master->FoundBy(manager_.EngineResults()))
          .EndObject();
    }
    json.EndArray();
    std::printf("%s\n", json.Text().c_str());
  }

  void PrintTable(const std::vector<TMasterResult*>& masters) {
    std::vector<std::string> names;
    std::vector<std::string> head = {"Rank"};
    for (size_t i = 0; i < type_.OutputFields->Count(); ++i) {
      const TBaseSearchOutputField& f = type_.OutputFields->At(i);
      if (f.Hidden || f.Internal) continue;
      names.push_back(f.FieldName);
      head.push_back(TerminalText(DefaultText(*f.DisplayNames)));
    }
    head.push_back("Occurrences");
    head.push_back("FoundBy");
    std::vector<std::vector<std::string>> rows = {head};
    for (TMasterResult* master : masters) {
      std::vector<std::string> row = {std::to_string(master->Rank)};
      for (const std::string& name : names)
        row.push_back(TerminalText(Text(master->Representative->FindField(name))));
      row.push_back(std::to_string(master->Occurrences()));
      std::string foundBy;
      for (const std::string& e : master->FoundBy(manager_.EngineResults()))
        foundBy += (foundBy.empty() ? "" : ",") + e;
      row.push_back(TerminalText(foundBy));
      rows.push_back(std::move(row));
    }
    PrintColumns(rows);
    std::printf("%zu result(s)\n", masters.size());
  }

  TCurrencyMap MapOf(const TResultField& f) const {
    TCurrencyMap map;
    map.FromAmount.Code = f.MoneyCode.empty() ? converter_.AxisCode : f.MoneyCode;
    map.FromAmount.Value = static_cast<float>(f.Number);
    converter_.Convert(map);
    return map;
  }

  int CompareField(TResultField* a, TResultField* b) const {
    if (!a || !b) return (a != nullptr) - (b != nullptr);
    if (a->DataType == dtString) {
      const int c = CompareText(a->Text, b->Text);
      return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    double x = a->Number, y = b->Number;
    if (a->DataType == dtMoney) {
      x = MapOf(*a).AxisAmount.Value;
      y = MapOf(*b).AxisAmount.Value;
    }
    return x < y ? -1 : (x > y ? 1 : 0);
  }

  THttpSearchManager& manager_;
  TCurrencyConverter& converter_;
  TSearchTypeReader& type_;
};

void PrintEngineResults(const std::string& engine, int page, int pages, size_t count) {
  std::fprintf(stderr, "%s: page %d of %d, %zu record(s)\n", TerminalText(engine).c_str(), page, pages,
               count);
}
void PrintEngineError(const std::string& engine, int code, const std::string& text) {
  std::fprintf(stderr, "%s: error %d: %s\n", TerminalText(engine).c_str(), code, TerminalText(text).c_str());
}
void PrintEngineDone(const std::string& engine, size_t count) {
  std::fprintf(stderr, "%s: done, %zu record(s)\n", TerminalText(engine).c_str(), count);
}

// Prints what a running search action reports.
class TProgressPrinter : public ISearchActionObserver {
 public:
  explicit TProgressPrinter(TQuorinSearchAction& action) : action_(action) {}

  void EngineResults(TEngineStorageItem* engine, int count) override {
    if (!engine) return;
    counts_[engine->EngName] = count;
    const TSearchEngine* e = Engine(engine);
    PrintEngineResults(engine->EngName, e ? e->Page : 0, e ? e->PageCount : 0, static_cast<size_t>(count));
  }
  void EngineError(TEngineStorageItem* engine, const std::string& text) override {
    if (!engine) return;
    ++Errors;
    const TSearchEngine* e = Engine(engine);
    PrintEngineError(engine->EngName, e ? e->ErrorCode : 0, text);
  }
  void EngineDone(TEngineStorageItem* engine) override {
    if (engine) PrintEngineDone(engine->EngName, static_cast<size_t>(counts_[engine->EngName]));
  }

  int Errors = 0;

 private:
  const TSearchEngine* Engine(TEngineStorageItem* engine) const {
    return action_.Searcher() ? action_.Searcher()->Engines().Find(engine->EngName) : nullptr;
  }

  TQuorinSearchAction& action_;
  std::map<std::string, int> counts_;
};

// The category, its search type and engines, and the field values, as the catalogue knows them; a usage
// error (status 2) otherwise.
int MakePlan(THeadlessKernel& kernel, const TSearchArguments& o, TSearchPlan& plan) {
  ISearchCatalogue& catalogue = kernel.Catalogue();
  plan.Category = catalogue.FindCategory(AsciiLowerCase(o.Category));
  if (!plan.Category) return Usage("no category '" + o.Category + "' in " + o.Kernel.Data);
  const std::string& catName = plan.Category->CatName;
  TEngineStorageList* engines = catalogue.CategoryEngines(catName);
  if (!engines) return Usage("category " + o.Category + " has no engines");
  plan.Type = LoadSearchType(catalogue, plan.Category->SrtName);
  if (!plan.Type) return Usage("the search type '" + plan.Category->SrtName + "' cannot be loaded");
  if (!o.Kernel.Currency.empty() && !CurrencyConverter().Definitions().Find(o.Kernel.Currency))
    return Usage("unknown currency '" + o.Kernel.Currency + "'");

  for (const std::string& name : o.Engines)
    if (!engines->FindByName(name)) return Usage("no engine '" + name + "' in category " + o.Category);
  plan.Engines = o.Engines;
  if (plan.Engines.empty())
    for (size_t i = 0; i < engines->Count(); ++i) plan.Engines.push_back(engines->Engine(i)->EngName);
  std::sort(plan.Engines.begin(), plan.Engines.end());
  plan.Engines.erase(std::unique(plan.Engines.begin(), plan.Engines.end()), plan.Engines.end());

  TSearchTypeInstance instance(plan.Type.get());
  for (const auto& [name, text] : o.Sets) {
    const TSearchInputField* f = instance.InputFields.Find(name);
    if (!f) return Usage("the search type has no input field '" + name + "'");
    TDynamicValue value;
    std::string problem;
    if (!ParseFieldValue(f->Definition->DataType, text, value, problem))
      return Usage("--set " + name + ": " + problem);
    plan.Values.emplace_back(f->Name(), std::move(value));
  }
  plan.ResultsPerEngine = o.ResultsPerEngine > 0                ? o.ResultsPerEngine
                          : plan.Category->ResultsPerEngine > 0 ? plan.Category->ResultsPerEngine
                                                                : 10;
  return 0;
}

// The search lands in the compare or reviews history of the database before its results are printed,
// so a later "history" command finds it as the program would.
int RunStored(THeadlessKernel& kernel, const TSearchArguments& o, const TSearchPlan& plan) {
  const bool reviews = IsReviewCategory(plan.Category->CatName);
  TAppSearchHistory& history = kernel.History(reviews);
  TSearchStorageItem* search = history.Item()->NewSearch(*plan.Category, [&](TSearchStorageItem& s) {
    for (const auto& [name, value] : plan.Values) s.GetFields()->AddField(name, value);
    s.Engines.Lines = plan.Engines;
    s.ResultsPerEngine = plan.ResultsPerEngine;
  });
  if (!search && !kernel.Catalogue().FindSearchType(plan.Category->SrtName))
    return Usage("the search type of category " + o.Category + " cannot be read");
  if (!search) {
    const auto* storage = dynamic_cast<TCodebaseStorage*>(history.Item()->GetSearches().Storage());
    const std::string reason =
        storage && storage->Database() ? storage->Database()->LastErrorMessage() : std::string();
    PrintError("search", "the search could not be stored" + (reason.empty() ? "" : ": " + reason));
    return 1;
  }

  std::unique_ptr<TProgressPrinter> progress;
  bool printed = false;
  kernel.OnStarting = [&](TQuorinSearchAction& action) {
    action.MaxThreads = o.MaxThreads;
    action.DetectConnection = o.DetectConnection;
    if (!o.ConnectionProbe.empty() && action.Searcher())
      action.Searcher()->Detector().SetLink(o.ConnectionProbe);
    progress = std::make_unique<TProgressPrinter>(action);
    action.AddObserver(progress.get());
  };
  std::string storeError;
  kernel.OnFinished = [&](TQuorinSearchAction& action) {
    storeError = action.StorageFailure();
    if (progress) action.RemoveObserver(progress.get());
    THttpSearchManager* searcher = action.Searcher();
    if (!searcher || !searcher->SearchType()) return;
    TResultPrinter printer(*searcher, CurrencyConverter());
    printer.Print(printer.Sorted(), o.Json);
    printed = true;
  };
  const bool ran = kernel.RunSearch(*search, reviews, true, kSearchLimit);
  if (!printed) {
    // A search that never ran holds nothing worth keeping.
    if (!ran) {
      history.SetCurrentSearch(nullptr);
      history.Item()->BeginDelete();
      history.Item()->DeleteSearch(search);
      history.Item()->EndDelete();
    }
    if (kernel.Kernel().LastStartError() == aeNotConnected) return 1;
    PrintError("search", std::string("the search could not be run") + (ran ? "" : " (refused or timed out)"));
    return 2;
  }
  if (progress && progress->Errors) std::fprintf(stderr, "%d engine error(s)\n", progress->Errors);
  if (!storeError.empty()) {
    PrintError("search", storeError);
    return 1;
  }
  return 0;
}

// Runs the engines without a stored search: nothing lands in the history.
int RunDirect(THeadlessKernel& kernel, const TSearchArguments& o, TSearchPlan& plan) {
  THttpSearchManager manager(plan.Type.get());
  TSearchTypeInstance& instance = manager.Instance();
  for (const auto& [name, value] : plan.Values)
    if (TSearchInputField* f = instance.InputFields.Find(name)) SetInputValue(*f, value);
  for (const std::string& name : plan.Engines)
    manager.Engines().FindOrAdd(name, kernel.Catalogue().EngineFile(plan.Category->CatName, name));
  manager.SetMaxThreads(o.MaxThreads);
  manager.SetResultsPerEngine(plan.ResultsPerEngine);
  manager.DetectConnection = o.DetectConnection;
  if (!o.ConnectionProbe.empty()) manager.Detector().SetLink(o.ConnectionProbe);

  bool started = false;
  int engineErrors = 0;
  auto count = [&](const TSearchEngine& e) {
    const TEngineResults* list = manager.EngineResults().Find(e.Name);
    return list ? list->Count() : size_t{0};
  };
  manager.OnSearchStart = [&](THttpSearcher&) { started = true; };
  manager.OnEngineResults = [&](TSearchEngine& e) {
    PrintEngineResults(e.Name, e.Page, e.PageCount, count(e));
  };
  manager.OnEngineError = [&](TSearchEngine& e) {
    ++engineErrors;
    PrintEngineError(e.Name, e.ErrorCode, e.ErrorText);
  };
  manager.OnEngineDone = [&](TSearchEngine& e) { PrintEngineDone(e.Name, count(e)); };

  manager.Execute();
  MainDispatcher::Default().RunUntil([&] { return !manager.Running() && manager.State() == ssIdle; },
                                     kSearchLimit);
  if (manager.Running()) {
    manager.Stop();
    MainDispatcher::Default().RunUntil([&] { return !manager.Running(); }, std::chrono::seconds(30));
  }
  if (!started) {
    if (manager.ErrorCode == hseNoDefaultInputField) return Usage(HttpSearcherErrorText(manager.ErrorCode));
    if (manager.DetectConnection && manager.ErrorCode == 0) {
      ShowAppError(aeNotConnected);
      return 1;
    }
    PrintError("search", "error " + std::to_string(manager.ErrorCode) + ": " + manager.ErrorText);
    return 2;
  }
  TResultPrinter printer(manager, CurrencyConverter());
  printer.Print(printer.Sorted(), o.Json);
  if (engineErrors) std::fprintf(stderr, "%d engine error(s)\n", engineErrors);
  return 0;
}

}  // namespace

// The engine update that is due before a search, as the program runs it in its automatic mode: only the
// due categories, progress on stderr. A failed update is told and the search goes on with the definitions
// that are installed; it comes again before the next search.
void RunDueUpdate(THeadlessKernel& kernel, const TDueUpdateOptions& o, const char* command) {
  if (o.Skip) return;
  TAppConfigUpdaterSettings settings(AppConfig(), o.Site);
  TAppUpdater updater(kernel.Runner(), settings);
  if (!updater.IsUpdateDue()) return;
  TUpdateRun run(updater);
  ShowUpdateProgress(run);
  run.Run(false);
  // The finished action is disposed of through the queue before the search takes the runner.
  MainDispatcher::Default().RunUntil([&kernel] { return kernel.Runner().State() == asIdle; },
                                     std::chrono::seconds(30));
  PrintUpdateReport(run, stderr);
  const auto& software = run.SoftwareUpdate();
  if (software && !software->Addresses.empty())
    std::fprintf(stderr, "A software update is available: %s\n",
                 TerminalText(software->Addresses.front()).c_str());
  if (UpdateFailed(run))
    PrintError(command, UpdateOutcomeText(run));
  else
    std::fprintf(stderr, "%s\n", UpdateOutcomeText(run).c_str());
}

int RunSearch(const Args& args) {
  TSearchArguments o;
  std::string error;
  if (!ParseSearchArguments(args, o, error)) return Usage(error);
  std::error_code ec;
  if (!std::filesystem::is_directory(o.Kernel.Data, ec)) return Usage("no data folder " + o.Kernel.Data);

  THeadlessKernel kernel;
  if (!OpenKernel(kernel, o.Kernel, "search")) return 1;
  // Before the plan: the update may bring the very category or engines the arguments name.
  RunDueUpdate(kernel, {o.NoUpdate || o.Kernel.Debug, o.UpdateSite}, "search");
  TSearchPlan plan;
  if (const int status = MakePlan(kernel, o, plan)) return status;
  return o.NoStore ? RunDirect(kernel, o, plan) : RunStored(kernel, o, plan);
}

}  // namespace vandrel::cli
