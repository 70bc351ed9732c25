#include "script/Variables.h"

#include <gtest/gtest.h>

#include "ScriptTestUtil.h"
#include "script/CollectionWrappers.h"

namespace vandrel {
namespace {

using testing::MainProc;
using testing::TScriptRun;

TEST(ScriptVariables, ParentChainLookupAndHostWrites) {
  TVariableList root, mid, leaf;
  mid.SetParent(&root);
  leaf.SetParent(&mid);
  root.SetInteger("Shared", 1);
  mid.SetString("Name", "mid");
  EXPECT_EQ(leaf.Find("shared"), root.FindLocal("Shared"));
  EXPECT_EQ(leaf.Find("NAME")->Text, "mid");
  EXPECT_EQ(leaf.FindLocal("name"), nullptr);
  EXPECT_EQ(leaf.Root(), &root);
  EXPECT_EQ(root.Root(), nullptr);
  EXPECT_EQ(root.Outermost(), &root);
  // A cycle would make every lookup endless: refused.
  root.SetParent(&leaf);
  EXPECT_EQ(root.Parent(), nullptr);
  root.SetParent(&root);
  EXPECT_EQ(root.Parent(), nullptr);
  TVariableList extra;
  leaf.AppendParent(&extra);
  EXPECT_EQ(root.Parent(), &extra);
  root.SetParent(nullptr);

  // Hosts write read-only variables; scripts may not.
  TVariable* c = leaf.DefineConstant("Iteration", THostValue(int64_t{0}));
  EXPECT_TRUE(c->ReadOnly);
  leaf.SetValue("Iteration", THostValue(int64_t{2}));
  EXPECT_EQ(leaf.GetInteger("Iteration", -1), 2);
  EXPECT_TRUE(leaf.Find("Iteration")->ReadOnly);
  EXPECT_EQ(leaf.GetInteger("missing", 7), 7);
  EXPECT_EQ(leaf.GetString("missing", "d"), "d");
  EXPECT_TRUE(leaf.GetHostValue("missing").IsEmpty());
}

TEST(ScriptVariables, SharedEntriesSurviveClearAndCopy) {
  auto list = std::make_unique<TVariableList>();
  auto coll = std::make_shared<TZnCollection>();
  TVariablePtr wrapper = coll->MakeWrapper("Rules", nullptr);
  list->AddShared("Rules", wrapper);
  list->SetInteger("x", 3);
  TVariablePtr owned = list->FindShared("x");
  TVariableList copy;
  copy.CopyFrom(*list);
  EXPECT_EQ(copy.Find("Rules"), wrapper.get()) << "shared entries are the same object";
  EXPECT_NE(copy.Find("x"), owned.get()) << "owned entries are cloned";
  EXPECT_EQ(copy.Find("x")->AsInteger(), 3);
  list->Clear();
  EXPECT_EQ(list->Find("Rules"), nullptr);
  EXPECT_EQ(wrapper->Name, "Rules");  // still alive and intact
  EXPECT_EQ(owned->Owner, nullptr);
  list.reset();
  EXPECT_EQ(copy.Find("Rules")->AsCollection()->Current(), nullptr);
  // A cloned wrapper stays a wrapper of the same object.
  TVariablePtr clone = wrapper->Clone();
  ASSERT_NE(clone->AsCollection(), nullptr);
  EXPECT_EQ(clone->ObjectRef, wrapper->ObjectRef);
}

TEST(ScriptVariables, ValueWrapperProperties) {
  auto owner = std::make_shared<TZnCollectionRecord>("k");
  TBaseEvalItem& field = owner->Field("price");
  TBaseEvalItemWrapper w("price", &field, owner, nullptr);
  w.SetProperty("moneyvalue", THostValue(12.5));
  w.SetProperty("moneycode", THostValue("EUR"));
  EXPECT_EQ(field.DataType, dtMoney);
  EXPECT_EQ(w.GetProperty("moneycode").AsString(), "EUR");
  EXPECT_EQ(w.GetProperty("floatvalue").AsFloat(), 12.5);
  EXPECT_TRUE(w.GetProperty("value").IsFloat());
  w.SetProperty("datatype", THostValue(int64_t{dtInteger}));
  EXPECT_EQ(w.GetProperty("integervalue").AsInteger(), 12);
  w.SetProperty("stringvalue", THostValue("abc"));
  EXPECT_EQ(w.GetProperty("").AsString(), "abc");
  EXPECT_TRUE(w.GetProperty("nosuch").IsEmpty());
  w.SetProperty("nosuch", THostValue(1));
  EXPECT_EQ(w.ErrorCode, 0);
}

TEST(ScriptCollections, DefaultKeysSortingAndCase) {
  TScriptRun r(
      MainProc("c[\"b\"] = \"bee\"\nc[\"\"] = \"default text\"\nrv = c.records\n"
               "WriteOutput c, c[\"nosuch\"], c[\"b\"], rv[\"b\"].key\n"
               "c.sorted = True\nc.add(\"A\")\nFor each x in c\n  WriteOutput x.key\nEndFor\n"
               "c.casesensitive = True\nWriteOutput c.find(\"a\"), c.find(\"A\"), rv.count\n"
               "l = CreateStringList\nl.add(\"b\")\nl.add(\"a\")\nl.sorted = True\nWriteOutput l.add(\"B\"), "
               "l[1], l[2]\n"
               "l[1] = \"z\"\nWriteOutput l.find(\"Z\"), l.count\nl.clear\nWriteOutput l.count"));
  auto coll = std::make_shared<TZnCollection>();
  coll->DefaultKey = "ENG";
  r.Compiler.Variables().AddShared("c", coll->MakeWrapper("c", &r.Compiler));
  ASSERT_EQ(r.Run("Main"), 0) << r.LastErrorText();
  // With a default key, `c.sorted = ...` is an indexed write to the default record's field "sorted"
  // (the bare name has default access), so neither switch changes the collection here.
  EXPECT_EQ(r.Output, (std::vector<std::string>{"default text default text bee b", "b", "ENG", "A", "1 1 3",
                                                "2 a b", "1 3", "0"}));
  EXPECT_EQ(coll->Find("ENG")->FindField("sorted")->DataType, dtBoolean);
}

TEST(ScriptCollections, RecordFieldsAndDefaults) {
  TZnCollection c;
  auto plain = c.Add("a");
  EXPECT_EQ(plain->FieldCount(), 0u);
  plain->DefaultValue().SetInteger(1);
  EXPECT_EQ(plain->FieldName(0), TZnCollectionRecord::kDefaultValueName);
  auto first = c.Add("b");
  first->Field("price").SetInteger(5);
  EXPECT_EQ(&first->DefaultValue(), first->FindField("PRICE")) << "the first field is the default value";
  auto valued = c.AddWithValue("d", THostValue(int64_t{7}));
  EXPECT_EQ(valued->DefaultValue().AsInteger(), 7);
  c.Add("a");
  EXPECT_EQ(c.Count(), 4u) << "duplicate keys are accepted";
  EXPECT_EQ(c.Find("A"), plain);
  EXPECT_EQ(c.FindOrDefault("zz"), nullptr);
}

TEST(ScriptCollections, StringListSplitAndBounds) {
  TZnStringList l;
  EXPECT_EQ(l.Split("x,y,,z", ","), 3u);
  EXPECT_EQ(l.Items(), (std::vector<std::string>{"x", "y", "", "z"}));
  EXPECT_EQ(l.Split("abc", ""), 4u) << "an empty separator adds the text whole";
  EXPECT_EQ(l.Split("1<>2<>", "<>"), 7u);
  EXPECT_EQ(l.Count(), 8u);
  EXPECT_EQ(l.IndexOf("Y"), 1);
  l.SetCaseSensitive(true);
  EXPECT_EQ(l.IndexOf("Y"), -1);
  EXPECT_THROW(l.At(8), EScriptFault);
  TScriptRun r(MainProc("l = CreateStringList\nl.add(\"a\")\nl[2] = \"b\""));
  EXPECT_EQ(r.Run("Main"), 128);
  EXPECT_EQ(r.LastErrorText(), "List error: List index out of bounds (1)");
}

}  // namespace
}  // namespace vandrel
