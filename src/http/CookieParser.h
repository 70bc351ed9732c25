// Parses a Set-Cookie value into a Netscape-format cookie checked against the address it came from.
#pragma once

#include <string>
#include <string_view>

namespace vandrel {

class TCookie {
 public:
  TCookie() = default;
  // Parses `text`; with a non-empty `requestUrl` the cookie is completed and checked against it.
  TCookie(std::string_view text, std::string_view requestUrl) { Parse(text, requestUrl); }

  void Parse(std::string_view text, std::string_view requestUrl);
  // Same NameValue, Domain, Expires, Path and Secure.
  bool Equals(const TCookie& other) const;
  bool IsPersistent() const { return !Expires.empty(); }
  // At or past its expiry; a cookie whose expiry cannot be read is not expired.
  bool IsExpired() const;
  bool IsExpiredAt(double nowUtc) const;
  // The saved form: "name=value;expires=...;path=...;domain=...;secure", empty fields left out.
  std::string Text() const;

  std::string Name;       // text before the first "=" of NameValue
  std::string NameValue;  // the "name=value" piece as received
  std::string Domain;     // domain (or host[:port]) the cookie belongs to
  std::string Expires;    // expiry exactly as received; empty for a session cookie
  std::string Path;       // path prefix the cookie applies to
  bool Valid = false;
  bool Secure = false;
};

}  // namespace vandrel
