// "search": runs the engines of one category of a data folder and prints the merged, sorted result list.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/StoredSearches.h"
#include "currency/CurrencyConverters.h"
#include "currency/CurrencyScript.h"
#include "engines/EngineCompiler.h"
#include "engines/SearchTypeCompiler.h"
#include "platform/MainDispatcher.h"
#include "platform/TextUtils.h"
#include "script/Variables.h"
#include "search/HttpSearcher.h"
#include "search/SearchAction.h"
#include "storage/EngineStorage.h"
#include "storage/SearchStorage.h"

namespace vandrel::cli {
namespace {

namespace fs = std::filesystem;

struct TSearchOptions {
  std::string Data, Category, Currency, Root;
  std::vector<std::pair<std::string, std::string>> Sets, Defines;
  std::vector<std::string> Engines;
  int MaxThreads = 10;
  int ResultsPerEngine = 0;  // 0: the category's own setting
  bool DetectConnection = false, Json = false, NoStore = false;
};

int Usage(const std::string& problem) {
  std::fprintf(stderr, "vandrel-shopper-cli search: %s\n", problem.c_str());
  std::fprintf(stderr,
               "usage: vandrel-shopper-cli search --data DIR --category NAME --set FIELD=VALUE... "
               "[--engines a,b,c] [--max-threads N] [--results-per-engine N] [--currency CODE] "
               "[--detect-connection] [--json] [--no-store] [--define NAME=VALUE] [--root DIR]\n");
  return 2;
}

std::string Trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t");
  if (a == std::string::npos) return {};
  return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

bool ParseCount(const std::string& text, int low, int& out) {
  int v = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || ptr != text.data() + text.size() || v < low || v > 1000) return false;
  out = v;
  return true;
}

bool SplitPair(const std::string& text, std::vector<std::pair<std::string, std::string>>& into) {
  const size_t eq = text.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  into.emplace_back(text.substr(0, eq), text.substr(eq + 1));
  return true;
}

std::string FirstError(const TBaseCompiler& c, const std::string& file) {
  if (c.Errors.empty()) return file + " could not be loaded";
  const TCompilerMsgItem& e = c.Errors.front();
  return file + ": error " + std::to_string(e.Code) + ": " + ToDisplayText(e.Text) + " (line " +
         std::to_string(e.Line) + ")";
}

void SetInputValue(TSearchInputField& f, const std::string& value) {
  if (IsNumericType(f.DataType)) {
    double d = 0;
    auto res = std::from_chars(value.data(), value.data() + value.size(), d);
    if (res.ec != std::errc()) d = 0;
    if (IsIntegralType(f.DataType))
      f.SetInteger(static_cast<int64_t>(d));
    else
      f.SetFloat(d);
    f.DataType = f.Definition->DataType;
  } else {
    f.SetString(value);
  }
}

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

  std::string Text(TResultField* f) {
    if (!f) return {};
    if (f->DataType != dtMoney) return f->DisplayText();
    TCurrencyMap map = MapOf(*f);
    return converter_.DisplayText(map);
  }

  void PrintJson(const std::vector<TMasterResult*>& masters) {
    std::printf("[");
    for (size_t m = 0; m < masters.size(); ++m) {
      TMasterResult& master = *masters[m];
      std::printf("%s\n  {", m ? "," : "");
      for (size_t i = 0; i < type_.OutputFields->Count(); ++i) {
        const std::string& name = type_.OutputFields->At(i).FieldName;
        std::printf("%s: %s, ", JsonString(name).c_str(),
                    JsonString(Text(master.Representative->FindField(name))).c_str());
      }
      std::printf("\"Rank\": %d, \"Occurrences\": %zu, \"FoundBy\": [", master.Rank, master.Occurrences());
      const auto foundBy = master.FoundBy(manager_.EngineResults());
      for (size_t i = 0; i < foundBy.size(); ++i)
        std::printf("%s%s", i ? ", " : "", JsonString(foundBy[i]).c_str());
      std::printf("]}");
    }
    std::printf("%s]\n", masters.empty() ? "" : "\n");
  }

  void PrintTable(const std::vector<TMasterResult*>& masters) {
    std::vector<std::string> names;
    std::vector<std::string> head = {"Rank"};
    for (size_t i = 0; i < type_.OutputFields->Count(); ++i) {
      const TBaseSearchOutputField& f = type_.OutputFields->At(i);
      if (f.Hidden || f.Internal) continue;
      names.push_back(f.FieldName);
      head.push_back(ToDisplayText(DefaultText(*f.DisplayNames)));
    }
    head.push_back("Occurrences");
    head.push_back("FoundBy");
    std::vector<std::vector<std::string>> rows = {head};
    for (TMasterResult* master : masters) {
      std::vector<std::string> row = {std::to_string(master->Rank)};
      for (const std::string& name : names)
        row.push_back(ToDisplayText(Text(master->Representative->FindField(name))));
      row.push_back(std::to_string(master->Occurrences()));
      std::string foundBy;
      for (const std::string& e : master->FoundBy(manager_.EngineResults()))
        foundBy += (foundBy.empty() ? "" : ",") + e;
      row.push_back(foundBy);
      rows.push_back(std::move(row));
    }
    std::vector<size_t> widths(head.size(), 0);
    for (const auto& row : rows)
      for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], DisplayWidth(row[i]));
    for (const auto& row : rows) {
      std::string line;
      for (size_t i = 0; i < row.size(); ++i) {
        line += row[i];
        if (i + 1 < row.size()) line += std::string(widths[i] - DisplayWidth(row[i]) + 2, ' ');
      }
      std::printf("%s\n", line.c_str());
    }
    std::printf("%zu result(s)\n", masters.size());
  }

 private:
  // Characters, not bytes: UTF-8 continuation bytes take no column.
  static size_t DisplayWidth(const std::string& s) {
    size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
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
      const std::string x = Lower(a->Text), y = Lower(b->Text);
      return x < y ? -1 : (x > y ? 1 : 0);
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

// Prints what a running search action reports, in the words the direct run uses.
class TProgressPrinter : public ISearchActionObserver {
 public:
  explicit TProgressPrinter(TQuorinSearchAction& action) : action_(action) {}

  void EngineResults(TEngineStorageItem* engine, int count) override {
    if (!engine) return;
    counts_[engine->EngName] = count;
    const TSearchEngine* e = Engine(engine);
    std::fprintf(stderr, "%s: page %d of %d, %d record(s)\n", engine->EngName.c_str(), e ? e->Page : 0,
                 e ? e->PageCount : 0, count);
  }
  void EngineError(TEngineStorageItem* engine, const std::string& text) override {
    if (!engine) return;
    ++Errors;
    const TSearchEngine* e = Engine(engine);
    std::fprintf(stderr, "%s: error %d: %s\n", engine->EngName.c_str(), e ? e->ErrorCode : 0,
                 ToDisplayText(text).c_str());
  }
  void EngineDone(TEngineStorageItem* engine) override {
    if (!engine) return;
    std::fprintf(stderr, "%s: done, %d record(s)\n", engine->EngName.c_str(), counts_[engine->EngName]);
  }

  int Errors = 0;

 private:
  const TSearchEngine* Engine(TEngineStorageItem* engine) const {
    return action_.Searcher() ? action_.Searcher()->Engines().Find(engine->EngName) : nullptr;
  }

  TQuorinSearchAction& action_;
  std::map<std::string, int> counts_;
};

// The search lands in the compare or reviews history of the database before its results are printed,
// so a later "history" command finds it as the program would.
int RunStored(const TSearchOptions& o, const std::string& catName, TVariableList& constants,
              TSearchTypeInstance& instance, const std::vector<std::string>& engines, int resultsPerEngine,
              TCurrencyConverter& converter) {
  TStoredSearches store;
  std::string error;
  if (!store.Open(o.Root, o.Data, &constants, IsReviewCategory(catName), error)) {
    std::fprintf(stderr, "vandrel-shopper-cli search: %s\n", error.c_str());
    return 1;
  }
  TCategoryStorageItem* category = store.Catalogue().FindCategory(catName);
  if (!category || !store.Catalogue().CategoryEngines(catName))
    return Usage("category " + o.Category + " cannot be read from " + o.Data);
  TSearchStorageItem* search = store.History().Item()->NewSearch(*category, [&](TSearchStorageItem& s) {
    for (const auto& [name, value] : o.Sets) {
      const TSearchInputField* f = instance.InputFields.Find(name);
      const uint8_t type = f ? f->Definition->DataType : static_cast<uint8_t>(dtString);
      double d = 0;
      if (IsNumericType(type) &&
          std::from_chars(value.data(), value.data() + value.size(), d).ec != std::errc())
        d = 0;
      const std::string field = f ? f->Name() : name;
      if (IsIntegralType(type))
        s.GetFields()->AddField(field, TDynamicValue(static_cast<int64_t>(d)));
      else if (IsNumericType(type))
        s.GetFields()->AddField(field, TDynamicValue(d));
      else
        s.GetFields()->AddField(field, TDynamicValue(value));
    }
    s.Engines.Lines = engines;
    s.ResultsPerEngine = resultsPerEngine;
  });
  if (!search) return Usage("the search type of category " + o.Category + " cannot be read");
  store.History().NotifySearchAdded(search);

  std::unique_ptr<TProgressPrinter> progress;
  bool started = false, printed = false;
  int connection = 0;
  store.OnStarting = [&](TQuorinSearchAction& action) {
    action.MaxThreads = o.MaxThreads;
    action.DetectConnection = o.DetectConnection;
    progress = std::make_unique<TProgressPrinter>(action);
    action.AddObserver(progress.get());
    started = true;
  };
  std::string storeError;
  store.OnFinished = [&](TQuorinSearchAction& action) {
    connection = action.ConnectionResult();
    storeError = action.StorageFailure();
    if (progress) action.RemoveObserver(progress.get());
    THttpSearchManager* searcher = action.Searcher();
    if (!searcher || !searcher->SearchType()) return;
    TResultPrinter printer(*searcher, converter);
    const std::vector<TMasterResult*> masters = printer.Sorted();
    if (o.Json)
      printer.PrintJson(masters);
    else
      printer.PrintTable(masters);
    std::fflush(stdout);
    printed = true;
  };
  const bool ran = store.Run(search);
  if (!started || !printed) {
    if (o.DetectConnection && connection != 0) {
      std::fprintf(stderr, "You must be connected to the Internet to perform this operation.\n");
      return 1;
    }
    std::fprintf(stderr, "search error: the search could not be run%s\n",
                 ran ? "" : " (refused or timed out)");
    return 2;
  }
  if (progress && progress->Errors) std::fprintf(stderr, "%d engine error(s)\n", progress->Errors);
  if (!storeError.empty()) {
    std::fprintf(stderr, "search error: %s\n", storeError.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int RunSearch(const Args& args) {
  TSearchOptions o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string v;
    if (a == "--json") {
      o.Json = true;
    } else if (a == "--detect-connection") {
      o.DetectConnection = true;
    } else if (a == "--no-store") {
      o.NoStore = true;
    } else if (!value(v)) {
      return Usage(a.rfind("--", 0) == 0 ? "missing value after " + a : "unknown argument '" + a + "'");
    } else if (a == "--data") {
      o.Data = v;
    } else if (a == "--root") {
      o.Root = v;
    } else if (a == "--category") {
      o.Category = v;
    } else if (a == "--currency") {
      o.Currency = AsciiUpperCase(v);
    } else if (a == "--set") {
      if (!SplitPair(v, o.Sets)) return Usage("--set takes FIELD=VALUE");
    } else if (a == "--define") {
      if (!SplitPair(v, o.Defines)) return Usage("--define takes NAME=VALUE");
    } else if (a == "--engines") {
      size_t start = 0;
      while (start <= v.size()) {
        const size_t comma = v.find(',', start);
        const std::string name = Trim(v.substr(start, comma == std::string::npos ? v.npos : comma - start));
        if (!name.empty()) o.Engines.push_back(Lower(name));
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
      if (o.Engines.empty()) return Usage("--engines names no engine");
    } else if (a == "--max-threads") {
      if (!ParseCount(v, 1, o.MaxThreads)) return Usage("--max-threads takes a number from 1 to 1000");
    } else if (a == "--results-per-engine") {
      if (!ParseCount(v, 1, o.ResultsPerEngine))
        return Usage("--results-per-engine takes a number from 1 to 1000");
    } else {
      return Usage("unknown argument '" + a + "'");
    }
  }
  if (o.Data.empty() || o.Category.empty()) return Usage("--data and --category are required");
  if (o.Sets.empty()) return Usage("give at least one --set FIELD=VALUE");
  const fs::path data(o.Data);
  if (!fs::is_directory(data)) return Usage("no data folder " + o.Data);

  const std::string categoryFile = FindDefinition(o.Data, o.Category, ".cca", ".sca");
  if (categoryFile.empty()) return Usage("no category '" + o.Category + "' in " + o.Data);
  TCategoryReader category;
  if (!category.Load(categoryFile)) return Usage(FirstError(category.Compiler(), categoryFile));

  // Definitions see the constants script's variables, as the program gives them.
  TVariableList constants;
  const std::string constantsFile = FindDefinition(o.Data, "constants", ".ccs", ".scs");
  if (!constantsFile.empty()) {
    TBaseCompiler c;
    c.ResetVariables();
    c.Variables().SetParent(&constants);
    const bool ok = c.LoadFromFile(constantsFile) && c.Compile() == 0 && c.ExecuteProcedure("Register") == 0;
    c.Variables().SetParent(nullptr);
    if (!ok) return Usage(FirstError(c, constantsFile));
  }
  for (const auto& [name, value] : o.Defines) constants.SetString(name, value);

  const std::string typeFile = FindDefinition(o.Data, category.SearchType, ".cst", ".sst");
  if (typeFile.empty()) return Usage("no search type '" + category.SearchType + "' in " + o.Data);
  TSearchTypeReader type;
  if (!type.Load(typeFile)) return Usage(FirstError(type.Compiler(), typeFile));
  type.Variables.SetParent(&constants);

  std::map<std::string, std::string> files = EngineFiles((data / fs::path(categoryFile).stem()).string());
  if (!o.Engines.empty()) {
    std::map<std::string, std::string> chosen;
    for (const std::string& name : o.Engines) {
      auto it = files.find(name);
      if (it == files.end()) return Usage("no engine '" + name + "' in category " + o.Category);
      chosen.insert(*it);
    }
    files = std::move(chosen);
  }
  if (files.empty()) return Usage("category " + o.Category + " has no engines");

  // The process's converter: stored results convert their prices through it.
  TCurrencyConverter& converter = CurrencyConverter();
  ReloadCurrencyTable(converter, data.string(), o.Currency, !o.Currency.empty());
  if (!o.Currency.empty() && !converter.Definitions().Find(o.Currency))
    return Usage("unknown currency '" + o.Currency + "'");

  THttpSearchManager manager(&type);
  TSearchTypeInstance& instance = manager.Instance();
  for (const auto& [name, value] : o.Sets) {
    TSearchInputField* f = instance.InputFields.Find(name);
    if (!f) return Usage("the search type has no input field '" + name + "'");
    SetInputValue(*f, value);
  }
  for (const auto& [name, file] : files) manager.Engines().FindOrAdd(name, file);
  const int resultsPerEngine =
      o.ResultsPerEngine > 0
          ? o.ResultsPerEngine
          : static_cast<int>(category.ResultsPerEngine > 0 ? category.ResultsPerEngine : 10);
  if (!o.NoStore) {
    std::vector<std::string> engines;
    for (const auto& [name, file] : files) engines.push_back(name);
    return RunStored(o, fs::path(categoryFile).stem().string(), constants, instance, engines,
                     resultsPerEngine, converter);
  }
  manager.SetMaxThreads(o.MaxThreads);
  manager.SetResultsPerEngine(resultsPerEngine);
  manager.DetectConnection = o.DetectConnection;

  bool started = false;
  int engineErrors = 0;
  manager.OnSearchStart = [&](THttpSearcher&) { started = true; };
  manager.OnEngineResults = [&](TSearchEngine& e) {
    const TEngineResults* list = manager.EngineResults().Find(e.Name);
    std::fprintf(stderr, "%s: page %d of %d, %zu record(s)\n", e.Name.c_str(), e.Page, e.PageCount,
                 list ? list->Count() : size_t{0});
  };
  manager.OnEngineError = [&](TSearchEngine& e) {
    ++engineErrors;
    std::fprintf(stderr, "%s: error %d: %s\n", e.Name.c_str(), e.ErrorCode,
                 ToDisplayText(e.ErrorText).c_str());
  };
  manager.OnEngineDone = [&](TSearchEngine& e) {
    const TEngineResults* list = manager.EngineResults().Find(e.Name);
    std::fprintf(stderr, "%s: done, %zu record(s)\n", e.Name.c_str(), list ? list->Count() : size_t{0});
  };

  manager.Execute();
  MainDispatcher::Default().RunUntil([&] { return !manager.Running() && manager.State() == ssIdle; },
                                     std::chrono::minutes(10));
  if (manager.Running()) {
    manager.Stop();
    MainDispatcher::Default().RunUntil([&] { return !manager.Running(); }, std::chrono::seconds(30));
  }
  if (!started) {
    if (manager.ErrorCode == hseNoDefaultInputField) return Usage(HttpSearcherErrorText(manager.ErrorCode));
    if (manager.DetectConnection && manager.ErrorCode == 0) {
      std::fprintf(stderr, "You must be connected to the Internet to perform this operation.\n");
      return 1;
    }
    std::fprintf(stderr, "search error %d: %s\n", manager.ErrorCode, manager.ErrorText.c_str());
    return 2;
  }

  TResultPrinter printer(manager, converter);
  const std::vector<TMasterResult*> masters = printer.Sorted();
  if (o.Json)
    printer.PrintJson(masters);
  else
    printer.PrintTable(masters);
  std::fflush(stdout);
  if (engineErrors) std::fprintf(stderr, "%d engine error(s)\n", engineErrors);
  return 0;
}

}  // namespace vandrel::cli
