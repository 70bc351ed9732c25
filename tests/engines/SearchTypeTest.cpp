#include "engines/SearchType.h"

#include <gtest/gtest.h>

#include "EngineTestUtil.h"

namespace vandrel {
namespace {

using testing::Fixture;
using testing::RegisterProc;
using testing::TTypeFromSource;

TEST(SearchTypeReader, LoadsTheBooksDefinition) {
  TSearchTypeReader t;
  ASSERT_TRUE(t.Load(Fixture("books.sst"))) << t.Compiler().Errors.size();
  EXPECT_EQ(t.Name, "books");
  EXPECT_EQ(t.Filter, "price > 0");
  EXPECT_EQ(t.SearchFrame, "BookSearch");
  EXPECT_EQ(DefaultText(*t.DisplayNames), "Books");
  ASSERT_EQ(t.InputFields->Count(), 2u);
  EXPECT_EQ(t.InputFields->At(0).DisplayName(), "Title or keywords");
  EXPECT_EQ(t.InputFields->At(1).DataType, dtInteger);
  EXPECT_EQ(t.InputFields->At(1).Choices,
            (std::vector<std::string>{"all words", "any word", "exact phrase"}));
  ASSERT_EQ(t.OutputFields->Count(), 6u);
  const TBaseSearchOutputField& price = t.OutputFields->At(2);
  EXPECT_EQ(price.DataType, dtMoney);
  EXPECT_EQ(price.FormatString, "%.2f");
  EXPECT_EQ(price.Alignment, FA_RIGHT);
  EXPECT_TRUE(t.OutputFields->At(3).IsUrl);
  EXPECT_EQ(t.OutputFields->At(0).Length, 40);
  EXPECT_EQ(t.OutputFields->At(0).DisplayName(), "title");  // display name starts as the field name
  // Globals of the script land in the type's own list, where instances and engines find them.
  EXPECT_EQ(t.Variables.GetInteger("KO_AND", -1), 1);
  // The default view: key, reduction and the ascending key added by the command.
  ASSERT_EQ(t.Views.size(), 2u);
  TSearchTypeView& def = *t.FindView("default");
  EXPECT_EQ(t.CurrentView, &def);
  EXPECT_EQ(def.UniqueKey, "url");
  EXPECT_EQ(def.UniqueKeyIndex, 3);
  EXPECT_EQ(def.UrlReduction, 3u);
  ASSERT_EQ(def.SortKeys->Count(), 1u);
  EXPECT_TRUE(def.SortKeys->At(0).Ascending);
  TSearchTypeView& compact = *t.FindView("compact");
  ASSERT_EQ(compact.SortKeys->Count(), 1u);
  EXPECT_EQ(compact.SortKeys->At(0).FieldName, "title");
  EXPECT_EQ(compact.UrlReduction, 0u);
}

TEST(SearchTypeReader, FieldDeclarationsAndTheirErrors) {
  TTypeFromSource twice(
      RegisterProc("AddInputField(\"title\")\nAddInputField \"Title\"\n"
                   "f = AddOutputField(\"price\")\nf.datatype = DT_BYTE\nn = f.datatype\n"
                   "f.isdomain = True\ng = OutputFields[\"price\"].name\nc = OutputFields.count"));
  ASSERT_TRUE(twice.Ok) << twice.LastError();
  EXPECT_EQ(twice.Reader.InputFields->Count(), 1u);
  const auto& price = twice.Reader.OutputFields->At(0);
  EXPECT_EQ(price.DataType, dtInteger);
  EXPECT_EQ(price.DeclaredType, dtByte);
  EXPECT_TRUE(price.IsUrl);
  TVariableList& v = twice.Reader.Compiler().Variables();
  EXPECT_EQ(v.GetInteger("n", 0), 3);
  EXPECT_EQ(v.GetString("g", ""), "price");
  EXPECT_EQ(v.GetInteger("c", 0), 1);

  struct {
    const char* Body;
    const char* Error;
  } cases[] = {
      {"f = AddOutputField(\"x\")\nf.datatype = DT_OBJECT", "Invalid data type: 8"},
      {"f = AddOutputField(\"x\")\nf.alignment = 3", "Invalid alignment: '3'"},
      {"f = AddOutputField(\"x\")\nf.name = \"y\"", "Property not found: 'name'"},
      {"f = AddInputField(\"x\")\nf.isurl = True", "Property not found: 'isurl'"},
      {"x = OutputFields[2].name", "List error: List index out of bounds (2)"},
      {"For Each f in OutputFields\nOutputFields.add(\"z\")\nEndFor\n",
       "Cannot modify 'OutputFields' collection while in For Each statement"},
  };
  for (const auto& c : cases) {
    TTypeFromSource t(RegisterProc("AddOutputField \"first\"\n" + std::string(c.Body)));
    EXPECT_FALSE(t.Ok) << c.Body;
    EXPECT_EQ(t.LastError(), c.Error) << c.Body;
  }
}

TEST(SearchTypeReader, ViewsKeepTheirOwnKeysAndKeyIndex) {
  TTypeFromSource t(
      RegisterProc("UniqueKey = \"url\"\nAddOutputField \"url\"\nAddSortKey \"price\"\n"
                   "CurrentView = \"compact\"\nSortKeys.add(\"price\")\nk = SortKeys[1].order\n"
                   "SelectView \"DEFAULT\"\nd = SortKeys[\"price\"].descending\nv = CurrentView"));
  ASSERT_TRUE(t.Ok) << t.LastError();
  TSearchTypeView& def = *t.Reader.FindView("DEFAULT");
  // The key was named before its field existed: its index stays unknown.
  EXPECT_EQ(def.UniqueKeyIndex, -1);
  EXPECT_FALSE(def.SortKeys->At(0).Ascending);  // the command without a second part
  EXPECT_TRUE(t.Reader.FindView("compact")->SortKeys->At(0).Ascending);
  EXPECT_EQ(def.SortKeys->Count(), 1u);
  TVariableList& v = t.Reader.Compiler().Variables();
  EXPECT_EQ(v.GetInteger("k", -1), 1);
  EXPECT_TRUE(v.GetBoolean("d", false));
  EXPECT_EQ(v.GetString("v", ""), "DEFAULT");
  // A loaded type starts its default view without reduction until the script sets one.
  EXPECT_EQ(def.UrlReduction, 0u);
  // Sort keys bind to their fields only when first resolved.
  def.SortKeys->Resolve(*t.Reader.OutputFields);
  EXPECT_EQ(def.SortKeys->At(0).FieldIndex, -1);
}

TEST(SearchTypeReader, ComparesDefinitions) {
  TSearchType a, b;
  a.OutputFields->AddField("title");
  b.OutputFields->AddField("title");
  EXPECT_EQ(CompareSearchFieldLists(*a.OutputFields, *b.OutputFields), 0);
  b.OutputFields->At(0).FormatString = "%s!";
  EXPECT_EQ(CompareSearchFieldLists(*a.OutputFields, *b.OutputFields), 1);
  SetDefaultText(*a.OutputFields->At(0).DisplayNames, "Title");
  b.OutputFields->At(0).FormatString.clear();
  EXPECT_EQ(CompareSearchFieldLists(*a.OutputFields, *b.OutputFields), 1);
  b.OutputFields->At(0).Length = 10;
  EXPECT_EQ(CompareSearchFieldLists(*a.OutputFields, *b.OutputFields), 2);
  b.OutputFields->At(0).Length = 0;
  b.OutputFields->AddField("price");
  EXPECT_EQ(CompareSearchFieldLists(*a.OutputFields, *b.OutputFields), 2);
}

TEST(SearchTypeReader, ReportsMissingFilesAndScriptErrors) {
  TSearchTypeReader missing;
  EXPECT_FALSE(missing.Load("/nonexistent/x.sst"));
  TTypeFromSource bad(RegisterProc("x = nosuch + 1"));
  EXPECT_FALSE(bad.Ok);
  EXPECT_EQ(bad.LastError(), "Unknown identifier: nosuch");
  // Without a Name of its own the type is named after its file.
  TTypeFromSource unnamed(RegisterProc("AddInputField \"k\""), "music.sst");
  ASSERT_TRUE(unnamed.Ok);
  EXPECT_EQ(unnamed.Reader.Name, "music");
}

}  // namespace
}  // namespace vandrel
