#include "script/FuncEvaluator.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <random>

#include "platform/Format.h"
#include "platform/UrlUtils.h"

namespace vandrel {

namespace {

char LowerChar(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}
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
std::string TrimLow(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return s.substr(b, e - b);
}
// Case-insensitive (A-Z) search of `what` in `s` from `from`.
size_t FindNoCase(const std::string& s, const std::string& what, size_t from) {
  if (what.empty() || what.size() > s.size()) return std::string::npos;
  for (size_t i = from; i + what.size() <= s.size(); ++i) {
    size_t k = 0;
    while (k < what.size() && LowerChar(s[i + k]) == LowerChar(what[k])) ++k;
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
    throw EScriptFault(126, "Invalid argument to date encode");
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

void FormatDatePart(const std::string& f, const TDateParts& p, double t, std::string& out, int nest) {
  if (nest > 3) return;
  // A 12-hour clock when the pattern asks for am/pm anywhere.
  std::string lf = LowerAscii(f);
  bool twelve = lf.find("am/pm") != std::string::npos || lf.find("a/p") != std::string::npos ||
                lf.find("ampm") != std::string::npos;
  bool afterHour = false;
  size_t i = 0;
  auto run = [&](char c) {
    size_t n = 0;
    while (i + n < f.size() && LowerChar(f[i + n]) == c) ++n;
    return n;
  };
  while (i < f.size()) {
    char c = f[i];
    char lc = LowerChar(c);
    if (c == '"' || c == '\'') {
      size_t close = f.find(c, i + 1);
      size_t end = close == std::string::npos ? f.size() : close;
      out += f.substr(i + 1, end - i - 1);
      i = close == std::string::npos ? f.size() : close + 1;
      continue;
    }
    switch (lc) {
      case 'c': {
        FormatDatePart(kShortDate, p, t, out, nest + 1);
        if (p.Hour || p.Minute || p.Second) {
          out += ' ';
          FormatDatePart(kLongTime, p, t, out, nest + 1);
        }
        ++i;
        afterHour = false;
        continue;
      }
      case 'd': {
        size_t n = run('d');
        if (n == 1)
          out += std::to_string(p.Day);
        else if (n == 2)
          out += Pad(p.Day, 2);
        else if (n == 3)
          out += kShortDays[p.DayOfWeek];
        else if (n == 4)
          out += kLongDays[p.DayOfWeek];
        else if (n == 5)
          FormatDatePart(kShortDate, p, t, out, nest + 1);
        else
          FormatDatePart(kLongDate, p, t, out, nest + 1);
        i += n;
        afterHour = false;
        continue;
      }
      case 'm': {
        // "ampm" and "am/pm" start with 'a', so an 'm' here is a month or, after an hour, minutes.
        size_t n = run('m');
        if (afterHour && n <= 2)
          out += n == 1 ? std::to_string(p.Minute) : Pad(p.Minute, 2);
        else if (n == 1)
          out += std::to_string(p.Month);
        else if (n == 2)
          out += Pad(p.Month, 2);
        else if (n == 3)
          out += kShortMonths[p.Month - 1];
        else
          out += kLongMonths[p.Month - 1];
        i += n;
        afterHour = false;
        continue;
      }
      case 'y': {
        size_t n = run('y');
        out += n <= 2 ? Pad(p.Year % 100, 2) : Pad(p.Year, 4);
        i += n;
        afterHour = false;
        continue;
      }
      case 'h': {
        size_t n = run('h');
        int h = p.Hour;
        if (twelve) {
          h %= 12;
          if (h == 0) h = 12;
        }
        out += n == 1 ? std::to_string(h) : Pad(h, 2);
        i += n;
        afterHour = true;
        continue;
      }
      case 'n': {
        size_t n = run('n');
        out += n == 1 ? std::to_string(p.Minute) : Pad(p.Minute, 2);
        i += n;
        afterHour = false;
        continue;
      }
      case 's': {
        size_t n = run('s');
        out += n == 1 ? std::to_string(p.Second) : Pad(p.Second, 2);
        i += n;
        afterHour = false;
        continue;
      }
      case 'z': {
        size_t n = run('z');
        out += n >= 3 ? Pad(p.Milli, 3) : std::to_string(p.Milli);
        i += n;
        afterHour = false;
        continue;
      }
      case 't': {
        size_t n = run('t');
        FormatDatePart(n == 1 ? kShortTime : kLongTime, p, t, out, nest + 1);
        i += n;
        afterHour = false;
        continue;
      }
      case 'a': {
        std::string rest = LowerAscii(f.substr(i, 5));
        bool pm = p.Hour >= 12;
        if (rest == "am/pm") {
          std::string w = f.substr(i + (pm ? 3 : 0), 2);
          out += w;
          i += 5;
        } else if (rest.compare(0, 3, "a/p") == 0) {
          out += f[i + (pm ? 2 : 0)];
          i += 3;
        } else if (rest.compare(0, 4, "ampm") == 0) {
          out += pm ? "PM" : "AM";
          i += 4;
        } else {
          out += c;
          ++i;
        }
        continue;
      }
      case '/':
        out += '/';
        ++i;
        continue;
      case ':':
        out += ':';
        ++i;
        continue;
      default:
        out += c;
        ++i;
        continue;
    }
  }
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
  return TrimLow(unescaped);
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
  if (n < static_cast<int64_t>(TrimLow(s).size())) {
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
    throw EScriptFault(126, "Format '" + format + "' invalid or incompatible with argument");
  };
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
      ++j;
    } else {
      j = digitsStart;
    }
    if (j < format.size() && format[j] == '-') ++j;
    while (j < format.size() && format[j] >= '0' && format[j] <= '9') ++j;
    if (j < format.size() && format[j] == '.') {
      ++j;
      while (j < format.size() && format[j] >= '0' && format[j] <= '9') ++j;
    }
    if (j >= format.size()) fault();
    char t = LowerChar(format[j]);
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
  FormatDatePart(format.empty() ? "c" : format, p, t, out, 0);
  return out;
}

int64_t ScriptRound(double x) {
  if (!std::isfinite(x)) throw EScriptFault(121, "");
  double f = std::floor(x);
  double diff = x - f;
  double r = f;
  if (diff > 0.5 || (diff == 0.5 && std::fmod(f, 2.0) != 0)) r = f + 1;
  int64_t out = 0;
  if (!DoubleToInt64(r, out)) throw EScriptFault(122, "");
  return out;
}

// ---------------------------------------------------------------------------------------------------

TFuncEvaluator::TFuncEvaluator(TVariableList* variables) : TBaseEvaluator(variables) {
  // One address parser, reused by every call.
  auto parser = std::make_shared<TUrlParserEx>();
  Url.NetLoc = [parser](const std::string& url) {
    parser->SetUrl(url);
    return parser->NetLoc();
  };
  Url.GetQueryField = [parser](const std::string& url, const std::string& name) {
    parser->SetUrl(url);
    return parser->GetQueryField(name);
  };
  Url.SetQueryField = [parser](const std::string& url, const std::string& name, const std::string& value) {
    parser->SetUrl(url);
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
  Url.ReduceUrl = [parser](const std::string& url, int flags) {
    return parser->ReduceUrl(url, static_cast<uint32_t>(flags));
  };
  Url.DecodeEntities = [](const std::string& text) { return DecodeEntities(text); };

  const uint8_t S = dtString, I = dtInteger, F = dtFloat, V = dtVariant;
  // Registers a function under several names with its run-time argument types (in argument order).
  auto add = [this](std::initializer_list<const char*> names, std::vector<uint8_t> types,
                    TFunctionProc proc) {
    for (const char* n : names) {
      // Checked from the top, so the last argument comes first.
      AddFunction(n, types, proc).CheckTypes.assign(types.rbegin(), types.rend());
    }
  };
  auto str = [](TBaseEvaluator& ev) { return ev.Stack.PopString(); };
  auto num = [](TBaseEvaluator& ev) { return ev.Stack.PopFloat(); };
  auto integer = [](TBaseEvaluator& ev) {
    int64_t i = 0;
    double x = ev.Stack.PopFloat();
    if (!DoubleToInt64(x, i)) throw EScriptFault(122, "");
    return i;
  };

  add({"Chr"}, {F}, [num](TBaseEvaluator& ev) {
    double x = num(ev);
    int64_t i = 0;
    if (!DoubleToInt64(x, i)) throw EScriptFault(122, "");
    ev.Stack.PushString(std::string(1, static_cast<char>(((i % 256) + 256) % 256)));
  });
  add({"Clean"}, {S},
      [this, str](TBaseEvaluator& ev) { ev.Stack.PushString(ScriptClean(str(ev), Url.DecodeEntities)); });
  add({"Declared"}, {S},
      [str](TBaseEvaluator& ev) { ev.Stack.PushBoolean(ev.Variables()->Find(str(ev)) != nullptr); });
  add({"GetDataType"}, {S}, [str](TBaseEvaluator& ev) {
    TVariable* v = ev.Variables()->Find(str(ev));
    ev.Stack.PushInteger(v ? v->DataType : 0);
  });
  add({"ExtractDomain"}, {S}, [this, str](TBaseEvaluator& ev) { ev.Stack.PushString(Url.NetLoc(str(ev))); });
  add({"GetQueryField"}, {S, S}, [this, str](TBaseEvaluator& ev) {
    std::string name = str(ev), url = str(ev);
    ev.Stack.PushString(Url.GetQueryField(url, name));
  });
  add({"SetQueryField"}, {S, S, S}, [this, str](TBaseEvaluator& ev) {
    std::string value = str(ev), name = str(ev), url = str(ev);
    ev.Stack.PushString(Url.SetQueryField(url, name, value));
  });
  add({"ReduceUrl"}, {S}, [this, str](TBaseEvaluator& ev) {
    std::string url = str(ev);
    int flags = static_cast<int>(ev.Variables()->GetInteger("UrlReduction", 0));
    ev.Stack.PushString(Url.ReduceUrl(url, flags));
  });
  add({"FormatDateTime"}, {S, F}, [num, str](TBaseEvaluator& ev) {
    double t = num(ev);
    ev.Stack.PushString(ScriptFormatDateTime(str(ev), t));
  });
  add({"FormatISBN"}, {S}, [str](TBaseEvaluator& ev) { ev.Stack.PushString(ScriptFormatISBN(str(ev))); });
  add({"iif"}, {V, V}, [](TBaseEvaluator& ev) {
    TStackItem b, a;
    b.Assign(ev.Stack.Top());
    ev.Stack.Pop();
    a.Assign(ev.Stack.Top());
    ev.Stack.Pop();
    if (ev.Stack.Empty()) return ev.SetError(113, "Missing parameter");
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
  });
  add({"LogN"}, {F, F}, [num](TBaseEvaluator& ev) {
    double x = num(ev), base = num(ev);
    if (x <= 0 || base <= 0) throw EScriptFault(121, "");
    double r = std::log(x) / std::log(base);
    if (std::isnan(r)) throw EScriptFault(121, "");
    if (std::isinf(r)) throw EScriptFault(104, "");
    ev.Stack.PushFloat(r);
  });
  add({"Now"}, {}, [](TBaseEvaluator& ev) { ev.Stack.PushFloat(NowAsDays()); });
  add({"Random"}, {I}, [integer](TBaseEvaluator& ev) {
    int64_t n = integer(ev);
    if (n <= 0) return ev.Stack.PushInteger(0);
    // A generator of its own, seeded from the clock at each draw: two quick draws may repeat.
    std::mt19937_64 gen(static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    ev.Stack.PushInteger(static_cast<int64_t>(gen() % static_cast<uint64_t>(n)));
  });
  add({"Round"}, {F}, [num](TBaseEvaluator& ev) { ev.Stack.PushInteger(ScriptRound(num(ev))); });
  add({"Trunc"}, {F}, [integer](TBaseEvaluator& ev) { ev.Stack.PushInteger(integer(ev)); });
  add({"SafeUrl"}, {S}, [str](TBaseEvaluator& ev) { ev.Stack.PushString(ScriptSafeUrl(str(ev))); });
  add({"SafeVar"}, {S}, [str](TBaseEvaluator& ev) { ev.Stack.PushString(ScriptSafeVar(str(ev))); });
  add({"StrCopy", "Substring"}, {S, I, I}, [integer, str](TBaseEvaluator& ev) {
    int64_t count = integer(ev), index = integer(ev);
    std::string s = str(ev);
    if (index < 1) index = 1;
    if (count <= 0 || index > static_cast<int64_t>(s.size())) return ev.Stack.PushString("");
    ev.Stack.PushString(
        s.substr(static_cast<size_t>(index - 1),
                 static_cast<size_t>(std::min<int64_t>(count, static_cast<int64_t>(s.size())))));
  });
  add({"StrCapitalize"}, {S}, [str](TBaseEvaluator& ev) { ev.Stack.PushString(ScriptCapitalize(str(ev))); });
  add({"StrDelete", "DeleteString"}, {S, I, I}, [integer, str](TBaseEvaluator& ev) {
    int64_t count = integer(ev), index = integer(ev);
    std::string s = str(ev);
    if (index >= 1 && index <= static_cast<int64_t>(s.size()) && count > 0)
      s.erase(static_cast<size_t>(index - 1),
              static_cast<size_t>(std::min<int64_t>(count, static_cast<int64_t>(s.size()))));
    ev.Stack.PushString(std::move(s));
  });
  add({"StrEllipsis", "EllipsisText"}, {S, I}, [integer, str](TBaseEvaluator& ev) {
    int64_t n = integer(ev);
    ev.Stack.PushString(ScriptEllipsis(str(ev), n));
  });
  add({"StrEntry", "Entry"}, {I, S, S}, [integer, str](TBaseEvaluator& ev) {
    std::string sep = str(ev), s = str(ev);
    int64_t index = integer(ev);
    ev.Stack.PushString(ScriptEntry(index, s, sep));
  });
  add({"StrFind", "Find"}, {S, S}, [str](TBaseEvaluator& ev) {
    std::string s = str(ev), what = str(ev);
    size_t p = what.empty() ? std::string::npos : s.find(what);
    ev.Stack.PushInteger(p == std::string::npos ? 0 : static_cast<int64_t>(p) + 1);
  });
  add({"StrFindFrom", "FindFromIndex"}, {S, S, I}, [integer, str](TBaseEvaluator& ev) {
    int64_t from = integer(ev);
    std::string s = str(ev), what = str(ev);
    if (from < 1) from = 1;
    size_t p = (what.empty() || from > static_cast<int64_t>(s.size()))
                   ? std::string::npos
                   : s.find(what, static_cast<size_t>(from - 1));
    ev.Stack.PushInteger(p == std::string::npos ? 0 : static_cast<int64_t>(p) + 1);
  });
  add({"StrFormat", "FormatString"}, {V, V}, [](TBaseEvaluator& ev) {
    TStackItem value;
    value.Assign(ev.Stack.Top());
    ev.Stack.Pop();
    bool formatIsString = ev.Stack.Top().DataType == dtString;
    std::string format = ev.Stack.PopString();
    bool usable = IsNumericType(value.DataType) || value.DataType == dtString;
    if (!formatIsString || !usable) return ev.SetError(108, Format("Invalid parameter: '%s'", {""}));
    ev.Stack.PushString(ScriptFormatValue(format, value));
  });
  add({"StrInsert", "InsertString"}, {S, S, I}, [integer, str](TBaseEvaluator& ev) {
    int64_t index = integer(ev);
    std::string s = str(ev), what = str(ev);
    if (index < 1) index = 1;
    size_t at = std::min<size_t>(static_cast<size_t>(index - 1), s.size());
    s.insert(at, what);
    ev.Stack.PushString(std::move(s));
  });
  add({"StrLength", "Length"}, {S},
      [str](TBaseEvaluator& ev) { ev.Stack.PushInteger(static_cast<int64_t>(str(ev).size())); });
  add({"StrSentence"}, {S}, [str](TBaseEvaluator& ev) { ev.Stack.PushString(ScriptSentence(str(ev))); });
  add({"StrLower", "LowerCase"}, {S},
      [str](TBaseEvaluator& ev) { ev.Stack.PushString(LowerAscii(str(ev))); });
  add({"StrUpper", "UpperCase"}, {S},
      [str](TBaseEvaluator& ev) { ev.Stack.PushString(UpperAscii(str(ev))); });
  add({"StrReplace", "Replace"}, {S, S, S}, [str](TBaseEvaluator& ev) {
    std::string nw = str(ev), old = str(ev), s = str(ev);
    ev.Stack.PushString(ScriptReplace(s, old, nw));
  });
  add({"StrReverseFind", "RFind"}, {S, S}, [str](TBaseEvaluator& ev) {
    std::string s = str(ev), what = str(ev);
    size_t p = what.empty() ? std::string::npos : s.rfind(what);
    ev.Stack.PushInteger(p == std::string::npos ? 0 : static_cast<int64_t>(p) + 1);
  });
  add({"StrReverseFindFrom", "RFindFromIndex"}, {S, S, I}, [integer, str](TBaseEvaluator& ev) {
    int64_t from = integer(ev);
    std::string s = str(ev), what = str(ev);
    if (from < 1) from = 1;
    int64_t limit = static_cast<int64_t>(s.size()) - from + 1;
    size_t p = std::string::npos;
    if (!what.empty() && limit > 0) p = s.substr(0, static_cast<size_t>(limit)).rfind(what);
    ev.Stack.PushInteger(p == std::string::npos ? 0 : static_cast<int64_t>(p) + 1);
  });
  add({"StrTrim", "Trim"}, {S}, [str](TBaseEvaluator& ev) { ev.Stack.PushString(TrimLow(str(ev))); });
}

}  // namespace vandrel
