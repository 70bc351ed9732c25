// The start-up steps that read or write the configuration: a fresh installation, the left-over software
// update program, the first-start setup, the installation's identifier, the engine check and the browser
// launcher's settings.
#include <filesystem>

#include "actions/QuorinApplications.h"
#include "integration/WebBrowse.h"
#include "kernel/AppConfig.h"
#include "kernel/AppKernel.h"
#include "platform/RegistryStore.h"
#include "search/QuorinEngineRepository.h"
#include "storage/CategoryStorage.h"

namespace vandrel {

bool ImportSiblingNetworkSettings(IRegistryStore& store, const std::string& networkKey) {
  // Older products of the same maker; the first one that was installed here wins.
  static const char* const kSiblings[] = {"\\Software\\Vandrel Technologies\\VandrelScoutPlus",
                                          "\\Software\\Vandrel Technologies\\VandrelScout"};
  for (const char* sibling : kSiblings) {
    const std::string root(sibling);
    if (!store.ReadValue(TRegRoot::rrLocalMachine, root + "\\System", "RootFolder")) continue;
    return store.CopyKey(TRegRoot::rrLocalMachine, root + "\\Network", TRegRoot::rrLocalMachine, networkKey);
  }
  return false;
}

void TAppKernel::TakeInstallMode() {
  TAppConfig* config = hooks_.Config;
  if (!config || !config->GlobalSystem().InstallMode()) return;
  freshInstall_ = true;
  config->GlobalSystem().SetInstallMode(false);
  // A reinstallation over a configured program keeps its integration pointing at the new files.
  if (config->GlobalSystem().AppConfigured() && hooks_.RewriteIntegration) hooks_.RewriteIntegration();
}

void TAppKernel::RemoveSoftwareUpdateProgram() {
  TAppConfig* config = hooks_.Config;
  if (!config) return;
  const std::string program = config->GlobalSystem().SoftwareUpdateProgram();
  if (program.empty()) return;
  std::error_code ec;
  std::filesystem::remove(program, ec);
  // Kept while the file is still there (in use, no right to delete), so a later start tries again.
  if (!std::filesystem::exists(program, ec) && !ec) config->GlobalSystem().SetSoftwareUpdateProgram("");
}

void TAppKernel::RunSetupWhenUnconfigured() {
  TAppConfig* config = hooks_.Config;
  if (!config || config->GlobalSystem().AppConfigured()) return;
  ImportSiblingNetworkSettings(*config->Store(), config->RootPath() + "Network");
  WithoutSplash(hooks_.RunSetupWizard);
  // The wizard may have chosen another local currency.
  LoadCurrencyTable();
}

void TAppKernel::EnsureInstallationGuid() {
  if (hooks_.Config && hooks_.Config->System().GUID().empty()) hooks_.Config->System().SetGUID(NewGuidText());
}

void TAppKernel::ApplyBrowserLauncherSettings() {
  if (!hooks_.Config || hooks_.Headless) return;
  WebBrowse().SetForcedBrowser(hooks_.Config->Preferences().ForceNavigatorUse(),
                               hooks_.Config->Preferences().NavigatorExeName());
}

bool TAppKernel::CheckEngines(bool silent) {
  TEngineRepository* repository = Repository();
  TCategoryStorageList* categories = repository ? &repository->Categories() : nullptr;
  if (!categories || categories->Count() == 0) {
    if (debugMode_) return true;
    if (!silent) ShowAppError(aeNoEngines);
    return false;
  }
  for (size_t i = 0; i < categories->Count(); ++i) {
    const std::string name = categories->Category(i)->GetName();
    TEngineStorageList* engines = repository->EngineLists().EngineList(name);
    if (engines && engines->Count() > 0) continue;
    if (!silent) ShowAppError(aeNoCategoryEngines, {name});
    return false;
  }
  return true;
}

}  // namespace vandrel
