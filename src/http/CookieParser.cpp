#include "http/CookieParser.h"

#include "http/HttpDates.h"
#include "platform/TextUtils.h"
#include "platform/UrlUtils.h"

namespace vandrel {

namespace {

// A Domain attribute is honoured only for the host it names or a host below it, and only when it is
// more than a single label: "ample.org" does not cover "example.org", and ".org" covers nothing.
bool DomainCovers(const std::string& host, const std::string& domain) {
  const std::string h = AsciiLowerCase(host);
  const std::string d = AsciiLowerCase(domain);
  if (d.empty() || h.size() < d.size() || h.compare(h.size() - d.size(), d.size(), d) != 0) return false;
  const std::string bare = d.front() == '.' ? d.substr(1) : d;
  if (bare.empty() || bare.find('.') == std::string::npos || bare.back() == '.') return false;
  return d.front() == '.' || h.size() == d.size() || h[h.size() - d.size() - 1] == '.';
}

}  // namespace

void TCookie::Parse(std::string_view text, std::string_view requestUrl) {
  *this = TCookie();
  Valid = true;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find(';', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view piece = Trim(text.substr(pos, end - pos), " \t");
    pos = end + 1;
    const size_t eq = piece.find('=');
    if (eq == std::string_view::npos) {
      if (AsciiLowerCase(piece) == "secure") Secure = true;
      continue;
    }
    const std::string key = AsciiLowerCase(Trim(piece.substr(0, eq), " \t"));
    const std::string value(Trim(piece.substr(eq + 1), " \t"));
    if (key == "domain") {
      Domain = value;
    } else if (key == "path") {
      Path = value;
    } else if (key == "expires") {
      Expires = value;
    } else if (NameValue.empty()) {
      // The first name=value piece is the cookie; attributes we do not know (Max-Age, SameSite, ...)
      // never take its place.
      NameValue = std::string(piece);
      Name = std::string(piece.substr(0, eq));
    }
  }
  if (NameValue.empty()) {
    Valid = false;
    return;
  }
  if (requestUrl.empty()) return;
  TUrlParserEx url(requestUrl);
  if (Path.empty()) Path = "/" + url.Path();
  const std::string& netLoc = url.NetLoc();
  if (!Domain.empty()) {
    Valid = DomainCovers(netLoc.substr(0, netLoc.find(':')), Domain);
  } else {
    Domain = netLoc;
  }
}

bool TCookie::Equals(const TCookie& other) const {
  return NameValue == other.NameValue && Domain == other.Domain && Expires == other.Expires &&
         Path == other.Path && Secure == other.Secure;
}

bool TCookie::IsExpired() const {
  return IsExpiredAt(NowUtcDateTime());
}

bool TCookie::IsExpiredAt(double nowUtc) const {
  if (Expires.empty()) return false;
  const double expires = ParseHttpDate(Expires);
  return expires != 0 && nowUtc >= expires;
}

std::string TCookie::Text() const {
  std::string text = NameValue + ";";
  if (!Expires.empty()) text += "expires=" + Expires + ";";
  if (!Path.empty()) text += "path=" + Path + ";";
  if (!Domain.empty()) text += "domain=" + Domain + ";";
  if (Secure) text += "secure";
  return text;
}

}  // namespace vandrel
