#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "storage/PersistentLists.h"
#include "storage/PropertyStream.h"

namespace vandrel {
namespace {

enum class TShade : uint8_t { Light, Dark, Clear };

class TTestRecord : public TPersistentEx {
  VANDREL_PERSISTENT(TTestRecord)
 public:
  int32_t Count = 0;
  int32_t Limit = 7;  // declared default 7
  std::string Title;
  bool Flag = false;
  TShade Shade = TShade::Light;
  uint32_t Marks = 0;
  double Price = 0;
  TDynamicValue Value;
  TPersistentMemoryStream Data;
  TStrings Lines;
};

const TClassInfo& TTestRecord::StaticClass() {
  static const TClassInfo info = TClassBuilder<TTestRecord>("TTestRecord", TPersistentEx::StaticClass())
                                     .Integer("Count", &TTestRecord::Count)
                                     .Integer("Limit", &TTestRecord::Limit, 7)
                                     .String("Title", &TTestRecord::Title)
                                     .Boolean("Flag", &TTestRecord::Flag)
                                     .Enum("Shade", &TTestRecord::Shade, {"shLight", "shDark", "shClear"})
                                     .Set("Marks", &TTestRecord::Marks, {"mkRed", "mkGreen", "mkBlue"})
                                     .Float("Price", &TTestRecord::Price)
                                     .Variant("Value", &TTestRecord::Value)
                                     .Object("Data", &TTestRecord::Data)
                                     .Object("Lines", &TTestRecord::Lines)
                                     .Build();
  return info;
}

class TTestNamed : public TCollectionItem {
  VANDREL_PERSISTENT(TTestNamed)
 public:
  std::string Name;
};

const TClassInfo& TTestNamed::StaticClass() {
  static const TClassInfo info = TClassBuilder<TTestNamed>("TTestNamed", TCollectionItem::StaticClass())
                                     .String("Name", &TTestNamed::Name)
                                     .Build();
  return info;
}

class TTestHolder : public TPersistentEx {
  VANDREL_PERSISTENT(TTestHolder)
 public:
  TCollection Names{TTestNamed::StaticClass()};
};

const TClassInfo& TTestHolder::StaticClass() {
  static const TClassInfo info = TClassBuilder<TTestHolder>("TTestHolder", TPersistentEx::StaticClass())
                                     .Object("Names", &TTestHolder::Names)
                                     .Build();
  return info;
}

class PropertyStream : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterClass(TTestRecord::StaticClass());
    RegisterClass(TTestHolder::StaticClass());
    RegisterClass(TPersistentList::StaticClass());
  }
};

TBytes Bytes(std::initializer_list<int> values) {
  TBytes out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

TBytes PropertiesOf(const TPersistent& object) {
  TBytes out;
  TPropertyWriter writer(out);
  WriteProperties(writer, object);
  return out;
}

TBytes WithName(std::string_view name, TBytes value) {
  TBytes out{static_cast<uint8_t>(name.size())};
  out.insert(out.end(), name.begin(), name.end());
  out.insert(out.end(), value.begin(), value.end());
  return out;
}

TEST_F(PropertyStream, IntegersTakeTheSmallestTag) {
  TTestRecord r;
  struct {
    int32_t value;
    TBytes bytes;
  } cases[] = {
      {100, Bytes({2, 100})},
      {-128, Bytes({2, 0x80})},
      {1000, Bytes({3, 0xE8, 0x03})},
      {-129, Bytes({3, 0x7F, 0xFF})},
      {100000, Bytes({4, 0xA0, 0x86, 0x01, 0x00})},
      {INT32_MIN, Bytes({4, 0, 0, 0, 0x80})},
  };
  for (const auto& c : cases) {
    r.Count = c.value;
    EXPECT_EQ(PropertiesOf(r), WithName("Count", c.bytes)) << c.value;
    TTestRecord back;
    TBytes list = PropertiesOf(r);
    list.insert(list.begin(), 1);
    list.push_back(0);
    ReadPropertyList(list, back);
    EXPECT_EQ(back.Count, c.value);
  }
}

TEST_F(PropertyStream, StringsSwitchToTheLongTagAfter255Bytes) {
  TTestRecord r;
  r.Title = std::string(255, 'a');
  TBytes expected = Bytes({6, 255});
  expected.insert(expected.end(), 255, 'a');
  EXPECT_EQ(PropertiesOf(r), WithName("Title", expected));

  r.Title = std::string(256, 'b');
  expected = Bytes({12, 0x00, 0x01, 0x00, 0x00});
  expected.insert(expected.end(), 256, 'b');
  EXPECT_EQ(PropertiesOf(r), WithName("Title", expected));
  TTestRecord back;
  AssignByStream(r, back);
  EXPECT_EQ(back.Title, r.Title);
}

TEST_F(PropertyStream, OtherValueKinds) {
  TTestRecord r;
  r.Flag = true;
  r.Shade = TShade::Dark;
  r.Marks = 0b101;
  r.Price = 1.5;
  TBytes expected = WithName("Flag", Bytes({9}));
  auto append = [&](TBytes more) { expected.insert(expected.end(), more.begin(), more.end()); };
  append(WithName("Shade", Bytes({7, 6, 's', 'h', 'D', 'a', 'r', 'k'})));
  append(WithName("Marks", Bytes({11, 5, 'm', 'k', 'R', 'e', 'd', 6, 'm', 'k', 'B', 'l', 'u', 'e', 0})));
  append(WithName("Price", Bytes({5, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0xFF, 0x3F})));
  EXPECT_EQ(PropertiesOf(r), expected);

  r.Value = TDynamicValue(std::string("x"));
  TTestRecord back;
  AssignByStream(r, back);
  EXPECT_TRUE(back.Flag);
  EXPECT_EQ(back.Shade, TShade::Dark);
  EXPECT_EQ(back.Marks, 0b101u);
  EXPECT_EQ(back.Price, 1.5);
  EXPECT_EQ(back.Value, r.Value);
}

TEST_F(PropertyStream, ExtendedFloatsRoundTrip) {
  for (double v :
       {0.0, -0.0, 1.0, -2.75, 1e300, 1e-300, 4.9e-324, 0.1, std::numeric_limits<double>::infinity()}) {
    TTestRecord r, back;
    r.Price = v;
    AssignByStream(r, back);
    EXPECT_EQ(back.Price, v);
  }
  TTestRecord r, back;
  r.Value = TDynamicValue(std::nan(""));
  AssignByStream(r, back);
  EXPECT_TRUE(std::isnan(back.Value.AsDouble()));
}

TEST_F(PropertyStream, DefaultsAreNotWrittenAndStayAsConstructed) {
  TTestRecord r;
  EXPECT_TRUE(PropertiesOf(r).empty());
  r.Limit = 0;  // differs from the declared default 7
  EXPECT_EQ(PropertiesOf(r), WithName("Limit", Bytes({2, 0})));
  TTestRecord back;
  back.Count = 42;
  ReadPropertyList(Bytes({1, 0}), back);
  EXPECT_EQ(back.Count, 42);
  EXPECT_EQ(back.Limit, 7);
}

TEST_F(PropertyStream, NestedStreamValueAndStrings) {
  TTestRecord r;
  r.Data.Data = {0xAA, 0xBB};
  r.Lines.Lines = {"one", "two"};
  TBytes expected = WithName("Data.Stream", Bytes({10, 6, 0, 0, 0, 2, 0, 0, 0, 0xAA, 0xBB}));
  TBytes lines = WithName("Lines.Strings", Bytes({1, 6, 3, 'o', 'n', 'e', 6, 3, 't', 'w', 'o', 0}));
  expected.insert(expected.end(), lines.begin(), lines.end());
  EXPECT_EQ(PropertiesOf(r), expected);

  TTestRecord back;
  AssignByStream(r, back);
  EXPECT_EQ(back.Data.Data, r.Data.Data);
  EXPECT_EQ(back.Lines.Lines, r.Lines.Lines);

  // An inner length beyond its block is refused, not read past.
  TBytes bad = Bytes({1});
  TBytes prop = WithName("Data.Stream", Bytes({10, 6, 0, 0, 0, 9, 0, 0, 0, 0xAA, 0xBB}));
  bad.insert(bad.end(), prop.begin(), prop.end());
  bad.push_back(0);
  EXPECT_THROW(ReadPropertyList(bad, back), EReadError);
}

TEST_F(PropertyStream, CollectionsRoundTrip) {
  TTestHolder h;
  static_cast<TTestNamed*>(h.Names.Add())->Name = "a";
  static_cast<TTestNamed*>(h.Names.Add())->Name = "b";
  TBytes expected = WithName("Names", Bytes({14, 1, 4,   'N', 'a', 'm', 'e', 6, 1,   'a', 0,
                                             1,  4, 'N', 'a', 'm', 'e', 6,   1, 'b', 0,   0}));
  EXPECT_EQ(PropertiesOf(h), expected);
  TTestHolder back;
  back.Names.Add();
  AssignByStream(h, back);
  ASSERT_EQ(back.Names.Count(), 2u);
  EXPECT_EQ(static_cast<TTestNamed*>(back.Names.Item(1))->Name, "b");
}

TEST_F(PropertyStream, WholeObjectStreamOfAList) {
  TPersistentList list;
  auto record = std::make_unique<TTestRecord>();
  record->Count = 1;
  list.Add(std::move(record));
  TBytes bytes;
  WriteObjectStream(bytes, list);
  TBytes expected = Bytes({'T', 'P', 'F', '0', 15});
  std::string cls = "TPersistentList";
  expected.insert(expected.end(), cls.begin(), cls.end());
  expected.push_back(0);  // no object name
  TBytes data =
      WithName("ObjectData", Bytes({6, 11, 'T', 'T', 'e', 's', 't', 'R', 'e', 'c', 'o', 'r', 'd', 1}));
  expected.insert(expected.end(), data.begin(), data.end());
  TBytes count = WithName("Count", Bytes({2, 1}));
  expected.insert(expected.end(), count.begin(), count.end());
  for (int i = 0; i < 4; ++i) expected.push_back(0);  // object, ObjectData, properties, children
  EXPECT_EQ(bytes, expected);
  EXPECT_GT(bytes.capacity(), bytes.size());  // room reserved, not written

  // Trailing bytes after the final end of list are ignored.
  bytes.insert(bytes.end(), {0xDE, 0xAD, 0xBE, 0xEF});
  TPersistentList back;
  ReadObjectStream(bytes, back);
  ASSERT_EQ(back.Count(), 1u);
  EXPECT_EQ(back.ItemAs<TTestRecord>(0)->Count, 1);
  EXPECT_EQ(back.EstimateSize(), list.EstimateSize());
  EXPECT_GT(list.EstimateSize(), 0u);
}

TEST_F(PropertyStream, ReservingRoomNeverCutsWhatIsAlreadyWritten) {
  TPersistentList list;
  for (int i = 0; i < 500; ++i) {
    auto record = std::make_unique<TTestRecord>();
    record->Title = std::string(static_cast<size_t>(i % 50), 'x');
    list.Add(std::move(record));
  }
  TBytes alone;
  WriteObjectStream(alone, list);
  TBytes behind(10000, 0x5A);  // content ahead of the list in the same buffer
  WriteObjectStream(behind, list);
  ASSERT_EQ(behind.size(), 10000 + alone.size());
  EXPECT_TRUE(std::all_of(behind.begin(), behind.begin() + 10000, [](uint8_t b) { return b == 0x5A; }));
  EXPECT_TRUE(std::equal(alone.begin(), alone.end(), behind.begin() + 10000));
}

TEST_F(PropertyStream, UnknownNamesAreErrors) {
  TPersistentList list;
  TBytes bytes = Bytes({1});
  TBytes data = WithName("ObjectData", Bytes({6, 6, 'T', 'N', 'o', 'p', 'e', 'X', 1, 0, 0}));
  bytes.insert(bytes.end(), data.begin(), data.end());
  bytes.push_back(0);
  try {
    ReadPropertyList(bytes, list);
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Class TNopeX not found");
  }
  TTestRecord r;
  EXPECT_THROW(ReadPropertyList(WithName("\x01", {}), r), EReadError);
  TBytes unknown = Bytes({1});
  TBytes prop = WithName("Bogus", Bytes({2, 1}));
  unknown.insert(unknown.end(), prop.begin(), prop.end());
  unknown.push_back(0);
  EXPECT_THROW(ReadPropertyList(unknown, r), EReadError);
  EXPECT_THROW(ReadObjectStream(Bytes({'T', 'P', 'F'}), list), EReadError);
}

TEST_F(PropertyStream, EveryTruncationAndCorruptionIsAnError) {
  TPersistentList list;
  auto record = std::make_unique<TTestRecord>();
  record->Count = 100000;
  record->Title = std::string(300, 't');
  record->Data.Data = {1, 2, 3};
  record->Lines.Lines = {"x"};
  record->Value = TDynamicValue(2.5);
  record->Marks = 2;
  list.Add(std::move(record));
  TBytes good;
  WriteObjectStream(good, list);
  for (size_t len = 0; len < good.size(); ++len) {
    TBytes cut(good.begin(), good.begin() + static_cast<ptrdiff_t>(len));
    TPersistentList back;
    EXPECT_THROW(ReadObjectStream(cut, back), EReadError) << len;
  }
  // Flipping any byte either still reads or fails cleanly.
  for (size_t i = 0; i < good.size(); ++i) {
    for (uint8_t v : {0x00, 0x01, 0x7F, 0xFF}) {
      TBytes bad = good;
      bad[i] = v;
      TPersistentList back;
      try {
        ReadObjectStream(bad, back);
      } catch (const EReadError&) {
      }
    }
  }
  // Deep nesting is refused before the stack runs out.
  TBytes deep = Bytes({1});
  TBytes prop = WithName("Value", {});
  deep.insert(deep.end(), prop.begin(), prop.end());
  deep.insert(deep.end(), 100000, 1);
  TPropertyReader reader(deep.data() + deep.size() - 100000, 100000);
  EXPECT_THROW(reader.SkipValue(), EReadError);
}

}  // namespace
}  // namespace vandrel
