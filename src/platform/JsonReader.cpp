#include "platform/JsonReader.h"

#include <charconv>

#include "platform/CharCodes.h"
#include "platform/TextUtils.h"

namespace vandrel {

const TJsonValue* TJsonValue::Find(std::string_view name) const {
  for (const auto& [key, value] : Members)
    if (key == name) return &value;
  return nullptr;
}

std::string TJsonValue::Text(std::string_view name) const {
  const TJsonValue* value = Find(name);
  return value && value->Type == TJsonType::jtString ? value->String : std::string();
}

namespace {

class TJsonParser {
 public:
  TJsonParser(std::string_view text, size_t maxDepth) : Text_(text), MaxDepth_(maxDepth) {}

  std::optional<TJsonValue> Document() {
    TJsonValue value;
    if (!Value(value, 0)) return std::nullopt;
    SkipBlanks();
    if (Pos_ != Text_.size()) return std::nullopt;
    return value;
  }

 private:
  void SkipBlanks() {
    while (Pos_ < Text_.size() &&
           (Text_[Pos_] == ' ' || Text_[Pos_] == '\t' || Text_[Pos_] == '\n' || Text_[Pos_] == '\r'))
      ++Pos_;
  }
  bool Take(char c) {
    SkipBlanks();
    if (Pos_ < Text_.size() && Text_[Pos_] == c) {
      ++Pos_;
      return true;
    }
    return false;
  }
  bool Word(std::string_view word) {
    if (Text_.substr(Pos_, word.size()) != word) return false;
    Pos_ += word.size();
    return true;
  }

  bool Value(TJsonValue& out, size_t depth) {
    if (depth > MaxDepth_) return false;
    SkipBlanks();
    if (Pos_ >= Text_.size()) return false;
    switch (Text_[Pos_]) {
      case '{':
        return Object(out, depth);
      case '[':
        return Array(out, depth);
      case '"':
        out.Type = TJsonType::jtString;
        return String(out.String);
      case 't':
        out.Type = TJsonType::jtBool;
        out.Bool = true;
        return Word("true");
      case 'f':
        out.Type = TJsonType::jtBool;
        return Word("false");
      case 'n':
        return Word("null");
      default:
        return Number(out);
    }
  }

  bool Object(TJsonValue& out, size_t depth) {
    out.Type = TJsonType::jtObject;
    ++Pos_;
    if (Take('}')) return true;
    do {
      SkipBlanks();
      std::string key;
      if (Pos_ >= Text_.size() || Text_[Pos_] != '"' || !String(key) || !Take(':')) return false;
      TJsonValue value;
      if (!Value(value, depth + 1)) return false;
      out.Members.emplace_back(std::move(key), std::move(value));
    } while (Take(','));
    return Take('}');
  }

  bool Array(TJsonValue& out, size_t depth) {
    out.Type = TJsonType::jtArray;
    ++Pos_;
    if (Take(']')) return true;
    do {
      TJsonValue value;
      if (!Value(value, depth + 1)) return false;
      out.Elements.push_back(std::move(value));
    } while (Take(','));
    return Take(']');
  }

  bool Number(TJsonValue& out) {
    const size_t start = Pos_;
    if (Pos_ < Text_.size() && Text_[Pos_] == '-') ++Pos_;
    while (Pos_ < Text_.size() &&
           std::string_view("0123456789.eE+-").find(Text_[Pos_]) != std::string_view::npos)
      ++Pos_;
    const std::string_view digits = Text_.substr(start, Pos_ - start);
    if (digits.empty() || digits == "-") return false;
    out.Type = TJsonType::jtNumber;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), out.Number);
    return error == std::errc() && end == digits.data() + digits.size();
  }

  bool Hex4(char32_t& out) {
    if (Text_.size() - Pos_ < 4) return false;
    unsigned value = 0;
    auto [end, error] = std::from_chars(Text_.data() + Pos_, Text_.data() + Pos_ + 4, value, 16);
    if (error != std::errc() || end != Text_.data() + Pos_ + 4) return false;
    Pos_ += 4;
    out = value;
    return true;
  }

  bool String(std::string& out) {
    ++Pos_;  // the opening quote
    while (Pos_ < Text_.size()) {
      const char c = Text_[Pos_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (Pos_ >= Text_.size()) return false;
      const char escape = Text_[Pos_++];
      if (const int plain = EscapedChar(escape, "\"\\/bfnrt", "\"\\/\b\f\n\r\t"); plain >= 0) {
        out += static_cast<char>(plain);
        continue;
      }
      char32_t code = 0;
      if (escape != 'u' || !Hex4(code)) return false;
      if (code >= 0xD800 && code <= 0xDBFF && Text_.substr(Pos_, 2) == "\\u") {
        const size_t mark = Pos_;
        Pos_ += 2;
        char32_t low = 0;
        if (Hex4(low) && low >= 0xDC00 && low <= 0xDFFF)
          code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        else
          Pos_ = mark;
      }
      AppendUtf8(out, code);  // a lone surrogate becomes U+FFFD there
    }
    return false;
  }

  std::string_view Text_;
  size_t MaxDepth_;
  size_t Pos_ = 0;
};

}  // namespace

std::optional<TJsonValue> ParseJson(std::string_view text, size_t maxDepth) {
  return TJsonParser(text, maxDepth).Document();
}

}  // namespace vandrel
