#include "cli/HistoryView.h"

#include "cli/CliOutput.h"

#include <cstdio>
#include <set>

#include "currency/CurrencyConverters.h"
#include "currency/CurrencyScript.h"
#include "kernel/HeadlessKernel.h"
#include "platform/CommandLineOptions.h"
#include "platform/JsonWriter.h"
#include "platform/TextUtils.h"
#include "presentation/FindContext.h"
#include "presentation/ResultFilters.h"
#include "presentation/ResultGroups.h"
#include "presentation/ResultViewFrames.h"
#include "search/SearchHistory.h"

namespace vandrel::cli {

namespace {

constexpr const char* kFindFinished = "Vandrel Shopper has finished searching through results.";

int Fail(const std::string& problem, int status) {
  std::fprintf(stderr, "vandrel-shopper-cli history: %s\n", problem.c_str());
  return status;
}

std::string FieldText(const TResultStorageItem& r, const std::string& name) {
  TResultStorageFieldItem* f = r.ResultFields() ? r.ResultFields()->FindResultField(name) : nullptr;
  if (!f) return {};
  return f->DisplayValue().empty() ? f->Value().AsString() : f->DisplayValue();
}

const char* StateText(const TResultStorageItem& r) {
  if (r.HasFilterState(rfsOutdated)) return "outdated";
  if (r.HasFilterState(rfsRemains)) return "remains";
  return "";
}

size_t DisplayWidth(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

// One printed line: a result, or (Result null) a group's caption.
struct TShownRow {
  const TResultStorageItem* Result = nullptr;
  std::string Group;
};

// The results in view order: groups in their order, each group's results in theirs. Results the user
// deleted are left out, as the history always showed them.
std::vector<TShownRow> ViewRows(const TResultStorageListView& view) {
  std::vector<TShownRow> rows;
  auto add = [&rows](const TStorageDataItem* item, const std::string& group) {
    const auto* r = static_cast<const TResultStorageItem*>(item);
    if (!r->HasFilterState(rfsDeleted)) rows.push_back({r, group});
  };
  if (!view.Grouped()) {
    for (size_t i = 0; i < view.Count(); ++i) add(view.Item(i), {});
    return rows;
  }
  for (size_t g = 0; g < view.GroupCount(); ++g) {
    const TStorageDataGroupItem* group = view.Group(g);
    const std::string caption = group->GetCaption();
    for (const TStorageDataItem* item : group->Items) add(item, caption);
  }
  return rows;
}

void PrintJson(const std::vector<TShownRow>& rows, const std::vector<std::string>& names, bool grouped) {
  TJsonWriter json;
  json.BeginArray();
  for (const TShownRow& row : rows) {
    const TResultStorageItem& r = *row.Result;
    json.BeginObject();
    for (const std::string& name : names) json.Member(name, FieldText(r, name));
    json.Member("Rank", r.Index()).Member("Occurrences", r.Occurences).Member("FoundBy", r.FoundBy.Lines);
    json.Member("New", r.New).Member("State", StateText(r));
    if (grouped) json.Member("Group", row.Group);
    json.EndObject();
  }
  json.EndArray();
  std::printf("%s\n", json.Text().c_str());
}

void PrintTable(const std::vector<TShownRow>& rows, const std::vector<std::string>& columns,
                const std::vector<std::string>& heads, bool grouped) {
  std::vector<std::vector<std::string>> cells;
  std::vector<std::string> head = {"Rank"};
  head.insert(head.end(), heads.begin(), heads.end());
  head.insert(head.end(), {"Occurrences", "FoundBy", "New", "State"});
  cells.push_back(std::move(head));
  for (const TShownRow& row : rows) {
    const TResultStorageItem& r = *row.Result;
    std::vector<std::string> line = {std::to_string(r.Index())};
    for (const std::string& name : columns) line.push_back(TerminalText(FieldText(r, name)));
    std::string foundBy;
    for (const std::string& e : r.FoundBy.Lines) foundBy += (foundBy.empty() ? "" : ",") + e;
    line.insert(line.end(),
                {std::to_string(r.Occurences), TerminalText(foundBy), r.New ? "new" : "", StateText(r)});
    cells.push_back(std::move(line));
  }
  std::vector<size_t> widths;
  for (const auto& line : cells) {
    widths.resize(std::max(widths.size(), line.size()), 0);
    for (size_t i = 0; i < line.size(); ++i) widths[i] = std::max(widths[i], DisplayWidth(line[i]));
  }
  auto print = [&widths](const std::vector<std::string>& line) {
    std::string text;
    for (size_t i = 0; i < line.size(); ++i) {
      text += line[i];
      if (i + 1 < line.size()) text += std::string(widths[i] - DisplayWidth(line[i]) + 2, ' ');
    }
    std::printf("%s\n", text.c_str());
  };
  print(cells[0]);
  std::string group;
  for (size_t k = 0; k < rows.size(); ++k) {
    if (grouped && (k == 0 || rows[k].Group != group)) {
      group = rows[k].Group;
      std::printf("== %s ==\n", TerminalText(group).c_str());
    }
    print(cells[k + 1]);
  }
}

bool ApplyGrouping(TGroupByMenuManager& menu, const TSearchTypeStorageItem* type, const std::string& name,
                   std::string& error) {
  if (menu.ChooseByName(name)) return true;
  // Fields the menu leaves out (a summary price, say) and the store and check groupings the menu offers
  // only when the layout lists them can still be named.
  if (type)
    if (const auto* d = type->OutputFieldDefinitions.FindOutput(name)) {
      menu.GroupBy(d->Name, d->FieldType);
      return true;
    }
  if (SameText(name, "Engine") || SameText(name, "CHECK")) {
    menu.GroupBy(name, TStorageFieldType::ftString);
    return true;
  }
  std::string known;
  for (const TGroupByMenuEntry& entry : menu.Entries())
    if (!entry.IsSeparator && !entry.IsNoGroup) known += (known.empty() ? "" : ", ") + entry.FieldName;
  error =
      "no grouping '" + name + "' (known: " + (known.empty() ? "" : known + ", ") + "Engine, CHECK, none)";
  return false;
}

void ApplyPriceBounds(TStorageDataListView& view, const THistoryViewOptions& o) {
  TPriceFilter* filter = FindFilter<TPriceFilter>(view);
  const float min = o.PriceMin ? static_cast<float>(*o.PriceMin) : (filter ? filter->MinPrice.Value : 0.0f);
  const float max = o.PriceMax ? static_cast<float>(*o.PriceMax) : (filter ? filter->MaxPrice.Value : 0.0f);
  if (min == 0 && max == 0) {
    while (TPriceFilter* f = FindFilter<TPriceFilter>(view)) view.RemoveFilter(f);
    return;
  }
  // The new filter and its bounds reach the view in one refilter, as the filter panel sets them.
  view.FilterManager().BeginUpdate();
  if (!filter) {
    filter = static_cast<TPriceFilter*>(view.AddFilter(std::make_unique<TPriceFilter>()));
    filter->InitForView(view);
  }
  filter->BeginUpdate();
  filter->SetMinPrice({filter->Currency(), min});
  filter->SetMaxPrice({filter->Currency(), max});
  filter->EndUpdate();
  view.FilterManager().EndUpdate(true);
}

void ApplyDelivery(TStorageDataListView& view, const std::string& delivery) {
  if (delivery == "all") {
    while (TShippingFilter* f = FindFilter<TShippingFilter>(view)) view.RemoveFilter(f);
    return;
  }
  const auto mode =
      delivery == "fastest" ? TShippingFilterMode::smFastestShipping : TShippingFilterMode::smBestDeals;
  if (TShippingFilter* f = FindFilter<TShippingFilter>(view)) {
    f->SetMode(mode);
    return;
  }
  auto filter = std::make_unique<TShippingFilter>();
  filter->SetMode(mode);
  view.AddFilter(std::move(filter));
}

bool ApplySort(TSearchTypeStorageItem& type, const std::string& sort, std::string& error) {
  std::string name = sort;
  std::optional<bool> descending;
  if (const size_t colon = sort.rfind(':'); colon != std::string::npos) {
    const std::string direction = AsciiLowerCase(sort.substr(colon + 1));
    if (direction != "asc" && direction != "desc") {
      error = "--sort takes NAME[:asc|:desc]";
      return false;
    }
    descending = direction == "desc";
    name = sort.substr(0, colon);
  }
  const auto* d = type.OutputFieldDefinitions.FindOutput(name);
  if (!d) {
    error = "no field '" + name + "' to sort by";
    return false;
  }
  const bool created = EnsureOutputLayout(type);
  const TStorageFieldDefinitionLayoutItem* current = SortedLayoutItem(type);
  if (!descending) {
    // Naming the sorted column again keeps its direction; another column starts in its own default one.
    descending = current && SameText(current->Name, d->Name)
                     ? current->Layout.SortDirection == TStorageLayoutSortDirection::sdDescending
                     : d->Layout.SortDirection == TStorageLayoutSortDirection::sdDescending;
  }
  if (!SetLayoutSort(type, d->Name, *descending)) {
    error = "the layout has no column '" + name + "'";
    return false;
  }
  (void)created;
  // Stored with the search type, as a header click in the desktop program stores it.
  if (type.Owner()) type.RunTransaction(lsUpdating, kSearchTypeUpdateOutputLayout);
  return true;
}

}  // namespace

int ShowHistoryView(THeadlessKernel& kernel, TAppSearchHistory& history, TSearchStorageItem& search,
                    const THistoryViewOptions& o, bool json) {
  const std::string dataFolder = kernel.Kernel().Folders().Data();
  if (!o.Currency.empty()) {
    ReloadCurrencyTable(CurrencyConverter(), dataFolder, o.Currency, true);
    if (!CurrencyConverter().Definitions().Find(o.Currency))
      return Fail("unknown currency '" + o.Currency + "'", 2);
  }
  auto item = history.Item()->GetResultItem(&search);
  if (!item) return Fail("the results of search " + std::to_string(search.Index()) + " cannot be opened", 1);
  TResultStorageList& results = item->GetResults();
  TSearchTypeStorageItem* type = item->GetSearchType();
  if (!type)
    std::fprintf(
        stderr,
        "vandrel-shopper-cli history: search type '%s' not found in the data folder; give --data DIR\n",
        search.SrtName.c_str());
  SetGroupCatalogue(&kernel.Catalogue());

  // The desktop result frame's own view: its filters and groups are stored with the search.
  TResultStorageListView* view = results.FindResultView(kResultViewFrameName);
  if (!view) {
    view = results.GetResultView(kResultViewFrameName);
    view->SaveFilters = true;
    view->SaveGroups = true;
  }
  TGroupByMenuManager menu;
  menu.Attach(view, type, search.CatName);

  std::string error;
  if (!o.Sort.empty()) {
    if (!type) return Fail("sorting needs the search type; give --data DIR", 2);
    if (!ApplySort(*type, o.Sort, error)) return Fail(error, 2);
  }
  if (o.PriceMin || o.PriceMax) ApplyPriceBounds(*view, o);
  if (!o.Delivery.empty()) ApplyDelivery(*view, o.Delivery);
  if (type) SortByLayout(*view, *type);
  if (!o.GroupBy.empty() && !ApplyGrouping(menu, type, o.GroupBy, error)) return Fail(error, 2);
  if (!o.Currency.empty()) menu.TargetCurrencyChanged();

  if (FindFilter<TPriceFilter>(*view) || FindFilter<TShippingFilter>(*view))
    std::fprintf(stderr, "Filter: %s\n", FilterDescription(*view).c_str());

  std::vector<TShownRow> rows = ViewRows(*view);
  if (!o.Find.empty()) {
    TFindContext find;
    find.Bind(view);
    find.SetSearchType(type);
    find.MatchCase = o.MatchCase;
    std::string finished;
    find.OnFinished = [&finished](TFindContext&, const std::string&) { finished = kFindFinished; };
    std::vector<TShownRow> found;
    std::set<const TStorageDataItem*> seen;
    // Every hit once; the walk ends with the finishing message after the last one.
    for (TStorageDataItem* hit = find.Start(o.Find); hit && seen.insert(hit).second; hit = find.FindNext())
      for (const TShownRow& row : rows)
        if (row.Result == hit) found.push_back(row);
    rows = std::move(found);
    if (finished.empty()) finished = kFindFinished;
    std::fprintf(stderr, "%s\n", finished.c_str());
  }

  std::vector<std::string> names, columns, heads;
  const auto& defs = results.OutputFieldDefinitions();
  for (size_t i = 0; i < defs.Count(); ++i) {
    const TSearchTypeStorageOutputFieldDefinitionItem& d = *defs.Output(i);
    names.push_back(d.Name);
    if (d.Layout.Flags & (lfHidden | lfInternal)) continue;
    columns.push_back(d.Name);
    heads.push_back(TerminalText(d.DisplayName.empty() ? d.Name : d.DisplayName));
  }
  // Results that could not be read are said, with the damaged file, after what could be shown.
  const std::string damage = ResultsDamageText(*item);
  auto ReportDamage = [&damage] {
    if (damage.empty()) return 0;
    PrintError("history", damage);
    return 1;
  };
  if (json) {
    PrintJson(rows, names, view->Grouped());
    return ReportDamage();
  }
  PrintTable(rows, columns, heads, view->Grouped());
  std::printf("%zu result(s), %d shown by default\n", rows.size(), search.MatchCount);
  return ReportDamage();
}

int CheckHistoryResults(TAppSearchHistory& history, TSearchStorageItem& search,
                        const THistoryViewOptions& o) {
  auto item = history.Item()->GetResultItem(&search);
  if (!item) return Fail("the results of search " + std::to_string(search.Index()) + " cannot be opened", 1);
  TResultStorageList& results = item->GetResults();
  std::vector<TResultStorageItem*> marked;
  size_t start = 0;
  while (start <= o.Ranks.size()) {
    size_t comma = o.Ranks.find(',', start);
    if (comma == std::string::npos) comma = o.Ranks.size();
    const std::string text(Trim(std::string_view(o.Ranks).substr(start, comma - start)));
    int64_t rank = 0;
    std::string why;
    if (!ParseIntegerArg(text, 0, 2147483647, rank, why)) return Fail("rank '" + text + "': " + why, 2);
    TResultStorageItem* result = results.ItemByKey(static_cast<int32_t>(rank));
    if (!result) return Fail("search " + std::to_string(search.Index()) + " has no result " + text, 2);
    marked.push_back(result);
    start = comma + 1;
  }
  results.PendingValue = TDynamicValue(!o.Uncheck);
  results.BeginTransaction(lsSettingField, kResultSetChecked);
  for (TResultStorageItem* result : marked) result->Changed();
  results.EndTransaction();
  for (TResultStorageItem* result : marked)
    std::printf("result %d %s\n", result->Index(), result->Checked ? "checked" : "unchecked");
  return 0;
}

}  // namespace vandrel::cli
