// Entry points the product's uninstaller calls; only integers cross back.
#include "uninstall/UninstallApi.h"

#include <memory>
#include <string>

#include "integration/Uninstaller.h"
#include "kernel/AppConfig.h"
#include "kernel/AppName.h"
#include "platform/RegistryFileStore.h"
#include "platform/SingleInstance.h"

namespace {
using namespace vandrel;

// The store is opened at each call rather than at load, so the settings folder is the one in force when
// the uninstaller calls.
std::shared_ptr<IRegistryStore> OpenStore() {
  return std::make_shared<TRegistryFileStore>();
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int UninstInitialize(void* ownerWindow, VandrelUninstPrompt prompt,
                                                            void* context) {
  try {
    RegisterAppName("Vandrel Shopper");
    auto store = OpenStore();
    TAppConfig config(store);
    TUninstallSetup setup;
    setup.Store = store;
    setup.Places = DefaultDesktopPlaces();
    setup.RootFolder = config.RootFolder();
    std::string ignored;
    setup.InstanceFolder = TSingleInstance::ResolveFolder(&ignored);
    if (prompt) {
      setup.Prompt = [prompt, context](TPromptKind kind, const std::string& caption,
                                       const std::string& text) {
        return static_cast<TPromptAnswer>(
            prompt(context, static_cast<int>(kind), caption.c_str(), text.c_str()));
      };
    }
    const TUninstallOutcome outcome = UninstallInitialize(setup);
    if (prompt && !outcome.Failed.empty()) {
      std::string text = "These could not be removed:";
      for (const auto& failure : outcome.Failed) text += "\n" + failure;
      prompt(context, static_cast<int>(TPromptKind::pkNotice), "Vandrel Shopper", text.c_str());
    }
    return outcome.Result;
  } catch (...) {
    return 0;  // nothing may escape into the uninstaller; it goes on as after a silent failure
  }
}

__attribute__((visibility("default"))) int UninstUnInitialize(void*, void*, void*) {
  try {
    UninstallUnInitialize(*OpenStore());
  } catch (...) {
  }
  return 0;
}
}
