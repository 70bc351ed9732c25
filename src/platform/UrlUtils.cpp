#include "platform/UrlUtils.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>
#include <vector>

#include "platform/CharCodes.h"

namespace vandrel {

namespace {

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// Index of the ":" ending a scheme in `s`, or npos. The first character is not checked, as browsers of the
// time did; a one-character text never has a scheme.
size_t SchemeColon(std::string_view s) {
  if (s.size() < 2) return std::string_view::npos;
  size_t i = 1;
  while (i < s.size()) {
    char c = LowerAscii(s[i]);
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.')
      ++i;
    else
      break;
  }
  return (i < s.size() && s[i] == ':') ? i : std::string_view::npos;
}

// The fragment is cut off first; a "#" in last position stays part of the URL.
std::string_view WithoutFragment(std::string_view s, std::string* fragment) {
  size_t hash = s.find('#');
  if (hash != std::string_view::npos && hash + 1 < s.size()) {
    if (fragment) *fragment = std::string(s.substr(hash + 1));
    return s.substr(0, hash);
  }
  return s;
}

struct TSegment {
  std::string Text;
  int Origin;  // 0 from the base path, 1 from the relative path
};

void SplitSegments(std::string_view text, int origin, std::vector<TSegment>& out) {
  if (text.empty()) return;
  size_t start = 0;
  while (true) {
    size_t slash = text.find('/', start);
    if (slash == std::string_view::npos) {
      out.push_back({std::string(text.substr(start)), origin});
      return;
    }
    out.push_back({std::string(text.substr(start, slash - start)), origin});
    start = slash + 1;
    if (start == text.size()) return;  // the empty piece after a final "/" is not a segment
  }
}

bool IsDefaultPage(std::string_view s) {
  return s == "index.htm" || s == "index.html" || s == "default.asp";
}

const char kHex[] = "0123456789ABCDEF";

template <typename Keep>
std::string EscapeBytes(std::string_view text, Keep keep) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    auto b = static_cast<unsigned char>(ch);
    if (keep(b)) {
      out += ch;
    } else {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out;
}

}  // namespace

// --- TUrlParserEx ---------------------------------------------------------------------------------------

TUrlParserEx::TUrlParserEx(std::string_view url, TUrlParserEx* base) : base_(base) {
  SetUrl(url);
}

void TUrlParserEx::SetUrl(std::string_view url) {
  std::string s(url);
  std::replace(s.begin(), s.end(), '\\', '/');
  std::string_view v = TrimSpaces(s);
  if (!v.empty() && (v.front() == '\'' || v.front() == '"')) {
    char quote = v.front();
    v.remove_prefix(1);
    if (!v.empty() && v.back() == quote) v.remove_suffix(1);
  }
  source_ = std::string(v);
  parsed_ = false;
  std::string_view work = TrimSpaces(WithoutFragment(source_, nullptr));
  relative_ = SchemeColon(work) == std::string_view::npos;
}

void TUrlParserEx::SetBase(TUrlParserEx* base) {
  base_ = base;
  parsed_ = false;
}

bool TUrlParserEx::HasNetLoc(std::string_view scheme) {
  // Order as in the classic urlparse table; kept for reference only, lookups do not depend on it.
  static constexpr std::array<std::string_view, 9> kNetLocSchemes = {
      "ftp", "http", "gopher", "nntp", "telnet", "wais", "file", "prospero", "https"};
  return std::find(kNetLocSchemes.begin(), kNetLocSchemes.end(), scheme) != kNetLocSchemes.end();
}

const std::string& TUrlParserEx::Scheme() {
  return EnsureParsed(), scheme_;
}
const std::string& TUrlParserEx::NetLoc() {
  return EnsureParsed(), netLoc_;
}
const std::string& TUrlParserEx::Path() {
  return EnsureParsed(), path_;
}
const std::string& TUrlParserEx::Params() {
  return EnsureParsed(), params_;
}
const std::string& TUrlParserEx::Query() {
  return EnsureParsed(), query_;
}
const std::string& TUrlParserEx::Fragment() {
  return EnsureParsed(), fragment_;
}
const std::string& TUrlParserEx::FileName() {
  return EnsureParsed(), fileName_;
}
const std::string& TUrlParserEx::Url() {
  return EnsureParsed(), url_;
}
bool TUrlParserEx::AbsolutePath() {
  return EnsureParsed(), absolutePath_;
}

void TUrlParserEx::Parse() {
  scheme_.clear();
  netLoc_.clear();
  path_.clear();
  params_.clear();
  query_.clear();
  fragment_.clear();
  fileName_.clear();
  url_.clear();
  absolutePath_ = false;

  std::string_view work = WithoutFragment(source_, &fragment_);

  work = TrimSpaces(work);
  size_t colon = SchemeColon(work);
  if (colon != std::string_view::npos) {
    scheme_.resize(colon);
    std::transform(work.begin(), work.begin() + colon, scheme_.begin(), LowerAscii);
    work.remove_prefix(colon + 1);
    relative_ = false;
  } else {
    relative_ = true;
  }

  size_t question = work.find('?');
  if (question != std::string_view::npos) {
    query_ = std::string(work.substr(question + 1));
    work = work.substr(0, question);
  }

  // A relative reference starting with "//" names a host (protocol-relative link); without this rule it
  // would resolve to a path on the base host.
  bool netLocForm = relative_ ? work.starts_with("//") : HasNetLoc(scheme_);
  if (!relative_ && !netLocForm) {
    netLoc_ = std::string(work);
    work = {};
  } else if (netLocForm && work.starts_with("//")) {
    work.remove_prefix(2);
    size_t slash = work.find('/');
    netLoc_ = std::string(work.substr(0, slash));
    work = slash == std::string_view::npos ? std::string_view() : work.substr(slash);
  }

  size_t semi = work.find(';');
  if (semi != std::string_view::npos && semi + 1 < work.size()) {
    params_ = std::string(work.substr(semi + 1));
    work = work.substr(0, semi);
  }

  if (!work.empty() && work.front() == '/') {
    absolutePath_ = true;
    work.remove_prefix(1);
  }
  path_ = std::string(work);

  if (!path_.empty() && path_.back() != '/') {
    size_t slash = path_.rfind('/');
    fileName_ = slash == std::string::npos ? path_ : path_.substr(slash + 1);
  }

  parsed_ = true;  // set before resolving so the getters used there do not recurse
  if (base_ && base_ != this && relative_) {
    Resolve();
    if (source_.empty()) return;  // the base's Url stands as it is
  }
  BuildUrl();
}

void TUrlParserEx::Resolve() {
  TUrlParserEx& base = *base_;
  base.EnsureParsed();
  if (source_.empty()) {
    fragment_ = base.fragment_;
    netLoc_ = base.netLoc_;
    params_ = base.params_;
    path_ = base.path_;
    query_ = base.query_;
    scheme_ = base.scheme_;
    fileName_ = base.fileName_;
    url_ = base.url_;
    return;
  }
  scheme_ = base.scheme_;
  if (!netLoc_.empty()) return;
  netLoc_ = base.netLoc_;
  if (absolutePath_) return;
  if (!path_.empty()) {
    MergePath(base.path_);
  } else {
    path_ = base.path_;
    if (params_.empty()) {
      params_ = base.params_;
      if (query_.empty()) query_ = base.query_;
    }
  }
  fileName_.clear();
  if (!path_.empty() && path_.back() != '/') {
    size_t slash = path_.rfind('/');
    fileName_ = slash == std::string::npos ? path_ : path_.substr(slash + 1);
  }
}

void TUrlParserEx::MergePath(const std::string& basePath) {
  std::vector<TSegment> segs;  // first-in first-out while merging
  size_t lastSlash = basePath.rfind('/');
  if (lastSlash != std::string::npos)
    SplitSegments(std::string_view(basePath).substr(0, lastSlash + 1), 0, segs);
  size_t relStart = segs.size();
  SplitSegments(path_, 1, segs);
  if (path_.back() == '/') {
    segs.push_back({"", 1});
  } else if (segs.size() > relStart && (segs.back().Text == "." || segs.back().Text == "..")) {
    segs.push_back({"", 1});
  }
  std::erase_if(segs, [](const TSegment& s) { return s.Text == "."; });
  // Leading ".." segments have nothing to cancel and survive.
  bool removed = true;
  while (removed) {
    removed = false;
    for (size_t i = 1; i < segs.size(); ++i) {
      if (segs[i].Text == ".." && segs[i - 1].Text != "..") {
        segs.erase(segs.begin() + static_cast<std::ptrdiff_t>(i - 1),
                   segs.begin() + static_cast<std::ptrdiff_t>(i + 1));
        removed = true;
        break;
      }
    }
  }
  if (segs.empty() || segs.back().Origin == 0) segs.push_back({"", 0});
  std::string joined;
  for (size_t i = 0; i < segs.size(); ++i) {
    if (i) joined += '/';
    joined += segs[i].Text;
  }
  path_ = std::move(joined);
}

void TUrlParserEx::BuildUrl() {
  std::string u;
  if (!scheme_.empty())
    u = scheme_ + (HasNetLoc(scheme_) ? "://" : ":");
  else if (!netLoc_.empty())
    u = "//";  // an unresolved protocol-relative reference keeps its form
  u += netLoc_;
  if (!path_.empty() || relative_) {
    u += '/';
    u += TrimSpaces(path_);
  }
  if (!params_.empty()) u += ';' + params_;
  if (!query_.empty()) u += '?' + query_;
  if (!fragment_.empty()) u += '#' + fragment_;
  url_ = std::move(u);
}

std::string TUrlParserEx::GetQueryField(std::string_view name) {
  EnsureParsed();
  std::string key = std::string(name) + '=';
  size_t start;
  if (query_.starts_with(key)) {
    start = key.size();
  } else {
    size_t at = query_.find('&' + key);
    if (at == std::string::npos) return {};
    start = at + 1 + key.size();
  }
  size_t end = query_.find('&', start);
  return query_.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

void TUrlParserEx::SetQueryField(std::string_view name, std::string_view value) {
  EnsureParsed();
  std::string key = std::string(name) + '=';
  size_t start = std::string::npos;
  if (query_.starts_with(key)) {
    start = key.size();
  } else {
    size_t at = query_.find('&' + key);
    if (at != std::string::npos) start = at + 1 + key.size();
  }
  if (start == std::string::npos) {
    if (!query_.empty()) query_ += '&';
    query_ += key;
    query_ += value;
    return;
  }
  size_t end = query_.find('&', start);
  query_.replace(start, end == std::string::npos ? std::string::npos : end - start, value);
}

std::string TUrlParserEx::ReduceUrl(std::string_view url, uint32_t flags) {
  if (url.empty()) return {};
  if (flags & REDUC_DOMAINPREFIX) {
    // Secure addresses keep their scheme; prefixing them would give "http://https://...", which no
    // other address of the page would ever equal.
    const std::string_view prefix = url.starts_with("https://") ? "https://" : "http://";
    std::string full = url.starts_with(prefix) ? std::string(url) : std::string(prefix) + std::string(url);
    SetBase(nullptr);
    SetUrl(full);
    EnsureParsed();
    std::string host = netLoc_;
    if (std::count(host.begin(), host.end(), '.') >= 2) host.erase(0, host.find('.') + 1);
    std::string path = path_;
    if ((flags & REDUC_DEFAULTPAGE) && IsDefaultPage(path)) path.clear();
    std::string out = std::string(prefix) + host;
    if (!host.empty() && !path.empty()) out += '/' + path;
    if (!params_.empty()) out += ';' + params_;
    if (!query_.empty()) out += '?' + query_;
    if (!fragment_.empty()) out += '#' + fragment_;
    return out;
  }

  std::string s(url);
  if (flags & REDUC_WWW) {
    if (s.starts_with("http://www."))
      s.erase(7, 4);
    else if (s.starts_with("https://www."))
      s.erase(8, 4);
  }
  bool finalSlash = !s.empty() && s.back() == '/';
  if (finalSlash && (flags & REDUC_SLASH)) {
    s.pop_back();
    finalSlash = false;
  }
  if (flags & REDUC_DEFAULTPAGE) {
    size_t len = s.size() - (finalSlash ? 1 : 0);
    if (len > 1) {
      // Search leftwards from the last character before a kept final "/", no further than the second.
      for (size_t i = len - 1; i >= 1; --i) {
        if (s[i] == '/') {
          if (IsDefaultPage(std::string_view(s).substr(i + 1))) s.erase(i);
          break;
        }
      }
    }
  }
  return s;
}

std::string ReduceUrl(std::string_view url, uint32_t flags) {
  TUrlParserEx scratch;
  return scratch.ReduceUrl(url, flags);
}

std::string ResolveUrl(std::string_view base, std::string_view url) {
  TUrlParserEx b(base);
  TUrlParserEx u(url, base.empty() ? nullptr : &b);
  return u.Url();
}

// --- TUrlParser -----------------------------------------------------------------------------------------

void TUrlParser::Parse(std::string_view url) {
  std::string s(url);
  std::replace(s.begin(), s.end(), '\\', '/');
  Scheme.clear();
  Host.clear();
  Path.clear();
  FileName.clear();
  if (s.starts_with("http://")) {
    Scheme = "http://";
    s.erase(0, 7);
  }
  size_t slash = s.find('/');
  // A dot of ".." or of a leading "./" says nothing about a host name.
  size_t dot = std::string::npos;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '.') continue;
    if (i + 1 < s.size() && s[i + 1] == '.') {
      ++i;
      continue;
    }
    if (i == 0 && s.size() > 1 && s[1] == '/') continue;
    dot = i;
    break;
  }
  if (slash != std::string::npos && (!Scheme.empty() || (dot != std::string::npos && dot < slash))) {
    Host = s.substr(0, slash);
    s.erase(0, slash);
  }
  size_t last = s.rfind('/');
  if (last != std::string::npos) {
    Path = s.substr(0, last + 1);
    FileName = s.substr(last + 1);
  }
  if ((Path.empty() || Path == "/") && FileName.empty()) {
    Path = "/";
    if (s != "/") FileName = s;
    if (Host.empty()) {
      Host = FileName;
      FileName.clear();
    }
  }
  if (Path.front() != '/') Path = '/' + Path;
  if (!FileName.empty() && FileName.find('.') == std::string::npos) {
    Path += FileName + '/';
    FileName.clear();
  }
  FullUrl = Scheme + Host + Path + FileName;
}

// --- Escaping -------------------------------------------------------------------------------------------

std::string EscapeUrlText(std::string_view text) {
  return EscapeBytes(text, [](unsigned char b) {
    if (b <= 32 || b >= 127) return false;
    switch (b) {
      case '"':
      case '#':
      case '<':
      case '>':
      case '\\':
      case '^':
      case '{':
      case '|':
      case '}':
      case '~':
      case '`':
        return false;
      default:
        return true;
    }
  });
}

std::string SafeUrlText(std::string_view text) {
  return EscapeBytes(text, [](unsigned char b) {
    if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9')) return true;
    return std::string_view("@!$%&'()*+,-./:;=?[]_").find(static_cast<char>(b)) != std::string_view::npos;
  });
}

std::string SafeUrl(std::string_view url) {
  size_t sep = url.find("://");
  if (sep == std::string_view::npos) return std::string(url);
  size_t slash = url.find('/', sep + 3);
  if (slash == std::string_view::npos) return std::string(url);
  return std::string(url.substr(0, slash + 1)) + SafeUrlText(url.substr(slash + 1));
}

std::string SafeVar(std::string_view text) {
  return EscapeBytes(text, [](unsigned char b) {
    if (b <= 32 || b >= 127) return false;
    return std::string_view("\"@#%&+/:;<=>?").find(static_cast<char>(b)) == std::string_view::npos;
  });
}

std::string DecodeUrlEscapes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      int hi = HexDigitValue(text[i + 1]), lo = HexDigitValue(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

// --- Character references -------------------------------------------------------------------------------

namespace {

struct TEntity {
  std::string_view Name;
  uint16_t Code;
};

// Sorted by byte value of the name for binary search. "tilde" is listed once, with the small tilde
// (the HTML meaning); the ASCII "~" has no other name in use.
constexpr TEntity kEntities[] = {
    {"#127", 127},   {"#128", 128},   {"#129", 129},   {"#136", 136},   {"#141", 141},   {"#142", 142},
    {"#143", 143},   {"#144", 144},   {"#157", 157},   {"#158", 158},   {"AElig", 198},  {"Aacute", 193},
    {"Acirc", 194},  {"Agrave", 192}, {"Aring", 197},  {"Atilde", 195}, {"Auml", 196},   {"Ccedil", 199},
    {"Dagger", 135}, {"ETH", 208},    {"Eacute", 201}, {"Ecirc", 202},  {"Egrave", 200}, {"Euml", 203},
    {"Iacute", 205}, {"Icirc", 206},  {"Igrave", 204}, {"Iuml", 207},   {"Ntilde", 209}, {"OElig", 140},
    {"Oacute", 211}, {"Ocirc", 212},  {"Ograve", 210}, {"Oslash", 216}, {"Otilde", 213}, {"Ouml", 214},
    {"Scaron", 138}, {"THORN", 222},  {"Uacute", 218}, {"Ucirc", 219},  {"Ugrave", 217}, {"Uuml", 220},
    {"Yacute", 221}, {"Yuml", 159},   {"aacute", 225}, {"acirc", 226},  {"acute", 180},  {"aelig", 230},
    {"agrave", 224}, {"amp", 38},     {"apos", 39},    {"aring", 229},  {"ast", 42},     {"atilde", 227},
    {"auml", 228},   {"brkbar", 166}, {"brvbar", 166}, {"bsol", 92},    {"bull", 149},   {"ccedil", 231},
    {"cedil", 184},  {"cent", 162},   {"circ", 94},    {"colon", 58},   {"comma", 44},   {"commat", 64},
    {"copy", 169},   {"curren", 164}, {"dagger", 134}, {"deg", 176},    {"die", 168},    {"divide", 247},
    {"dollar", 36},  {"eacute", 233}, {"ecirc", 234},  {"egrave", 232}, {"emdash", 151}, {"endash", 150},
    {"equals", 61},  {"eth", 240},    {"euml", 235},   {"excl", 33},    {"fnof", 131},   {"frac12", 189},
    {"frac14", 188}, {"frac34", 190}, {"grave", 96},   {"gt", 62},      {"half", 189},   {"hellip", 133},
    {"hibar", 175},  {"horbar", 95},  {"hyphen", 45},  {"iacute", 237}, {"icirc", 238},  {"iexcl", 161},
    {"igrave", 236}, {"iquest", 191}, {"iuml", 239},   {"laquo", 171},  {"lcub", 123},   {"ldots", 133},
    {"ldquo", 147},  {"lowbar", 95},  {"lpar", 40},    {"lsaquo", 139}, {"lsqb", 91},    {"lsquo", 145},
    {"lt", 60},      {"macr", 175},   {"mdash", 151},  {"micro", 181},  {"middot", 183}, {"minus", 45},
    {"nbsp", 32},    {"ndash", 150},  {"not", 172},    {"ntilde", 241}, {"num", 35},     {"oacute", 243},
    {"ocirc", 244},  {"oelig", 156},  {"ograve", 242}, {"ordf", 170},   {"ordm", 186},   {"oslash", 248},
    {"otilde", 245}, {"ouml", 246},   {"para", 182},   {"percnt", 37},  {"period", 46},  {"permil", 137},
    {"plus", 43},    {"plusmn", 177}, {"pound", 163},  {"quest", 63},   {"quot", 34},    {"raquo", 187},
    {"rcub", 125},   {"rdquo", 148},  {"rdquor", 147}, {"reg", 174},    {"rpar", 41},    {"rsaquo", 155},
    {"rsqb", 93},    {"rsquo", 146},  {"rsquor", 145}, {"scaron", 154}, {"sect", 167},   {"semi", 59},
    {"shy", 173},    {"sol", 47},     {"sp", 32},      {"sup1", 185},   {"sup2", 178},   {"sup3", 179},
    {"szlig", 223},  {"thorn", 254},  {"tilde", 152},  {"times", 215},  {"trade", 153},  {"uacute", 250},
    {"ucirc", 251},  {"ugrave", 249}, {"uml", 168},    {"uuml", 252},   {"verbar", 124}, {"yacute", 253},
    {"yen", 165},    {"yuml", 255},
};

constexpr bool EntitiesSorted() {
  for (size_t i = 1; i < std::size(kEntities); ++i)
    if (!(kEntities[i - 1].Name < kEntities[i].Name)) return false;
  return true;
}
static_assert(EntitiesSorted(), "character-reference table must stay sorted for binary search");

// Unicode of Windows-1252 bytes 128..159; bytes without a character keep their C1 code.
constexpr uint16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool IsAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

int LookupEntity(std::string_view name) {
  auto it = std::lower_bound(std::begin(kEntities), std::end(kEntities), name,
                             [](const TEntity& e, std::string_view n) { return e.Name < n; });
  return (it != std::end(kEntities) && it->Name == name) ? it->Code : 0;
}

void AppendCharCode(std::string& out, uint32_t code) {
  if (code >= 128 && code < 160) code = kCp1252High[code - 128];
  if ((code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) code = 0xFFFD;
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

std::string DecodeEntities(std::string_view text) {
  size_t amp = text.find('&');
  if (amp == std::string_view::npos) return std::string(text);
  std::string out(text.substr(0, amp));
  out.reserve(text.size());
  constexpr size_t kMaxName = 7;  // including a leading "#"
  size_t i = amp;
  while (i < text.size()) {
    char c = text[i];
    if (c != '&') {
      out += c;
      ++i;
      continue;
    }
    size_t p = i + 1;
    bool numeric = p < text.size() && text[p] == '#';
    size_t nameStart = p;
    if (numeric) ++p;
    while (p < text.size() && p - nameStart < kMaxName &&
           (numeric ? IsDigit(text[p]) : IsAsciiLetter(text[p])))
      ++p;
    std::string_view name = text.substr(nameStart, p - nameStart);
    bool terminated = p < text.size() && text[p] == ';';
    bool collected = numeric ? name.size() > 1 : !name.empty();
    if (!collected || (!numeric && name.size() == kMaxName && !terminated)) {
      out += '&';
      ++i;
      continue;
    }
    uint32_t code = 0;
    if (numeric) {
      // All digits count, so a six-digit reference is not cut to its first five.
      std::from_chars(name.data() + 1, name.data() + name.size(), code);
    } else {
      code = static_cast<uint32_t>(LookupEntity(name.substr(0, 6)));
    }
    if (code == 0) {
      out += '&';
      ++i;
      continue;
    }
    AppendCharCode(out, code);
    i = terminated ? p + 1 : p;
  }
  return out;
}

}  // namespace vandrel
