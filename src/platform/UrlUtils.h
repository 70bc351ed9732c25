// URL arithmetic (split, resolve, reduce, query fields), URL escaping and HTML character references.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vandrel {

// Reduction flags of ReduceUrl. The values are script constants: do not renumber.
enum : uint32_t {
  REDUC_NONE = 0,
  REDUC_SLASH = 1,         // drop one final "/"
  REDUC_WWW = 2,           // "http://www." -> "http://" (and the same for https)
  REDUC_DEFAULTPAGE = 4,   // drop a final "index.htm", "index.html" or "default.asp"
  REDUC_DOMAINPREFIX = 8,  // keep the host without its first label, path only when not a default page
  REDUC_ALL = 0xFFFF,
};

// Splits a URL into its components after RFC 1808, resolves it against a base and rebuilds it.
// Getters parse lazily; no operation fails: malformed input gives empty or unchanged components.
// Not thread-safe; each thread uses its own parser.
class TUrlParserEx {
 public:
  explicit TUrlParserEx(std::string_view url = {}, TUrlParserEx* base = nullptr);

  void SetUrl(std::string_view url);
  // `base` is not owned and must outlive this parser's next parse.
  void SetBase(TUrlParserEx* base);
  TUrlParserEx* Base() const { return base_; }

  const std::string& Source() const { return source_; }
  // True when the URL has no scheme; known right after SetUrl.
  bool Relative() const { return relative_; }

  const std::string& Scheme();
  const std::string& NetLoc();
  const std::string& Path();      // without its leading "/"
  const std::string& Params();    // after the first ";" of the path
  const std::string& Query();     // without the "?"
  const std::string& Fragment();  // without the "#"
  const std::string& FileName();  // last segment of Path, empty for a directory
  const std::string& Url();       // rebuilt, resolved against the base when relative
  bool AbsolutePath();

  // Value of `name=` at the start of the query or right after an "&" (case-sensitive), else empty.
  std::string GetQueryField(std::string_view name);
  // Replaces or appends the field in Query; Url is rebuilt only by the next parse. Nothing is encoded.
  void SetQueryField(std::string_view name, std::string_view value);

  // Canonical short form so that two addresses of one page compare equal. Uses this parser as scratch:
  // afterwards it holds the reduced URL's components and no base.
  std::string ReduceUrl(std::string_view url, uint32_t flags);

  // True for the schemes written as "scheme://netloc".
  static bool HasNetLoc(std::string_view scheme);

 private:
  void EnsureParsed() {
    if (!parsed_) Parse();
  }
  void Parse();
  void Resolve();
  void MergePath(const std::string& basePath);
  void BuildUrl();

  std::string source_;
  std::string scheme_, netLoc_, path_, params_, query_, fragment_, fileName_, url_;
  TUrlParserEx* base_ = nullptr;  // not owned
  bool parsed_ = false;
  bool absolutePath_ = false;
  bool relative_ = true;
};

// Convenience over a scratch parser.
std::string ReduceUrl(std::string_view url, uint32_t flags);
// Resolves `url` against `base` ("" base leaves it as parsed).
std::string ResolveUrl(std::string_view base, std::string_view url);

// Simple splitter that decides whether the last segment of a URL is a file or a directory.
class TUrlParser {
 public:
  void Parse(std::string_view url);

  std::string FullUrl;  // concatenation of the four parts below
  std::string Scheme;   // "http://" or empty
  std::string Host;
  std::string Path;      // directory, always starting and ending with "/"
  std::string FileName;  // last segment when it has an extension, else empty
};

// --- Escaping -------------------------------------------------------------------------------------------

// Request-URL escaping: bytes outside 33..126 and `"#<>\^{|}~` plus the grave accent become %XX
// (upper-case hex). "%", "&", "=", "+", "?", "/", ":", ";" and "@" stay.
std::string EscapeUrlText(std::string_view text);
// Escapes every byte outside letters, digits and `@!$%&'()*+,-./:;=?[]_` as %XX.
std::string SafeUrlText(std::string_view text);
// SafeUrlText applied after the first "/" that follows "://"; other URLs are returned unchanged.
std::string SafeUrl(std::string_view url);
// Escapes control bytes, space, `"@#%&+/:;<=>?`, 127 and bytes above 127 as %XX (form values).
std::string SafeVar(std::string_view text);
// "%" + two hex digits becomes that byte; any other "%" stays.
std::string DecodeUrlEscapes(std::string_view text);

// --- Character references -------------------------------------------------------------------------------

// Code of a character-reference name, matched exactly as written (case-sensitive); 0 when unknown.
// Codes follow Windows-1252 (nbsp is mapped to a plain space on purpose).
int LookupEntity(std::string_view name);
// Appends the character with Windows-1252 / Unicode `code` as UTF-8; codes 128..159 are read as
// Windows-1252, codes that are no character give U+FFFD.
void AppendCharCode(std::string& out, uint32_t code);
// Decodes "&name;" and "&#nnn;" (the ";" optional); unknown or malformed references stay as written.
std::string DecodeEntities(std::string_view text);

}  // namespace vandrel
