// Feeds arbitrary words (split at NUL bytes) to the option reader and to every command's argument
// checking; whatever is accepted must hold together: required values present, numbers in their ranges.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/CliOutput.h"
#include "cli/CommandArguments.h"
#include "platform/CommandLineOptions.h"

namespace {

using namespace vandrel;
using namespace vandrel::cli;

void Check(bool condition) {
  if (!condition) std::abort();
}

void Options(const std::vector<std::string>& words) {
  TCommandLine line(
      {{"flag", TOptionKind::Flag}, {"value", TOptionKind::Value}, {"list", TOptionKind::Repeated}});
  if (!line.Parse(words)) {
    Check(!line.Error().empty());
    return;
  }
  std::optional<int64_t> whole;
  if (line.Integer("value", -5, 1000, whole) && whole) Check(*whole >= -5 && *whole <= 1000);
  std::optional<double> decimal;
  if (line.Decimal("value", -1.5, 2.5, decimal) && decimal) Check(*decimal >= -1.5 && *decimal <= 2.5);
  Check(line.Has("value") || line.Value("value", "x") == "x");
}

void Commands(const std::vector<std::string>& words) {
  std::string error;
  TSearchArguments search;
  if (ParseSearchArguments(words, search, error))
    Check(!search.Kernel.Data.empty() && !search.Category.empty() && !search.Sets.empty() &&
          search.MaxThreads >= 1 && search.MaxThreads <= 1000 && search.ResultsPerEngine >= 0 &&
          search.ResultsPerEngine <= 1000);
  else
    Check(!error.empty());
  THistoryArguments history;
  if (ParseHistoryArguments(words, history, error))
    Check((history.Action == THistoryAction::List) == (history.Number < 0));
  std::string root;
  ParseDbArguments(words, root, error);
  TCatalogueArguments catalogue;
  if (ParseCatalogueArguments(words, catalogue, error)) Check(!catalogue.Kernel.Data.empty());
  TConfigArguments config;
  if (ParseConfigArguments(words, config, error)) Check(config.Action == "list" || !config.Name.empty());
  TParseArguments parse;
  if (ParseParseArguments(words, parse, error)) Check(!parse.Page.empty());
  TDemoStoresArguments demo;
  if (ParseDemoStoresArguments(words, demo, error)) Check(demo.Port >= 0 && demo.Port <= 65535);
}

void Values(const std::vector<std::string>& words) {
  for (const std::string& word : words) {
    for (int type = 0; type <= 9; ++type) {
      TDynamicValue value;
      std::string problem;
      if (!ParseFieldValue(type, word, value, problem)) Check(!problem.empty());
    }
    const std::string shown = TerminalText(word);
    for (unsigned char c : shown) Check(c >= 0x20 && c != 0x7f);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> words(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0)
      words.emplace_back();
    else
      words.back() += static_cast<char>(data[i]);
  }
  Options(words);
  Commands(words);
  Values(words);
  return 0;
}
