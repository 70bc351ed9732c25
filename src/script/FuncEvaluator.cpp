#include "script/FuncEvaluator.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <random>

#include "platform/Format.h"
#include "platform/TextUtils.h"
#include "platform/UrlUtils.h"

namespace vandrel {

namespace {

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}
std::string PercentHex(unsigned char c) {
  static const char* kDigits = "0123456789ABCDEF";
  std::string s = "%";
  s += kDigits[c >> 4];
  s += kDigits[c & 15];
  return s;
}
// Case-insensitive (A-Z) search of `what` in `s` from `from`.
size_t FindNoCase(const std::string& s, const std::string& what, size_t from) {
  if (what.empty() || what.size() > s.size()) return std::string::npos;
  for (size_t i = from; i + what.size() <= s.size(); ++i) {
    size_t k = 0;
    while (k < what.size() && AsciiLower(s[i + k]) == AsciiLower(what[k])) ++k;
    if (k == what.size()) return i;
  }
  return std::string::npos;
}

// ---- Dates

const char* const kShortDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kLongDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                 "Thursday", "Friday", "Saturday"};
const char* const kShortMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kLongMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                                   "July",    "August",   "September", "October", "November", "December"};

struct TDateParts {
  int Year, Month, Day, Hour, Minute, Second, Milli, DayOfWeek;
};

// Days since 1899-12-30 to the civil date (proleptic Gregorian).
TDateParts SplitDate(double t) {
  if (!std::isfinite(t) || t > 2958466.0 || t < -693593.0)
    throw EScriptFault(kErrConvert, "Invalid argument to date encode");
  double dayPart = std::floor(t);
  // Negative values count days backwards but the time of day forwards.
  double frac = std::fabs(t - std::trunc(t));
  long days = static_cast<long>(std::trunc(t));
  (void)dayPart;
  long z = days - 25569 + 719468;  // to days since 0000-03-01 via the Unix epoch
  long era = (z >= 0 ? z : z - 146096) / 146097;
  long doe = z - era * 146097;
  long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long y = yoe + era * 400;
  long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  long mp = (5 * doy + 2) / 153;
  long d = doy - (153 * mp + 2) / 5 + 1;
  long m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
  TDateParts p{};
  p.Year = static_cast<int>(y);
  p.Month = static_cast<int>(m);
  p.Day = static_cast<int>(d);
  long ms = std::lround(frac * 86400000.0);
  if (ms >= 86400000) ms = 86399999;
  p.Hour = static_cast<int>(ms / 3600000);
  p.Minute = static_cast<int>(ms / 60000 % 60);
  p.Second = static_cast<int>(ms / 1000 % 60);
  p.Milli = static_cast<int>(ms % 1000);
  p.DayOfWeek = static_cast<int>(((days % 7) + 7 + 6) % 7);  // 1899-12-30 was a Saturday
  return p;
}

std::string Pad(int v, int width) {
  std::string s = std::to_string(v);
  while (static_cast<int>(s.size()) < width) s.insert(0, "0");
  return s;
}

const char* const kShortDate = "m/d/yyyy";
const char* const kLongDate = "dddd, mmmm d, yyyy";
const char* const kShortTime = "h:nn ampm";
const char* const kLongTime = "h:nn:ss ampm";

void FormatDatePart(const std::string& f, const TDateParts& p, std::string& out, int nest);

// One pass over a date-time pattern. Each letter run writes its part; named forms (c, ddddd, t, ...)
// expand to patterns of their own, nested at most a few levels.
class TDatePatternWriter {
 public:
  TDatePatternWriter(const std::string& f, const TDateParts& p, std::string& out, int nest)
      : f_(f), p_(p), out_(out), nest_(nest) {
    // A 12-hour clock when the pattern asks for am/pm anywhere.
    std::string lf = LowerAscii(f);
    twelve_ = lf.find("am/pm") != std::string::npos || lf.find("a/p") != std::string::npos ||
              lf.find("ampm") != std::string::npos;
  }

  void Run() {
    while (i_ < f_.size()) {
      char c = f_[i_];
      if (c == '"' || c == '\'') {
        Quoted(c);
        continue;
      }
      char lc = AsciiLower(c);
      bool hour = lc == 'h';
      if (!Letter(lc)) {
        out_ += c;
        ++i_;
        continue;
      }
      // Separators and am/pm leave the hour context alone ("h:mm" is minutes); every other part ends it.
      if (lc != 'a' && lc != '/' && lc != ':') afterHour_ = hour;
    }
  }

 private:
  // Length of the run of `c` (either case) at the cursor.
  size_t RunOf(char c) const {
    size_t n = 0;
    while (i_ + n < f_.size() && AsciiLower(f_[i_ + n]) == c) ++n;
    return n;
  }
  void Nested(const char* pattern) { FormatDatePart(pattern, p_, out_, nest_ + 1); }
  void Number(int v, size_t n, int width) { out_ += n == 1 ? std::to_string(v) : Pad(v, width); }

  void Quoted(char quote) {
    size_t close = f_.find(quote, i_ + 1);
    size_t end = close == std::string::npos ? f_.size() : close;
    out_ += f_.substr(i_ + 1, end - i_ - 1);
    i_ = close == std::string::npos ? f_.size() : close + 1;
  }

  // Writes the part at the cursor for a pattern letter and moves past it; false for other characters.
  bool Letter(char lc) {
    size_t n = lc == 'c' || lc == '/' || lc == ':' ? 1 : RunOf(lc);
    switch (lc) {
      case 'c':
        Nested(kShortDate);
        if (p_.Hour || p_.Minute || p_.Second) {
          out_ += ' ';
          Nested(kLongTime);
        }
        break;
      case 'd':
        Day(n);
        break;
      case 'm':
        Month(n);
        break;
      case 'y':
        out_ += n <= 2 ? Pad(p_.Year % 100, 2) : Pad(p_.Year, 4);
        break;
      case 'h':
        Number(twelve_ ? (p_.Hour % 12 == 0 ? 12 : p_.Hour % 12) : p_.Hour, n, 2);
        break;
      case 'n':
        Number(p_.Minute, n, 2);
        break;
      case 's':
        Number(p_.Second, n, 2);
        break;
      case 'z':
        out_ += n >= 3 ? Pad(p_.Milli, 3) : std::to_string(p_.Milli);
        break;
      case 't':
        Nested(n == 1 ? kShortTime : kLongTime);
        break;
      case 'a':
        return AmPm();
      case '/':
      case ':':
        out_ += lc;
        break;
      default:
        return false;
    }
    i_ += n;
    return true;
  }

  void Day(size_t n) {
    if (n <= 2)
      Number(p_.Day, n, 2);
    else if (n == 3)
      out_ += kShortDays[p_.DayOfWeek];
    else if (n == 4)
      out_ += kLongDays[p_.DayOfWeek];
    else
      Nested(n == 5 ? kShortDate : kLongDate);
  }

  // "ampm" and "am/pm" start with 'a', so an 'm' here is a month or, right after an hour, minutes.
  void Month(size_t n) {
    if (afterHour_ && n <= 2)
      Number(p_.Minute, n, 2);
    else if (n <= 2)
      Number(p_.Month, n, 2);
    else
      out_ += (n == 3 ? kShortMonths : kLongMonths)[p_.Month - 1];
  }

  bool AmPm() {
    std::string rest = LowerAscii(f_.substr(i_, 5));
    bool pm = p_.Hour >= 12;
    if (rest == "am/pm") {
      out_ += f_.substr(i_ + (pm ? 3 : 0), 2);
      i_ += 5;
    } else if (rest.compare(0, 3, "a/p") == 0) {
      out_ += f_[i_ + (pm ? 2 : 0)];
      i_ += 3;
    } else if (rest.compare(0, 4, "ampm") == 0) {
      out_ += pm ? "PM" : "AM";
      i_ += 4;
    } else {
      out_ += f_[i_];
      ++i_;
    }
    return true;
  }

  const std::string& f_;
  const TDateParts& p_;
  std::string& out_;
  int nest_;
  bool twelve_ = false;
  bool afterHour_ = false;  // the last part was an hour: "m" and "mm" mean minutes
  size_t i_ = 0;            // cursor into the pattern
};

void FormatDatePart(const std::string& f, const TDateParts& p, std::string& out, int nest) {
  if (nest > 3) return;
  TDatePatternWriter(f, p, out, nest).Run();
}

double NowAsDays() {
  auto now = std::chrono::system_clock::now();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  std::time_t secs = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
  localtime_r(&secs, &tm);
  double localSecs = static_cast<double>(secs) + static_cast<double>(tm.tm_gmtoff);
  return 25569.0 + (localSecs + static_cast<double>(ms % 1000) / 1000.0) / 86400.0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------

std::string ScriptClean(const std::string& s, const std::function<std::string(const std::string&)>& decode) {
  std::string noTags;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '<') {
      size_t close = s.find('>', i);
      if (close == std::string::npos) break;
      i = close;
      continue;
    }
    noTags += s[i];
  }
  std::string collapsed;
  for (char c : noTags) {
    if (c == ' ' && !collapsed.empty() && collapsed.back() == ' ') continue;
    collapsed += c;
  }
  std::string decoded = decode ? decode(collapsed) : collapsed;
  std::string unescaped;
  for (size_t i = 0; i < decoded.size(); ++i) {
    if (decoded[i] == '%' && i + 2 < decoded.size() && IsHex(decoded[i + 1]) && IsHex(decoded[i + 2])) {
      unescaped += static_cast<char>(HexValue(decoded[i + 1]) * 16 + HexValue(decoded[i + 2]));
      i += 2;
      continue;
    }
    unescaped += decoded[i];
  }
  return std::string(Trim(unescaped, kAsciiControlsAndSpace));
}

std::string ScriptFormatISBN(const std::string& s) {
  if (s.size() != 10) return s;
  auto num = [&](size_t from, size_t len, int& out) {
    out = 0;
    for (size_t i = from; i < from + len; ++i) {
      if (s[i] < '0' || s[i] > '9') return false;
      out = out * 10 + (s[i] - '0');
    }
    return true;
  };
  // Character positions are 1-based in the rules: publisher from 2, title up to 9, check digit 10.
  auto join = [&](size_t pubEnd) {
    return s.substr(0, 1) + "-" + s.substr(1, pubEnd - 1) + "-" + s.substr(pubEnd, 9 - pubEnd) + "-" +
           s.substr(9, 1);
  };
  int p = 0;
  if (s[0] == '0') {
    if (!num(1, 2, p)) return s;
    if (p <= 19) return join(3);
    if (p <= 69) return join(4);
    if (p <= 84) return join(5);
    if (p <= 89) return join(6);
    if (p <= 94) return join(7);
    return join(8);
  }
  if (s[0] == '1') {
    if (!num(1, 4, p)) return s;
    if (p >= 5500 && p <= 8697) return join(6);
    if (p >= 8698 && p <= 9989) return join(7);
    if (p >= 9990 && p <= 9999) return join(8);
    return s;
  }
  return s;
}

std::string ScriptSafeUrl(const std::string& url) {
  size_t scheme = url.find("://");
  if (scheme == std::string::npos) return url;
  size_t slash = url.find('/', scheme + 3);
  if (slash == std::string::npos) return url;
  static const std::string kKeep = "@!$%&'()*+,-./:;=?[]_";
  std::string out = url.substr(0, slash + 1);
  for (size_t i = slash + 1; i < url.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(url[i]);
    bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                (c < 128 && kKeep.find(static_cast<char>(c)) != std::string::npos);
    out += keep ? std::string(1, static_cast<char>(c)) : PercentHex(c);
  }
  return out;
}

std::string ScriptSafeVar(const std::string& s) {
  static const std::string kEscape = " \"@#%&+/:;<=>?";
  std::string out;
  for (char ch : s) {
    unsigned char c = static_cast<unsigned char>(ch);
    bool esc = c < 32 || c >= 127 || kEscape.find(ch) != std::string::npos;
    out += esc ? PercentHex(c) : std::string(1, ch);
  }
  return out;
}

std::string ScriptCapitalize(const std::string& s) {
  static const std::string kSeparators = " \"!&()./:;<=>?[]{|}";
  std::string out = s;
  bool wordStart = true;
  for (char& c : out) {
    bool sep = kSeparators.find(c) != std::string::npos;
    if (wordStart) {
      if (!sep) {
        wordStart = false;
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
      }
    } else if (sep) {
      wordStart = true;
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c + 32);
    }
  }
  return out;
}

std::string ScriptSentence(const std::string& s) {
  auto isTerm = [](char c) { return c == '!' || c == '.' || c == ';' || c == '?'; };
  auto isGap = [](char c) { return c == '\n' || c == '\r' || c == ' '; };
  std::string out = s;
  bool capNext = true, afterTerm = false;
  for (char& c : out) {
    if (afterTerm) {
      if (isGap(c)) {
        capNext = true;
        afterTerm = false;
      } else if (!isTerm(c)) {
        afterTerm = false;
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
      }
    } else if (capNext) {
      if (isTerm(c) || isGap(c)) continue;
      capNext = false;
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    } else {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
      if (isTerm(c)) afterTerm = true;
    }
  }
  return out;
}

std::string ScriptEllipsis(const std::string& s, int64_t n) {
  if (n < static_cast<int64_t>(Trim(s, kAsciiControlsAndSpace).size())) {
    if (n < 3) return "...";
    return s.substr(0, static_cast<size_t>(n - 3)) + "...";
  }
  return s;
}

std::string ScriptEntry(int64_t index, const std::string& s, const std::string& separator) {
  if (index < 1) return "";
  // An empty separator never occurs: the whole text is entry 1 (and the search cannot loop).
  if (separator.empty()) return index == 1 ? s : "";
  size_t start = 0;
  for (int64_t k = 1;; ++k) {
    size_t p = FindNoCase(s, separator, start);
    if (k == index) return s.substr(start, p == std::string::npos ? std::string::npos : p - start);
    if (p == std::string::npos) return "";
    start = p + separator.size();
  }
}

std::string ScriptReplace(const std::string& s, const std::string& oldText, const std::string& newText) {
  if (oldText.empty()) return s;
  std::string out;
  size_t start = 0;
  for (;;) {
    size_t p = FindNoCase(s, oldText, start);
    if (p == std::string::npos) break;
    out.append(s, start, p - start);
    out += newText;
    start = p + oldText.size();
  }
  out.append(s, start, std::string::npos);
  return out;
}

std::string ScriptFormatValue(const std::string& format, const TBaseEvalItem& value) {
  // The value decides the argument kind; a directive that wants another kind is a conversion fault.
  char kind = IsIntegralType(value.DataType) ? 'i' : (value.DataType == dtString ? 's' : 'f');
  auto fault = [&]() {
    throw EScriptFault(kErrConvert, "Format '" + format + "' invalid or incompatible with argument");
  };
  // There is one value: a directive without an index takes the value after the previous directive's, so
  // a second one has nothing left to take.
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') continue;
    size_t j = i + 1;
    if (j < format.size() && format[j] == '%') {
      i = j;
      continue;
    }
    size_t digitsStart = j;
    while (j < format.size() && format[j] >= '0' && format[j] <= '9') ++j;
    if (j < format.size() && format[j] == ':') {
      if (format.substr(digitsStart, j - digitsStart) != "0" && j != digitsStart) fault();
      next = 0;
      ++j;
    } else {
      j = digitsStart;
    }
    if (next > 0) fault();
    ++next;
    if (j < format.size() && format[j] == '-') ++j;
    while (j < format.size() && format[j] >= '0' && format[j] <= '9') ++j;
    if (j < format.size() && format[j] == '.') {
      ++j;
      while (j < format.size() && format[j] >= '0' && format[j] <= '9') ++j;
    }
    if (j >= format.size()) fault();
    char t = AsciiLower(format[j]);
    bool ok = ((t == 'd' || t == 'u' || t == 'x') && kind == 'i') ||
              ((t == 'e' || t == 'f' || t == 'g' || t == 'n' || t == 'm') && kind == 'f') ||
              (t == 's' && kind == 's');
    if (!ok) fault();
    i = j;
  }
  if (kind == 'i') return Format(format, {static_cast<long long>(value.AsInteger())});
  if (kind == 's') return Format(format, {value.Text});
  return Format(format, {value.Number});
}

std::string ScriptFormatDateTime(const std::string& format, double t) {
  TDateParts p = SplitDate(t);
  std::string out;
  FormatDatePart(format.empty() ? "c" : format, p, out, 0);
  return out;
}

int64_t ScriptRound(double x) {
  if (!std::isfinite(x)) throw EScriptFault(kErrInvalidFloatOperation, "");
  double f = std::floor(x);
  double diff = x - f;
  double r = f;
  if (diff > 0.5 || (diff == 0.5 && std::fmod(f, 2.0) != 0)) r = f + 1;
  int64_t out = 0;
  if (!DoubleToInt64(r, out)) throw EScriptFault(kErrOverflow, "");
  return out;
}

// ---------------------------------------------------------------------------------------------------

namespace {

// Argument readers; arguments come off the stack last first.
std::string PopText(TBaseEvaluator& ev) {
  return ev.Stack.PopString();
}
double PopNumber(TBaseEvaluator& ev) {
  return ev.Stack.PopFloat();
}
int64_t PopWhole(TBaseEvaluator& ev) {
  int64_t i = 0;
  if (!DoubleToInt64(ev.Stack.PopFloat(), i)) throw EScriptFault(kErrOverflow, "");
  return i;
}
TUrlFunctions& UrlOf(TBaseEvaluator& ev) {
  // Every evaluator that registers the built-ins is a TFuncEvaluator.
  return static_cast<TFuncEvaluator&>(ev).Url;
}
// 1-based position of a find, 0 for none.
void PushPosition(TBaseEvaluator& ev, size_t p) {
  ev.Stack.PushInteger(p == std::string::npos ? 0 : static_cast<int64_t>(p) + 1);
}

void FnChr(TBaseEvaluator& ev) {
  int64_t i = PopWhole(ev);
  ev.Stack.PushString(std::string(1, static_cast<char>(((i % 256) + 256) % 256)));
}
void FnClean(TBaseEvaluator& ev) {
  ev.Stack.PushString(ScriptClean(PopText(ev), UrlOf(ev).DecodeEntities));
}
void FnDeclared(TBaseEvaluator& ev) {
  ev.Stack.PushBoolean(ev.Variables()->Find(PopText(ev)) != nullptr);
}
void FnGetDataType(TBaseEvaluator& ev) {
  TVariable* v = ev.Variables()->Find(PopText(ev));
  ev.Stack.PushInteger(v ? v->DataType : 0);
}
void FnExtractDomain(TBaseEvaluator& ev) {
  ev.Stack.PushString(UrlOf(ev).NetLoc(PopText(ev)));
}
void FnGetQueryField(TBaseEvaluator& ev) {
  std::string name = PopText(ev), url = PopText(ev);
  ev.Stack.PushString(UrlOf(ev).GetQueryField(url, name));
}
void FnSetQueryField(TBaseEvaluator& ev) {
  std::string value = PopText(ev), name = PopText(ev), url = PopText(ev);
  ev.Stack.PushString(UrlOf(ev).SetQueryField(url, name, value));
}
void FnReduceUrl(TBaseEvaluator& ev) {
  std::string url = PopText(ev);
  int flags = static_cast<int>(ev.Variables()->GetInteger("UrlReduction", 0));
  ev.Stack.PushString(UrlOf(ev).ReduceUrl(url, flags));
}
void FnFormatDateTime(TBaseEvaluator& ev) {
  double t = PopNumber(ev);
  ev.Stack.PushString(ScriptFormatDateTime(PopText(ev), t));
}
void FnFormatISBN(TBaseEvaluator& ev) {
  ev.Stack.PushString(ScriptFormatISBN(PopText(ev)));
}
void FnIif(TBaseEvaluator& ev) {
  TStackItem b, a;
  b.Assign(ev.Stack.Top());
  ev.Stack.Pop();
  a.Assign(ev.Stack.Top());
  ev.Stack.Pop();
  if (ev.Stack.Empty()) return ev.SetError(kErrMissingParameter, "Missing parameter");
  const TStackItem& c = ev.Stack.Top();
  bool truth;
  if (IsNumericType(c.DataType))
    truth = c.AsBoolean();
  else if (c.DataType == dtString)
    truth = !c.Text.empty();
  else if (c.DataType == dtObject)
    truth = c.ObjectRef != nullptr;
  else
    return ev.SetTypeError(c.DataType, dtBoolean);
  ev.Stack.Pop();
  ev.Stack.PushHostValue(ToHostValue(truth ? a : b));
}
void FnLogN(TBaseEvaluator& ev) {
  double x = PopNumber(ev), base = PopNumber(ev);
  if (x <= 0 || base <= 0) throw EScriptFault(kErrInvalidFloatOperation, "");
  double r = std::log(x) / std::log(base);
  if (std::isnan(r)) throw EScriptFault(kErrInvalidFloatOperation, "");
  if (std::isinf(r)) throw EScriptFault(kErrDivisionByZero, "");
  ev.Stack.PushFloat(r);
}
void FnNow(TBaseEvaluator& ev) {
  ev.Stack.PushFloat(NowAsDays());
}
void FnRandom(TBaseEvaluator& ev) {
  int64_t n = PopWhole(ev);
  if (n <= 0) return ev.Stack.PushInteger(0);
  // A generator of its own, seeded from the clock at each draw: two quick draws may repeat.
  std::mt19937_64 gen(static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  ev.Stack.PushInteger(static_cast<int64_t>(gen() % static_cast<uint64_t>(n)));
}
void FnRound(TBaseEvaluator& ev) {
  ev.Stack.PushInteger(ScriptRound(PopNumber(ev)));
}
void FnTrunc(TBaseEvaluator& ev) {
  ev.Stack.PushInteger(PopWhole(ev));
}
void FnSafeUrl(TBaseEvaluator& ev) {
  ev.Stack.PushString(ScriptSafeUrl(PopText(ev)));
}
void FnSafeVar(TBaseEvaluator& ev) {
  ev.Stack.PushString(ScriptSafeVar(PopText(ev)));
}
void FnStrCopy(TBaseEvaluator& ev) {
  int64_t count = PopWhole(ev), index = PopWhole(ev);
  std::string s = PopText(ev);
  if (index < 1) index = 1;
  if (count <= 0 || index > static_cast<int64_t>(s.size())) return ev.Stack.PushString("");
  ev.Stack.PushString(s.substr(static_cast<size_t>(index - 1), static_cast<size_t>(std::min<int64_t>(
                                                                   count, static_cast<int64_t>(s.size())))));
}
void FnStrCapitalize(TBaseEvaluator& ev) {
  ev.Stack.PushString(ScriptCapitalize(PopText(ev)));
}
void FnStrDelete(TBaseEvaluator& ev) {
  int64_t count = PopWhole(ev), index = PopWhole(ev);
  std::string s = PopText(ev);
  if (index >= 1 && index <= static_cast<int64_t>(s.size()) && count > 0)
    s.erase(static_cast<size_t>(index - 1),
            static_cast<size_t>(std::min<int64_t>(count, static_cast<int64_t>(s.size()))));
  ev.Stack.PushString(std::move(s));
}
void FnStrEllipsis(TBaseEvaluator& ev) {
  int64_t n = PopWhole(ev);
  ev.Stack.PushString(ScriptEllipsis(PopText(ev), n));
}
void FnStrEntry(TBaseEvaluator& ev) {
  std::string sep = PopText(ev), s = PopText(ev);
  int64_t index = PopWhole(ev);
  ev.Stack.PushString(ScriptEntry(index, s, sep));
}
void FnStrFind(TBaseEvaluator& ev) {
  // Read where they are: the arguments' buffers stay with the stack for the next values.
  const size_t n = ev.Stack.Count();
  size_t p = std::string::npos;
  if (n >= 2) {
    const std::string& s = ev.Stack.At(n - 1).Text;
    const std::string& what = ev.Stack.At(n - 2).Text;
    if (!what.empty()) p = s.find(what);
  }
  ev.Stack.Pop();
  ev.Stack.Pop();
  PushPosition(ev, p);
}
void FnStrFindFrom(TBaseEvaluator& ev) {
  int64_t from = std::max<int64_t>(PopWhole(ev), 1);
  std::string s = PopText(ev), what = PopText(ev);
  bool none = what.empty() || from > static_cast<int64_t>(s.size());
  PushPosition(ev, none ? std::string::npos : s.find(what, static_cast<size_t>(from - 1)));
}
void FnStrFormat(TBaseEvaluator& ev) {
  TStackItem value;
  value.Assign(ev.Stack.Top());
  ev.Stack.Pop();
  bool formatIsString = ev.Stack.Top().DataType == dtString;
  std::string format = PopText(ev);
  bool usable = IsNumericType(value.DataType) || value.DataType == dtString;
  if (!formatIsString || !usable)
    return ev.SetError(kErrInvalidParameter, Format("Invalid parameter: '%s'", {""}));
  ev.Stack.PushString(ScriptFormatValue(format, value));
}
void FnStrInsert(TBaseEvaluator& ev) {
  int64_t index = std::max<int64_t>(PopWhole(ev), 1);
  std::string s = PopText(ev), what = PopText(ev);
  s.insert(std::min<size_t>(static_cast<size_t>(index - 1), s.size()), what);
  ev.Stack.PushString(std::move(s));
}
void FnStrLength(TBaseEvaluator& ev) {
  ev.Stack.PushInteger(static_cast<int64_t>(PopText(ev).size()));
}
void FnStrSentence(TBaseEvaluator& ev) {
  ev.Stack.PushString(ScriptSentence(PopText(ev)));
}
void FnStrLower(TBaseEvaluator& ev) {
  ev.Stack.PushString(LowerAscii(PopText(ev)));
}
void FnStrUpper(TBaseEvaluator& ev) {
  ev.Stack.PushString(UpperAscii(PopText(ev)));
}
void FnStrReplace(TBaseEvaluator& ev) {
  std::string nw = PopText(ev), old = PopText(ev), s = PopText(ev);
  ev.Stack.PushString(ScriptReplace(s, old, nw));
}
void FnStrReverseFind(TBaseEvaluator& ev) {
  std::string s = PopText(ev), what = PopText(ev);
  PushPosition(ev, what.empty() ? std::string::npos : s.rfind(what));
}
void FnStrReverseFindFrom(TBaseEvaluator& ev) {
  int64_t from = std::max<int64_t>(PopWhole(ev), 1);
  std::string s = PopText(ev), what = PopText(ev);
  int64_t limit = static_cast<int64_t>(s.size()) - from + 1;
  size_t p = std::string::npos;
  if (!what.empty() && limit > 0) p = std::string_view(s).substr(0, static_cast<size_t>(limit)).rfind(what);
  PushPosition(ev, p);
}
void FnStrTrim(TBaseEvaluator& ev) {
  ev.Stack.PushString(std::string(Trim(PopText(ev), kAsciiControlsAndSpace)));
}

struct TBuiltin {
  std::vector<const char*> Names;  // one function under each name
  std::vector<uint8_t> Types;      // run-time argument types in argument order
  void (*Proc)(TBaseEvaluator&);
};

constexpr uint8_t S = dtString, I = dtInteger, F = dtFloat, V = dtVariant;

// The library, one row per function.
const TBuiltin kBuiltins[] = {
    {{"Chr"}, {F}, &FnChr},
    {{"Clean"}, {S}, &FnClean},
    {{"Declared"}, {S}, &FnDeclared},
    {{"GetDataType"}, {S}, &FnGetDataType},
    {{"ExtractDomain"}, {S}, &FnExtractDomain},
    {{"GetQueryField"}, {S, S}, &FnGetQueryField},
    {{"SetQueryField"}, {S, S, S}, &FnSetQueryField},
    {{"ReduceUrl"}, {S}, &FnReduceUrl},
    {{"FormatDateTime"}, {S, F}, &FnFormatDateTime},
    {{"FormatISBN"}, {S}, &FnFormatISBN},
    {{"iif"}, {V, V}, &FnIif},
    {{"LogN"}, {F, F}, &FnLogN},
    {{"Now"}, {}, &FnNow},
    {{"Random"}, {I}, &FnRandom},
    {{"Round"}, {F}, &FnRound},
    {{"Trunc"}, {F}, &FnTrunc},
    {{"SafeUrl"}, {S}, &FnSafeUrl},
    {{"SafeVar"}, {S}, &FnSafeVar},
    {{"StrCopy", "Substring"}, {S, I, I}, &FnStrCopy},
    {{"StrCapitalize"}, {S}, &FnStrCapitalize},
    {{"StrDelete", "DeleteString"}, {S, I, I}, &FnStrDelete},
    {{"StrEllipsis", "EllipsisText"}, {S, I}, &FnStrEllipsis},
    {{"StrEntry", "Entry"}, {I, S, S}, &FnStrEntry},
    {{"StrFind", "Find"}, {S, S}, &FnStrFind},
    {{"StrFindFrom", "FindFromIndex"}, {S, S, I}, &FnStrFindFrom},
    {{"StrFormat", "FormatString"}, {V, V}, &FnStrFormat},
    {{"StrInsert", "InsertString"}, {S, S, I}, &FnStrInsert},
    {{"StrLength", "Length"}, {S}, &FnStrLength},
    {{"StrSentence"}, {S}, &FnStrSentence},
    {{"StrLower", "LowerCase"}, {S}, &FnStrLower},
    {{"StrUpper", "UpperCase"}, {S}, &FnStrUpper},
    {{"StrReplace", "Replace"}, {S, S, S}, &FnStrReplace},
    {{"StrReverseFind", "RFind"}, {S, S}, &FnStrReverseFind},
    {{"StrReverseFindFrom", "RFindFromIndex"}, {S, S, I}, &FnStrReverseFindFrom},
    {{"StrTrim", "Trim"}, {S}, &FnStrTrim},
};

// The address helpers over one parser, reused by every call.
TUrlFunctions MakeUrlFunctions() {
  auto parser = std::make_shared<TUrlParserEx>();
  TUrlFunctions url;
  url.NetLoc = [parser](const std::string& address) {
    parser->SetUrl(address);
    return parser->NetLoc();
  };
  url.GetQueryField = [parser](const std::string& address, const std::string& name) {
    parser->SetUrl(address);
    return parser->GetQueryField(name);
  };
  url.SetQueryField = [parser](const std::string& address, const std::string& name,
                               const std::string& value) {
    parser->SetUrl(address);
    parser->SetQueryField(name, value);
    // The parser rebuilds Url only on its next parse: build it here from the changed parts.
    std::string out = parser->Scheme();
    if (!out.empty()) out += TUrlParserEx::HasNetLoc(out) ? "://" : ":";
    out += parser->NetLoc();
    if (!parser->Path().empty() || parser->Relative()) out += "/" + parser->Path();
    if (!parser->Params().empty()) out += ";" + parser->Params();
    if (!parser->Query().empty()) out += "?" + parser->Query();
    if (!parser->Fragment().empty()) out += "#" + parser->Fragment();
    return out;
  };
  url.ReduceUrl = [parser](const std::string& address, int flags) {
    return parser->ReduceUrl(address, static_cast<uint32_t>(flags));
  };
  url.DecodeEntities = [](const std::string& text) { return DecodeEntities(text); };
  return url;
}

}  // namespace

TFuncEvaluator::TFuncEvaluator(TVariableList* variables)
    : TBaseEvaluator(variables), Url(MakeUrlFunctions()) {
  for (const TBuiltin& b : kBuiltins) {
    for (const char* name : b.Names) {
      // Checked from the top of the stack, so the last argument comes first.
      AddFunction(name, b.Types, b.Proc).CheckTypes.assign(b.Types.rbegin(), b.Types.rend());
    }
  }
}

}  // namespace vandrel
