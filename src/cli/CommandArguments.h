// What each command takes from its words, checked without touching the disk or the network.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "storage/DynamicValue.h"

namespace vandrel::cli {

using TNameValues = std::vector<std::pair<std::string, std::string>>;

// Everything that opens the program's data: the root folder, the definitions and what they are given.
struct TKernelArguments {
  std::string Root;      // empty: the program's own rules
  std::string Data;      // empty: Root/Data/
  TNameValues Defines;   // constants given to every definition, after the constants script's
  std::string Currency;  // upper case; empty: prices as stored
  bool Debug = false;    // definitions from their sources
};

struct TSearchArguments {
  TKernelArguments Kernel;
  std::string Category;
  TNameValues Sets;
  std::vector<std::string> Engines;  // lower case; empty: the category's choice
  int MaxThreads = 10;
  int ResultsPerEngine = 0;  // 0: the category's own setting
  bool DetectConnection = false;
  std::string ConnectionProbe;  // the host the connection test looks up; empty: the searcher's own
  bool Json = false;
  bool NoStore = false;
  bool NoUpdate = false;   // the engine update that is due before a search is skipped
  std::string UpdateSite;  // the update address for this run; empty: the configured one
};

enum class THistoryAction { List, Show, Delete, Rerun, Check };

// How "history show" presents a stored search, and the ranks "history check" marks.
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

struct THistoryArguments {
  TKernelArguments Kernel;
  THistoryAction Action = THistoryAction::List;
  int Number = -1;  // the stored search; -1 for list
  bool Reviews = false;
  bool Json = false;
  THistoryViewOptions View;
  bool NoUpdate = false;   // rerun: the engine update that is due before it is skipped
  std::string UpdateSite;  // rerun: the update address for this run
};

struct TCatalogueArguments {
  TKernelArguments Kernel;
};

struct TConfigArguments {
  std::optional<std::string> Folder;  // --config-dir
  std::string Action;                 // get, set or list
  std::string Name;                   // the setting, for get and set
  std::string Value;                  // for set
};

struct TParseArguments {
  std::string SearchType, Engine, Page, Address;
  TNameValues Sets;
  bool Json = false;
};

struct TDemoStoresArguments {
  int Port = -1;  // 0: any free port
  std::string ReadyFile;
};

// Each answers false with `error` set to what is wrong with the words.
bool ParseSearchArguments(const std::vector<std::string>& words, TSearchArguments& out, std::string& error);
bool ParseHistoryArguments(const std::vector<std::string>& words, THistoryArguments& out, std::string& error);
bool ParseDbArguments(const std::vector<std::string>& words, std::string& root, std::string& error);
bool ParseCatalogueArguments(const std::vector<std::string>& words, TCatalogueArguments& out,
                             std::string& error);
bool ParseConfigArguments(const std::vector<std::string>& words, TConfigArguments& out, std::string& error);
bool ParseParseArguments(const std::vector<std::string>& words, TParseArguments& out, std::string& error);
bool ParseDemoStoresArguments(const std::vector<std::string>& words, TDemoStoresArguments& out,
                              std::string& error);

// The value of an input field of script data type `dataType` given as `text`: a whole number for the
// integral types, a decimal for Float and Money, the text itself otherwise. False with `error` "not a
// number" or "out of range" when the text does not fit the type.
bool ParseFieldValue(int dataType, const std::string& text, TDynamicValue& out, std::string& error);

}  // namespace vandrel::cli
