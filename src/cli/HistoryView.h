// "history show" through the search's result view: grouping, price and delivery filters, sorting and find,
// stored with the search as the desktop program stores them; and "history check".
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/Commands.h"

namespace vandrel {
class TSearchStorageItem;
}

namespace vandrel::cli {

class TStoredSearches;

struct THistoryViewOptions {
  std::string GroupBy;                       // a group-by entry or "none"; empty: keep the stored grouping
  std::optional<double> PriceMin, PriceMax;  // 0 removes that bound
  std::string Delivery;                      // fastest, normal or all; empty: keep
  std::string Sort;                          // NAME[:asc|:desc]; empty: keep
  std::string Currency;                      // show prices converted into this currency
  std::string Find;
  bool MatchCase = false;
  std::string Ranks;  // "history check": RANK[,RANK...]
  bool Uncheck = false;
};

// Makes the stored groupings and filters of result views readable; before any result list loads.
void RegisterHistoryViewClasses();

// The usage text of the view options.
extern const char* const kHistoryViewUsage;

// Takes args[i] (and its value) when it belongs to the view options or is the rank list of "check":
// 1 taken (i moved past it), 0 not a view argument, -1 a bad one with `error` set.
int TakeHistoryViewArgument(const std::string& action, bool numberGiven, const Args& args, size_t& i,
                            THistoryViewOptions& options, std::string& error);
// Whether any view option was given to an action other than show (or check's to another action).
std::string MisplacedViewOption(const std::string& action, const THistoryViewOptions& options);

// Prints the search's results in view order; 0 shown, 1 the results cannot be opened, 2 a bad option.
int ShowHistoryView(TStoredSearches& store, TSearchStorageItem& search, const std::string& dataFolder,
                    const THistoryViewOptions& options, bool json);
// Sets or clears the check marks of the results of those ranks; 2 when a rank is unknown.
int CheckHistoryResults(TStoredSearches& store, TSearchStorageItem& search,
                        const THistoryViewOptions& options);

}  // namespace vandrel::cli
