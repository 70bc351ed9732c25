// One part of the store in memory, its key and value operations, and the text form it is saved in.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/RegistryStore.h"

namespace vandrel {

struct TRegNamedValue {
  std::string Name;  // as first written; "" is the default value
  TRegValue Value;
};

struct TRegNode {
  std::string Name;                    // as first created
  std::vector<TRegNamedValue> Values;  // in the order they were first written
  std::vector<TRegNode> SubKeys;       // in the order they were first created
};

// Keys nest at most this deep, so that a hand-edited file cannot make saving or freeing a tree recurse
// without bound.
inline constexpr size_t kMaxRegKeyDepth = 512;

// Splits a key path at "\"; empty names are dropped. Nothing when a name holds a control character,
// which the text form could not keep, or when the path is deeper than kMaxRegKeyDepth.
std::optional<std::vector<std::string>> SplitRegPath(std::string_view path);

TRegNode* FindRegKey(TRegNode& root, const std::vector<std::string>& names);
// Finds or creates the key; the names of keys that already exist keep their case.
TRegNode* CreateRegKey(TRegNode& root, const std::vector<std::string>& names);
bool DeleteRegKey(TRegNode& root, const std::vector<std::string>& names);
TRegNamedValue* FindRegValue(TRegNode& key, std::string_view name);
// Replaces a value's data and type, keeping the name's first case, or appends a new value.
void SetRegValue(TRegNode& key, std::string_view name, const TRegValue& value);
bool DeleteRegValue(TRegNode& key, std::string_view name);
// Levels of keys below `key` (0 for a key without subkeys).
size_t RegKeyHeight(const TRegNode& key);
// Merges `source`'s values and subkeys into `target`, recursively.
void MergeRegKey(TRegNode& target, const TRegNode& source);

// The text form: a header line, then every key as "[path]" followed by its values, one a line:
//   @="default"   "Name"="text"   "Count"=dword:0000000a   "Data"=hex:01,ff
// and a closing "; end" line, without which the file counts as cut short. Texts escape \\ \" \n \r \t and
// write bytes that are not printable UTF-8 as \xHH, so the file stays valid UTF-8 text.
std::string SerializeRegistry(const TRegNode& root, std::string_view comment);
// Nothing when the text is not a complete file of that form.
std::optional<TRegNode> ParseRegistry(std::string_view text);

}  // namespace vandrel
