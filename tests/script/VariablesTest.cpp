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

namespace vandrel {
namespace {

TEST(ScriptVariables, LastIndexFollowsTheLastLookupInEachList) {
  TVariableList parent, list;
  list.SetParent(&parent);
  EXPECT_EQ(list.LastIndex(), -1);
  list.SetInteger("Charlie", 3);
  list.SetInteger("alpha", 1);
  list.SetInteger("Bravo", 2);
  parent.SetInteger("Delta", 4);
  // Positions in name order without regard to case.
  ASSERT_NE(list.Find("CHARLIE"), nullptr);
  EXPECT_EQ(list.LastIndex(), 2);
  ASSERT_NE(list.FindLocal("ALPHA"), nullptr);
  EXPECT_EQ(list.LastIndex(), 0);
  ASSERT_NE(list.FindShared("bravo"), nullptr);
  EXPECT_EQ(list.LastIndex(), 1);
  // Found in the parent: a miss here, a hit there.
  ASSERT_NE(list.Find("delta"), nullptr);
  EXPECT_EQ(list.LastIndex(), -1);
  EXPECT_EQ(parent.LastIndex(), 0);
  EXPECT_EQ(list.Find("nosuch"), nullptr);
  EXPECT_EQ(list.LastIndex(), -1);
  EXPECT_EQ(parent.LastIndex(), -1);
  // The position is the entry's place now, and an entry removed since has none.
  list.Add(std::make_shared<TVariable>("Able"));
  EXPECT_EQ(list.LastIndex(), -1);
  list.Find("charlie");
  EXPECT_EQ(list.LastIndex(), 3);
  list.Add(std::make_shared<TVariable>("aardvark"));
  EXPECT_EQ(list.LastIndex(), 4);
  list.Remove("charlie");
  EXPECT_EQ(list.LastIndex(), -1);
  list.Find("bravo");
  list.Clear();
  EXPECT_EQ(list.LastIndex(), -1);
  list.SetParent(nullptr);
}

// Assignments and For counters keep the variable they found while nothing is added or removed; the
// host replacing a variable between runs must still be seen.
TEST(ScriptVariables, StatementsSeeVariablesReplacedBetweenRuns) {
  TScriptRun run(MainProc("x = x + 1\nFor i = 1 to 2\n  y = i\nEndFor"));
  ASSERT_EQ(run.CompileCode, 0);
  TVariableList& vars = run.Compiler.Variables();
  vars.SetInteger("x", 1);
  ASSERT_EQ(run.Run("Main"), 0);
  TVariablePtr oldX = vars.FindShared("x");
  EXPECT_EQ(oldX->AsInteger(), 2);
  vars.Remove("x");
  vars.SetInteger("x", 10);
  vars.Remove("i");
  ASSERT_EQ(run.Run("Main"), 0);
  EXPECT_EQ(vars.GetInteger("x", -1), 11);
  EXPECT_EQ(oldX->AsInteger(), 2);
  EXPECT_EQ(vars.GetInteger("i", -1), 2);
  EXPECT_EQ(vars.GetInteger("y", -1), 2);
  // A read-only or type-fixed replacement is still refused or converted as such.
  vars.Remove("x");
  vars.DefineConstant("x", THostValue(int64_t{1}));
  EXPECT_EQ(run.Run("Main"), 114);
  vars.Remove("x");
  vars.SetString("x", "a", true);
  EXPECT_EQ(run.Run("Main"), 106);
}

}  // namespace
}  // namespace vandrel

namespace vandrel {
namespace {

TEST(ScriptCollections, CollectionsReferringToEachOtherAreFreedWithTheirList) {
  std::weak_ptr<TScriptObject> first, second, third;
  TObjectRef kept;
  {
    TScriptRun run(MainProc(
        "c = CreateCollection\nd = CreateCollection\nc[\"d\"] = d\nd[\"c\"] = c\nc.add(\"self\", c)\n"
        "c[\"n\"] = 5\ne = CreateCollection\ne[\"e\"] = e\ne[\"t\"] = \"text\"\n"
        "f = CreateCollection\nf.add(\"r\", f.add(\"r\", 7))"));
    ASSERT_EQ(run.CompileCode, 0);
    ASSERT_EQ(run.Run("Main"), 0) << run.LastErrorText();
    first = run.Var("c")->ObjectRef;
    second = run.Var("d")->ObjectRef;
    kept = run.Var("e")->ObjectRef;
    // A record holding itself, in a collection whose only holder is its variable.
    third = run.Var("f")->ObjectRef;
    EXPECT_FALSE(first.expired());
  }
  EXPECT_TRUE(first.expired());
  EXPECT_TRUE(second.expired());
  EXPECT_TRUE(third.expired());
  // A collection the host still holds keeps its plain data; only its references to objects are gone.
  auto* coll = dynamic_cast<TZnCollection*>(kept.get());
  ASSERT_NE(coll, nullptr);
  ASSERT_NE(coll->Find("t"), nullptr);
  EXPECT_EQ(coll->Find("t")->DefaultValue().Text, "text");
  EXPECT_EQ(coll->Find("e")->DefaultValue().ObjectRef, nullptr);
}

TEST(ScriptCollections, RecordHoldingItselfIsFreedWhenItsCollectionGoesWithTheList) {
  std::weak_ptr<TScriptObject> record;
  {
    TFuncEvaluator ev;
    ASSERT_TRUE(ev.Evaluate("CreateCollection"));
    ev.Variables()->Add(ev.ObjectRef->MakeWrapper("c", nullptr));
    // The outer add finds the record the inner one made and stores that record in it.
    ASSERT_TRUE(ev.Evaluate("c.add(\"d\", c.add(\"d\", 7))")) << ev.ErrorText;
    auto* carrier = dynamic_cast<TTransporter*>(ev.ObjectRef.get());
    ASSERT_NE(carrier, nullptr);
    record = carrier->Target;
    ev.Evaluate("1");
  }
  EXPECT_TRUE(record.expired());
}

}  // namespace
}  // namespace vandrel
