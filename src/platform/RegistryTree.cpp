#include "platform/RegistryTree.h"

#include <algorithm>
#include <charconv>

#include "platform/CharCodes.h"
#include "platform/TextUtils.h"

namespace vandrel {
namespace {

constexpr std::string_view kHeader = "VandrelSoft Registry Store 1";
constexpr std::string_view kEndLine = "; end";
constexpr char kHexDigits[] = "0123456789abcdef";

bool IsControl(unsigned char c) {
  return c < 0x20 || c == 0x7F;
}

TRegNode* FindChild(TRegNode& node, std::string_view name) {
  for (auto& child : node.SubKeys)
    if (SameText(child.Name, name)) return &child;
  return nullptr;
}

void AppendHexByte(std::string& out, unsigned char b) {
  out += kHexDigits[b >> 4];
  out += kHexDigits[b & 15];
}

void AppendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c >= 0x80) {
          if (const size_t len = Utf8SequenceLength(text, i); len > 0) {
            out.append(text.substr(i, len));
            i += len;
            continue;
          }
        }
        if (IsControl(c) || c >= 0x80) {
          out += "\\x";
          AppendHexByte(out, c);
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  out += '"';
}

void AppendKey(std::string& out, const TRegNode& node, const std::string& path) {
  if (!path.empty() || !node.Values.empty()) {
    out += '[';
    out += path;
    out += "]\n";
    for (const auto& v : node.Values) {
      if (v.Name.empty())
        out += '@';
      else
        AppendQuoted(out, v.Name);
      out += '=';
      switch (v.Value.Type) {
        case TRegDataType::rdString:
          AppendQuoted(out, v.Value.Data);
          break;
        case TRegDataType::rdInteger: {
          const auto u = static_cast<uint32_t>(v.Value.Integer);
          out += "dword:";
          for (int shift = 28; shift >= 0; shift -= 4) out += kHexDigits[(u >> shift) & 15];
          break;
        }
        case TRegDataType::rdBinary:
        case TRegDataType::rdNone:
          out += "hex:";
          for (size_t i = 0; i < v.Value.Data.size(); ++i) {
            if (i > 0) out += ',';
            AppendHexByte(out, static_cast<unsigned char>(v.Value.Data[i]));
          }
          break;
      }
      out += '\n';
    }
    out += '\n';
  }
  for (const auto& child : node.SubKeys)
    AppendKey(out, child, path.empty() ? child.Name : path + "\\" + child.Name);
}

// Reads a quoted text at the start of `line`; `line` is left after the closing quote.
bool ParseQuoted(std::string_view& line, std::string& out) {
  if (line.empty() || line[0] != '"') return false;
  out.clear();
  size_t i = 1;
  while (i < line.size()) {
    const char c = line[i];
    if (c == '"') {
      line.remove_prefix(i + 1);
      return true;
    }
    if (IsControl(static_cast<unsigned char>(c))) return false;
    if (c != '\\') {
      out += c;
      ++i;
      continue;
    }
    if (i + 1 >= line.size()) return false;
    if (const int plain = EscapedChar(line[i + 1], "\\\"nrt", "\\\"\n\r\t"); plain >= 0) {
      out += static_cast<char>(plain);
      i += 2;
      continue;
    }
    if (line[i + 1] != 'x' || i + 3 >= line.size()) return false;
    const int hi = HexDigitValue(line[i + 2]), lo = HexDigitValue(line[i + 3]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
    i += 4;
  }
  return false;  // no closing quote: the line was cut
}

bool ParseData(std::string_view text, TRegValue& value) {
  if (!text.empty() && text[0] == '"') {
    std::string s;
    if (!ParseQuoted(text, s) || !text.empty()) return false;
    value = TRegValue::String(s);
    return true;
  }
  if (text.starts_with("dword:")) {
    text.remove_prefix(6);
    if (text.size() != 8) return false;
    uint32_t u = 0;
    for (char c : text) {
      const int h = HexDigitValue(c);
      if (h < 0) return false;
      u = u << 4 | static_cast<uint32_t>(h);
    }
    value = TRegValue::Int(static_cast<int32_t>(u));
    return true;
  }
  if (text.starts_with("hex:")) {
    text.remove_prefix(4);
    std::string bytes;
    for (size_t i = 0; i < text.size();) {
      if (i > 0 && text[i++] != ',') return false;
      if (i + 2 > text.size()) return false;
      const int hi = HexDigitValue(text[i]), lo = HexDigitValue(text[i + 1]);
      if (hi < 0 || lo < 0) return false;
      bytes += static_cast<char>(hi * 16 + lo);
      i += 2;
    }
    value = TRegValue::Binary(bytes);
    return true;
  }
  return false;
}

}  // namespace

std::optional<std::vector<std::string>> SplitRegPath(std::string_view path) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view name = path.substr(start, end - start);
    if (std::any_of(name.begin(), name.end(),
                    [](char c) { return IsControl(static_cast<unsigned char>(c)); }))
      return std::nullopt;
    if (!name.empty()) names.emplace_back(name);
    if (names.size() > kMaxRegKeyDepth) return std::nullopt;
    start = end + 1;
  }
  return names;
}

TRegNode* FindRegKey(TRegNode& root, const std::vector<std::string>& names) {
  TRegNode* node = &root;
  for (const auto& name : names)
    if ((node = FindChild(*node, name)) == nullptr) return nullptr;
  return node;
}

TRegNode* CreateRegKey(TRegNode& root, const std::vector<std::string>& names) {
  TRegNode* node = &root;
  for (const auto& name : names) {
    TRegNode* child = FindChild(*node, name);
    if (child == nullptr) {
      node->SubKeys.push_back(TRegNode{name, {}, {}});
      child = &node->SubKeys.back();
    }
    node = child;
  }
  return node;
}

bool DeleteRegKey(TRegNode& root, const std::vector<std::string>& names) {
  if (names.empty()) return false;
  TRegNode* parent = FindRegKey(root, {names.begin(), names.end() - 1});
  if (parent == nullptr) return false;
  auto& keys = parent->SubKeys;
  const auto it = std::find_if(keys.begin(), keys.end(),
                               [&](const TRegNode& k) { return SameText(k.Name, names.back()); });
  if (it == keys.end()) return false;
  keys.erase(it);
  return true;
}

TRegNamedValue* FindRegValue(TRegNode& key, std::string_view name) {
  for (auto& v : key.Values)
    if (SameText(v.Name, name)) return &v;
  return nullptr;
}

void SetRegValue(TRegNode& key, std::string_view name, const TRegValue& value) {
  if (TRegNamedValue* existing = FindRegValue(key, name))
    existing->Value = value;
  else
    key.Values.push_back({std::string(name), value});
}

bool DeleteRegValue(TRegNode& key, std::string_view name) {
  const auto it = std::find_if(key.Values.begin(), key.Values.end(),
                               [&](const auto& v) { return SameText(v.Name, name); });
  if (it == key.Values.end()) return false;
  key.Values.erase(it);
  return true;
}

size_t RegKeyHeight(const TRegNode& key) {
  size_t height = 0;
  for (const auto& child : key.SubKeys) height = std::max(height, RegKeyHeight(child) + 1);
  return height;
}

void MergeRegKey(TRegNode& target, const TRegNode& source) {
  for (const auto& v : source.Values) SetRegValue(target, v.Name, v.Value);
  for (const auto& child : source.SubKeys) MergeRegKey(*CreateRegKey(target, {child.Name}), child);
}

std::string SerializeRegistry(const TRegNode& root, std::string_view comment) {
  std::string out(kHeader);
  out += "\n; ";
  out += comment;
  out += "\n\n";
  AppendKey(out, root, "");
  out += kEndLine;
  out += '\n';
  return out;
}

std::optional<TRegNode> ParseRegistry(std::string_view text) {
  TRegNode root;
  TRegNode* current = nullptr;
  bool first = true, ended = false;
  while (!text.empty()) {
    const size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (first) {
      if (line != kHeader) return std::nullopt;
      first = false;
      continue;
    }
    if (ended) {
      if (!line.empty()) return std::nullopt;  // nothing may follow the end line
      continue;
    }
    if (line == kEndLine) {
      ended = true;
      continue;
    }
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      if (line.size() < 2 || line.back() != ']') return std::nullopt;
      const auto names = SplitRegPath(line.substr(1, line.size() - 2));
      if (!names) return std::nullopt;
      current = CreateRegKey(root, *names);
      continue;
    }
    if (current == nullptr) return std::nullopt;
    std::string name;
    if (line[0] == '@') {
      line.remove_prefix(1);
    } else if (!ParseQuoted(line, name)) {
      return std::nullopt;
    }
    if (line.empty() || line[0] != '=') return std::nullopt;
    TRegValue value;
    if (!ParseData(line.substr(1), value)) return std::nullopt;
    SetRegValue(*current, name, value);
  }
  if (!ended) return std::nullopt;
  return root;
}

}  // namespace vandrel
