#include "cli/CommandArguments.h"

#include <cfloat>
#include <cstdint>
#include <limits>

#include "platform/CommandLineOptions.h"
#include "platform/TextUtils.h"
#include "script/EvalTypes.h"

namespace vandrel::cli {
namespace {

using enum TOptionKind;

// The options every command that opens the program's data takes; `data` and `debug` only where the
// definitions matter.
std::vector<TOptionDef> KernelOptions(bool definitions) {
  std::vector<TOptionDef> options = {{"root", Value}};
  if (definitions) options.insert(options.end(), {{"data", Value}, {"define", Repeated}});
  return options;
}

bool SplitPairs(const std::vector<std::string>& texts, const char* option, TNameValues& into,
                std::string& error) {
  for (const std::string& text : texts) {
    const size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0) {
      error = std::string("--") + option + " takes " + (std::string(option) == "set" ? "FIELD" : "NAME") +
              "=VALUE";
      return false;
    }
    into.emplace_back(text.substr(0, eq), text.substr(eq + 1));
  }
  return true;
}

bool ReadKernel(const TCommandLine& line, TKernelArguments& out, std::string& error) {
  out.Root = line.Value("root");
  out.Data = line.Value("data");
  out.Debug = line.Has("debug");
  if ((line.Has("root") && out.Root.empty()) || (line.Has("data") && out.Data.empty())) {
    error = "an empty folder name";
    return false;
  }
  return SplitPairs(line.Values("define"), "define", out.Defines, error);
}

bool Count(TCommandLine& line, const char* name, int& out, std::string& error) {
  std::optional<int64_t> value;
  if (!line.Integer(name, 1, 1000, value)) {
    error = line.Error() + " (a number from 1 to 1000)";
    return false;
  }
  if (value) out = static_cast<int>(*value);
  return true;
}

bool Read(TCommandLine& line, const std::vector<std::string>& words, std::string& error) {
  if (line.Parse(words)) return true;
  error = line.Error();
  return false;
}

bool NoPositionals(const TCommandLine& line, std::string& error) {
  if (line.Positionals().empty()) return true;
  error = "unknown argument '" + line.Positionals().front() + "'";
  return false;
}

std::vector<std::string> EngineNames(const std::string& list) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= list.size()) {
    const size_t comma = list.find(',', start);
    const std::string_view name =
        Trim(std::string_view(list).substr(start, comma == std::string::npos ? list.npos : comma - start));
    if (!name.empty()) names.push_back(AsciiLowerCase(name));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return names;
}

}  // namespace

bool ParseSearchArguments(const std::vector<std::string>& words, TSearchArguments& out, std::string& error) {
  out = {};
  std::vector<TOptionDef> options = KernelOptions(true);
  options.insert(options.end(), {{"category", Value},
                                 {"set", Repeated},
                                 {"engines", Value},
                                 {"max-threads", Value},
                                 {"results-per-engine", Value},
                                 {"currency", Value},
                                 {"detect-connection", Flag},
                                 {"connection-probe", Value},
                                 {"json", Flag},
                                 {"no-store", Flag},
                                 {"no-update", Flag},
                                 {"update-site", Value},
                                 {"debug", Flag}});
  TCommandLine line(std::move(options));
  if (!Read(line, words, error)) return false;
  if (!NoPositionals(line, error) || !ReadKernel(line, out.Kernel, error) ||
      !SplitPairs(line.Values("set"), "set", out.Sets, error) ||
      !Count(line, "max-threads", out.MaxThreads, error) ||
      !Count(line, "results-per-engine", out.ResultsPerEngine, error))
    return false;
  out.Kernel.Currency = AsciiUpperCase(line.Value("currency"));
  out.Category = line.Value("category");
  out.DetectConnection = line.Has("detect-connection");
  out.ConnectionProbe = line.Value("connection-probe");
  out.Json = line.Has("json");
  out.NoStore = line.Has("no-store");
  out.NoUpdate = line.Has("no-update");
  out.UpdateSite = line.Value("update-site");
  if (line.Has("update-site") && out.UpdateSite.empty()) {
    error = "--update-site needs an address";
    return false;
  }
  if (line.Has("engines")) {
    out.Engines = EngineNames(line.Value("engines"));
    if (out.Engines.empty()) {
      error = "--engines names no engine";
      return false;
    }
  }
  if (out.Kernel.Data.empty() || out.Category.empty()) {
    error = "--data and --category are required";
    return false;
  }
  if (out.Sets.empty()) {
    error = "give at least one --set FIELD=VALUE";
    return false;
  }
  return true;
}

namespace {

bool ReadHistoryView(const TCommandLine& line, THistoryAction action, THistoryViewOptions& view,
                     std::string& error) {
  auto price = [&](const char* name, std::optional<double>& out) {
    if (!line.Has(name)) return true;
    double number = 0;
    std::string why;
    if (!ParseDecimalArg(line.Value(name), 0, 1e9, number, why)) {
      error = std::string("--") + name + " " + line.Value(name) + ": " + why;
      return false;
    }
    out = number;
    return true;
  };
  view.GroupBy = line.Value("group-by");
  if (!price("price-min", view.PriceMin) || !price("price-max", view.PriceMax)) return false;
  view.Delivery = AsciiLowerCase(line.Value("delivery"));
  if (line.Has("delivery") && view.Delivery != "fastest" && view.Delivery != "normal" &&
      view.Delivery != "all") {
    error = "--delivery takes fastest, normal or all";
    return false;
  }
  view.Sort = line.Value("sort");
  view.Currency = AsciiUpperCase(line.Value("currency"));
  view.Find = line.Value("find");
  if (line.Has("find") && view.Find.empty()) {
    error = "--find needs a text";
    return false;
  }
  view.MatchCase = line.Has("match-case");
  view.Uncheck = line.Has("uncheck");
  const bool viewOptions = !view.GroupBy.empty() || view.PriceMin || view.PriceMax ||
                           !view.Delivery.empty() || !view.Sort.empty() || !view.Currency.empty() ||
                           !view.Find.empty() || view.MatchCase;
  if (viewOptions && action != THistoryAction::Show) {
    error = "the view options belong to show";
    return false;
  }
  if (view.MatchCase && view.Find.empty()) {
    error = "--match-case needs --find";
    return false;
  }
  if (view.Uncheck && action != THistoryAction::Check) {
    error = "--uncheck belongs to check";
    return false;
  }
  return true;
}

}  // namespace

bool ParseHistoryArguments(const std::vector<std::string>& words, THistoryArguments& out,
                           std::string& error) {
  out = {};
  std::vector<TOptionDef> options = KernelOptions(true);
  options.insert(options.end(), {{"reviews", Flag},
                                 {"json", Flag},
                                 {"group-by", TOptionKind::Value},
                                 {"price-min", TOptionKind::Value},
                                 {"price-max", TOptionKind::Value},
                                 {"delivery", TOptionKind::Value},
                                 {"sort", TOptionKind::Value},
                                 {"currency", TOptionKind::Value},
                                 {"find", TOptionKind::Value},
                                 {"match-case", Flag},
                                 {"uncheck", Flag},
                                 {"no-update", Flag},
                                 {"update-site", TOptionKind::Value}});
  TCommandLine line(std::move(options));
  if (!Read(line, words, error)) return false;
  if (!ReadKernel(line, out.Kernel, error)) return false;
  out.Reviews = line.Has("reviews");
  out.Json = line.Has("json");
  out.NoUpdate = line.Has("no-update");
  out.UpdateSite = line.Value("update-site");
  if (line.Has("update-site") && out.UpdateSite.empty()) {
    error = "--update-site needs an address";
    return false;
  }
  const std::vector<std::string>& words2 = line.Positionals();
  if (words2.empty()) {
    error = "no action";
    return false;
  }
  const std::string& action = words2[0];
  if (action == "list") {
    out.Action = THistoryAction::List;
  } else if (action == "show") {
    out.Action = THistoryAction::Show;
  } else if (action == "delete") {
    out.Action = THistoryAction::Delete;
  } else if (action == "rerun") {
    out.Action = THistoryAction::Rerun;
  } else if (action == "check") {
    out.Action = THistoryAction::Check;
  } else {
    error = "unknown action '" + action + "'";
    return false;
  }
  if (!ReadHistoryView(line, out.Action, out.View, error)) return false;
  if ((line.Has("no-update") || line.Has("update-site")) && out.Action != THistoryAction::Rerun) {
    error = std::string(line.Has("no-update") ? "--no-update" : "--update-site") + " is for rerun only";
    return false;
  }
  const bool numbered = out.Action != THistoryAction::List;
  const size_t most = out.Action == THistoryAction::Check ? 3u : numbered ? 2u : 1u;
  if (words2.size() > most) {
    error = numbered ? "unknown argument '" + words2[most] + "'" : "list takes no search number";
    return false;
  }
  if (!numbered) return true;
  if (words2.size() < 2) {
    error = action + " needs a search number";
    return false;
  }
  int64_t number = 0;
  std::string problem;
  if (!ParseIntegerArg(words2[1], 0, std::numeric_limits<int32_t>::max(), number, problem)) {
    error = "'" + words2[1] + "' is no search number (" + problem + ")";
    return false;
  }
  out.Number = static_cast<int>(number);
  if (out.Action == THistoryAction::Check) {
    if (words2.size() < 3) {
      error = "check needs a search number and RANK[,RANK...]";
      return false;
    }
    out.View.Ranks = words2[2];
  }
  return true;
}

bool ParseDbArguments(const std::vector<std::string>& words, std::string& root, std::string& error) {
  TCommandLine line(KernelOptions(false));
  if (!Read(line, words, error)) return false;
  const std::vector<std::string>& positionals = line.Positionals();
  if (positionals.size() != 1 || positionals[0] != "compact") {
    error = positionals.empty() ? "no action"
                                : (positionals[0] != "compact" ? "unknown action '" + positionals[0] + "'"
                                                               : "unknown argument '" + positionals[1] + "'");
    return false;
  }
  root = line.Value("root");
  if (line.Has("root") && root.empty()) {
    error = "an empty folder name";
    return false;
  }
  return true;
}

bool ParseCatalogueArguments(const std::vector<std::string>& words, TCatalogueArguments& out,
                             std::string& error) {
  out = {};
  std::vector<TOptionDef> options = KernelOptions(true);
  options.push_back({"debug", Flag});
  TCommandLine line(std::move(options));
  if (!Read(line, words, error)) return false;
  if (!NoPositionals(line, error) || !ReadKernel(line, out.Kernel, error)) return false;
  if (out.Kernel.Data.empty()) {
    error = "--data is required";
    return false;
  }
  return true;
}

bool ParseConfigArguments(const std::vector<std::string>& words, TConfigArguments& out, std::string& error) {
  out = {};
  TCommandLine line({{"config-dir", Value}});
  if (!Read(line, words, error)) return false;
  if (line.Has("config-dir")) out.Folder = line.Value("config-dir");
  const std::vector<std::string>& w = line.Positionals();
  if (w.empty()) {
    error = "no action";
    return false;
  }
  out.Action = w[0];
  const size_t expected = out.Action == "list" ? 1 : out.Action == "get" ? 2 : out.Action == "set" ? 3 : 0;
  if (expected == 0) {
    error = "unknown action '" + out.Action + "'";
    return false;
  }
  if (w.size() != expected) {
    error = w.size() < expected
                ? out.Action + " needs " + (expected == 2 ? "a setting" : "a setting and a value")
                : "unexpected argument '" + w[expected] + "'";
    return false;
  }
  if (expected >= 2) {
    out.Name = w[1];
    if (out.Name.empty()) {
      error = "an empty setting name";
      return false;
    }
  }
  if (expected == 3) out.Value = w[2];
  return true;
}

bool ParseParseArguments(const std::vector<std::string>& words, TParseArguments& out, std::string& error) {
  out = {};
  TCommandLine line({{"search-type", Value},
                     {"engine", Value},
                     {"page", Value},
                     {"address", Value},
                     {"set", Repeated},
                     {"json", Flag}});
  if (!Read(line, words, error)) return false;
  if (!NoPositionals(line, error) || !SplitPairs(line.Values("set"), "set", out.Sets, error)) return false;
  out.SearchType = line.Value("search-type");
  out.Engine = line.Value("engine");
  out.Page = line.Value("page");
  out.Address = line.Value("address");
  out.Json = line.Has("json");
  if (out.SearchType.empty() || out.Engine.empty() || out.Page.empty()) {
    error = "--search-type, --engine and --page are required";
    return false;
  }
  return true;
}

bool ParseDemoStoresArguments(const std::vector<std::string>& words, TDemoStoresArguments& out,
                              std::string& error) {
  out = {};
  TCommandLine line({{"port", Value}, {"address", Value}, {"once-ready-file", Value}});
  if (!Read(line, words, error) || !NoPositionals(line, error)) return false;
  std::optional<int64_t> port;
  if (!line.Integer("port", 0, 65535, port)) {
    error = line.Error();
    return false;
  }
  if (!port) {
    error = "--port is required";
    return false;
  }
  const std::string address = line.Value("address", "127.0.0.1");
  if (address != "127.0.0.1" && address != "localhost") {
    error = "the demo stores listen on 127.0.0.1 only";
    return false;
  }
  out.Port = static_cast<int>(*port);
  out.ReadyFile = line.Value("once-ready-file");
  return true;
}

bool ParseFieldValue(int dataType, const std::string& text, TDynamicValue& out, std::string& error) {
  int64_t whole = 0;
  double decimal = 0;
  switch (dataType) {
    case dtInteger:
      if (!ParseIntegerArg(text, INT32_MIN, INT32_MAX, whole, error)) return false;
      out = TDynamicValue(whole);
      return true;
    case dtByte:
      if (!ParseIntegerArg(text, 0, 255, whole, error)) return false;
      out = TDynamicValue(whole);
      return true;
    case dtBoolean:
      if (SameText(text, "true") || SameText(text, "false")) {
        out = TDynamicValue(int64_t{SameText(text, "true") ? 1 : 0});
        return true;
      }
      if (!ParseIntegerArg(text, 0, 1, whole, error)) return false;
      out = TDynamicValue(whole);
      return true;
    case dtFloat:
      if (!ParseDecimalArg(text, -DBL_MAX, DBL_MAX, decimal, error)) return false;
      out = TDynamicValue(decimal);
      return true;
    case dtMoney:
      // Amounts are kept as 32-bit floating point.
      if (!ParseDecimalArg(text, -FLT_MAX, FLT_MAX, decimal, error)) return false;
      out = TDynamicValue(decimal);
      return true;
    default:
      out = TDynamicValue(text);
      return true;
  }
}

}  // namespace vandrel::cli
