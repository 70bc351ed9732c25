// The tagged binary property stream between storage lists, their back ends and the stored manager blobs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "storage/DynamicValue.h"
#include "storage/Persistent.h"

namespace vandrel {

using TBytes = std::vector<uint8_t>;

// ORDER: value tags are stored in every stream and blob; never renumber.
enum class TValueTag : uint8_t {
  Null = 0,  // end of list
  List = 1,
  Int8 = 2,
  Int16 = 3,
  Int32 = 4,
  Extended = 5,
  String = 6,
  Ident = 7,
  False = 8,
  True = 9,
  Binary = 10,
  Set = 11,
  LString = 12,
  Nil = 13,
  Collection = 14,
  Single = 15,
  Currency = 16,
  Date = 17,
};

// Raised by readers on bytes that are not a valid stream; the message is the one shown to the user.
class EReadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Appends values to a byte buffer.
class TPropertyWriter {
 public:
  explicit TPropertyWriter(TBytes& out) : Out_(out) {}

  TBytes& Buffer() { return Out_; }
  void WriteByte(uint8_t b) { Out_.push_back(b); }
  void WriteBytes(const void* data, size_t size);
  void WriteTag(TValueTag tag) { WriteByte(static_cast<uint8_t>(tag)); }
  // Length byte and bytes; longer texts are cut at 255 bytes.
  void WriteShortString(std::string_view s);
  void WriteSignature();  // "TPF0"
  void WriteListBegin() { WriteTag(TValueTag::List); }
  void WriteListEnd() { WriteTag(TValueTag::Null); }
  void WritePropName(std::string_view name) { WriteShortString(name); }

  // Smallest of the 8-, 16- and 32-bit tags that holds the value; beyond 32 bits an extended float.
  void WriteInteger(int64_t value);
  // Up to 255 bytes with the short tag, longer with the 32-bit length tag.
  void WriteString(std::string_view s);
  void WriteFloat(double value);  // extended
  void WriteSingle(float value);
  void WriteCurrency(int64_t tenThousandths);
  void WriteDate(double value);
  void WriteBoolean(bool value) { WriteTag(value ? TValueTag::True : TValueTag::False); }
  // "False", "True", "nil" and "Null" have tags of their own.
  void WriteIdent(std::string_view name);
  void WriteSet(const std::vector<std::string>& members);
  void WriteBinary(std::span<const uint8_t> bytes);
  void WriteVariant(const TDynamicValue& value);

 private:
  TBytes& Out_;
};

// Reads values from a byte range; every length is checked against what remains.
class TPropertyReader {
 public:
  TPropertyReader(const uint8_t* data, size_t size) : Data_(data), Size_(size) {}
  explicit TPropertyReader(std::span<const uint8_t> bytes) : TPropertyReader(bytes.data(), bytes.size()) {}

  size_t Position() const { return Pos_; }
  size_t Remaining() const { return Size_ - Pos_; }

  uint8_t ReadByte();
  void ReadBytes(void* out, size_t size);
  TValueTag ReadTag() { return static_cast<TValueTag>(ReadByte()); }
  TValueTag PeekTag() const;
  bool EndOfList() const { return PeekTag() == TValueTag::Null; }
  std::string ReadShortString();
  void ReadSignature();
  void ReadListBegin();
  void ReadListEnd();

  int64_t ReadInteger();
  std::string ReadString();
  double ReadFloat();
  bool ReadBoolean();
  std::string ReadIdent();
  std::vector<std::string> ReadSet();
  std::span<const uint8_t> ReadBinary();
  TDynamicValue ReadVariant();
  // Steps over one value of any kind.
  void SkipValue();

  // Guards nesting so that hostile input cannot exhaust the stack.
  void EnterNested();
  void LeaveNested() { --Depth_; }

 private:
  void Need(size_t count) const;
  uint32_t ReadUInt32();
  [[noreturn]] static void InvalidValue();

  const uint8_t* Data_;
  size_t Size_;
  size_t Pos_ = 0;
  int Depth_ = 0;
};

// Creates an object of a class named in a stream when the class cannot create itself; null: cannot.
using TCreatePersistentHook = std::function<std::unique_ptr<TPersistent>(const TClassInfo&)>;

// Published properties (ancestors first, defaults skipped), then defined properties; names get `prefix`.
void WriteProperties(TPropertyWriter& writer, const TPersistent& object, const std::string& prefix = {});
// Reads one property (name and value) into `object`.
void ReadProperty(TPropertyReader& reader, TPersistent& object);
// Reads properties up to and including the end of list.
void ReadProperties(TPropertyReader& reader, TPersistent& object);

// Whole object stream: "TPF0", class name, object name, properties, end of list, end of list.
void WriteObjectStream(TBytes& out, const TPersistent& object, std::string_view objectName = {});
// Reads a whole object stream into an existing object; bytes after its final end of list are ignored.
void ReadObjectStream(std::span<const uint8_t> bytes, TPersistent& object);

// Bare property list: list begin, properties, end of list.
void WritePropertyList(TBytes& out, const TPersistent& object);
void ReadPropertyList(std::span<const uint8_t> bytes, TPersistent& object);

// One object of an object list: its class name, list begin, its properties, end of list.
void WriteListedObject(TPropertyWriter& writer, const TPersistent& object);
// Reads one listed object and creates it by its class name (error "Class %s not found" when unknown).
std::unique_ptr<TPersistent> ReadListedObject(TPropertyReader& reader, const TCreatePersistentHook& hook);
// Creates an object of a registered class the way a reader does.
std::unique_ptr<TPersistent> CreateObject(const TClassInfo& cls, const TCreatePersistentHook& hook);

// Copies `source`'s properties into `target` through a property stream (a deep copy).
void AssignByStream(const TPersistent& source, TPersistent& target);

}  // namespace vandrel
