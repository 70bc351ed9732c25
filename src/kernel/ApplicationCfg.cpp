#include "kernel/ApplicationCfg.h"

#include <bit>
#include <cstring>

#include "kernel/AppCryptTool.h"
#include "platform/TextUtils.h"

namespace vandrel {
namespace {

// ORDER: indexed by TConfigScope.
constexpr TRegRoot kScopeRoots[] = {TRegRoot::rrCurrentUser, TRegRoot::rrLocalMachine};

// Date-times are kept as the 8 bytes of the IEEE double, least significant first.
std::string DoubleBytes(double value) {
  const auto bits = std::bit_cast<uint64_t>(value);
  std::string bytes(8, '\0');
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<char>(bits >> (8 * i));
  return bytes;
}

double BytesDouble(std::string_view bytes) {
  uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = bits << 8 | static_cast<uint8_t>(bytes[i]);
  return std::bit_cast<double>(bits);
}

// Booleans and integers are 32-bit integer values; 4 bytes of binary data, the other form the store
// knows for them, are read as well.
std::optional<int32_t> OrdinalOf(const std::optional<TRegValue>& value) {
  if (!value) return std::nullopt;
  if (value->Type == TRegDataType::rdInteger) return value->Integer;
  if (value->Type != TRegDataType::rdBinary || value->Data.size() != 4) return std::nullopt;
  uint32_t bits = 0;
  for (int i = 3; i >= 0; --i) bits = bits << 8 | static_cast<uint8_t>(value->Data[i]);
  return static_cast<int32_t>(bits);
}

}  // namespace

TConfigSection::TConfigSection(TApplicationConfig& owner, std::string publishedName, TConfigScope scope,
                               std::span<const TConfigProperty> properties)
    : owner_(owner),
      publishedName_(std::move(publishedName)),
      keyName_(publishedName_),
      scope_(scope),
      properties_(properties) {}

std::string TConfigSection::Key() const {
  std::string key = owner_.RootPath() + keyName_;
  while (key.ends_with('\\')) key.pop_back();
  return key;
}

const TConfigProperty* TConfigSection::FindProperty(int index) const {
  for (const auto& p : properties_)
    if (p.Index == index) return &p;
  return nullptr;
}

const TConfigProperty* TConfigSection::FindProperty(std::string_view name) const {
  for (const auto& p : properties_)
    if (SameText(p.Name, name)) return &p;
  return nullptr;
}

const TConfigProperty* TConfigSection::Find(int index, TConfigType type) const {
  const TConfigProperty* p = FindProperty(index);
  return p != nullptr && p->Type == type ? p : nullptr;
}

std::optional<TRegValue> TConfigSection::Read(const TConfigProperty& property) const {
  // One look-up rather than open, query type, read: the store answers nothing for a missing key.
  return owner_.store_->ReadValue(kScopeRoots[static_cast<int>(scope_)], Key(), property.Name);
}

void TConfigSection::Write(const TConfigProperty& property, const std::optional<TRegValue>& value) {
  TRegistryKey key(owner_.store_, kScopeRoots[static_cast<int>(scope_)]);
  if (value) {
    if (key.OpenKey(Key(), owner_.MayCreateKeys())) {
      switch (value->Type) {
        case TRegDataType::rdString:
          key.WriteString(property.Name, value->Data);
          break;
        case TRegDataType::rdInteger:
          key.WriteInteger(property.Name, value->Integer);
          break;
        case TRegDataType::rdBinary:
          key.WriteBinaryData(property.Name, value->Data.data(), value->Data.size());
          break;
        case TRegDataType::rdNone:
          break;
      }
    }
  } else if (key.OpenKey(Key(), false)) {
    key.DeleteValue(property.Name);  // a value that was never written is already the default
  }
  owner_.SettingWritten(*this, property.Index);
}

bool TConfigSection::GetBoolean(int index) const {
  const TConfigProperty* p = Find(index, TConfigType::ctBoolean);
  if (p == nullptr) return false;
  return OrdinalOf(Read(*p)).value_or(p->Default) != 0;
}

void TConfigSection::SetBoolean(int index, bool value) {
  if (const TConfigProperty* p = Find(index, TConfigType::ctBoolean))
    Write(*p, value == (p->Default != 0) ? std::nullopt : std::optional(TRegValue::Int(value ? 1 : 0)));
}

int32_t TConfigSection::GetInteger(int index) const {
  const TConfigProperty* p = Find(index, TConfigType::ctInteger);
  if (p == nullptr) return 0;
  return OrdinalOf(Read(*p)).value_or(p->Default);
}

void TConfigSection::SetInteger(int index, int32_t value) {
  if (const TConfigProperty* p = Find(index, TConfigType::ctInteger))
    Write(*p, value == p->Default ? std::nullopt : std::optional(TRegValue::Int(value)));
}

std::string TConfigSection::GetString(int index) const {
  const TConfigProperty* p = Find(index, TConfigType::ctString);
  if (p == nullptr) return {};
  const auto value = Read(*p);
  return value && value->Type == TRegDataType::rdString ? value->Data : std::string();
}

void TConfigSection::SetString(int index, std::string_view value) {
  if (const TConfigProperty* p = Find(index, TConfigType::ctString))
    Write(*p, value.empty() ? std::nullopt : std::optional(TRegValue::String(value)));
}

TDateTime TConfigSection::GetDateTime(int index) const {
  const TConfigProperty* p = Find(index, TConfigType::ctDateTime);
  if (p == nullptr) return 0.0;
  const auto value = Read(*p);
  if (!value || value->Type != TRegDataType::rdBinary || value->Data.size() != 8) return 0.0;
  return BytesDouble(value->Data);
}

void TConfigSection::SetDateTime(int index, TDateTime value) {
  if (const TConfigProperty* p = Find(index, TConfigType::ctDateTime))
    Write(*p, value == 0.0 ? std::nullopt : std::optional(TRegValue::Binary(DoubleBytes(value))));
}

std::string TConfigSection::GetSecret(int index) const {
  const TConfigProperty* p = Find(index, TConfigType::ctSecret);
  if (p == nullptr) return {};
  const auto value = Read(*p);
  if (!value || value->Type != TRegDataType::rdBinary) return {};
  return TAppCryptTool::Unscramble(value->Data);
}

void TConfigSection::SetSecret(int index, std::string_view value) {
  if (const TConfigProperty* p = Find(index, TConfigType::ctSecret))
    Write(*p,
          value.empty() ? std::nullopt : std::optional(TRegValue::Binary(TAppCryptTool::Scramble(value))));
}

TApplicationConfig::TApplicationConfig(std::shared_ptr<IRegistryStore> store, std::string rootPath,
                                       std::string_view defaultRootPath)
    : store_(std::move(store)), rootPath_(std::move(rootPath)) {
  if (!rootPath_.ends_with('\\')) rootPath_ += '\\';
  mayCreateKeys_ = SameText(rootPath_, defaultRootPath);
}

TConfigSection* TApplicationConfig::FindSection(std::string_view publishedName) const {
  for (const auto& s : sections_)
    if (SameText(s->PublishedName(), publishedName)) return s.get();
  return nullptr;
}

}  // namespace vandrel
