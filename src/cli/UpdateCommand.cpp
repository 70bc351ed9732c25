// "update": brings the root's definitions up to the versions an update site lists.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "actions/QuorinApplications.h"
#include "cli/CliOutput.h"
#include "cli/Commands.h"
#include "kernel/AppConfig.h"
#include "kernel/AppFolders.h"
#include "kernel/AppKernel.h"
#include "kernel/AppUpdaterSettings.h"
#include "platform/CommandLineOptions.h"
#include "platform/JsonWriter.h"
#include "platform/RegistryFileStore.h"
#include "platform/RegistryStore.h"
#include "search/QuorinEngineRepository.h"
#include "update/AppUpdater.h"

namespace vandrel::cli {
namespace {

constexpr const char* kUsage =
    "usage: vandrel-shopper-cli update [--site URL] [--root DIR] [--check-only] [--json]\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "vandrel-shopper-cli update: %s\n%s", problem.c_str(), kUsage);
  return 2;
}

const char* ActionName(TQuorinUpdateItemAction action) {
  switch (action) {
    case uaChanged:
      return "changed";
    case uaAdded:
      return "added";
    case uaRemoved:
      return "removed";
  }
  return "";
}

const char* KindName(int kind) {
  switch (kind) {
    case ukSharedScript:
      return "script";
    case ukSearchType:
      return "search type";
    case ukCategory:
      return "category";
    case ukEngine:
      return "engine";
  }
  return "definition";
}

}  // namespace

bool UpdateFailed(const TUpdateRun& run) {
  return !run.ErrorText().empty() || run.Canceled();
}

std::string UpdateOutcomeText(const TUpdateRun& run) {
  if (UpdateFailed(run))
    return "Update failed: " + (run.ErrorText().empty() ? std::string("canceled") : run.ErrorText());
  if (run.Disabled()) return "Updates are switched off on the update site.";
  if (run.Report().Count() == 0) return "No changes detected.";
  return run.CheckOnly ? "Updates are available." : "Update completed.";
}

void ShowUpdateProgress(TUpdateRun& run) {
  run.OnStep = [](TUpdateStep step, const std::string& status) {
    std::fprintf(stderr, "step %d: %s\n", static_cast<int>(step), status.c_str());
  };
  run.OnProgress = [lastShown = -1](int percent, int64_t received, int64_t expected) mutable {
    if (percent == lastShown) return;
    lastShown = percent;
    if (expected > 0)
      std::fprintf(stderr, "  %d%% (%lld of %lld bytes)\n", percent, static_cast<long long>(received),
                   static_cast<long long>(expected));
    else
      std::fprintf(stderr, "  %d%%\n", percent);
  };
}

void PrintUpdateReport(const TUpdateRun& run, FILE* out) {
  // Names and reasons come from the update site.
  for (const std::string& refused : run.Refused())
    std::fprintf(out, "refused %s\n", TerminalText(refused).c_str());
  const TQuorinUpdateReport& report = run.Report();
  for (size_t i = 0; i < report.Count(); ++i) {
    const TQuorinUpdateReportItem& item = report.Items(i);
    std::fprintf(out, "%s%s %s %s\n", run.CheckOnly ? "would be " : "", ActionName(item.Action),
                 KindName(item.Kind), TerminalText(item.FullName()).c_str());
  }
}

int RunUpdate(const Args& args) {
  TCommandLine options({{"site", TOptionKind::Value},
                        {"root", TOptionKind::Value},
                        {"check-only", TOptionKind::Flag},
                        {"json", TOptionKind::Flag}});
  if (!options.Parse(args)) return Usage(options.Error());
  if (options.HelpAsked()) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (!options.Positionals().empty())
    return Usage("unexpected argument '" + options.Positionals().front() + "'");
  const bool json = options.Has("json");
  const bool checkOnly = options.Has("check-only");

  MainDispatcher& dispatcher = MainDispatcher::Default();
  dispatcher.AdoptCurrentThread();
  auto store = std::make_shared<TRegistryFileStore>(DefaultRegistryFolder());
  SetSystemRegistry(store);
  TAppConfig config(store);

  TQuorinActionRepository actions;
  TQuorinApplication runner(actions, dispatcher);
  TCommandLineProcessor processor;
  TAppKernel kernel(processor, dispatcher);
  TAppKernel::THooks hooks;
  // As every start of the program: what the installation ships is copied into the root first.
  std::error_code ec;
  const std::string self = std::filesystem::read_symlink("/proc/self/exe", ec).string();
  hooks.InstallationFolder = FindInstallationFolder(self);
  hooks.BuiltDataFolder = FindBuiltDataFolder(self);
  hooks.UserName = CurrentUserName();
  hooks.Runner = &runner;
  hooks.Actions = &actions;
  hooks.Config = &config;
  TStartOptions start;
  start.RootFolder = options.Value("root");
  if (kernel.Start(start, std::move(hooks)) != TStartResult::srRun || !runner.Repository()) {
    std::fprintf(stderr,
                 "vandrel-shopper-cli update: the catalogue under the root folder cannot be opened\n");
    return 1;
  }

  TAppConfigUpdaterSettings settings(config, options.Value("site"));
  TAppUpdater updater(runner, settings);
  TUpdateRun run(updater, dispatcher);
  run.CheckOnly = checkOnly;
  ShowUpdateProgress(run);
  // The command line always looks at every category: it is the user asking, not the schedule.
  run.Run(true);
  // The finished action is disposed of from the queue; let that happen before the catalogue closes.
  dispatcher.RunUntil([&runner] { return runner.State() == asIdle; }, std::chrono::seconds(30));

  const bool failed = UpdateFailed(run);
  const TQuorinUpdateReport& report = run.Report();
  const std::string message = UpdateOutcomeText(run);
  const auto& software = run.SoftwareUpdate();
  const std::string softwareAddress =
      software && !software->Addresses.empty() ? software->Addresses.front() : "";

  if (json) {
    TJsonWriter w;
    w.BeginArray();
    w.BeginObject()
        .Member("Result", failed                ? "failed"
                          : report.Count() == 0 ? "unchanged"
                          : checkOnly           ? "available"
                                                : "updated")
        .Member("Message", message)
        .Member("Error", run.ErrorText())
        .Member("SoftwareUpdate", softwareAddress)
        .Member("Refused", run.Refused())
        .EndObject();
    for (size_t i = 0; i < report.Count(); ++i) {
      const TQuorinUpdateReportItem& item = report.Items(i);
      w.BeginObject()
          .Member("Action", ActionName(item.Action))
          .Member("Kind", KindName(item.Kind))
          .Member("Name", item.FullName())
          .EndObject();
    }
    w.EndArray();
    std::printf("%s\n", w.Text().c_str());
  } else {
    PrintUpdateReport(run, stdout);
    if (!softwareAddress.empty())
      std::printf("A software update is available: %s\n", TerminalText(softwareAddress).c_str());
    std::printf("%s\n", message.c_str());
  }
  if (failed) std::fprintf(stderr, "vandrel-shopper-cli update: %s\n", run.ErrorText().c_str());
  kernel.ShutDown();
  return failed ? 1 : 0;
}

}  // namespace vandrel::cli
