#include "presentation/LanSettingsController.h"

#include <algorithm>

#include "platform/TextUtils.h"

namespace vandrel {

TLanSettingsController::TLanSettingsController(IDesktopSettings& settings, IUserPrompts& prompts,
                                               TProxyDetect detect)
    : settings_(settings), prompts_(prompts), detect_(std::move(detect)) {}

void TLanSettingsController::Load() {
  loaded_ = settings_.ReadNetwork();
  proposed_ = false;
  const bool neverEntered =
      !loaded_.UseProxyConnection && loaded_.ProxyAddress.empty() && loaded_.SocksAddress.empty();
  if (neverEntered && detect_) {
    for (int kind : {0, 1}) {
      std::string host;
      int port = 0;
      bool enabled = false;
      if (!detect_(kind, host, port, enabled)) continue;
      const TProxyType type = kind == 0 ? ptHttp : ptSocks;
      loaded_.ProxyType = type;
      (type == ptHttp ? loaded_.ProxyAddress : loaded_.SocksAddress) = host;
      (type == ptHttp ? loaded_.ProxyPort : loaded_.SocksPort) = std::clamp(port, 0, kMaxPort);
      loaded_.UseProxyConnection = enabled;
      proposed_ = true;
      break;
    }
  }
  UseProxy = loaded_.UseProxyConnection;
  Type = loaded_.ProxyType;
  ShowType();
}

void TLanSettingsController::ShowType() {
  if (Type == ptSocks) {
    Address = loaded_.SocksAddress;
    Port = loaded_.SocksPort;
    UseAuthorization = false;
    UserName.clear();
    Password.clear();
  } else {
    Address = loaded_.ProxyAddress;
    Port = loaded_.ProxyPort;
    UseAuthorization = loaded_.UseProxyAuthenticate;
    UserName = loaded_.ProxyUserName;
    Password = loaded_.ProxyPassword;
  }
  SetPort(Port);
}

void TLanSettingsController::SetType(TProxyType type) {
  if (type == Type) return;
  Type = type;
  ShowType();
}

void TLanSettingsController::SetPort(int port) {
  Port = std::clamp(port, 0, kMaxPort);
}

bool TLanSettingsController::Accept() {
  const std::string address(Trim(Address));
  if (UseProxy && address.empty()) {
    TPrompt prompt;
    prompt.Caption = lan_text::kCaption;
    prompt.Text = lan_text::kEmptyAddress;
    prompt.Icon = TPromptIcon::piWarning;
    prompts_.Ask(prompt);
    return false;
  }
  // Read again: another window may have stored network settings while this one was open.
  TNetworkSettings s = settings_.ReadNetwork();
  s.UseProxyConnection = UseProxy;
  s.ProxyType = Type;
  if (Type == ptSocks) {
    s.SocksAddress = address;
    s.SocksPort = Port;
  } else {
    s.ProxyAddress = address;
    s.ProxyPort = Port;
    s.UseProxyAuthenticate = UseAuthorization;
    s.ProxyUserName = UserName;
    s.ProxyPassword = Password;
  }
  settings_.WriteNetwork(s);
  loaded_ = s;
  return true;
}

}  // namespace vandrel
