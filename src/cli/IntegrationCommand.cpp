// The "integration", "open" and "uninstall" subcommands: the desktop and browser integration, opening a
// page the way the program does, and the uninstall hook run from a terminal.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include "cli/Commands.h"
#include "integration/ExplorerIntegration.h"
#include "integration/Uninstaller.h"
#include "integration/WebBrowse.h"
#include "kernel/AppConfig.h"
#include "kernel/AppFolders.h"
#include "platform/CommandLineOptions.h"
#include "platform/JsonWriter.h"
#include "platform/SingleInstance.h"
#include "platform/TextUtils.h"

namespace vandrel::cli {
namespace {

std::string ProgramFolder() {
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(".") : self.parent_path().string();
}

// --root, else the root the program last ran with, else where it would run.
std::string RootFolderOf(const TCommandLine& line) {
  if (line.Has("root")) return ResolveRootFolder(line.Value("root"));
  if (std::string root = AppConfig().RootFolder(); !root.empty()) return root;
  return ResolveRootFolder("");
}

bool ParseOrComplain(TCommandLine& line, const Args& args, const char* usage) {
  if (line.Parse(args) && !line.HelpAsked()) return true;
  if (line.HelpAsked()) {
    std::printf("usage: vandrel-shopper-cli %s\n", usage);
  } else {
    std::fprintf(stderr, "vandrel-shopper-cli: %s\nusage: vandrel-shopper-cli %s\n", line.Error().c_str(),
                 usage);
  }
  return false;
}

constexpr const char* kIntegrationUsage =
    "integration install|remove|status [--root DIR] [--program PATH] [--json]";
constexpr const char* kOpenUsage = "open URL [--launch]";
constexpr const char* kUninstallUsage = "uninstall [--keep-user-data|--remove-user-data] [--root DIR]";

// Reads one answer from the terminal; without one (not a terminal, end of input) the safe answer.
TPromptAnswer AskOnTerminal(TPromptKind kind, const std::string& caption, const std::string& text) {
  std::string shown;
  for (char c : text)
    if (c != '\r') shown += c;
  std::fprintf(stderr, "%s\n%s\n", caption.c_str(), shown.c_str());
  const bool close = kind == TPromptKind::pkCloseProgram;
  const TPromptAnswer safe = close ? TPromptAnswer::paCancel : TPromptAnswer::paNo;
  if (!isatty(STDIN_FILENO)) {
    std::fprintf(stderr, "(no terminal to answer on: %s)\n", close ? "Cancel" : "No");
    return safe;
  }
  std::fprintf(stderr, close ? "[OK/Cancel] " : "[Yes/No] ");
  std::string answer;
  if (!std::getline(std::cin, answer)) return safe;
  const std::string word(Trim(answer));
  if (close)
    return SameText(word, "ok") || SameText(word, "o") ? TPromptAnswer::paOk : TPromptAnswer::paCancel;
  return SameText(word, "yes") || SameText(word, "y") ? TPromptAnswer::paYes : TPromptAnswer::paNo;
}

}  // namespace

int RunIntegration(const Args& args) {
  TCommandLine line(
      {{"root", TOptionKind::Value}, {"program", TOptionKind::Value}, {"json", TOptionKind::Flag}});
  if (!ParseOrComplain(line, args, kIntegrationUsage)) return line.HelpAsked() ? 0 : 2;
  if (line.Positionals().size() != 1) {
    std::fprintf(stderr, "usage: vandrel-shopper-cli %s\n", kIntegrationUsage);
    return 2;
  }
  const std::string& action = line.Positionals()[0];
  TIETools tools(SystemRegistry(), DefaultDesktopPlaces());
  if (action == "status") {
    const auto entries = IntegrationStatus(tools);
    if (line.Has("json")) {
      TJsonWriter json;
      json.BeginArray();
      for (const auto& e : entries)
        json.BeginObject()
            .Member("Kind", e.Kind)
            .Member("Where", e.Where)
            .Member("Present", e.Present)
            .EndObject();
      json.EndArray();
      std::printf("%s\n", json.Text().c_str());
    } else {
      for (const auto& e : entries)
        std::printf("%-8s %-5s %s\n", e.Present ? "present" : "absent", e.Kind.c_str(), e.Where.c_str());
    }
    return 0;
  }
  if (action != "install" && action != "remove") {
    std::fprintf(stderr, "vandrel-shopper-cli: unknown integration action '%s'\n", action.c_str());
    return 2;
  }
  TAppConfig& config = AppConfig();
  TIntegrationInputs inputs;
  inputs.ProgramPath = line.Value("program", ProgramFolder() + "/VandrelShopper");
  inputs.RootFolder = RootFolderOf(line);
  inputs.UseQuickLaunch = config.Preferences().UseExplorerQuickLaunch();
  inputs.UseContextMenu = config.Preferences().UseExplorerContextMenu();
  inputs.UseBrowser = config.Preferences().UseExplorerBrowser();
  inputs.IEVersion = config.IEVersion();
  const TIntegrationOutcome outcome = UpdateExplorerIntegration(action == "remove", inputs, tools);
  if (!outcome.Removed) std::fprintf(stderr, "%s\n", AppErrorText(aeResetIntegration).c_str());
  if (!outcome.Written) std::fprintf(stderr, "%s\n", AppErrorText(aeWriteIntegration).c_str());
  if (!outcome.Failure.empty()) std::fprintf(stderr, "  %s\n", outcome.Failure.c_str());
  return outcome.Removed && outcome.Written ? 0 : 1;
}

int RunOpen(const Args& args) {
  TCommandLine line({{"launch", TOptionKind::Flag}});
  if (!ParseOrComplain(line, args, kOpenUsage)) return line.HelpAsked() ? 0 : 2;
  if (line.Positionals().size() != 1) {
    std::fprintf(stderr, "usage: vandrel-shopper-cli %s\n", kOpenUsage);
    return 2;
  }
  TWebBrowse& browse = WebBrowse();
  browse.SetForcedBrowser(AppConfig().Preferences().ForceNavigatorUse(),
                          AppConfig().Preferences().NavigatorExeName());
  const std::string& address = line.Positionals()[0];
  const bool opened = line.Has("launch") ? browse.LaunchBrowser(address) : browse.OpenUrl(address);
  if (!opened) {
    std::fprintf(stderr, "vandrel-shopper-cli: could not open %s%s%s\n", address.c_str(),
                 browse.LastError().empty() ? "" : ": ", browse.LastError().c_str());
    return 1;
  }
  return 0;
}

int RunUninstall(const Args& args) {
  TCommandLine line({{"keep-user-data", TOptionKind::Flag},
                     {"remove-user-data", TOptionKind::Flag},
                     {"root", TOptionKind::Value}});
  if (!ParseOrComplain(line, args, kUninstallUsage)) return line.HelpAsked() ? 0 : 2;
  if (!line.Positionals().empty() || (line.Has("keep-user-data") && line.Has("remove-user-data"))) {
    std::fprintf(stderr, "usage: vandrel-shopper-cli %s\n", kUninstallUsage);
    return 2;
  }
  TUninstallSetup setup;
  setup.Store = SystemRegistry();
  setup.Places = DefaultDesktopPlaces();
  setup.RootFolder = RootFolderOf(line);
  std::string error;
  setup.InstanceFolder = TSingleInstance::ResolveFolder(&error);
  const bool keep = line.Has("keep-user-data"), remove = line.Has("remove-user-data");
  setup.Prompt = [keep, remove](TPromptKind kind, const std::string& caption, const std::string& text) {
    if (kind == TPromptKind::pkDeleteSearches && (keep || remove))
      return remove ? TPromptAnswer::paYes : TPromptAnswer::paNo;
    return AskOnTerminal(kind, caption, text);
  };
  const TUninstallOutcome outcome = UninstallInitialize(setup);
  if (outcome.Result != 0) {
    std::fprintf(stderr, "vandrel-shopper-cli: uninstall cancelled; nothing was removed\n");
    return 1;
  }
  UninstallUnInitialize(*setup.Store);
  for (const auto& failure : outcome.Failed) std::fprintf(stderr, "not removed: %s\n", failure.c_str());
  return outcome.Failed.empty() ? 0 : 1;
}

}  // namespace vandrel::cli
