// "history show" through the search's result view: grouping, price and delivery filters, sorting and find,
// stored with the search as the desktop program stores them; and "history check".
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/CommandArguments.h"
#include "cli/Commands.h"

namespace vandrel {
class TAppSearchHistory;
class THeadlessKernel;
class TSearchStorageItem;
}  // namespace vandrel

namespace vandrel::cli {

// Prints the search's results in view order; 0 shown, 1 the results cannot be opened, 2 a bad option.
int ShowHistoryView(THeadlessKernel& kernel, TAppSearchHistory& history, TSearchStorageItem& search,
                    const THistoryViewOptions& options, bool json);
// Sets or clears the check marks of the results of those ranks; 2 when a rank is unknown.
int CheckHistoryResults(TAppSearchHistory& history, TSearchStorageItem& search,
                        const THistoryViewOptions& options);

}  // namespace vandrel::cli
