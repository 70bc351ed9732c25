// A kernel over the bundled definitions, pointed at the demo store site on loopback, with the dispatcher
// driven from Qt's event loop as the program drives it: what the search window tests run against.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <memory>

#include "TempFolder.h"
#include "actions/AppErrors.h"
#include "data/DemoSite.h"
#include "kernel/AppConfig.h"
#include "kernel/HeadlessKernel.h"
#include "platform/MainDispatcher.h"
#include "platform/RegistryFileStore.h"
#include "search/CategoryList.h"
#include "search/QuorinEngineRepository.h"
#include "ui/QtDesktopPorts.h"

namespace vandrel::test {

class TSearchWorld {
 public:
  TSearchWorld() {
    previous_ =
        SetErrorPresenter({[this](TMessageStyle, const std::string& t) { Shown.push_back(t); }, [] {}});
    RunDispatcherFromEventLoop();
    Config = std::make_unique<TAppConfig>(std::make_shared<TRegistryFileStore>(Root.Path() + "/registry"));
    TAppKernel::THooks hooks;
    hooks.UserName = "tester";
    hooks.DataFolder = CompiledDataDir();
    hooks.RefreshCatalogue = true;
    hooks.Config = Config.get();
    TStartOptions options;
    options.RootFolder = Root.Path() + "/root";
    Opened = Kernel.Open(options, std::move(hooks));
    if (!Opened) return;
    Kernel.Repository().Constants().SetString("DemoStoreAddress", Site.Address());
    Categories =
        std::make_unique<TCategoryList>(Kernel.Repository().Categories(), Kernel.Repository().DataFolder());
    Opened = Categories->Load() && Site.Port != 0;
  }
  ~TSearchWorld() {
    Categories.reset();
    MainDispatcher::Default().SetWakeHandler(nullptr);
    SetErrorPresenter(std::move(previous_));
  }

  bool RunnerIdle() {
    return Kernel.Runner().State() == asIdle && !Kernel.Runner().IsBusy() && Kernel.Runner().Queue().Empty();
  }

  TempFolder Root;
  TDemoSite Site;
  std::unique_ptr<TAppConfig> Config;
  THeadlessKernel Kernel;
  std::unique_ptr<TCategoryList> Categories;
  std::vector<std::string> Shown;  // application errors shown
  bool Opened = false;

 private:
  TErrorPresenter previous_;
};

}  // namespace vandrel::test
