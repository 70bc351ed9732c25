#include "storage/BlobCodecs.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

namespace vandrel {

const char* const kInvalidFieldTypeMessage =
    "TSearchStorage_Codebase.FieldsAndDefinitionsFromStream: Invalid field type";

namespace {

constexpr const char* kCutShort = "The stored field values are cut short";

// Little-endian writer.
class TBlobWriter {
 public:
  void Byte(uint8_t b) { Out_.push_back(static_cast<char>(b)); }
  void U16(uint16_t v) { Le(v, 2); }
  void U32(uint32_t v) { Le(v, 4); }
  void Double(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    Le(bits, 8);
  }
  void String(std::string_view s) {
    U32(static_cast<uint32_t>(s.size()));
    Out_.append(s);
  }
  std::string Take() { return std::move(Out_); }

 private:
  void Le(uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) Out_.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  }
  std::string Out_;
};

// Little-endian reader; every length is checked against what remains, so no read leaves the blob.
class TBlobReader {
 public:
  explicit TBlobReader(std::string_view bytes) : In_(bytes) {}
  size_t Remaining() const { return In_.size() - Pos_; }
  bool Byte(uint8_t& v) { return Le(v); }
  bool U16(uint16_t& v) { return Le(v); }
  bool U32(uint32_t& v) { return Le(v); }
  bool Double(double& v) {
    uint64_t bits;
    if (!Le(bits)) return false;
    std::memcpy(&v, &bits, sizeof v);
    return true;
  }
  bool String(std::string& s) {
    uint32_t n;
    if (!U32(n) || n > Remaining()) return false;
    s.assign(In_.substr(Pos_, n));
    Pos_ += n;
    return true;
  }

 private:
  // An unsigned number of sizeof(T) bytes; `v` is left alone when fewer remain.
  template <class T>
  bool Le(T& v) {
    if (sizeof(T) > Remaining()) return false;
    uint64_t x = 0;
    for (size_t i = 0; i < sizeof(T); ++i)
      x |= static_cast<uint64_t>(static_cast<uint8_t>(In_[Pos_ + i])) << (8 * i);
    Pos_ += sizeof(T);
    v = static_cast<T>(x);
    return true;
  }
  std::string_view In_;
  size_t Pos_ = 0;
};

int32_t ClampToInt32(int64_t v) {
  return static_cast<int32_t>(
      std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

// Writes a value by its declared type; false for a type the layout has no place for.
bool WriteValue(TBlobWriter& w, TStorageFieldType type, const TDynamicValue& value) {
  switch (type) {
    case TStorageFieldType::ftBoolean:
      w.U16(value.AsBoolean() ? 1 : 0);
      return true;
    case TStorageFieldType::ftDouble:
      w.Double(value.AsDouble());
      return true;
    case TStorageFieldType::ftInteger:
      w.U32(static_cast<uint32_t>(ClampToInt32(value.AsInteger())));
      return true;
    case TStorageFieldType::ftString:
    case TStorageFieldType::ftMoney:
      w.String(value.AsString());
      return true;
  }
  return false;
}

enum class TReadOutcome { roOk, roShort, roBadType };

TReadOutcome ReadValue(TBlobReader& r, uint8_t type, TDynamicValue& value) {
  switch (static_cast<TStorageFieldType>(type)) {
    case TStorageFieldType::ftBoolean: {
      uint16_t v;
      if (!r.U16(v)) return TReadOutcome::roShort;
      value = TDynamicValue(v != 0);
      return TReadOutcome::roOk;
    }
    case TStorageFieldType::ftDouble: {
      double v;
      if (!r.Double(v)) return TReadOutcome::roShort;
      value = TDynamicValue(v);
      return TReadOutcome::roOk;
    }
    case TStorageFieldType::ftInteger: {
      uint32_t v;
      if (!r.U32(v)) return TReadOutcome::roShort;
      value = TDynamicValue(static_cast<int64_t>(static_cast<int32_t>(v)));
      return TReadOutcome::roOk;
    }
    case TStorageFieldType::ftString:
    case TStorageFieldType::ftMoney: {
      std::string s;
      if (!r.String(s)) return TReadOutcome::roShort;
      value = TDynamicValue(std::move(s));
      return TReadOutcome::roOk;
    }
  }
  return TReadOutcome::roBadType;
}

bool Fail(std::string& error, TReadOutcome outcome) {
  error = outcome == TReadOutcome::roBadType ? kInvalidFieldTypeMessage : kCutShort;
  return false;
}

}  // namespace

std::string EncodeSearchValues(const TStorageFieldDefinitionList& definitions,
                               const TStorageFieldList& fields) {
  TBlobWriter w;
  w.U32(static_cast<uint32_t>(definitions.Count()));
  for (size_t i = 0; i < definitions.Count(); ++i) {
    const TStorageFieldDefinitionItem* d = definitions.Definition(i);
    const TStorageFieldItem* f = fields.Find(d->Name);
    if (f == nullptr) {
      w.Byte(0);
      continue;
    }
    w.Byte(1);
    w.String(d->Name);
    w.String(d->DisplayName);
    w.Byte(static_cast<uint8_t>(d->FieldType));
    WriteValue(w, d->FieldType, f->Value());
  }
  return w.Take();
}

bool DecodeSearchValues(std::string_view blob, TStorageFieldDefinitionList& definitions,
                        TStorageFieldList& fields, std::string& error) {
  definitions.Clear();
  fields.Clear();
  TBlobReader r(blob);
  uint32_t count;
  if (!r.U32(count)) return Fail(error, TReadOutcome::roShort);
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t present;
    if (!r.Byte(present)) return Fail(error, TReadOutcome::roShort);
    if (present == 0) continue;
    std::string name, displayName;
    uint8_t type;
    if (!r.String(name) || !r.String(displayName) || !r.Byte(type)) return Fail(error, TReadOutcome::roShort);
    TDynamicValue value;
    if (auto outcome = ReadValue(r, type, value); outcome != TReadOutcome::roOk) return Fail(error, outcome);
    auto* d = static_cast<TStorageFieldDefinitionItem*>(definitions.Add());
    d->Name = name;
    d->DisplayName = std::move(displayName);
    d->FieldType = static_cast<TStorageFieldType>(type);
    fields.AddField(name, value);
  }
  return true;
}

std::string EncodeResultValues(const TStorageFieldDefinitionList& definitions,
                               const std::vector<TBlobFieldValue>& fields) {
  TBlobWriter w;
  for (size_t i = 0; i < definitions.Count(); ++i) {
    const TStorageFieldDefinitionItem* d = definitions.Definition(i);
    auto f = std::find_if(fields.begin(), fields.end(),
                          [&](const TBlobFieldValue& v) { return SameName(v.Name, d->Name); });
    if (f == fields.end()) {
      w.Byte(0);
      continue;
    }
    w.Byte(1);
    if (!WriteValue(w, d->FieldType, f->Value)) w.String(f->Value.AsString());
    if (d->FieldType == TStorageFieldType::ftMoney) continue;
    bool sameText = f->Value.Kind() == TDynamicValue::TKind::String && f->Value.AsString() == f->DisplayValue;
    w.String(sameText ? std::string_view() : std::string_view(f->DisplayValue));
  }
  return w.Take();
}

bool DecodeResultValues(std::string_view blob, const TStorageFieldDefinitionList& definitions,
                        std::vector<TBlobFieldValue>& fields, std::string& error) {
  fields.clear();
  TBlobReader r(blob);
  for (size_t i = 0; i < definitions.Count(); ++i) {
    const TStorageFieldDefinitionItem* d = definitions.Definition(i);
    uint8_t present;
    if (!r.Byte(present)) return Fail(error, TReadOutcome::roShort);
    if (present == 0) continue;
    TBlobFieldValue f{d->Name, {}, {}};
    if (auto outcome = ReadValue(r, static_cast<uint8_t>(d->FieldType), f.Value);
        outcome != TReadOutcome::roOk)
      return Fail(error, outcome);
    if (d->FieldType != TStorageFieldType::ftMoney) {
      if (!r.String(f.DisplayValue)) return Fail(error, TReadOutcome::roShort);
      if (f.DisplayValue.empty() && d->FieldType == TStorageFieldType::ftString)
        f.DisplayValue = f.Value.AsString();
    }
    fields.push_back(std::move(f));
  }
  return true;
}

std::string EncodeSortKeys(const storage::TSortKeyList& keys) {
  TBlobWriter w;
  w.U32(static_cast<uint32_t>(keys.Count()));
  for (size_t i = 0; i < keys.Count(); ++i) {
    w.String(keys.Key(i)->Field);
    w.Byte(static_cast<uint8_t>(keys.Key(i)->SortDirection));
  }
  return w.Take();
}

bool DecodeSortKeys(std::string_view blob, storage::TSortKeyList& keys, std::string& error) {
  keys.Clear();
  TBlobReader r(blob);
  uint32_t count;
  if (!r.U32(count)) return Fail(error, TReadOutcome::roShort);
  for (uint32_t i = 0; i < count; ++i) {
    std::string field;
    uint8_t direction;
    if (!r.String(field) || !r.Byte(direction)) return Fail(error, TReadOutcome::roShort);
    keys.AddKey(field,
                direction == 0 ? TSortKeySortDirection::ksdAscending : TSortKeySortDirection::ksdDescending);
  }
  return true;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) out += "\r\n";
    out += lines[i];
  }
  return out;
}

std::vector<std::string> SplitLines(std::string_view memo) {
  std::vector<std::string> lines;
  if (memo.empty()) return lines;
  size_t start = 0;
  for (;;) {
    size_t end = memo.find("\r\n", start);
    if (end == std::string_view::npos) {
      lines.emplace_back(memo.substr(start));
      return lines;
    }
    lines.emplace_back(memo.substr(start, end - start));
    start = end + 2;
  }
}

}  // namespace vandrel
