// Delphi-style message formatting that never depends on the C locale and never hands a format to printf.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace vandrel {

// One argument of Format: an integer, a floating-point number or a text.
class FormatArg {
 public:
  FormatArg(int v) : value_(static_cast<int64_t>(v)) {}
  FormatArg(unsigned v) : value_(static_cast<int64_t>(v)) {}
  FormatArg(long v) : value_(static_cast<int64_t>(v)) {}
  FormatArg(long long v) : value_(static_cast<int64_t>(v)) {}
  FormatArg(unsigned long v) : value_(static_cast<int64_t>(v)) {}
  FormatArg(double v) : value_(v) {}
  FormatArg(float v) : value_(static_cast<double>(v)) {}
  FormatArg(const char* v) : value_(std::string(v ? v : "")) {}
  FormatArg(std::string v) : value_(std::move(v)) {}
  FormatArg(std::string_view v) : value_(std::string(v)) {}

  bool IsInteger() const { return std::holds_alternative<int64_t>(value_); }
  bool IsFloat() const { return std::holds_alternative<double>(value_); }
  bool IsText() const { return std::holds_alternative<std::string>(value_); }
  int64_t Integer() const { return std::get<int64_t>(value_); }
  double Float() const { return std::get<double>(value_); }
  const std::string& Text() const { return std::get<std::string>(value_); }

 private:
  std::variant<int64_t, double, std::string> value_;
};

// Formats `format` with Delphi's rules: "%" [index ":"] ["-"] [width] ["." precision] type, where type is
// one of d u x s f e g n m (case-insensitive) and "%%" is a percent sign. "*" takes a width or precision
// from the arguments. A missing argument or a type mismatch leaves the directive as written; nothing
// throws. `%g` gives at most 15 significant digits (or the precision), the shorter of fixed and
// scientific notation, the way the scripts and field formats expect.
std::string Format(std::string_view format, std::initializer_list<FormatArg> args);
std::string FormatArgs(std::string_view format, const FormatArg* args, size_t count);

// A number in the general format ("%g"): 2.5 -> "2.5", 3 -> "3", 1e20 -> "1E20".
std::string FormatGeneral(double value, int precision = 15);
// A number with a fixed count of decimals, '.' as separator ("%.2f").
std::string FormatFixed(double value, int decimals);
// A number with a fixed count of decimals and ',' grouping the thousands ("%n").
std::string FormatThousands(double value, int decimals);

}  // namespace vandrel
