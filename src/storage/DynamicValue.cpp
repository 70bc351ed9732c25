#include "storage/DynamicValue.h"

#include <charconv>
#include <cmath>

#include "platform/Format.h"

namespace vandrel {
namespace {

// The number a text starts with; 0 when it starts with none.
template <class T>
T LeadingNumber(const std::string& s) {
  T v = 0;
  std::from_chars(s.data(), s.data() + s.size(), v);
  return v;
}

}  // namespace

bool TDynamicValue::AsBoolean() const {
  switch (Kind()) {
    case TKind::Boolean:
      return std::get<bool>(value_);
    case TKind::Integer:
      return std::get<int64_t>(value_) != 0;
    case TKind::Double:
      return std::get<double>(value_) != 0;
    case TKind::String: {
      const auto& s = std::get<std::string>(value_);
      return s == "True" || s == "true" || s == "TRUE" || s == "1";
    }
    default:
      return false;
  }
}

int64_t TDynamicValue::AsInteger() const {
  switch (Kind()) {
    case TKind::Boolean:
      return std::get<bool>(value_) ? 1 : 0;
    case TKind::Integer:
      return std::get<int64_t>(value_);
    case TKind::Double: {
      double d = std::nearbyint(std::get<double>(value_));
      if (!std::isfinite(d) || std::fabs(d) > 9.2e18) return 0;
      return static_cast<int64_t>(d);
    }
    case TKind::String:
      return LeadingNumber<int64_t>(std::get<std::string>(value_));
    default:
      return 0;
  }
}

double TDynamicValue::AsDouble() const {
  switch (Kind()) {
    case TKind::Boolean:
      return std::get<bool>(value_) ? 1 : 0;
    case TKind::Integer:
      return static_cast<double>(std::get<int64_t>(value_));
    case TKind::Double:
      return std::get<double>(value_);
    case TKind::String:
      return LeadingNumber<double>(std::get<std::string>(value_));
    default:
      return 0;
  }
}

std::string TDynamicValue::AsString() const {
  switch (Kind()) {
    case TKind::Boolean:
      return std::get<bool>(value_) ? "True" : "False";
    case TKind::Integer:
      return std::to_string(std::get<int64_t>(value_));
    case TKind::Double:
      return FormatGeneral(std::get<double>(value_));
    case TKind::String:
      return std::get<std::string>(value_);
    default:
      return {};
  }
}

}  // namespace vandrel
