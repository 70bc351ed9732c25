// "history": lists, shows, deletes and reruns the searches stored in the compare or reviews history.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/CliKernel.h"
#include "cli/CliOutput.h"
#include "cli/Commands.h"
#include "cli/HistoryView.h"
#include "platform/DateTime.h"
#include "platform/JsonWriter.h"
#include "search/HttpSearcher.h"
#include "search/SearchAction.h"
#include "search/SearchHistory.h"
#include "storage/ResultStorage.h"
#include "storage/SearchTypeStorage.h"

namespace vandrel::cli {
namespace {

constexpr auto kRerunLimit = std::chrono::minutes(10);

int Usage(const std::string& problem) {
  return UsageError("history", problem);
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

std::string Joined(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& name : names) out += (out.empty() ? "" : ",") + name;
  return out;
}

int List(TAppSearchHistory& history, bool json) {
  TSearchStorageList& searches = history.Item()->GetSearches();
  if (json) {
    TJsonWriter out;
    out.BeginArray();
    for (size_t i = 0; i < searches.Count(); ++i) {
      const TSearchStorageItem& s = *searches.Search(i);
      out.BeginObject()
          .Member("Number", s.Index())
          .Member("Category", s.CatName)
          .Member("Query", s.DisplayValue)
          .Member("Results", s.MatchCount)
          .Member("Created", DateText(s.CreationDate))
          .EndObject();
    }
    out.EndArray();
    std::printf("%s\n", out.Text().c_str());
    return 0;
  }
  std::vector<std::vector<std::string>> rows = {{"Number", "Category", "Query", "Results", "Created"}};
  for (size_t i = 0; i < searches.Count(); ++i) {
    const TSearchStorageItem& s = *searches.Search(i);
    rows.push_back({std::to_string(s.Index()), TerminalText(s.CatName), TerminalText(s.DisplayValue),
                    std::to_string(s.MatchCount), DateText(s.CreationDate)});
  }
  PrintColumns(rows);
  std::printf("%zu search(es)\n", searches.Count());
  return 0;
}

// One stored result as "show" prints it.
struct TShownResult {
  std::vector<std::string> Values;  // one per TShownResults::Fields
  int Rank = 0;
  int Occurrences = 0;
  std::vector<std::string> FoundBy;
  bool New = false;
  const char* State = "";
};

// What "show" prints of a stored search: every result the user did not delete, outdated ones included
// (their state says what the last run saw).
struct TShownResults {
  std::vector<std::string> Fields;    // every output field, hidden ones included (JSON carries them all)
  std::vector<size_t> Columns;        // the fields the table shows, as indexes into Fields
  std::vector<std::string> Headings;  // their display names
  std::vector<TShownResult> Rows;
  int MatchCount = 0;  // shown by the default view
};

TShownResults CollectResults(ISearchHistoryResultItemIntf& item, const TSearchStorageItem& search) {
  TShownResults shown;
  TResultStorageList& results = item.GetResults();
  // The table leaves out the columns the result view hides, as the search's own table does.
  const auto& defs = results.OutputFieldDefinitions();
  for (size_t i = 0; i < defs.Count(); ++i) {
    const TSearchTypeStorageOutputFieldDefinitionItem& d = *defs.Output(i);
    shown.Fields.push_back(d.Name);
    if (d.Layout.Flags & (lfHidden | lfInternal)) continue;
    shown.Columns.push_back(i);
    shown.Headings.push_back(d.DisplayName.empty() ? d.Name : d.DisplayName);
  }
  for (size_t i = 0; i < results.Count(); ++i) {
    const TResultStorageItem& r = *results.Result(i);
    if (r.HasFilterState(rfsDeleted)) continue;
    TShownResult row;
    for (const std::string& name : shown.Fields) row.Values.push_back(FieldText(r, name));
    row.Rank = r.Index();
    row.Occurrences = r.Occurences;
    row.FoundBy = r.FoundBy.Lines;
    row.New = r.New;
    row.State = StateText(r);
    shown.Rows.push_back(std::move(row));
  }
  shown.MatchCount = search.MatchCount;
  return shown;
}

void PrintResults(const TShownResults& shown, bool json) {
  if (json) {
    TJsonWriter out;
    out.BeginArray();
    for (const TShownResult& r : shown.Rows) {
      out.BeginObject();
      for (size_t i = 0; i < shown.Fields.size(); ++i) out.Member(shown.Fields[i], r.Values[i]);
      out.Member("Rank", r.Rank)
          .Member("Occurrences", r.Occurrences)
          .Member("FoundBy", r.FoundBy)
          .Member("New", r.New)
          .Member("State", r.State)
          .EndObject();
    }
    out.EndArray();
    std::printf("%s\n", out.Text().c_str());
    return;
  }
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> head = {"Rank"};
  for (const std::string& heading : shown.Headings) head.push_back(TerminalText(heading));
  head.insert(head.end(), {"Occurrences", "FoundBy", "New", "State"});
  rows.push_back(std::move(head));
  for (const TShownResult& r : shown.Rows) {
    std::vector<std::string> row = {std::to_string(r.Rank)};
    for (size_t column : shown.Columns) row.push_back(TerminalText(r.Values[column]));
    row.insert(row.end(),
               {std::to_string(r.Occurrences), TerminalText(Joined(r.FoundBy)), r.New ? "new" : "", r.State});
    rows.push_back(std::move(row));
  }
  PrintColumns(rows);
  std::printf("%zu result(s), %d shown by default\n", shown.Rows.size(), shown.MatchCount);
}

int Show(TAppSearchHistory& history, TSearchStorageItem& search, bool json) {
  auto item = history.Item()->GetResultItem(&search);
  if (!item) {
    PrintError("history", "the results of search " + std::to_string(search.Index()) + " cannot be opened");
    return 1;
  }
  // Field values are stored by position: without the search type's definitions they cannot be named.
  if (!item->GetSearchType())
    PrintError("history", "search type '" + search.SrtName + "' is not in the catalogue; give --data DIR");
  PrintResults(CollectResults(*item, search), json);
  return 0;
}

int Delete(TAppSearchHistory& history, TSearchStorageItem* search, int number) {
  ISearchHistoryItemIntf* item = history.Item();
  if (history.CurrentSearch() == search) history.SetCurrentSearch(nullptr);
  item->BeginDelete();
  item->DeleteSearch(search);
  item->EndDelete();
  if (item->GetSearches().ItemByKey(number)) {
    PrintError("history", "search " + std::to_string(number) + " could not be deleted");
    return 1;
  }
  std::printf("search %d deleted\n", number);
  return 0;
}

// The definitions come from the catalogue, which must still hold the search's category.
int Rerun(THeadlessKernel& kernel, const THistoryArguments& o, TSearchStorageItem& search) {
  // A rerun is a search: the update that is due comes first, and may bring the category back.
  RunDueUpdate(kernel, {o.NoUpdate || o.Kernel.Debug, o.UpdateSite}, "history");
  if (!kernel.Catalogue().CategoryEngines(search.CatName))
    return Usage("the catalogue has no engines of category '" + search.CatName + "'");
  int engineErrors = 0;
  std::string storeError;
  kernel.OnFinished = [&](TQuorinSearchAction& action) {
    storeError = action.StorageFailure();
    if (THttpSearchManager* searcher = action.Searcher())
      for (size_t i = 0; i < searcher->Engines().Count(); ++i)
        if (searcher->Engines().At(i)->ErrorCode != 0) ++engineErrors;
  };
  if (!kernel.RunSearch(search, o.Reviews, false, kRerunLimit)) {
    PrintError("history", "search " + std::to_string(o.Number) + " could not be run");
    return 1;
  }
  if (!storeError.empty()) {
    PrintError("history", storeError);
    return 1;
  }
  const int status = Show(kernel.History(o.Reviews), search, o.Json);
  if (engineErrors) std::fprintf(stderr, "%d engine error(s)\n", engineErrors);
  return status;
}

// Listing and showing read the database; a changed grouping, filter or sort is stored with the search.
bool ReadsOnly(const THistoryArguments& o) {
  if (o.Action == THistoryAction::List) return true;
  const THistoryViewOptions& v = o.View;
  return o.Action == THistoryAction::Show && v.GroupBy.empty() && !v.PriceMin && !v.PriceMax &&
         v.Delivery.empty() && v.Sort.empty() && v.Currency.empty();
}

}  // namespace

int RunHistory(const Args& args) {
  THistoryArguments o;
  std::string error;
  if (!ParseHistoryArguments(args, o, error)) return Usage(error);
  std::error_code ec;
  if (!o.Kernel.Data.empty() && !std::filesystem::is_directory(o.Kernel.Data, ec))
    return Usage("no data folder " + o.Kernel.Data);

  THeadlessKernel kernel;
  if (!OpenKernel(kernel, o.Kernel, "history", ReadsOnly(o))) return 1;
  TAppSearchHistory& history = kernel.History(o.Reviews);
  if (o.Action == THistoryAction::List) return List(history, o.Json);

  TSearchStorageItem* search = history.Item()->GetSearches().ItemByKey(o.Number);
  if (!search)
    return Usage("no search " + std::to_string(o.Number) + " in the " + (o.Reviews ? "reviews" : "compare") +
                 " history");
  switch (o.Action) {
    case THistoryAction::Show:
      return ShowHistoryView(kernel, history, *search, o.View, o.Json);
    case THistoryAction::Check:
      return CheckHistoryResults(history, *search, o.View);
    case THistoryAction::Delete:
      return Delete(history, search, o.Number);
    default:
      return Rerun(kernel, o, *search);
  }
}

}  // namespace vandrel::cli
