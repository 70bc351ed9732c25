// The LAN settings dialog's model: the proxy the downloader uses, edited per type and stored on OK.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "presentation/DesktopPorts.h"
#include "presentation/DesktopSettings.h"

namespace vandrel {

namespace lan_text {
inline constexpr std::string_view kCaption = "LAN Settings";
inline constexpr std::string_view kUseProxy = "&Use a proxy server";
inline constexpr std::string_view kHttp = "HTTP";
inline constexpr std::string_view kSocks = "Socks";
inline constexpr std::string_view kUseAuthorization = "Use proxy aut&horization";
inline constexpr std::string_view kUserName = "User &name:";
inline constexpr std::string_view kPassword = "Pass&word:";
inline constexpr std::string_view kEmptyAddress = "Please enter a valid proxy settings.";
}  // namespace lan_text

// Asks the user's desktop or browser for its proxy of a kind (0 HTTP, 1 SOCKS); true when a complete one
// (host and a non-zero port) was found. `enabled` tells whether that source has a proxy switched on.
using TProxyDetect = std::function<bool(int kind, std::string& host, int& port, bool& enabled)>;

// Main thread only. Nothing reaches the store before Accept.
class TLanSettingsController {
 public:
  // `detect` may be empty: nothing is proposed then.
  TLanSettingsController(IDesktopSettings& settings, IUserPrompts& prompts, TProxyDetect detect = {});

  // Fills the fields from the store. When no proxy was ever entered, the one the desktop or browser uses
  // is proposed (and only stored if the user confirms with OK).
  void Load();

  // The fields as the dialog shows them.
  bool UseProxy = false;
  TProxyType Type = ptHttp;
  std::string Address;
  int Port = 0;
  bool UseAuthorization = false;
  std::string UserName;
  std::string Password;

  // Reloads address, port and authorization for `type` from what was loaded.
  void SetType(TProxyType type);
  void SetPort(int port);

  bool TypeEnabled() const { return UseProxy; }
  bool AuthorizationEnabled() const { return UseProxy && Type == ptHttp; }
  bool CredentialsEnabled() const { return UseAuthorization && AuthorizationEnabled(); }
  // The last Load proposed a detected proxy.
  bool Proposed() const { return proposed_; }

  // OK: false (after the warning; the address field should get the focus) when a proxy is to be used
  // without an address; otherwise stores and answers true.
  bool Accept();

 private:
  void ShowType();

  IDesktopSettings& settings_;
  IUserPrompts& prompts_;
  TProxyDetect detect_;
  TNetworkSettings loaded_;  // the store's values, with a proposal filled in
  bool proposed_ = false;
};

}  // namespace vandrel
