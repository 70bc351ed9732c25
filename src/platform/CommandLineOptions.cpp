#include "platform/CommandLineOptions.h"

#include <charconv>
#include <cmath>

namespace vandrel {

TCommandLine::TCommandLine(std::vector<TOptionDef> options) : Options_(std::move(options)) {}

const TOptionDef* TCommandLine::Find(std::string_view name) const {
  for (const TOptionDef& option : Options_)
    if (option.Name == name) return &option;
  return nullptr;
}

bool TCommandLine::Parse(const std::vector<std::string>& words) {
  Given_.clear();
  Positionals_.clear();
  Error_.clear();
  HelpAsked_ = false;
  bool optionsEnded = false;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (optionsEnded || word.size() < 2 || word[0] != '-' || (word[1] != '-' && word != "-h")) {
      Positionals_.push_back(word);
      continue;
    }
    if (word == "--") {
      optionsEnded = true;
      continue;
    }
    if (word == "-h" || word == "--help") {
      HelpAsked_ = true;
      continue;
    }
    const size_t eq = word.find('=');
    const std::string name = word.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
    const TOptionDef* option = Find(name);
    if (!option) {
      Error_ = "unknown option --" + name;
      return false;
    }
    std::string value;
    if (option->Kind == TOptionKind::Flag) {
      if (eq != std::string::npos) {
        Error_ = "--" + name + " takes no value";
        return false;
      }
    } else if (eq != std::string::npos) {
      value = word.substr(eq + 1);
    } else if (i + 1 < words.size()) {
      value = words[++i];
    } else {
      Error_ = "--" + name + " needs a value";
      return false;
    }
    auto& values = Given_[name];
    if (option->Kind != TOptionKind::Repeated && !values.empty()) {
      Error_ = "--" + name + " given twice";
      return false;
    }
    values.push_back(std::move(value));
  }
  return true;
}

bool TCommandLine::Has(std::string_view name) const {
  return Given_.find(name) != Given_.end();
}

std::string TCommandLine::Value(std::string_view name, std::string fallback) const {
  auto it = Given_.find(name);
  return it == Given_.end() ? std::move(fallback) : it->second.back();
}

const std::vector<std::string>& TCommandLine::Values(std::string_view name) const {
  static const std::vector<std::string> kNone;
  auto it = Given_.find(name);
  return it == Given_.end() ? kNone : it->second;
}

namespace {

// Reads option `name` of `line` with `parse`; an absent option leaves `out` empty and is no error.
template <typename T, typename Parse>
bool ReadNumber(const TCommandLine& line, std::string_view name, T low, T high, std::optional<T>& out,
                std::string& error, Parse parse) {
  out.reset();
  if (!line.Has(name)) return true;
  T v{};
  std::string problem;
  if (!parse(line.Value(name), low, high, v, problem)) {
    error = "--" + std::string(name) + ": " + problem;
    return false;
  }
  out = v;
  return true;
}

}  // namespace

bool TCommandLine::Integer(std::string_view name, int64_t low, int64_t high, std::optional<int64_t>& out) {
  return ReadNumber(*this, name, low, high, out, Error_, ParseIntegerArg);
}

bool TCommandLine::Decimal(std::string_view name, double low, double high, std::optional<double>& out) {
  return ReadNumber(*this, name, low, high, out, Error_, ParseDecimalArg);
}

namespace {

// What both readers say once from_chars has read `text`: the whole text must be the number, and
// a number that does not fit is out of range as much as one outside [low, high].
template <class T>
bool TakeNumber(std::string_view text, std::from_chars_result read, T value, T low, T high, T& out,
                std::string& error) {
  if (read.ec == std::errc::result_out_of_range) {
    error = "out of range";
    return false;
  }
  if (text.empty() || read.ec != std::errc() || read.ptr != text.data() + text.size()) {
    error = "not a number";
    return false;
  }
  if (value < low || value > high) {
    error = "out of range";
    return false;
  }
  out = value;
  return true;
}

}  // namespace

bool ParseIntegerArg(std::string_view text, int64_t low, int64_t high, int64_t& out, std::string& error) {
  int64_t v = 0;
  const auto read = std::from_chars(text.data(), text.data() + text.size(), v);
  return TakeNumber(text, read, v, low, high, out, error);
}

bool ParseDecimalArg(std::string_view text, double low, double high, double& out, std::string& error) {
  double v = 0;
  const auto read = std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::fixed);
  if (read.ec == std::errc() && !std::isfinite(v)) {
    error = "not a number";
    return false;
  }
  return TakeNumber(text, read, v, low, high, out, error);
}

}  // namespace vandrel
