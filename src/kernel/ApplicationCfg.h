// The generic configuration: sections of named, indexed, defaulted settings, each access one store read or
// write.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DateTime.h"
#include "platform/RegistryStore.h"

namespace vandrel {

enum class TConfigType { ctBoolean, ctInteger, ctString, ctDateTime, ctSecret };

// ORDER: the scope is an index into the table of store roots (per user, per machine).
enum class TConfigScope : int { csUser = 0, csMachine = 1 };

// One setting: its value name in the store, the index code uses for it, its type and, for Boolean
// (0 or 1) and Integer settings, its default; for Integer settings also the values that make sense.
struct TConfigProperty {
  int Index;
  const char* Name;
  TConfigType Type;
  int32_t Default = 0;
  int32_t Min = INT32_MIN;
  int32_t Max = INT32_MAX;
};

class TApplicationConfig;

// A group of settings under one key. Nothing is cached: every getter reads the store, so every reader sees
// the latest value, also one written by another process. A failed read gives the default and a failed
// write is lost; nothing throws. An index that names no setting of the getter's type reads as the
// default of that type and is never written.
class TConfigSection {
 public:
  TConfigSection(TApplicationConfig& owner, std::string publishedName, TConfigScope scope,
                 std::span<const TConfigProperty> properties);
  virtual ~TConfigSection() = default;
  TConfigSection(const TConfigSection&) = delete;
  TConfigSection& operator=(const TConfigSection&) = delete;

  // The name under which the configuration publishes the section; the key name starts out the same.
  const std::string& PublishedName() const { return publishedName_; }
  const std::string& KeyName() const { return keyName_; }
  void SetKeyName(std::string keyName) { keyName_ = std::move(keyName); }
  TConfigScope Scope() const { return scope_; }
  // Root path + key name, without a trailing separator.
  std::string Key() const;

  std::span<const TConfigProperty> Properties() const { return properties_; }
  const TConfigProperty* FindProperty(int index) const;
  const TConfigProperty* FindProperty(std::string_view name) const;  // ignoring ASCII case

  bool GetBoolean(int index) const;
  void SetBoolean(int index, bool value);
  int32_t GetInteger(int index) const;
  void SetInteger(int index, int32_t value);
  std::string GetString(int index) const;
  void SetString(int index, std::string_view value);
  TDateTime GetDateTime(int index) const;
  void SetDateTime(int index, TDateTime value);
  std::string GetSecret(int index) const;
  void SetSecret(int index, std::string_view value);

 private:
  const TConfigProperty* Find(int index, TConfigType type) const;
  std::optional<TRegValue> Read(const TConfigProperty& property) const;
  // Writes the value, or deletes it when `value` is empty (the setting's default).
  void Write(const TConfigProperty& property, const std::optional<TRegValue>& value);

  TApplicationConfig& owner_;
  std::string publishedName_;
  std::string keyName_;
  TConfigScope scope_;
  std::span<const TConfigProperty> properties_;  // static tables of the section classes
};

// The base of the configuration: owns the sections and the store they live in.
class TApplicationConfig {
 public:
  // `rootPath` is the key all sections live under; a separator is appended when missing. Keys are created
  // on writing only when it is the program's own `defaultRootPath`.
  TApplicationConfig(std::shared_ptr<IRegistryStore> store, std::string rootPath,
                     std::string_view defaultRootPath);
  virtual ~TApplicationConfig() = default;
  TApplicationConfig(const TApplicationConfig&) = delete;
  TApplicationConfig& operator=(const TApplicationConfig&) = delete;

  const std::string& RootPath() const { return rootPath_; }
  bool MayCreateKeys() const { return mayCreateKeys_; }
  const std::shared_ptr<IRegistryStore>& Store() const { return store_; }

  // In creation order.
  const std::vector<std::unique_ptr<TConfigSection>>& Sections() const { return sections_; }
  TConfigSection* FindSection(std::string_view publishedName) const;

 protected:
  template <typename T>
  T& AddSection() {
    sections_.push_back(std::make_unique<T>(*this));
    return static_cast<T&>(*sections_.back());
  }
  // Told after every write or delete, so that derived classes can drop what they derive from a setting.
  virtual void SettingWritten(const TConfigSection& section, int index) {}

 private:
  friend class TConfigSection;

  std::shared_ptr<IRegistryStore> store_;
  std::string rootPath_;  // ends with "\"
  bool mayCreateKeys_;
  std::vector<std::unique_ptr<TConfigSection>> sections_;
};

}  // namespace vandrel
