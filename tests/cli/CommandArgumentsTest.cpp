// The command line's own rules, without a process: argument checking, field values and terminal text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/CliOutput.h"
#include "cli/CommandArguments.h"
#include "script/EvalTypes.h"

namespace vandrel::cli {
namespace {

TEST(CliTerminalText, ControlCharactersCannotReachTheTerminal) {
  // An OSC title change, an SGR colour, the one-byte CSI as UTF-8, DEL and a tab.
  EXPECT_EQ(TerminalText("a\x1b]0;owned\x07"
                         "b"),
            "a\\x1b]0;owned\\x07b");
  EXPECT_EQ(TerminalText("\x1b[31mred"), "\\x1b[31mred");
  EXPECT_EQ(TerminalText("\xc2\x9b"
                         "2J"),
            "\\u009b2J");
  EXPECT_EQ(TerminalText("x\x7fy\tz"), "x\\x7fy\\x09z");
  // 8-bit text that is not UTF-8 is Windows-1252, where 0x9b is a printable quote, not CSI.
  EXPECT_EQ(TerminalText("\x9b"), "\xe2\x80\xba");
  EXPECT_EQ(TerminalText("Caf\xc3\xa9 \xe2\x82\xac"), "Caf\xc3\xa9 \xe2\x82\xac");
  EXPECT_EQ(TerminalText("one\r\ntwo\rthree\n\x1b", true), "one\ntwo\nthree\n\\x1b");
  EXPECT_EQ(TerminalText("one\ntwo"), "one\\x0atwo");
}

TEST(CliFieldValues, NumbersFollowTheFieldsDataType) {
  struct TCase {
    int Type;
    std::string Text;
    const char* Problem;  // empty: accepted
  };
  const std::vector<TCase> cases = {
      {dtInteger, "12", ""},
      {dtInteger, "-7", ""},
      {dtInteger, "abc", "not a number"},
      {dtInteger, "nan", "not a number"},
      {dtInteger, "2.5", "not a number"},
      {dtInteger, "99999999999", "out of range"},
      {dtByte, "255", ""},
      {dtByte, "256", "out of range"},
      {dtBoolean, "true", ""},
      {dtBoolean, "2", "out of range"},
      {dtFloat, "1e300", "not a number"},
      {dtFloat, "nan", "not a number"},
      {dtFloat, "1" + std::string(400, '0'), "out of range"},
      {dtMoney, "19.99", ""},
      {dtMoney, "1" + std::string(39, '0'), "out of range"},
      {dtString, "nan", ""},
  };
  for (const TCase& c : cases) {
    TDynamicValue value;
    std::string problem;
    const bool ok = ParseFieldValue(c.Type, c.Text, value, problem);
    EXPECT_EQ(ok, *c.Problem == 0) << c.Type << " " << c.Text;
    if (!ok) {
      EXPECT_EQ(problem.find(c.Problem), 0u) << c.Type << " " << c.Text << ": " << problem;
    }
  }
  TDynamicValue value;
  std::string problem;
  ASSERT_TRUE(ParseFieldValue(dtInteger, "-7", value, problem));
  EXPECT_EQ(value.Kind(), TDynamicValue::TKind::Integer);
  EXPECT_EQ(value.AsInteger(), -7);
  ASSERT_TRUE(ParseFieldValue(dtBoolean, "TRUE", value, problem));
  EXPECT_EQ(value.AsInteger(), 1);
  ASSERT_TRUE(ParseFieldValue(dtString, " 5 ", value, problem));
  EXPECT_EQ(value.AsString(), " 5 ");
}

TEST(CliArguments, HistoryTakesAnActionAndForSomeASearchNumber) {
  struct TCase {
    std::vector<std::string> Words;
    const char* Problem;  // empty: accepted
  };
  const std::vector<TCase> cases = {
      {{"list", "--json", "--reviews"}, ""},
      {{"show", "3", "--root", "/r", "--data=/d", "--define", "A=1", "--define", "B=2"}, ""},
      {{}, "no action"},
      {{"frobnicate"}, "unknown action 'frobnicate'"},
      {{"show"}, "show needs a search number"},
      {{"show", "-1"}, "'-1' is no search number"},
      {{"show", "x"}, "'x' is no search number"},
      {{"show", "1", "2"}, "unknown argument '2'"},
      {{"list", "3"}, "list takes no search number"},
      {{"list", "--frobnicate"}, "unknown option --frobnicate"},
      {{"list", "--root"}, "--root needs a value"},
      {{"list", "--root", ""}, "an empty folder name"},
      {{"list", "--define", "=1"}, "--define takes NAME=VALUE"},
  };
  for (const TCase& c : cases) {
    THistoryArguments out;
    std::string error;
    const bool ok = ParseHistoryArguments(c.Words, out, error);
    EXPECT_EQ(ok, *c.Problem == 0) << error;
    if (!ok) {
      EXPECT_EQ(error.find(c.Problem), 0u) << error;
    }
  }
  THistoryArguments out;
  std::string error;
  ASSERT_TRUE(ParseHistoryArguments({"rerun", "12", "--define", "A=1=2", "--define", "A=3"}, out, error));
  EXPECT_EQ(out.Action, THistoryAction::Rerun);
  EXPECT_EQ(out.Number, 12);
  // Later definitions win when they are applied in order.
  EXPECT_EQ(out.Kernel.Defines, (TNameValues{{"A", "1=2"}, {"A", "3"}}));
}

TEST(CliArguments, SearchNeedsDataCategoryAndAValueAndKeepsItsNumbersInRange) {
  const std::vector<std::string> base = {"--data", "/d", "--category", "BuyBooks", "--set", "Title=x"};
  auto parse = [&](std::vector<std::string> extra, std::string& error) {
    std::vector<std::string> words = base;
    words.insert(words.end(), extra.begin(), extra.end());
    TSearchArguments out;
    return ParseSearchArguments(words, out, error) ? std::optional<TSearchArguments>(out) : std::nullopt;
  };
  std::string error;
  auto ok = parse({"--engines", " PageTurner, ,bookbarn ", "--currency", "eur", "--max-threads=3"}, error);
  ASSERT_TRUE(ok) << error;
  EXPECT_EQ(ok->Engines, (std::vector<std::string>{"pageturner", "bookbarn"}));
  EXPECT_EQ(ok->Kernel.Currency, "EUR");
  EXPECT_EQ(ok->MaxThreads, 3);
  EXPECT_EQ(ok->ResultsPerEngine, 0);

  for (const auto& [extra, problem] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--max-threads", "0"}, "--max-threads: out of range"},
           {{"--results-per-engine", "ten"}, "--results-per-engine: not a number"},
           {{"--engines", ","}, "--engines names no engine"},
           {{"--set", "Title"}, "--set takes FIELD=VALUE"},
           {{"--json=yes"}, "--json takes no value"},
           {{"--category", "x"}, "--category given twice"},
           {{"stray"}, "unknown argument 'stray'"},
       }) {
    EXPECT_FALSE(parse(extra, error)) << extra.front();
    EXPECT_EQ(error.find(problem), 0u) << error;
  }
  TSearchArguments out;
  EXPECT_FALSE(ParseSearchArguments({"--data", "/d", "--set", "Title=x"}, out, error));
  EXPECT_FALSE(ParseSearchArguments({"--data", "/d", "--category", "c"}, out, error));
}

TEST(CliArguments, ConfigWordsAndDemoStorePorts) {
  TConfigArguments config;
  std::string error;
  ASSERT_TRUE(ParseConfigArguments({"--config-dir=/c", "set", "MaxTransfers", "--", "-5"}, config, error));
  EXPECT_EQ(*config.Folder, "/c");
  EXPECT_EQ(config.Value, "-5");
  EXPECT_FALSE(ParseConfigArguments({"get", ""}, config, error));
  EXPECT_FALSE(ParseConfigArguments({"--frobnicate", "list"}, config, error));
  EXPECT_FALSE(ParseConfigArguments({"set", "MaxTransfers"}, config, error));

  TDemoStoresArguments demo;
  EXPECT_TRUE(ParseDemoStoresArguments({"--port", "0", "--once-ready-file", "/tmp/p"}, demo, error));
  EXPECT_FALSE(ParseDemoStoresArguments({"--port", "65536"}, demo, error));
  EXPECT_FALSE(ParseDemoStoresArguments({"--port", "80", "--address", "0.0.0.0"}, demo, error));
  EXPECT_FALSE(ParseDemoStoresArguments({}, demo, error));
}

}  // namespace
}  // namespace vandrel::cli
