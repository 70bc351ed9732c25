// Reads the words of one command against a table of its options, and the numbers given in them.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vandrel {

enum class TOptionKind {
  Flag,      // "--json": present or not
  Value,     // "--port N" or "--port=N": at most once
  Repeated,  // "--set A=1 --set B=2": every value kept in order
};

struct TOptionDef {
  std::string Name;  // without the leading dashes
  TOptionKind Kind = TOptionKind::Flag;
};

// "--name value", "--name=value" and "--flag" words; "--" ends the options; "-h" and "--help" ask for the
// usage wherever they stand. Every other word is positional, in order.
class TCommandLine {
 public:
  explicit TCommandLine(std::vector<TOptionDef> options);

  // False with Error() set on an unknown option, a missing value, a value given to a flag or a single
  // option given twice.
  bool Parse(const std::vector<std::string>& words);
  const std::string& Error() const { return Error_; }
  bool HelpAsked() const { return HelpAsked_; }

  bool Has(std::string_view name) const;
  std::string Value(std::string_view name, std::string fallback = {}) const;
  const std::vector<std::string>& Values(std::string_view name) const;
  const std::vector<std::string>& Positionals() const { return Positionals_; }

  // The option's value as a whole number in [low, high]; nullopt when absent. Sets Error() and answers
  // false when the text is not a number or lies outside the range.
  bool Integer(std::string_view name, int64_t low, int64_t high, std::optional<int64_t>& out);
  bool Decimal(std::string_view name, double low, double high, std::optional<double>& out);

 private:
  const TOptionDef* Find(std::string_view name) const;

  std::vector<TOptionDef> Options_;
  std::map<std::string, std::vector<std::string>, std::less<>> Given_;  // name -> values ("" for a flag)
  std::vector<std::string> Positionals_;
  std::string Error_;
  bool HelpAsked_ = false;
};

// Locale-free number reading for arguments. The whole text must be the number; "nan", "inf" and values
// outside the range answer false with `error` set to "not a number" or "out of range".
bool ParseIntegerArg(std::string_view text, int64_t low, int64_t high, int64_t& out, std::string& error);
bool ParseDecimalArg(std::string_view text, double low, double high, double& out, std::string& error);

}  // namespace vandrel
