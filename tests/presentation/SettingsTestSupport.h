// A configuration in a temporary store, the desktop settings port over it, and a small currency table,
// for the options, LAN settings and setup wizard tests.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <map>
#include <memory>
#include <string>

#include "TempFolder.h"
#include "currency/CurrencyConverters.h"
#include "http/ProxyDetectTools.h"
#include "kernel/AppConfig.h"
#include "kernel/DesktopSettingsStore.h"
#include "platform/RegistryFileStore.h"
#include "presentation/FakeDesktopPorts.h"
#include "presentation/LanSettingsController.h"

namespace vandrel::test {

// The port with the browser component's version under the test's control.
class TTestSettingsStore : public TDesktopSettingsStore {
 public:
  using TDesktopSettingsStore::TDesktopSettingsStore;
  int BrowserComponentVersion() const override { return Version; }
  int Version = 5;
};

// The real proxy detection, seeing only `vars` as its environment and no desktop or browser settings.
class TEnvironmentProxy {
 public:
  explicit TEnvironmentProxy(std::initializer_list<std::pair<const std::string, std::string>> vars = {})
      : vars_(vars) {
    detector_.GetEnv = [this](const char* name) -> const char* {
      auto it = vars_.find(name);
      return it == vars_.end() ? nullptr : it->second.c_str();
    };
    detector_.GSettingsProgram = "/nonexistent/gsettings";
    detector_.HomeFolder = "/nonexistent";
  }
  TProxyDetect Detect() {
    return [this](int kind, std::string& host, int& port, bool& enabled) {
      return detector_.DetectProxy(kind, host, port, enabled);
    };
  }

 private:
  std::map<std::string, std::string> vars_;
  TProxyDetector detector_;
};

class SettingsTest : public ::testing::Test {
 protected:
  SettingsTest() {
    Converter.Definitions().Clear();
    Converter.Definitions().Add({"USD", 1.0f, "US Dollar", "$"});
    Converter.Definitions().Add({"EUR", 0.5f, "Euro", "E", 3});
    Converter.Definitions().Add({"CAD", 1.25f, "Canadian Dollar", "C$"});
  }

  // True while nothing at all was written to the store.
  bool StoreUntouched() {
    return Store->SubKeyNames(TRegRoot::rrCurrentUser, "").empty() &&
           Store->SubKeyNames(TRegRoot::rrLocalMachine, "").empty();
  }

  TempFolder Dir;
  std::shared_ptr<TRegistryFileStore> Store = std::make_shared<TRegistryFileStore>(Dir.Path());
  TAppConfig Config{Store};
  TTestSettingsStore Settings{Config};
  TCurrencyConverter Converter;
  TScriptedPrompts Prompts;
  TManualScheduler Scheduler;
};

}  // namespace vandrel::test
