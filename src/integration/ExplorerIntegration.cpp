#include "integration/ExplorerIntegration.h"

#include <sys/stat.h>

#include "actions/AppErrors.h"
#include "platform/TextUtils.h"

namespace vandrel {
using namespace integration;

namespace {

// Runs the operations of one step in order until the first one fails.
class TStep {
 public:
  explicit TStep(TIETools& tools) : tools_(tools) {}
  TStep& operator()(bool done) {
    if (ok_ && !done) {
      ok_ = false;
      failure_ = tools_.LastError();
    }
    return *this;
  }
  bool Ok() const { return ok_; }
  bool Running() const { return ok_; }
  const std::string& Failure() const { return failure_; }

 private:
  TIETools& tools_;
  bool ok_ = true;
  std::string failure_;
};

bool Exists(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::lstat(path.c_str(), &info) == 0;
}

const char* RootName(TRegRoot root) {
  switch (root) {
    case TRegRoot::rrCurrentUser:
      return "user";
    case TRegRoot::rrLocalMachine:
      return "machine";
    case TRegRoot::rrClassesRoot:
      return "classes";
  }
  return "";
}

}  // namespace

TIntegrationOutcome UpdateExplorerIntegration(bool removeOnly, const TIntegrationInputs& inputs,
                                              TIETools& tools) {
  TIntegrationOutcome outcome;
  // The operations run lazily: once a step has failed, the rest of it is skipped.
  TStep remove(tools);
  auto a = [&](auto op) {
    if (remove.Running()) remove(op());
  };
  a([&] { return tools.DeleteUrlProtocol(kProtocol); });
  a([&] { return tools.DeleteSchemeHandler(kProtocol); });
  for (std::string_view entry : {kFindReviewsEntry, kFindPricesEntry, kFindEntry})
    a([&] { return tools.DeleteMenuExtension(entry); });
  a([&] { return tools.DeleteBrowserExtension(kToolsMenuId); });
  a([&] { return tools.DeleteBrowserExtension(kToolbarButtonId); });
  a([&] { return tools.DeleteBrowserBar(kBrowserBarId); });
  a([&] {
    tools.UpdateQuickLaunchShortcut(TIETools::TShortcutMode::smDelete, kLauncherFile, inputs.ProgramPath);
    return true;
  });
  outcome.Removed = remove.Ok();
  outcome.Failure = remove.Failure();
  if (removeOnly) return outcome;

  TStep write(tools);
  auto b = [&](auto op) {
    if (write.Running()) write(op());
  };
  const std::string& root = inputs.RootFolder;
  const std::string command = "\"" + inputs.ProgramPath + "\" \"%1\"";
  b([&] { return tools.WriteUrlProtocol(kProtocol, kProtocolDescription, command); });
  b([&] { return tools.WriteSchemeHandler(kProtocol, kProtocolDescription, inputs.ProgramPath); });
  if (inputs.UseQuickLaunch)
    b([&] {
      tools.UpdateQuickLaunchShortcut(TIETools::TShortcutMode::smCreate, kLauncherFile, inputs.ProgramPath);
      return true;
    });
  if (inputs.UseContextMenu) b([&] { return tools.WriteMenuExtension(kFindEntry, root + "Web/Find.htm"); });
  if (inputs.UseBrowser && inputs.IEVersion > 4) {
    b([&] {
      return tools.WriteToolsMenuItem(kToolsMenuId, kToolsMenuText, kToolsStatusText, inputs.ProgramPath);
    });
    b([&] {
      return tools.WriteToolbarButton(kToolbarButtonId, kButtonText, kToolsMenuText,
                                      root + "Web/IEToolbarIcon.ico", root + "Web/IEToolbarHotIcon.ico",
                                      kBrowserBarId);
    });
    b([&] {
      return tools.WriteBrowserBar(kBrowserBarId, kBarName, "file://" + root + "Web/ShopBar.htm", kBarSize,
                                   inputs.SystemFolder);
    });
  }
  outcome.Written = write.Ok();
  if (outcome.Failure.empty()) outcome.Failure = write.Failure();
  return outcome;
}

void ReportIntegrationOutcome(const TIntegrationOutcome& outcome) {
  if (!outcome.Removed) ShowAppError(aeResetIntegration);
  if (!outcome.Written) ShowAppError(aeWriteIntegration);
}

std::vector<TIntegrationEntry> IntegrationStatus(const TIETools& tools) {
  std::vector<TIntegrationEntry> entries;
  const auto& store = tools.Store();
  auto key = [&](TRegRoot root, std::string path) {
    const bool present = store && store->KeyExists(root, path);
    entries.push_back({"key", std::string(RootName(root)) + "\\" + path, present});
  };
  const std::string protocol(kProtocol);
  key(TRegRoot::rrClassesRoot, protocol);
  key(TRegRoot::rrClassesRoot, protocol + "\\shell\\open\\command");
  for (std::string_view entry : {kFindEntry, kFindReviewsEntry, kFindPricesEntry})
    key(TRegRoot::rrCurrentUser, "Software\\Microsoft\\Internet Explorer\\MenuExt\\" + std::string(entry));
  for (std::string_view id : {kToolsMenuId, kToolbarButtonId})
    key(TRegRoot::rrLocalMachine, "SOFTWARE\\Microsoft\\Internet Explorer\\Extensions\\" + std::string(id));
  key(TRegRoot::rrClassesRoot, "CLSID\\" + std::string(kBrowserBarId));
  key(TRegRoot::rrLocalMachine,
      "Software\\Microsoft\\Internet Explorer\\Explorer Bars\\" + std::string(kBrowserBarId));

  const TDesktopPlaces& places = tools.Places();
  for (std::string_view name : {kShopHandlerFile, kLauncherFile}) {
    const std::string path =
        places.ApplicationsFolder.empty() ? std::string() : places.ApplicationsFolder + std::string(name);
    entries.push_back({"file", path.empty() ? std::string(name) + " (folder unknown)" : path, Exists(path)});
  }
  const std::string line = MimeDefaultLine(kProtocol, kShopHandlerFile);
  std::string list;
  const bool present =
      !places.MimeAppsList.empty() && ReadTextFile(places.MimeAppsList, list) && HasMimeDefault(list, line);
  entries.push_back({"line", places.MimeAppsList + ": " + line, present});
  return entries;
}

std::string ShopAddressToCommand(std::string_view argument) {
  if (!StartsWithText(argument, std::string(kProtocol) + ":")) return std::string(argument);
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    c = AsciiLower(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
  };
  std::string command;
  for (size_t i = 0; i < argument.size(); ++i) {
    char c = argument[i];
    if (c == '%' && i + 2 < argument.size() && hex(argument[i + 1]) >= 0 && hex(argument[i + 2]) >= 0) {
      c = static_cast<char>(hex(argument[i + 1]) * 16 + hex(argument[i + 2]));
      i += 2;
    }
    command += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? ' ' : c;
  }
  return command;
}

}  // namespace vandrel
