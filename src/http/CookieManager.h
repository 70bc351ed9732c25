// Keeps a downloader's cookies in memory by domain, path and name, and builds the Cookie header for a
// request.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "http/CookieParser.h"

namespace vandrel {

// Ordering of keys without regard to ASCII case.
struct TCaseLess {
  bool operator()(const std::string& a, const std::string& b) const;
};

// May be called from any thread. Each level of the tree has its own lock, always taken in the order
// domain list -> path list -> name list.
class TCookieManager {
 public:
  // While disabled nothing is stored and no cookie string is produced.
  void SetDisabled(bool value) { disabled_ = value; }
  bool Disabled() const { return disabled_; }

  // Stores, replaces or (when expired) removes the cookie; invalid cookies are ignored.
  void Receive(const TCookie& cookie);
  // The "Cookie" header value for `url`: the host's own cookies first, then its parent domain's.
  std::string GetCookieString(std::string_view url) const;
  void Clear();
  // A copy of every stored cookie, in domain, path and name order.
  std::vector<TCookie> Export() const;

 private:
  struct TNameList {
    mutable std::mutex Lock;
    std::map<std::string, TCookie, TCaseLess> Cookies;
  };
  struct TPathList {
    mutable std::mutex Lock;
    std::map<std::string, std::unique_ptr<TNameList>, TCaseLess> Paths;
  };

  // Collects into `out` (each cookie put in front) the cookies stored under `domain` that apply to `path`.
  void Collect(const std::string& domain, const std::string& path, bool secureChannel, double nowUtc,
               std::string& out) const;

  std::atomic<bool> disabled_{false};
  mutable std::mutex domainsLock_;
  std::map<std::string, std::unique_ptr<TPathList>, TCaseLess> domains_;
};

}  // namespace vandrel
