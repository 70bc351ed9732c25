// The blob layouts of search values, result values and sort keys, and their refusal of damaged bytes.
#include "storage/BlobCodecs.h"

#include <gtest/gtest.h>

namespace vandrel {
namespace {

using FT = TStorageFieldType;

void AddDefinition(TStorageFieldDefinitionList& list, const std::string& name, FT type) {
  auto* d = static_cast<TStorageFieldDefinitionItem*>(list.Add());
  d->Name = name;
  d->DisplayName = name + " shown";
  d->FieldType = type;
}

std::string Hex(std::string_view bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

TEST(BlobCodecs, SearchValuesRoundTripByNameAndLeaveOutDefinitionsWithoutValue) {
  TStorageFieldDefinitionList defs;
  AddDefinition(defs, "Flag", FT::ftBoolean);
  AddDefinition(defs, "Ratio", FT::ftDouble);
  AddDefinition(defs, "Missing", FT::ftString);
  AddDefinition(defs, "Count", FT::ftInteger);
  AddDefinition(defs, "Title", FT::ftString);
  TStorageFieldList fields;
  fields.AddField("title", TDynamicValue("dune"));  // found by name, whatever the case
  fields.AddField("Count", TDynamicValue(int64_t{-7}));
  fields.AddField("Flag", TDynamicValue(false));
  fields.AddField("Ratio", TDynamicValue(2.5));

  std::string blob = EncodeSearchValues(defs, fields);
  EXPECT_EQ(Hex(blob.substr(0, 5)), "0500000001");  // count 5, first definition present

  TStorageFieldDefinitionList readDefs;
  TStorageFieldList readFields;
  AddDefinition(readDefs, "stale", FT::ftString);  // cleared by the read
  std::string error;
  ASSERT_TRUE(DecodeSearchValues(blob, readDefs, readFields, error)) << error;
  ASSERT_EQ(readDefs.Count(), 4u);
  ASSERT_EQ(readFields.Count(), 4u);
  EXPECT_EQ(readDefs.Definition(0)->Name, "Flag");
  EXPECT_EQ(readDefs.Definition(0)->DisplayName, "Flag shown");
  EXPECT_EQ(readFields.Field(0)->Value(), TDynamicValue(false));
  EXPECT_EQ(readFields.Field(1)->Value(), TDynamicValue(2.5));
  EXPECT_EQ(readDefs.Definition(2)->Name, "Count");
  EXPECT_EQ(readFields.Field(2)->Value(), TDynamicValue(int64_t{-7}));
  EXPECT_EQ(readDefs.Definition(3)->FieldType, FT::ftString);
  EXPECT_EQ(readFields.Field(3)->Value(), TDynamicValue("dune"));
}

TEST(BlobCodecs, SearchValuesBooleanOtherThanOneReadsTrue) {
  std::string blob("\x01\x00\x00\x00\x01", 5);
  blob += std::string("\x01\x00\x00\x00", 4) + "B" + std::string(4, '\0') + std::string("\x00\x07\x00", 3);
  TStorageFieldDefinitionList defs;
  TStorageFieldList fields;
  std::string error;
  ASSERT_TRUE(DecodeSearchValues(blob, defs, fields, error)) << error;
  EXPECT_EQ(fields.Field(0)->Value(), TDynamicValue(true));
}

TEST(BlobCodecs, DamagedSearchValuesAreRefusedWithoutReadingPastTheEnd) {
  TStorageFieldDefinitionList defs;
  AddDefinition(defs, "Title", FT::ftString);
  TStorageFieldList fields;
  fields.AddField("Title", TDynamicValue(std::string(40, 't')));
  std::string good = EncodeSearchValues(defs, fields);
  std::string error;
  TStorageFieldDefinitionList outDefs;
  TStorageFieldList outFields;
  for (size_t cut = 0; cut < good.size(); ++cut) {
    EXPECT_FALSE(DecodeSearchValues(good.substr(0, cut), outDefs, outFields, error)) << cut;
  }
  // A type byte beyond the known ones.
  std::string badType = good;
  badType[4 + 1 + 4 + 5 + 4 + 11] = 9;
  EXPECT_FALSE(DecodeSearchValues(badType, outDefs, outFields, error));
  EXPECT_EQ(error, kInvalidFieldTypeMessage);
  // A string length far beyond the blob.
  std::string huge = good;
  huge[4 + 1 + 3] = '\x7f';
  EXPECT_FALSE(DecodeSearchValues(huge, outDefs, outFields, error));
  // A count that claims more definitions than there are bytes.
  std::string count("\xff\xff\xff\xff\x00", 5);
  EXPECT_FALSE(DecodeSearchValues(count, outDefs, outFields, error));
}

TEST(BlobCodecs, ResultValuesKeepDisplayTextsAndShortenEqualOnes) {
  TStorageFieldDefinitionList defs;
  AddDefinition(defs, "Title", FT::ftString);
  AddDefinition(defs, "Price", FT::ftMoney);
  AddDefinition(defs, "InStock", FT::ftBoolean);
  AddDefinition(defs, "Rank", FT::ftInteger);
  AddDefinition(defs, "Weight", FT::ftDouble);
  AddDefinition(defs, "Store", FT::ftString);
  std::vector<TBlobFieldValue> in{{"Title", TDynamicValue("Dune"), "Dune"},
                                  {"Price", TDynamicValue(std::string("\x01money", 6)), "$ 1.00"},
                                  {"InStock", TDynamicValue(false), "No"},
                                  {"Rank", TDynamicValue(int64_t{3}), ""},
                                  {"Weight", TDynamicValue(0.25), "250 g"}};
  std::string blob = EncodeResultValues(defs, in);
  // Title: present, "Dune", then a display of length 0 because it equals the value.
  EXPECT_EQ(Hex(blob.substr(0, 13)), "010400000044756e6500000000");

  std::vector<TBlobFieldValue> out;
  std::string error;
  ASSERT_TRUE(DecodeResultValues(blob, defs, out, error)) << error;
  ASSERT_EQ(out.size(), 5u);  // Store was absent
  EXPECT_EQ(out[0].DisplayValue, "Dune");
  EXPECT_EQ(out[1].Value, TDynamicValue(std::string("\x01money", 6)));
  EXPECT_EQ(out[1].DisplayValue, "");  // money display is made again from the value
  EXPECT_EQ(out[2].Value, TDynamicValue(false));
  EXPECT_EQ(out[2].DisplayValue, "No");
  EXPECT_EQ(out[3].Value, TDynamicValue(int64_t{3}));
  EXPECT_EQ(out[3].DisplayValue, "");
  EXPECT_EQ(out[4].Value, TDynamicValue(0.25));
  EXPECT_EQ(out[4].DisplayValue, "250 g");

  for (size_t cut = 0; cut < blob.size(); ++cut) {
    EXPECT_FALSE(DecodeResultValues(blob.substr(0, cut), defs, out, error)) << cut;
  }
}

TEST(BlobCodecs, SortKeysAndLinesRoundTrip) {
  storage::TSortKeyList keys;
  keys.AddKey("Title", TSortKeySortDirection::ksdAscending);
  keys.AddKey("Price", TSortKeySortDirection::ksdDescending);
  std::string blob = EncodeSortKeys(keys);
  storage::TSortKeyList back;
  std::string error;
  ASSERT_TRUE(DecodeSortKeys(blob, back, error));
  ASSERT_EQ(back.Count(), 2u);
  EXPECT_EQ(back.Key(1)->Field, "Price");
  EXPECT_EQ(back.Key(1)->SortDirection, TSortKeySortDirection::ksdDescending);
  EXPECT_FALSE(DecodeSortKeys(blob.substr(0, blob.size() - 1), back, error));

  EXPECT_EQ(JoinLines({"a", "", "b"}), "a\r\n\r\nb");
  EXPECT_EQ(SplitLines("a\r\n\r\nb"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_TRUE(SplitLines("").empty());
}

}  // namespace
}  // namespace vandrel
