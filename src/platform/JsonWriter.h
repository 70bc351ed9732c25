// Writes JSON text for the command-line programs: objects, arrays, strings shown as valid UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vandrel {

// A JSON string literal of the display form of `text` (8-bit text that is not UTF-8 is read as
// Windows-1252); quotes, backslashes and control bytes are escaped.
std::string JsonQuote(std::string_view text);

// Builds one JSON value into a string. Members are separated by ", " and keys by ": "; the elements of
// a top-level array stand on lines of their own, two spaces in, which keeps long result lists readable
// and diffable. Calls must nest properly; the writer does not check.
class TJsonWriter {
 public:
  TJsonWriter& BeginObject();
  TJsonWriter& EndObject();
  TJsonWriter& BeginArray();
  TJsonWriter& EndArray();
  TJsonWriter& Key(std::string_view name);
  TJsonWriter& String(std::string_view text);
  TJsonWriter& Integer(int64_t value);
  TJsonWriter& Number(double value);  // shortest form that reads back the same; not finite: null
  TJsonWriter& Bool(bool value);
  TJsonWriter& Null();

  // Shorthands for a member.
  TJsonWriter& Member(std::string_view name, std::string_view text) { return Key(name).String(text); }
  TJsonWriter& Member(std::string_view name, const char* text) { return Key(name).String(text); }
  TJsonWriter& Member(std::string_view name, int64_t value) { return Key(name).Integer(value); }
  TJsonWriter& Member(std::string_view name, int value) { return Key(name).Integer(value); }
  TJsonWriter& Member(std::string_view name, bool value) { return Key(name).Bool(value); }
  TJsonWriter& Member(std::string_view name, const std::vector<std::string>& texts);

  const std::string& Text() const { return Out_; }

 private:
  void BeforeValue();

  struct TLevel {
    bool IsArray;
    bool Empty;
  };
  std::string Out_;
  std::vector<TLevel> Levels_;
  bool AfterKey_ = false;  // the next value completes a member
};

}  // namespace vandrel
