// "history": lists, shows, deletes and reruns the searches stored in the compare or reviews history.
#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/StoredSearches.h"
#include "currency/CurrencyConverters.h"
#include "currency/CurrencyScript.h"
#include "platform/DateTime.h"
#include "platform/TextUtils.h"
#include "script/Variables.h"
#include "search/SearchAction.h"
#include "search/SearchHistory.h"
#include "storage/ResultStorage.h"

namespace vandrel::cli {
namespace {

struct THistoryOptions {
  std::string Action, Root, Data;
  std::vector<std::pair<std::string, std::string>> Defines;
  int Number = -1;
  bool Reviews = false, Json = false;
};

int Usage(const std::string& problem) {
  std::fprintf(stderr, "vandrel-shopper-cli history: %s\n", problem.c_str());
  std::fprintf(stderr,
               "usage: vandrel-shopper-cli history list|show N|delete N|rerun N [--reviews] [--json] "
               "[--root DIR] [--data DIR] [--define NAME=VALUE]\n");
  return 2;
}

std::string TwoDigits(int v) {
  return (v < 10 ? "0" : "") + std::to_string(v);
}

std::string DateText(TDateTime value) {
  if (value == 0) return {};
  TDateParts d;
  TTimeParts t;
  DecodeDateTime(value, d, t);
  return std::to_string(d.Year) + "-" + TwoDigits(d.Month) + "-" + TwoDigits(d.Day) + " " +
         TwoDigits(t.Hour) + ":" + TwoDigits(t.Minute) + ":" + TwoDigits(t.Second);
}

// Outdated wins over remains: the result was looked for and not found again.
const char* StateText(const TResultStorageItem& r) {
  if (r.HasFilterState(rfsOutdated)) return "outdated";
  if (r.HasFilterState(rfsRemains)) return "remains";
  return "";
}

std::string FieldText(const TResultStorageItem& r, const std::string& name) {
  TResultStorageFieldItem* f = r.ResultFields() ? r.ResultFields()->FindResultField(name) : nullptr;
  if (!f) return {};
  return f->DisplayValue().empty() ? f->Value().AsString() : f->DisplayValue();
}

void PrintRows(const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> widths;
  auto width = [](const std::string& s) {
    size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
  };
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()), 0);
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], width(row[i]));
  }
  for (const auto& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - width(row[i]) + 2, ' ');
    }
    std::printf("%s\n", line.c_str());
  }
}

int List(TStoredSearches& store, bool json) {
  TSearchStorageList& searches = store.Searches();
  if (json) {
    std::printf("[");
    for (size_t i = 0; i < searches.Count(); ++i) {
      const TSearchStorageItem& s = *searches.Search(i);
      std::printf("%s\n  {\"Number\": %d, \"Category\": %s, \"Query\": %s, \"Results\": %d, \"Created\": %s}",
                  i ? "," : "", s.Index(), JsonString(s.CatName).c_str(), JsonString(s.DisplayValue).c_str(),
                  s.MatchCount, JsonString(DateText(s.CreationDate)).c_str());
    }
    std::printf("%s]\n", searches.Count() ? "\n" : "");
    return 0;
  }
  std::vector<std::vector<std::string>> rows = {{"Number", "Category", "Query", "Results", "Created"}};
  for (size_t i = 0; i < searches.Count(); ++i) {
    const TSearchStorageItem& s = *searches.Search(i);
    rows.push_back({std::to_string(s.Index()), s.CatName, ToDisplayText(s.DisplayValue),
                    std::to_string(s.MatchCount), DateText(s.CreationDate)});
  }
  PrintRows(rows);
  std::printf("%zu search(es)\n", searches.Count());
  return 0;
}

// Every result the user did not delete, outdated ones included: their state says what the last run saw.
int Show(TStoredSearches& store, TSearchStorageItem& search, bool json) {
  auto item = store.History().Item()->GetResultItem(&search);
  if (!item) {
    std::fprintf(stderr, "vandrel-shopper-cli history: the results of search %d cannot be opened\n",
                 search.Index());
    return 1;
  }
  TResultStorageList& results = item->GetResults();
  const std::string damage = ResultsDamageText(*item);
  auto finish = [&damage] {
    if (damage.empty()) return 0;
    std::fprintf(stderr, "vandrel-shopper-cli history: %s\n", damage.c_str());
    return 1;
  };
  // Field values are stored by position: without the search type's definitions they cannot be named.
  if (!item->GetSearchType())
    std::fprintf(
        stderr,
        "vandrel-shopper-cli history: search type '%s' not found in the data folder; give --data DIR\n",
        search.SrtName.c_str());
  // The table leaves out the columns the result view hides, as the search's own table does.
  std::vector<std::string> names, columns, heads;
  const auto& defs = results.OutputFieldDefinitions();
  for (size_t i = 0; i < defs.Count(); ++i) {
    const TSearchTypeStorageOutputFieldDefinitionItem& d = *defs.Output(i);
    names.push_back(d.Name);
    if (d.Layout.Flags & (lfHidden | lfInternal)) continue;
    columns.push_back(d.Name);
    heads.push_back(ToDisplayText(d.DisplayName.empty() ? d.Name : d.DisplayName));
  }
  std::vector<const TResultStorageItem*> shown;
  for (size_t i = 0; i < results.Count(); ++i)
    if (!results.Result(i)->HasFilterState(rfsDeleted)) shown.push_back(results.Result(i));

  if (json) {
    std::printf("[");
    for (size_t k = 0; k < shown.size(); ++k) {
      const TResultStorageItem& r = *shown[k];
      std::printf("%s\n  {", k ? "," : "");
      for (const std::string& name : names)
        std::printf("%s: %s, ", JsonString(name).c_str(), JsonString(FieldText(r, name)).c_str());
      std::printf("\"Rank\": %d, \"Occurrences\": %d, \"FoundBy\": [", r.Index(), r.Occurences);
      for (size_t i = 0; i < r.FoundBy.Lines.size(); ++i)
        std::printf("%s%s", i ? ", " : "", JsonString(r.FoundBy.Lines[i]).c_str());
      std::printf("], \"New\": %s, \"State\": \"%s\"}", r.New ? "true" : "false", StateText(r));
    }
    std::printf("%s]\n", shown.empty() ? "" : "\n");
    return finish();
  }
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> head = {"Rank"};
  head.insert(head.end(), heads.begin(), heads.end());
  head.insert(head.end(), {"Occurrences", "FoundBy", "New", "State"});
  rows.push_back(std::move(head));
  for (const TResultStorageItem* r : shown) {
    std::vector<std::string> row = {std::to_string(r->Index())};
    for (const std::string& name : columns) row.push_back(ToDisplayText(FieldText(*r, name)));
    std::string foundBy;
    for (const std::string& e : r->FoundBy.Lines) foundBy += (foundBy.empty() ? "" : ",") + e;
    row.insert(row.end(), {std::to_string(r->Occurences), foundBy, r->New ? "new" : "", StateText(*r)});
    rows.push_back(std::move(row));
  }
  PrintRows(rows);
  std::printf("%zu result(s), %d shown by default\n", shown.size(), search.MatchCount);
  return finish();
}

}  // namespace

int RunHistory(const Args& args) {
  THistoryOptions o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string v;
    if (a == "--reviews") {
      o.Reviews = true;
    } else if (a == "--json") {
      o.Json = true;
    } else if (a == "--root" || a == "--data" || a == "--define") {
      if (!value(v)) return Usage("missing value after " + a);
      if (a == "--root") o.Root = v;
      if (a == "--data") o.Data = v;
      if (a == "--define") {
        const size_t eq = v.find('=');
        if (eq == std::string::npos || eq == 0) return Usage("--define takes NAME=VALUE");
        o.Defines.emplace_back(v.substr(0, eq), v.substr(eq + 1));
      }
    } else if (a.rfind("--", 0) == 0) {
      return Usage("unknown argument '" + a + "'");
    } else if (o.Action.empty()) {
      o.Action = a;
    } else if (o.Number < 0) {
      int n = 0;
      auto [ptr, ec] = std::from_chars(a.data(), a.data() + a.size(), n);
      if (ec != std::errc() || ptr != a.data() + a.size() || n < 0)
        return Usage("'" + a + "' is no search number");
      o.Number = n;
    } else {
      return Usage("unknown argument '" + a + "'");
    }
  }
  const bool numbered = o.Action == "show" || o.Action == "delete" || o.Action == "rerun";
  if (o.Action != "list" && !numbered)
    return Usage(o.Action.empty() ? "no action" : "unknown action '" + o.Action + "'");
  if (numbered && o.Number < 0) return Usage(o.Action + " needs a search number");
  if (!numbered && o.Number >= 0) return Usage("list takes no search number");

  TVariableList constants;
  std::string error;
  TStoredSearches store;
  const bool ok = store.Open(o.Root, o.Data, &constants, o.Reviews, error);
  if (!ok) {
    std::fprintf(stderr, "vandrel-shopper-cli history: %s\n", error.c_str());
    return 1;
  }
  for (const std::string& notice : TakeStorageDamageNotices()) std::fprintf(stderr, "%s\n", notice.c_str());
  // Stored prices are shown through the process's currency table, as the search that stored them did.
  ReloadCurrencyTable(CurrencyConverter(), o.Data.empty() ? store.Folders().Data() : o.Data, "", false);
  if (o.Action == "list") return List(store, o.Json);

  TSearchStorageItem* search = store.Searches().ItemByKey(o.Number);
  if (!search)
    return Usage("no search " + std::to_string(o.Number) + " in the " + (o.Reviews ? "reviews" : "compare") +
                 " history");
  if (o.Action == "show") return Show(store, *search, o.Json);
  if (o.Action == "delete") {
    ISearchHistoryItemIntf* item = store.History().Item();
    item->BeginDelete();
    item->DeleteSearch(search);
    item->EndDelete();
    if (store.Searches().ItemByKey(o.Number)) {
      std::fprintf(stderr, "vandrel-shopper-cli history: search %d could not be deleted\n", o.Number);
      return 1;
    }
    std::printf("search %d deleted\n", o.Number);
    return 0;
  }

  // rerun: the definitions come from the data folder, which must still hold the search's category.
  if (!LoadConstants(o.Data.empty() ? store.Folders().Data() : o.Data, o.Defines, constants, error))
    return Usage(error);
  if (!store.Catalogue().CategoryEngines(search->CatName))
    return Usage("the data folder has no engines of category '" + search->CatName + "'");
  int engineErrors = 0;
  bool started = false;
  store.OnStarting = [&](TQuorinSearchAction&) { started = true; };
  std::string storeError;
  store.OnFinished = [&](TQuorinSearchAction& action) {
    storeError = action.StorageFailure();
    if (THttpSearchManager* searcher = action.Searcher())
      for (size_t i = 0; i < searcher->Engines().Count(); ++i)
        if (searcher->Engines().At(i)->ErrorCode != 0) ++engineErrors;
  };
  if (!store.Run(search) || !started) {
    std::fprintf(stderr, "vandrel-shopper-cli history: search %d could not be run\n", o.Number);
    return 1;
  }
  const int status = Show(store, *search, o.Json);
  if (engineErrors) std::fprintf(stderr, "%d engine error(s)\n", engineErrors);
  if (!storeError.empty()) {
    std::fprintf(stderr, "vandrel-shopper-cli history: %s\n", storeError.c_str());
    return 1;
  }
  return status;
}

}  // namespace vandrel::cli
