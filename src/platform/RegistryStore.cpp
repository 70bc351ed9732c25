#include "platform/RegistryStore.h"

#include <cstring>
#include <mutex>

#include "platform/RegistryFileStore.h"

namespace vandrel {
namespace {

std::mutex& SystemRegistryMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<IRegistryStore>& SystemRegistrySlot() {
  static std::shared_ptr<IRegistryStore> store;
  return store;
}

}  // namespace

std::shared_ptr<IRegistryStore> SystemRegistry() {
  std::lock_guard guard(SystemRegistryMutex());
  auto& store = SystemRegistrySlot();
  if (!store) store = std::make_shared<TRegistryFileStore>();
  return store;
}

void SetSystemRegistry(std::shared_ptr<IRegistryStore> store) {
  std::lock_guard guard(SystemRegistryMutex());
  SystemRegistrySlot() = std::move(store);
}

TRegistryKey::TRegistryKey(std::shared_ptr<IRegistryStore> store, TRegRoot root)
    : store_(std::move(store)), root_(root) {}

bool TRegistryKey::OpenKey(std::string_view path, bool canCreate) {
  CloseKey();
  if (!store_) return false;
  open_ = canCreate ? store_->CreateKey(root_, path) : store_->KeyExists(root_, path);
  writable_ = open_;
  if (open_) path_ = path;
  return open_;
}

bool TRegistryKey::OpenKeyReadOnly(std::string_view path) {
  CloseKey();
  open_ = store_ && store_->KeyExists(root_, path);
  if (open_) path_ = path;
  return open_;
}

void TRegistryKey::CloseKey() {
  open_ = false;
  writable_ = false;
  path_.clear();
}

bool TRegistryKey::ValueExists(std::string_view name) const {
  return GetDataType(name) != TRegDataType::rdNone;
}

TRegDataType TRegistryKey::GetDataType(std::string_view name) const {
  if (!open_) return TRegDataType::rdNone;
  const auto value = store_->ReadValue(root_, path_, name);
  return value ? value->Type : TRegDataType::rdNone;
}

std::string TRegistryKey::ReadString(std::string_view name, std::string_view defaultValue) const {
  if (open_)
    if (const auto value = store_->ReadValue(root_, path_, name);
        value && value->Type == TRegDataType::rdString)
      return value->Data;
  return std::string(defaultValue);
}

int32_t TRegistryKey::ReadInteger(std::string_view name, int32_t defaultValue) const {
  if (open_)
    if (const auto value = store_->ReadValue(root_, path_, name);
        value && value->Type == TRegDataType::rdInteger)
      return value->Integer;
  return defaultValue;
}

std::optional<std::string> TRegistryKey::ReadBinary(std::string_view name) const {
  if (open_)
    if (const auto value = store_->ReadValue(root_, path_, name);
        value && value->Type == TRegDataType::rdBinary)
      return value->Data;
  return std::nullopt;
}

int TRegistryKey::ReadBinaryData(std::string_view name, void* buffer, int size) const {
  const auto data = ReadBinary(name);
  if (!data || size < 0 || data->size() > static_cast<size_t>(size)) return -1;
  if (!data->empty()) std::memcpy(buffer, data->data(), data->size());
  return static_cast<int>(data->size());
}

bool TRegistryKey::WriteString(std::string_view name, std::string_view value) {
  return writable_ && store_->WriteValue(root_, path_, name, TRegValue::String(value));
}

bool TRegistryKey::WriteInteger(std::string_view name, int32_t value) {
  return writable_ && store_->WriteValue(root_, path_, name, TRegValue::Int(value));
}

bool TRegistryKey::WriteBinaryData(std::string_view name, const void* data, size_t size) {
  if (!writable_ || (size > 0 && data == nullptr)) return false;
  return store_->WriteValue(root_, path_, name,
                            TRegValue::Binary(std::string_view(static_cast<const char*>(data), size)));
}

bool TRegistryKey::DeleteValue(std::string_view name) {
  return writable_ && store_->DeleteValue(root_, path_, name);
}

bool TRegistryKey::HasSubKeys() const {
  return open_ && store_->HasSubKeys(root_, path_);
}

}  // namespace vandrel
