// Reads JSON text from outside (files other programs wrote) into a tree of values.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vandrel {

enum class TJsonType { jtNull, jtBool, jtNumber, jtString, jtArray, jtObject };

struct TJsonValue {
  TJsonType Type = TJsonType::jtNull;
  bool Bool = false;
  double Number = 0;
  std::string String;                                       // UTF-8
  std::vector<TJsonValue> Elements;                         // jtArray
  std::vector<std::pair<std::string, TJsonValue>> Members;  // jtObject, in the text's order

  // The first member of that name, or null (also for anything but an object).
  const TJsonValue* Find(std::string_view name) const;
  // The member's text, or empty when it is missing or not a string.
  std::string Text(std::string_view name) const;
};

// The whole text as one value; nullopt when it is not JSON, nests deeper than `maxDepth` or leaves
// anything but blanks after the value. Escaped surrogate pairs are joined; a lone surrogate becomes U+FFFD.
std::optional<TJsonValue> ParseJson(std::string_view text, size_t maxDepth = 64);

}  // namespace vandrel
