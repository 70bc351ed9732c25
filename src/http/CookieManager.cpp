#include "http/CookieManager.h"

#include <algorithm>

#include "http/HttpDates.h"
#include "platform/TextUtils.h"
#include "platform/UrlUtils.h"

namespace vandrel {

namespace {

// ".example.org" for "shop.example.org" under one of the generic top-level domains; empty otherwise.
std::string ParentDomain(std::string_view host) {
  const std::string h = AsciiLowerCase(Trim(host.substr(0, host.find(':')), " "));
  if (std::count(h.begin(), h.end(), '.') < 2) return "";
  const size_t last = h.rfind('.');
  static constexpr const char* kGeneric[] = {"com", "edu", "net", "org", "gov", "mil", "int"};
  const std::string top = h.substr(last + 1);
  if (std::none_of(std::begin(kGeneric), std::end(kGeneric), [&](const char* g) { return top == g; }))
    return "";
  return h.substr(h.rfind('.', last - 1));
}

}  // namespace

bool TCaseLess::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return AsciiLower(x) < AsciiLower(y); });
}

void TCookieManager::Receive(const TCookie& cookie) {
  if (!cookie.Valid) return;
  std::lock_guard<std::mutex> domainsGuard(domainsLock_);
  if (cookie.IsPersistent() && cookie.IsExpired()) {
    auto domain = domains_.find(cookie.Domain);
    if (domain == domains_.end()) return;
    std::lock_guard<std::mutex> pathsGuard(domain->second->Lock);
    auto path = domain->second->Paths.find(cookie.Path);
    if (path == domain->second->Paths.end()) return;
    std::lock_guard<std::mutex> namesGuard(path->second->Lock);
    path->second->Cookies.erase(cookie.Name);
    return;
  }
  if (disabled_) return;
  auto& paths = domains_[cookie.Domain];
  if (!paths) paths = std::make_unique<TPathList>();
  std::lock_guard<std::mutex> pathsGuard(paths->Lock);
  auto& names = paths->Paths[cookie.Path];
  if (!names) names = std::make_unique<TNameList>();
  std::lock_guard<std::mutex> namesGuard(names->Lock);
  auto [it, added] = names->Cookies.try_emplace(cookie.Name, cookie);
  if (!added && !it->second.Equals(cookie)) it->second = cookie;
}

void TCookieManager::Collect(const std::string& domain, const std::string& path, bool secureChannel,
                             double nowUtc, std::string& out) const {
  auto entry = domains_.find(domain);
  if (entry == domains_.end()) return;
  std::lock_guard<std::mutex> pathsGuard(entry->second->Lock);
  for (const auto& [prefix, names] : entry->second->Paths) {
    if (prefix != "/" && path.compare(0, prefix.size(), prefix) != 0) continue;
    std::lock_guard<std::mutex> namesGuard(names->Lock);
    for (const auto& [name, cookie] : names->Cookies) {
      // A secure cookie never travels in clear text, and an expired one is no longer the site's.
      if ((cookie.Secure && !secureChannel) || cookie.IsExpiredAt(nowUtc)) continue;
      out = out.empty() ? cookie.NameValue : cookie.NameValue + "; " + out;
    }
  }
}

std::string TCookieManager::GetCookieString(std::string_view url) const {
  if (disabled_) return "";
  TUrlParserEx parser(url);
  const std::string host = parser.NetLoc();
  if (host.empty()) return "";
  const std::string path = "/" + parser.Path();
  const bool secureChannel = parser.Scheme() == "https";
  const double now = NowUtcDateTime();
  std::lock_guard<std::mutex> domainsGuard(domainsLock_);
  std::string own;
  Collect(host, path, secureChannel, now, own);
  std::string parent;
  if (const std::string parentDomain = ParentDomain(host); !parentDomain.empty())
    Collect(parentDomain, path, secureChannel, now, parent);
  if (own.empty()) return parent;
  return parent.empty() ? own : own + "; " + parent;
}

void TCookieManager::Clear() {
  std::lock_guard<std::mutex> domainsGuard(domainsLock_);
  domains_.clear();
}

std::vector<TCookie> TCookieManager::Export() const {
  std::vector<TCookie> list;
  std::lock_guard<std::mutex> domainsGuard(domainsLock_);
  for (const auto& [domain, paths] : domains_) {
    std::lock_guard<std::mutex> pathsGuard(paths->Lock);
    for (const auto& [path, names] : paths->Paths) {
      std::lock_guard<std::mutex> namesGuard(names->Lock);
      for (const auto& [name, cookie] : names->Cookies) list.push_back(cookie);
    }
  }
  return list;
}

}  // namespace vandrel
