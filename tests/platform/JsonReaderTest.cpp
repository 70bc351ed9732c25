// Reading JSON other programs wrote: the values, the escapes, and text that must be refused.
#include "platform/JsonReader.h"

#include <gtest/gtest.h>

namespace vandrel {
namespace {

TEST(JsonReader, ReadsNestedValuesInOrder) {
  auto value = ParseJson(R"( {"a": [1, -2.5e1, true, false, null], "b": {"c": "d"}, "a": 0} )");
  ASSERT_TRUE(value);
  ASSERT_EQ(value->Members.size(), 3u);
  const TJsonValue* a = value->Find("a");
  ASSERT_TRUE(a && a->Type == TJsonType::jtArray && a->Elements.size() == 5);
  EXPECT_EQ(a->Elements[1].Number, -25);
  EXPECT_TRUE(a->Elements[2].Bool);
  EXPECT_EQ(a->Elements[4].Type, TJsonType::jtNull);
  EXPECT_EQ(value->Find("b")->Text("c"), "d");
  EXPECT_EQ(value->Text("a"), "");  // not a string
}

TEST(JsonReader, DecodesEscapesToUtf8) {
  auto value = ParseJson(R"("q\"b\\s\/\n\u00e4\u20ac\ud83d\ude00\ud800x")");
  ASSERT_TRUE(value);
  EXPECT_EQ(value->String, "q\"b\\s/\n\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBDx");
}

TEST(JsonReader, RefusesWhatIsNotJson) {
  for (const char* text : {"", "{", "[1,]", "{\"a\" 1}", "\"open", "tru", "1 2", "{\"a\":1}}", "\"\\u12\"",
                           "\"\\q\"", "\"a\nb\"", "-", "[01x]", "\"\\u+123\""})
    EXPECT_FALSE(ParseJson(text)) << text;
  std::string deep(100, '[');
  deep += std::string(100, ']');
  EXPECT_FALSE(ParseJson(deep));
  EXPECT_TRUE(ParseJson(deep, 200));
}

}  // namespace
}  // namespace vandrel
