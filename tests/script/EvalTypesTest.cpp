#include "script/EvalTypes.h"

#include <gtest/gtest.h>

namespace vandrel {
namespace {

TEST(ScriptValues, IntegerReadsTruncateTowardZero) {
  TBaseEvalItem it;
  it.SetFloat(-2.7);
  EXPECT_EQ(it.AsInteger(), -2);
  it.SetFloat(2.7);
  EXPECT_EQ(it.AsInteger(), 2);
  // Whole numbers of 2^31 and beyond (an ISBN-13 kept as a number) do not wrap.
  it.SetInteger(9780345391803LL);
  EXPECT_EQ(it.AsInteger(), 9780345391803LL);
  EXPECT_EQ(it.DataType, dtInteger);
}

TEST(ScriptValues, FixedTypeKeepsTypeAndOtherSlots) {
  TBaseEvalItem it(dtInteger);
  it.SetInteger(7);
  it.TypeFixed = true;
  it.SetString("x");
  EXPECT_EQ(it.DataType, dtInteger);
  EXPECT_EQ(it.Text, "x");
  EXPECT_EQ(it.AsInteger(), 7);
  // Assign copies the type but not the fixed flag.
  TBaseEvalItem other;
  other.Assign(it);
  EXPECT_EQ(other.DataType, dtInteger);
  EXPECT_FALSE(other.TypeFixed);
}

TEST(ScriptValues, HostValuePromotionDependsOnTheCurrentType) {
  TBaseEvalItem unknown, str(dtString), flt(dtFloat), integer(dtInteger);
  FromHostValue(unknown, THostValue(3.0));
  FromHostValue(str, THostValue(3.0));
  FromHostValue(flt, THostValue(3.0));
  FromHostValue(integer, THostValue(3.0));
  EXPECT_EQ(unknown.DataType, dtInteger);
  EXPECT_EQ(str.DataType, dtInteger);
  EXPECT_EQ(flt.DataType, dtFloat);
  EXPECT_EQ(integer.DataType, dtFloat);
  FromHostValue(unknown, THostValue(2.5));
  EXPECT_EQ(unknown.DataType, dtFloat);
  // Empty values make the item Unknown but keep its slots.
  FromHostValue(str, THostValue());
  EXPECT_EQ(str.DataType, dtUnknown);
  EXPECT_EQ(str.Number, 3.0);

  TBaseEvalItem money;
  money.SetMoneyValue(4.25);
  EXPECT_TRUE(ToHostValue(money).IsFloat());
  TBaseEvalItem small(dtSmallInteger);
  EXPECT_TRUE(ToHostValue(small).IsEmpty());
}

TEST(ScriptValues, TypeNamesAndClasses) {
  EXPECT_EQ(DataTypeName(dtSmallInteger), "SmallInteger");
  EXPECT_EQ(DataTypeName(200), "Unknown");
  EXPECT_FALSE(IsNumericType(dtSmallInteger));
  EXPECT_TRUE(IsNumericType(dtMoney));
  EXPECT_FALSE(IsIntegralType(dtSmallInteger));
  EXPECT_TRUE(FitsType(dtInteger, 4.0));
  EXPECT_FALSE(FitsType(dtInteger, 4.5));
  EXPECT_TRUE(FitsType(dtBoolean, 4.5));
  EXPECT_FALSE(FitsType(dtString, 1));
}

TEST(ScriptValues, SignatureChecks) {
  TValueStack st;
  st.PushFloat(1);
  EXPECT_EQ(st.CheckSignature({dtFloat, dtFloat}, true), -1);
  st.Clear();
  st.PushString("a");
  st.PushInteger(2);
  EXPECT_EQ(st.CheckSignature({dtFloat, dtFloat}, true), 2);  // the String, second from the top
  EXPECT_EQ(st.CheckSignature({dtString, dtInteger}, false), 0);
  EXPECT_EQ(st.PeekType(3), dtUnknown);
  EXPECT_EQ(st.PeekType(1), dtInteger);
  // Numeric types, SmallInteger and Object pass for one another; String only for String and Variant.
  EXPECT_TRUE(TypesCompatible(dtObject, dtFloat));
  EXPECT_TRUE(TypesCompatible(dtString, dtVariant));
  EXPECT_FALSE(TypesCompatible(dtUnknown, dtFloat));
  // Pops never check the type.
  EXPECT_EQ(st.PopFloat(), 2);
  EXPECT_EQ(st.PopFloat(), 0);
  EXPECT_TRUE(st.Empty());
}

TEST(ScriptValues, ReferenceTextAndTheMemberStack) {
  TVariableRec r;
  r.Name = "x";
  r.Params = {"1", "\"a\""};
  r.ParamCount = 2;
  r.Member = "m";
  EXPECT_EQ(VariableRecText(r), "x(1, \"a\").m");
  TVRecStack s;
  for (int i = 0; i < 40; ++i) s.Push(r);
  EXPECT_EQ(s.Count(), TVRecStack::kCapacity);
  TVariableRec out;
  out.Name = "keep";
  TVRecStack empty;
  EXPECT_FALSE(empty.Pop(out));
  EXPECT_EQ(out.Name, "keep");
}

}  // namespace
}  // namespace vandrel
