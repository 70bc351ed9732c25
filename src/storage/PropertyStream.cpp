#include "storage/PropertyStream.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/Format.h"

namespace vandrel {

namespace {

constexpr int kMaxNesting = 64;

// 80-bit extended precision: 64-bit mantissa with an explicit integer bit, 15-bit exponent, sign.
void DoubleToExtended(double value, uint8_t out[10]) {
  uint64_t bits = std::bit_cast<uint64_t>(value);
  uint16_t sign = static_cast<uint16_t>((bits >> 63) << 15);
  int exp = static_cast<int>((bits >> 52) & 0x7FF);
  uint64_t frac = bits & ((uint64_t{1} << 52) - 1);
  uint64_t mantissa = 0;
  uint16_t exponent = 0;
  if (exp == 0x7FF) {
    exponent = 0x7FFF;
    mantissa = (uint64_t{1} << 63) | (frac << 11);
  } else if (exp != 0) {
    exponent = static_cast<uint16_t>(exp - 1023 + 16383);
    mantissa = (uint64_t{1} << 63) | (frac << 11);
  } else if (frac != 0) {
    int top = 63 - std::countl_zero(frac);  // denormal double: normal in extended
    mantissa = frac << (63 - top);
    exponent = static_cast<uint16_t>(top - 1074 + 16383);
  }
  for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(mantissa >> (8 * i));
  uint16_t se = sign | exponent;
  out[8] = static_cast<uint8_t>(se & 0xFF);
  out[9] = static_cast<uint8_t>(se >> 8);
}

double ExtendedToDouble(const uint8_t in[10]) {
  uint64_t mantissa = 0;
  for (int i = 0; i < 8; ++i) mantissa |= static_cast<uint64_t>(in[i]) << (8 * i);
  uint16_t se = static_cast<uint16_t>(in[8] | (in[9] << 8));
  bool negative = (se & 0x8000) != 0;
  int exponent = se & 0x7FFF;
  double value;
  if (exponent == 0x7FFF)
    value = (mantissa << 1) == 0 ? std::numeric_limits<double>::infinity()
                                 : std::numeric_limits<double>::quiet_NaN();
  else
    value = std::ldexp(static_cast<double>(mantissa), exponent - 16383 - 63);
  return negative ? -value : value;
}

template <class T>
void WriteLE(TPropertyWriter& w, T value) {
  using U = std::make_unsigned_t<T>;
  U u = static_cast<U>(value);
  for (size_t i = 0; i < sizeof(T); ++i) w.WriteByte(static_cast<uint8_t>(u >> (8 * i)));
}

}  // namespace

// ---- writer ----

void TPropertyWriter::WriteBytes(const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  Out_.insert(Out_.end(), p, p + size);
}

void TPropertyWriter::WriteShortString(std::string_view s) {
  if (s.size() > 255) s = s.substr(0, 255);
  WriteByte(static_cast<uint8_t>(s.size()));
  WriteBytes(s.data(), s.size());
}

void TPropertyWriter::WriteSignature() {
  WriteBytes("TPF0", 4);
}

void TPropertyWriter::WriteInteger(int64_t value) {
  if (value >= INT8_MIN && value <= INT8_MAX) {
    WriteTag(TValueTag::Int8);
    WriteByte(static_cast<uint8_t>(static_cast<int8_t>(value)));
  } else if (value >= INT16_MIN && value <= INT16_MAX) {
    WriteTag(TValueTag::Int16);
    WriteLE(*this, static_cast<int16_t>(value));
  } else if (value >= INT32_MIN && value <= INT32_MAX) {
    WriteTag(TValueTag::Int32);
    WriteLE(*this, static_cast<int32_t>(value));
  } else {
    WriteFloat(static_cast<double>(value));
  }
}

void TPropertyWriter::WriteString(std::string_view s) {
  if (s.size() <= 255) {
    WriteTag(TValueTag::String);
    WriteByte(static_cast<uint8_t>(s.size()));
  } else {
    WriteTag(TValueTag::LString);
    WriteLE(*this, static_cast<uint32_t>(s.size()));
  }
  WriteBytes(s.data(), s.size());
}

void TPropertyWriter::WriteFloat(double value) {
  WriteTag(TValueTag::Extended);
  uint8_t ext[10];
  DoubleToExtended(value, ext);
  WriteBytes(ext, sizeof ext);
}

void TPropertyWriter::WriteSingle(float value) {
  WriteTag(TValueTag::Single);
  WriteLE(*this, std::bit_cast<uint32_t>(value));
}

void TPropertyWriter::WriteCurrency(int64_t tenThousandths) {
  WriteTag(TValueTag::Currency);
  WriteLE(*this, tenThousandths);
}

void TPropertyWriter::WriteDate(double value) {
  WriteTag(TValueTag::Date);
  WriteLE(*this, std::bit_cast<uint64_t>(value));
}

void TPropertyWriter::WriteIdent(std::string_view name) {
  if (SameName(name, "False")) {
    WriteTag(TValueTag::False);
  } else if (SameName(name, "True")) {
    WriteTag(TValueTag::True);
  } else if (SameName(name, "nil")) {
    WriteTag(TValueTag::Nil);
  } else if (SameName(name, "Null")) {
    WriteTag(TValueTag::Null);
  } else {
    WriteTag(TValueTag::Ident);
    WriteShortString(name);
  }
}

void TPropertyWriter::WriteSet(const std::vector<std::string>& members) {
  WriteTag(TValueTag::Set);
  for (const auto& m : members)
    if (!m.empty()) WriteShortString(m);
  WriteShortString("");
}

void TPropertyWriter::WriteBinary(std::span<const uint8_t> bytes) {
  WriteTag(TValueTag::Binary);
  WriteLE(*this, static_cast<uint32_t>(bytes.size()));
  WriteBytes(bytes.data(), bytes.size());
}

void TPropertyWriter::WriteVariant(const TDynamicValue& value) {
  switch (value.Kind()) {
    case TDynamicValue::TKind::Empty:
      WriteTag(TValueTag::Nil);
      break;
    case TDynamicValue::TKind::Boolean:
      WriteBoolean(value.AsBoolean());
      break;
    case TDynamicValue::TKind::Integer:
      WriteInteger(value.AsInteger());
      break;
    case TDynamicValue::TKind::Double:
      WriteFloat(value.AsDouble());
      break;
    case TDynamicValue::TKind::String:
      WriteString(value.AsString());
      break;
  }
}

// ---- reader ----

void TPropertyReader::Need(size_t count) const {
  if (count > Remaining()) throw EReadError("Stream read error");
}

void TPropertyReader::InvalidValue() {
  throw EReadError("Invalid property value");
}

void TPropertyReader::EnterNested() {
  if (++Depth_ > kMaxNesting) throw EReadError("Invalid stream format");
}

uint8_t TPropertyReader::ReadByte() {
  Need(1);
  return Data_[Pos_++];
}

void TPropertyReader::ReadBytes(void* out, size_t size) {
  Need(size);
  if (size) std::memcpy(out, Data_ + Pos_, size);
  Pos_ += size;
}

uint32_t TPropertyReader::ReadUInt32() {
  uint8_t b[4];
  ReadBytes(b, 4);
  return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

TValueTag TPropertyReader::PeekTag() const {
  Need(1);
  return static_cast<TValueTag>(Data_[Pos_]);
}

std::string TPropertyReader::ReadShortString() {
  uint8_t len = ReadByte();
  Need(len);
  std::string s(reinterpret_cast<const char*>(Data_ + Pos_), len);
  Pos_ += len;
  return s;
}

void TPropertyReader::ReadSignature() {
  char sig[4];
  if (Remaining() < 4) throw EReadError("Invalid stream format");
  ReadBytes(sig, 4);
  if (std::memcmp(sig, "TPF0", 4) != 0) throw EReadError("Invalid stream format");
}

void TPropertyReader::ReadListBegin() {
  if (ReadTag() != TValueTag::List) InvalidValue();
}

void TPropertyReader::ReadListEnd() {
  if (ReadTag() != TValueTag::Null) InvalidValue();
}

int64_t TPropertyReader::ReadInteger() {
  switch (ReadTag()) {
    case TValueTag::Int8:
      return static_cast<int8_t>(ReadByte());
    case TValueTag::Int16: {
      uint8_t b[2];
      ReadBytes(b, 2);
      return static_cast<int16_t>(b[0] | (b[1] << 8));
    }
    case TValueTag::Int32:
      return static_cast<int32_t>(ReadUInt32());
    default:
      InvalidValue();
  }
}

std::string TPropertyReader::ReadString() {
  size_t len = 0;
  switch (ReadTag()) {
    case TValueTag::String:
      len = ReadByte();
      break;
    case TValueTag::LString:
      len = ReadUInt32();
      break;
    default:
      InvalidValue();
  }
  Need(len);
  std::string s(reinterpret_cast<const char*>(Data_ + Pos_), len);
  Pos_ += len;
  return s;
}

double TPropertyReader::ReadFloat() {
  switch (PeekTag()) {
    case TValueTag::Extended: {
      ReadTag();
      uint8_t ext[10];
      ReadBytes(ext, 10);
      return ExtendedToDouble(ext);
    }
    case TValueTag::Single:
      ReadTag();
      return std::bit_cast<float>(ReadUInt32());
    case TValueTag::Currency:
    case TValueTag::Date: {
      TValueTag tag = ReadTag();
      uint64_t lo = ReadUInt32();
      uint64_t bits = lo | (static_cast<uint64_t>(ReadUInt32()) << 32);
      if (tag == TValueTag::Date) return std::bit_cast<double>(bits);
      return static_cast<double>(static_cast<int64_t>(bits)) / 10000.0;
    }
    default:
      return static_cast<double>(ReadInteger());
  }
}

bool TPropertyReader::ReadBoolean() {
  switch (ReadTag()) {
    case TValueTag::False:
      return false;
    case TValueTag::True:
      return true;
    default:
      InvalidValue();
  }
}

std::string TPropertyReader::ReadIdent() {
  switch (ReadTag()) {
    case TValueTag::Ident:
      return ReadShortString();
    case TValueTag::False:
      return "False";
    case TValueTag::True:
      return "True";
    case TValueTag::Nil:
      return "nil";
    case TValueTag::Null:
      return "Null";
    default:
      InvalidValue();
  }
}

std::vector<std::string> TPropertyReader::ReadSet() {
  if (ReadTag() != TValueTag::Set) InvalidValue();
  std::vector<std::string> members;
  for (;;) {
    std::string m = ReadShortString();
    if (m.empty()) break;
    members.push_back(std::move(m));
  }
  return members;
}

std::span<const uint8_t> TPropertyReader::ReadBinary() {
  if (ReadTag() != TValueTag::Binary) InvalidValue();
  uint32_t len = ReadUInt32();
  Need(len);
  std::span<const uint8_t> bytes(Data_ + Pos_, len);
  Pos_ += len;
  return bytes;
}

TDynamicValue TPropertyReader::ReadVariant() {
  switch (PeekTag()) {
    case TValueTag::Null:
    case TValueTag::Nil:
      ReadTag();
      return {};
    case TValueTag::Int8:
    case TValueTag::Int16:
    case TValueTag::Int32:
      return TDynamicValue(ReadInteger());
    case TValueTag::Extended:
    case TValueTag::Single:
    case TValueTag::Currency:
    case TValueTag::Date:
      return TDynamicValue(ReadFloat());
    case TValueTag::String:
    case TValueTag::LString:
      return TDynamicValue(ReadString());
    case TValueTag::False:
    case TValueTag::True:
      return TDynamicValue(ReadBoolean());
    default:
      InvalidValue();
  }
}

void TPropertyReader::SkipValue() {
  switch (PeekTag()) {
    case TValueTag::List:
      ReadTag();
      EnterNested();
      while (!EndOfList()) SkipValue();
      ReadListEnd();
      LeaveNested();
      break;
    case TValueTag::Collection:
      ReadTag();
      EnterNested();
      while (!EndOfList()) {
        TValueTag t = PeekTag();
        if (t == TValueTag::Int8 || t == TValueTag::Int16 || t == TValueTag::Int32) ReadInteger();
        ReadListBegin();
        while (!EndOfList()) {
          ReadShortString();
          SkipValue();
        }
        ReadListEnd();
      }
      ReadListEnd();
      LeaveNested();
      break;
    case TValueTag::Ident:
    case TValueTag::False:
    case TValueTag::True:
    case TValueTag::Nil:
    case TValueTag::Null:
      ReadIdent();
      break;
    case TValueTag::Set:
      ReadSet();
      break;
    case TValueTag::Binary:
      ReadBinary();
      break;
    default:
      ReadVariant();
  }
}

// ---- objects ----

namespace {

class TWriterFiler : public TFiler {
 public:
  TWriterFiler(TPropertyWriter& writer, const std::string& prefix) : Writer_(writer), Prefix_(prefix) {}

  void DefineProperty(std::string_view name, const std::function<void(TPropertyReader&)>&,
                      const std::function<void(TPropertyWriter&)>& write, bool hasData) override {
    if (!hasData) return;
    Writer_.WritePropName(Prefix_ + std::string(name));
    write(Writer_);
  }
  void DefineBinaryProperty(std::string_view name, const std::function<void(std::span<const uint8_t>)>&,
                            const std::function<void(std::vector<uint8_t>&)>& write, bool hasData) override {
    if (!hasData) return;
    Writer_.WritePropName(Prefix_ + std::string(name));
    TBytes block;
    write(block);
    Writer_.WriteBinary(block);
  }

 private:
  TPropertyWriter& Writer_;
  const std::string& Prefix_;
};

class TReaderFiler : public TFiler {
 public:
  TReaderFiler(TPropertyReader& reader, std::string_view target) : Reader_(reader), Target_(target) {}
  bool Found() const { return Found_; }

  void DefineProperty(std::string_view name, const std::function<void(TPropertyReader&)>& read,
                      const std::function<void(TPropertyWriter&)>&, bool) override {
    if (Found_ || !SameName(name, Target_)) return;
    Found_ = true;
    read(Reader_);
  }
  void DefineBinaryProperty(std::string_view name, const std::function<void(std::span<const uint8_t>)>& read,
                            const std::function<void(std::vector<uint8_t>&)>&, bool) override {
    if (Found_ || !SameName(name, Target_)) return;
    Found_ = true;
    read(Reader_.ReadBinary());
  }

 private:
  TPropertyReader& Reader_;
  std::string_view Target_;
  bool Found_ = false;
};

[[noreturn]] void NoSuchProperty(std::string_view name) {
  throw EReadError(Format("Property %s does not exist", {name}));
}

void WriteCollection(TPropertyWriter& writer, const TCollection& collection) {
  writer.WriteTag(TValueTag::Collection);
  for (size_t i = 0; i < collection.Count(); ++i) {
    writer.WriteListBegin();
    WriteProperties(writer, *collection.Item(i));
    writer.WriteListEnd();
  }
  writer.WriteListEnd();
}

void ReadCollection(TPropertyReader& reader, TCollection& collection) {
  if (reader.ReadTag() != TValueTag::Collection) throw EReadError("Invalid property value");
  reader.EnterNested();
  collection.Clear();
  while (!reader.EndOfList()) {
    TValueTag t = reader.PeekTag();
    if (t == TValueTag::Int8 || t == TValueTag::Int16 || t == TValueTag::Int32) reader.ReadInteger();
    reader.ReadListBegin();
    ReadProperties(reader, *collection.Add());
  }
  reader.ReadListEnd();
  reader.LeaveNested();
}

int64_t OrdinalOfName(const TPropInfo& prop, std::string_view name) {
  for (size_t i = 0; i < prop.Names.size(); ++i)
    if (SameName(prop.Names[i], name)) return static_cast<int64_t>(i);
  throw EReadError("Invalid property value");
}

void ReadPublished(TPropertyReader& reader, TPersistent& object, const TPropInfo& prop) {
  switch (prop.Kind) {
    case TPropKind::Integer:
      prop.SetOrdinal(object, reader.ReadInteger());
      break;
    case TPropKind::Boolean:
      prop.SetOrdinal(object, reader.ReadBoolean() ? 1 : 0);
      break;
    case TPropKind::Enum: {
      TValueTag t = reader.PeekTag();
      int64_t v;
      if (t == TValueTag::Int8 || t == TValueTag::Int16 || t == TValueTag::Int32) {
        v = reader.ReadInteger();
        if (v < 0 || v >= static_cast<int64_t>(prop.Names.size())) throw EReadError("Invalid property value");
      } else {
        v = OrdinalOfName(prop, reader.ReadIdent());
      }
      prop.SetOrdinal(object, v);
      break;
    }
    case TPropKind::Set: {
      int64_t bits = 0;
      for (const auto& member : reader.ReadSet()) {
        int64_t bit = OrdinalOfName(prop, member);
        if (bit >= 63) throw EReadError("Invalid property value");
        bits |= int64_t{1} << bit;
      }
      prop.SetOrdinal(object, bits);
      break;
    }
    case TPropKind::String:
      prop.SetString(object, reader.ReadString());
      break;
    case TPropKind::Float:
      prop.SetFloat(object, reader.ReadFloat());
      break;
    case TPropKind::Variant:
      prop.SetVariant(object, reader.ReadVariant());
      break;
    case TPropKind::Object: {
      auto* collection = dynamic_cast<TCollection*>(prop.GetObject(object));
      if (!collection) throw EReadError("Invalid property value");
      ReadCollection(reader, *collection);
      break;
    }
  }
}

}  // namespace

void WriteProperties(TPropertyWriter& writer, const TPersistent& object, const std::string& prefix) {
  for (const TPropInfo* p : object.ClassType().AllProperties()) {
    const TPropInfo& prop = *p;
    std::string name = prefix + prop.Name;
    switch (prop.Kind) {
      case TPropKind::Integer:
      case TPropKind::Boolean:
      case TPropKind::Enum:
      case TPropKind::Set: {
        int64_t v = prop.GetOrdinal(object);
        if (v == prop.Default && !prop.AlwaysWritten) break;
        writer.WritePropName(name);
        if (prop.Kind == TPropKind::Integer) {
          writer.WriteInteger(v);
        } else if (prop.Kind == TPropKind::Boolean) {
          writer.WriteBoolean(v != 0);
        } else if (prop.Kind == TPropKind::Enum) {
          if (v >= 0 && v < static_cast<int64_t>(prop.Names.size()))
            writer.WriteIdent(prop.Names[static_cast<size_t>(v)]);
          else
            writer.WriteInteger(v);
        } else {
          std::vector<std::string> members;
          for (size_t i = 0; i < prop.Names.size() && i < 63; ++i)
            if (v & (int64_t{1} << i)) members.push_back(prop.Names[i]);
          writer.WriteSet(members);
        }
        break;
      }
      case TPropKind::String: {
        std::string s = prop.GetString(object);
        if (s.empty()) break;
        writer.WritePropName(name);
        writer.WriteString(s);
        break;
      }
      case TPropKind::Float: {
        double v = prop.GetFloat(object);
        if (v == 0) break;
        writer.WritePropName(name);
        writer.WriteFloat(v);
        break;
      }
      case TPropKind::Variant: {
        TDynamicValue v = prop.GetVariant(object);
        if (v.IsEmpty()) break;
        writer.WritePropName(name);
        writer.WriteVariant(v);
        break;
      }
      case TPropKind::Object: {
        const TPersistent* nested = prop.GetObject(object);
        if (!nested) break;
        if (const auto* collection = dynamic_cast<const TCollection*>(nested)) {
          if (collection->Count() == 0) break;
          writer.WritePropName(name);
          WriteCollection(writer, *collection);
        } else {
          WriteProperties(writer, *nested, name + ".");
        }
        break;
      }
    }
  }
  TWriterFiler filer(writer, prefix);
  // Defined properties only read the object while it is written.
  const_cast<TPersistent&>(object).DefineProperties(filer);
}

void ReadProperty(TPropertyReader& reader, TPersistent& object) {
  std::string name = reader.ReadShortString();
  TPersistent* target = &object;
  std::string_view rest = name;
  for (size_t dot = rest.find('.'); dot != std::string_view::npos; dot = rest.find('.')) {
    const TPropInfo* owner = target->ClassType().FindProperty(rest.substr(0, dot));
    if (!owner || owner->Kind != TPropKind::Object) NoSuchProperty(name);
    target = owner->GetObject(*target);
    if (!target) NoSuchProperty(name);
    rest = rest.substr(dot + 1);
  }
  if (const TPropInfo* prop = target->ClassType().FindProperty(rest)) {
    ReadPublished(reader, *target, *prop);
    return;
  }
  TReaderFiler filer(reader, rest);
  target->DefineProperties(filer);
  if (!filer.Found()) NoSuchProperty(name);
}

void ReadProperties(TPropertyReader& reader, TPersistent& object) {
  reader.EnterNested();
  while (!reader.EndOfList()) ReadProperty(reader, object);
  reader.ReadListEnd();
  reader.LeaveNested();
}

void WriteObjectStream(TBytes& out, const TPersistent& object, std::string_view objectName) {
  TPropertyWriter writer(out);
  writer.WriteSignature();
  writer.WriteShortString(object.ClassName());
  writer.WriteShortString(objectName);
  WriteProperties(writer, object);
  writer.WriteListEnd();
  writer.WriteListEnd();  // no child components
}

void ReadObjectStream(std::span<const uint8_t> bytes, TPersistent& object) {
  TPropertyReader reader(bytes);
  reader.ReadSignature();
  reader.ReadShortString();  // class name: the caller already chose the object
  reader.ReadShortString();  // object name
  ReadProperties(reader, object);
  if (reader.ReadTag() != TValueTag::Null) throw EReadError("Invalid stream format");
}

void WritePropertyList(TBytes& out, const TPersistent& object) {
  TPropertyWriter writer(out);
  writer.WriteListBegin();
  WriteProperties(writer, object);
  writer.WriteListEnd();
}

void ReadPropertyList(std::span<const uint8_t> bytes, TPersistent& object) {
  TPropertyReader reader(bytes);
  reader.ReadListBegin();
  ReadProperties(reader, object);
}

void WriteListedObject(TPropertyWriter& writer, const TPersistent& object) {
  writer.WriteString(object.ClassName());
  writer.WriteListBegin();
  WriteProperties(writer, object);
  writer.WriteListEnd();
}

std::unique_ptr<TPersistent> CreateObject(const TClassInfo& cls, const TCreatePersistentHook& hook) {
  if (cls.InheritsFrom(TPersistentEx::StaticClass()) && cls.Create) return cls.Create();
  if (hook)
    if (auto object = hook(cls)) return object;
  if (cls.Create) return cls.Create();
  throw EReadError(Format("Cannot create %s", {cls.Name}));
}

std::unique_ptr<TPersistent> ReadListedObject(TPropertyReader& reader, const TCreatePersistentHook& hook) {
  std::string className = reader.ReadString();
  const TClassInfo* cls = FindClass(className);
  if (!cls) throw EReadError(Format("Class %s not found", {className}));
  auto object = CreateObject(*cls, hook);
  reader.ReadListBegin();
  ReadProperties(reader, *object);
  return object;
}

void AssignByStream(const TPersistent& source, TPersistent& target) {
  TBytes bytes;
  WritePropertyList(bytes, source);
  ReadPropertyList(bytes, target);
}

}  // namespace vandrel
