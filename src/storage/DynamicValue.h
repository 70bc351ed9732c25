// A dynamic value of a stored field: empty, Boolean, integer, double or string.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace vandrel {

class TDynamicValue {
 public:
  // ORDER: a value's kind decides how it is streamed and compared.
  enum class TKind { Empty, Boolean, Integer, Double, String };

  TDynamicValue() = default;
  TDynamicValue(bool v) : value_(v) {}
  TDynamicValue(int v) : value_(static_cast<int64_t>(v)) {}
  TDynamicValue(int64_t v) : value_(v) {}
  TDynamicValue(double v) : value_(v) {}
  TDynamicValue(const char* v) : value_(std::string(v)) {}
  TDynamicValue(std::string v) : value_(std::move(v)) {}

  TKind Kind() const { return static_cast<TKind>(value_.index()); }
  bool IsEmpty() const { return Kind() == TKind::Empty; }
  bool AsBoolean() const;
  int64_t AsInteger() const;
  double AsDouble() const;
  // The value as text: integers in decimal, doubles in the general format, Booleans as "True"/"False".
  std::string AsString() const;
  // The text of a string value without copying it; null for other kinds.
  const std::string* StringPtr() const { return std::get_if<std::string>(&value_); }

  bool operator==(const TDynamicValue& other) const { return value_ == other.value_; }

 private:
  std::variant<std::monostate, bool, int64_t, double, std::string> value_;
};

}  // namespace vandrel
