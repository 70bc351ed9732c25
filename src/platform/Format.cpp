#include "platform/Format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace vandrel {

namespace {

std::string ScientificText(double value, int precision, int minExpDigits, bool trimZeros) {
  // "d.ddddE+xx": to_chars gives a locale-free mantissa and exponent that we re-layout.
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, precision - 1);
  std::string s(buf, res.ptr);
  size_t e = s.find('e');
  std::string mant = s.substr(0, e);
  int exp = std::atoi(s.c_str() + e + 1);
  if (trimZeros && mant.find('.') != std::string::npos) {
    while (!mant.empty() && mant.back() == '0') mant.pop_back();
    if (!mant.empty() && mant.back() == '.') mant.pop_back();
  }
  std::string expText = std::to_string(std::abs(exp));
  while (static_cast<int>(expText.size()) < minExpDigits) expText.insert(0, "0");
  std::string out = mant + "E";
  if (exp < 0)
    out += '-';
  else if (minExpDigits > 0)
    out += '+';
  return out + expText;
}

}  // namespace

std::string FormatFixed(double value, int decimals) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (decimals < 0) decimals = 0;
  if (decimals > 18) decimals = 18;
  char buf[400];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  if (res.ec != std::errc()) return "";
  std::string s(buf, res.ptr);
  // "-0.00" reads as zero to users.
  if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
  return s;
}

std::string FormatThousands(double value, int decimals) {
  std::string s = FormatFixed(value, decimals);
  size_t start = (!s.empty() && s[0] == '-') ? 1 : 0;
  size_t dot = s.find('.');
  size_t end = dot == std::string::npos ? s.size() : dot;
  for (size_t i = end; i > start + 3; i -= 3) s.insert(i - 3, ",");
  return s;
}

std::string FormatGeneral(double value, int precision) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (precision <= 0 || precision > 18) precision = 15;
  if (value == 0) return "0";
  // Round to the significant digits first, then decide the layout on the rounded exponent.
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, precision - 1);
  std::string s(buf, res.ptr);
  int exp = std::atoi(s.c_str() + s.find('e') + 1);
  if (exp >= precision || std::fabs(value) < 0.00001) return ScientificText(value, precision, 0, true);
  int decimals = precision - 1 - exp;
  if (decimals < 0) decimals = 0;
  double rounded = 0;
  std::from_chars(s.data(), s.data() + s.size(), rounded);  // not stod: it follows the C locale
  std::string fixed = FormatFixed(rounded, decimals);
  if (fixed.find('.') != std::string::npos) {
    while (fixed.back() == '0') fixed.pop_back();
    if (fixed.back() == '.') fixed.pop_back();
  }
  return fixed;
}

std::string FormatArgs(std::string_view format, const FormatArg* args, size_t count) {
  std::string out;
  size_t next = 0;  // index of the next argument taken without an explicit index
  size_t i = 0;
  while (i < format.size()) {
    char c = format[i];
    if (c != '%') {
      out += c;
      ++i;
      continue;
    }
    size_t start = i++;
    if (i < format.size() && format[i] == '%') {
      out += '%';
      ++i;
      continue;
    }
    auto readNumber = [&](int& target) -> bool {
      if (i < format.size() && format[i] == '*') {
        ++i;
        if (next < count && args[next].IsInteger()) {
          target = static_cast<int>(args[next++].Integer());
          return true;
        }
        return false;
      }
      bool any = false;
      int v = 0;
      while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
        v = std::min(v * 10 + (format[i] - '0'), 100000);  // a width from outside text stays bounded
        ++i;
        any = true;
      }
      if (any) target = v;
      return true;
    };
    int index = -1;
    int width = -1;
    int precision = -1;
    bool left = false;
    bool ok = readNumber(index);
    if (ok && i < format.size() && format[i] == ':') {
      ++i;
      if (index >= 0) next = static_cast<size_t>(index);
    } else {
      width = index;  // the number was a width, not an index
      index = -1;
    }
    if (i < format.size() && format[i] == '-') {
      left = true;
      ++i;
    }
    if (ok && width < 0) ok = readNumber(width);
    if (ok && i < format.size() && format[i] == '.') {
      ++i;
      precision = 0;
      ok = readNumber(precision);
    }
    if (!ok || i >= format.size() || next >= count) {
      // A directive we cannot honour is kept as written so the text still reads.
      out.append(format.substr(start, (i < format.size() ? i + 1 : i) - start));
      i = i < format.size() ? i + 1 : i;
      continue;
    }
    char type = static_cast<char>(format[i] | 0x20);
    ++i;
    const FormatArg& arg = args[next];
    std::string piece;
    bool matched = true;
    switch (type) {
      case 'd':
      case 'u':
        if (arg.IsInteger()) {
          int64_t v = arg.Integer();
          if (type == 'u' && v < 0) v = static_cast<int64_t>(static_cast<uint32_t>(v));
          piece = std::to_string(v < 0 ? -v : v);
          if (precision > static_cast<int>(piece.size())) piece.insert(0, precision - piece.size(), '0');
          if (v < 0) piece.insert(0, "-");
        } else {
          matched = false;
        }
        break;
      case 'x':
        if (arg.IsInteger()) {
          char buf[32];
          auto r = std::to_chars(buf, buf + sizeof buf, static_cast<uint64_t>(arg.Integer()), 16);
          piece.assign(buf, r.ptr);
          for (auto& ch : piece) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
          if (precision > static_cast<int>(piece.size())) piece.insert(0, precision - piece.size(), '0');
        } else {
          matched = false;
        }
        break;
      case 's':
        if (arg.IsText()) {
          piece = arg.Text();
          if (precision >= 0 && static_cast<size_t>(precision) < piece.size()) piece.resize(precision);
        } else {
          matched = false;
        }
        break;
      case 'f':
      case 'e':
      case 'g':
      case 'n':
      case 'm': {
        if (arg.IsText()) {
          matched = false;
          break;
        }
        double v = arg.IsFloat() ? arg.Float() : static_cast<double>(arg.Integer());
        if (type == 'f') piece = FormatFixed(v, precision < 0 ? 2 : precision);
        if (type == 'n') piece = FormatThousands(v, precision < 0 ? 2 : precision);
        if (type == 'm') piece = FormatThousands(v, precision < 0 ? 2 : precision);
        if (type == 'g') piece = FormatGeneral(v, precision < 0 ? 15 : precision);
        if (type == 'e') {
          int p = precision < 0 ? 15 : (precision == 0 ? 1 : precision);
          piece = std::isfinite(v) ? ScientificText(v, p, 3, false) : FormatFixed(v, 0);
        }
        break;
      }
      default:
        matched = false;
    }
    if (!matched) {
      out.append(format.substr(start, i - start));
      continue;
    }
    ++next;
    if (width > static_cast<int>(piece.size())) {
      std::string pad(width - piece.size(), ' ');
      piece = left ? piece + pad : pad + piece;
    }
    out += piece;
  }
  return out;
}

std::string Format(std::string_view format, std::initializer_list<FormatArg> args) {
  return FormatArgs(format, args.begin(), args.size());
}

}  // namespace vandrel
