#include "platform/CommandLineOptions.h"

#include <gtest/gtest.h>

#include "platform/JsonWriter.h"

namespace vandrel {
namespace {

TCommandLine SearchLike() {
  return TCommandLine({{"data", TOptionKind::Value},
                       {"json", TOptionKind::Flag},
                       {"set", TOptionKind::Repeated},
                       {"port", TOptionKind::Value}});
}

TEST(CommandLineOptions, ReadsValuesFlagsRepeatsAndPositionalsInOrder) {
  TCommandLine line = SearchLike();
  ASSERT_TRUE(line.Parse({"show", "--data", "D", "--set", "A=1", "7", "--json", "--set=B=2", "--", "--x"}));
  EXPECT_EQ(line.Value("data"), "D");
  EXPECT_TRUE(line.Has("json"));
  EXPECT_FALSE(line.Has("port"));
  EXPECT_EQ(line.Values("set"), (std::vector<std::string>{"A=1", "B=2"}));
  EXPECT_EQ(line.Positionals(), (std::vector<std::string>{"show", "7", "--x"}));
  EXPECT_FALSE(line.HelpAsked());
}

TEST(CommandLineOptions, RefusesWhatTheTableDoesNotAllow) {
  const struct {
    std::vector<std::string> words;
    const char* error;
  } cases[] = {
      {{"--nope"}, "unknown option --nope"},
      {{"--data"}, "--data needs a value"},
      {{"--json=1"}, "--json takes no value"},
      {{"--data", "a", "--data", "b"}, "--data given twice"},
  };
  for (const auto& c : cases) {
    TCommandLine line = SearchLike();
    EXPECT_FALSE(line.Parse(c.words)) << c.error;
    EXPECT_EQ(line.Error(), c.error);
  }
}

TEST(CommandLineOptions, HelpIsSeenAnywhereAndANegativeNumberIsAValue) {
  TCommandLine line = SearchLike();
  ASSERT_TRUE(line.Parse({"--port", "-5", "-h"}));
  EXPECT_TRUE(line.HelpAsked());
  std::optional<int64_t> port;
  EXPECT_FALSE(line.Integer("port", 0, 65535, port));
  EXPECT_EQ(line.Error(), "--port: out of range");
}

TEST(CommandLineOptions, NumbersAreWholeLocaleFreeAndFinite) {
  int64_t i = 0;
  double d = 0;
  std::string error;
  EXPECT_TRUE(ParseIntegerArg("42", 0, 100, i, error));
  EXPECT_EQ(i, 42);
  for (const char* bad : {"", "abc", "4x", " 4", "1.5", "0x10"}) {
    EXPECT_FALSE(ParseIntegerArg(bad, 0, 100, i, error)) << bad;
    EXPECT_EQ(error, "not a number") << bad;
  }
  EXPECT_FALSE(ParseIntegerArg("99999999999999999999", 0, 100, i, error));
  EXPECT_EQ(error, "out of range");
  EXPECT_TRUE(ParseDecimalArg("12.50", 0, 1e9, d, error));
  EXPECT_DOUBLE_EQ(d, 12.5);
  for (const char* bad : {"nan", "inf", "-inf", "12,50", "1e300", ""}) {
    EXPECT_FALSE(ParseDecimalArg(bad, 0, 1e9, d, error)) << bad;
    EXPECT_EQ(error, "not a number") << bad;
  }
  EXPECT_FALSE(ParseDecimalArg("-1", 0, 1e9, d, error));
  EXPECT_EQ(error, "out of range");
}

TEST(JsonWriter, KeepsTheListLayoutAndEscapesText) {
  TJsonWriter json;
  json.BeginArray();
  json.BeginObject()
      .Member("Title", "a \"b\"\\\x01")
      .Member("Rank", 1)
      .Member("FoundBy", std::vector<std::string>{"x", "y"})
      .EndObject();
  json.BeginObject().Member("Title", "\xe9").Key("Price").Number(1.5).Key("None").Null().EndObject();
  json.EndArray();
  EXPECT_EQ(json.Text(),
            "[\n  {\"Title\": \"a \\\"b\\\"\\\\\\u0001\", \"Rank\": 1, \"FoundBy\": [\"x\", \"y\"]},\n"
            "  {\"Title\": \"\xc3\xa9\", \"Price\": 1.5, \"None\": null}\n]");
  TJsonWriter empty;
  empty.BeginArray().EndArray();
  EXPECT_EQ(empty.Text(), "[]");
}

}  // namespace
}  // namespace vandrel
