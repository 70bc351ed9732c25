// The hierarchical key/value store that holds settings and integration entries, and a handle on one key.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vandrel {

// The three parts of the store. ORDER: the numbers name the store's files and the configuration's scopes.
enum class TRegRoot : int { rrCurrentUser = 0, rrLocalMachine = 1, rrClassesRoot = 2 };
inline constexpr int kRegRootCount = 3;

enum class TRegDataType { rdNone, rdString, rdInteger, rdBinary };

// One typed value: text and binary data live in `Data`, byte for byte.
struct TRegValue {
  TRegDataType Type = TRegDataType::rdNone;
  std::string Data;     // the text of rdString, the bytes of rdBinary
  int32_t Integer = 0;  // the number of rdInteger

  static TRegValue String(std::string_view text) { return {TRegDataType::rdString, std::string(text), 0}; }
  static TRegValue Int(int32_t number) { return {TRegDataType::rdInteger, {}, number}; }
  static TRegValue Binary(std::string_view bytes) { return {TRegDataType::rdBinary, std::string(bytes), 0}; }
  bool operator==(const TRegValue&) const = default;
};

// The store's operations. A path is a list of key names separated by "\" (a leading or trailing "\" and
// empty names are ignored); key and value names match without regard to ASCII case and keep the case
// they were created with; the empty value name is the key's default value.
// No operation throws: a missing key or value, a value of another type and a failed write all answer
// false or nothing. Implementations are safe to call from any thread.
class IRegistryStore {
 public:
  virtual ~IRegistryStore() = default;

  virtual bool KeyExists(TRegRoot root, std::string_view path) = 0;
  // Creates every missing key on the path; true when the key exists afterwards.
  virtual bool CreateKey(TRegRoot root, std::string_view path) = 0;
  // Deletes the key with all its subkeys and values; false when it did not exist or the path is the root.
  virtual bool DeleteKey(TRegRoot root, std::string_view path) = 0;
  virtual bool HasSubKeys(TRegRoot root, std::string_view path) = 0;
  virtual std::vector<std::string> SubKeyNames(TRegRoot root, std::string_view path) = 0;
  virtual std::vector<std::string> ValueNames(TRegRoot root, std::string_view path) = 0;

  virtual std::optional<TRegValue> ReadValue(TRegRoot root, std::string_view path, std::string_view name) = 0;
  // Writes into an existing key only; a value of the same name is replaced, whatever its type.
  virtual bool WriteValue(TRegRoot root, std::string_view path, std::string_view name,
                          const TRegValue& value) = 0;
  virtual bool DeleteValue(TRegRoot root, std::string_view path, std::string_view name) = 0;
  // Copies the key with its values and subkeys, merging into the target (created when missing).
  virtual bool CopyKey(TRegRoot fromRoot, std::string_view fromPath, TRegRoot toRoot,
                       std::string_view toPath) = 0;
};

// The process-wide store every subsystem uses. Replace it (a folder from the command line, a test's own
// store) before anything reads settings; the configuration keeps the store it was created with.
std::shared_ptr<IRegistryStore> SystemRegistry();
void SetSystemRegistry(std::shared_ptr<IRegistryStore> store);

// One open key, the way callers walk the store: open, read or write named values, close. Reads of a
// missing value or a value of another type give the caller's default.
class TRegistryKey {
 public:
  TRegistryKey(std::shared_ptr<IRegistryStore> store, TRegRoot root);

  // Opens for writing; missing keys on the path are created only when `canCreate` is set.
  bool OpenKey(std::string_view path, bool canCreate);
  bool OpenKeyReadOnly(std::string_view path);
  void CloseKey();
  bool IsOpen() const { return open_; }
  const std::string& CurrentPath() const { return path_; }

  bool ValueExists(std::string_view name) const;
  TRegDataType GetDataType(std::string_view name) const;  // rdNone when missing
  std::string ReadString(std::string_view name, std::string_view defaultValue = {}) const;
  int32_t ReadInteger(std::string_view name, int32_t defaultValue = 0) const;
  std::optional<std::string> ReadBinary(std::string_view name) const;
  // Copies binary data into `buffer`: the byte count, or -1 when the value is missing, not binary, or
  // longer than `size`.
  int ReadBinaryData(std::string_view name, void* buffer, int size) const;

  bool WriteString(std::string_view name, std::string_view value);
  bool WriteInteger(std::string_view name, int32_t value);
  bool WriteBinaryData(std::string_view name, const void* data, size_t size);
  bool DeleteValue(std::string_view name);
  bool HasSubKeys() const;

 private:
  std::shared_ptr<IRegistryStore> store_;
  TRegRoot root_;
  std::string path_;  // of the open key
  bool open_ = false;
  bool writable_ = false;
};

}  // namespace vandrel
