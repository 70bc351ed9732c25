#include "platform/JsonWriter.h"

#include <charconv>
#include <cmath>

#include "platform/TextUtils.h"

namespace vandrel {

std::string JsonQuote(std::string_view text) {
  const std::string shown = ToDisplayText(text);
  std::string out = "\"";
  out.reserve(shown.size() + 2);
  for (char ch : shown) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || c == 0x7f) {
      static const char* hex = "0123456789abcdef";
      out += "\\u00";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

void TJsonWriter::BeforeValue() {
  if (AfterKey_) {
    AfterKey_ = false;
    return;
  }
  if (Levels_.empty()) return;
  TLevel& level = Levels_.back();
  if (!level.Empty) Out_ += level.IsArray && Levels_.size() == 1 ? "," : ", ";
  if (level.IsArray && Levels_.size() == 1) Out_ += "\n  ";
  level.Empty = false;
}

TJsonWriter& TJsonWriter::BeginObject() {
  BeforeValue();
  Out_ += '{';
  Levels_.push_back({false, true});
  return *this;
}

TJsonWriter& TJsonWriter::EndObject() {
  Levels_.pop_back();
  Out_ += '}';
  return *this;
}

TJsonWriter& TJsonWriter::BeginArray() {
  BeforeValue();
  Out_ += '[';
  Levels_.push_back({true, true});
  return *this;
}

TJsonWriter& TJsonWriter::EndArray() {
  // A top-level list closes on a line of its own, like its elements.
  if (Levels_.size() == 1 && !Levels_.back().Empty) Out_ += '\n';
  Levels_.pop_back();
  Out_ += ']';
  return *this;
}

TJsonWriter& TJsonWriter::Key(std::string_view name) {
  BeforeValue();
  Out_ += JsonQuote(name);
  Out_ += ": ";
  AfterKey_ = true;
  return *this;
}

TJsonWriter& TJsonWriter::String(std::string_view text) {
  BeforeValue();
  Out_ += JsonQuote(text);
  return *this;
}

TJsonWriter& TJsonWriter::Integer(int64_t value) {
  BeforeValue();
  Out_ += std::to_string(value);
  return *this;
}

TJsonWriter& TJsonWriter::Number(double value) {
  BeforeValue();
  if (!std::isfinite(value)) {
    Out_ += "null";
    return *this;
  }
  char buf[32];
  auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, value);
  Out_.append(buf, ec == std::errc() ? ptr : buf);
  return *this;
}

TJsonWriter& TJsonWriter::Bool(bool value) {
  BeforeValue();
  Out_ += value ? "true" : "false";
  return *this;
}

TJsonWriter& TJsonWriter::Null() {
  BeforeValue();
  Out_ += "null";
  return *this;
}

TJsonWriter& TJsonWriter::Member(std::string_view name, const std::vector<std::string>& texts) {
  Key(name).BeginArray();
  for (const std::string& t : texts) String(t);
  return EndArray();
}

}  // namespace vandrel
