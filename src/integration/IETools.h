// Writes and deletes one kind of browser or desktop entry each: the "shop" address protocol, context-menu
// and Tools-menu entries, the tool-bar button, the browser bar and the quick-launch shortcut.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/RegistryStore.h"

namespace vandrel {

// Where the desktop keeps what the integration writes besides the store. Empty: unknown, nothing is
// written there.
struct TDesktopPlaces {
  std::string ApplicationsFolder;  // the user's applications folder, ending with "/"
  std::string MimeAppsList;        // the user's mimeapps.list
};
// "$XDG_DATA_HOME/applications/" and "$XDG_CONFIG_HOME/mimeapps.list", else the same under ~/.local/share
// and ~/.config; a relative XDG folder is ignored, as the XDG rules ask.
TDesktopPlaces DefaultDesktopPlaces();

// The desktop file that hands "shop:" addresses to the program, and the launcher used as the quick-launch
// shortcut. The launcher has the name of the installed one, so the user's copy stands in for it.
inline constexpr std::string_view kShopHandlerFile = "vandrel-shopper-url.desktop";
inline constexpr std::string_view kLauncherFile = "vandrel-shopper.desktop";
inline constexpr std::string_view kIconName = "vandrel-shopper";
inline constexpr std::string_view kDefaultApplicationsGroup = "[Default Applications]";

// The line of mimeapps.list that makes `desktopFile` the default handler of `protocol`.
std::string MimeDefaultLine(std::string_view protocol, std::string_view desktopFile);
// Edits of a mimeapps.list text that touch only `line` in the [Default Applications] group: every other
// byte is kept. Adding puts it last in the group (a later line wins, so an earlier handler comes back when
// ours goes) and creates the group when missing.
bool HasMimeDefault(std::string_view text, std::string_view line);
std::string AddMimeDefault(std::string_view text, std::string_view line);
std::string RemoveMimeDefault(std::string_view text, std::string_view line);

// `path` quoted for a desktop file's Exec line: in double quotes with " ` $ \ escaped, then escaped as
// a desktop string value ("\" doubled) with "%" doubled. Empty when the path holds a control byte.
std::string DesktopExecQuote(std::string_view path);

// Each operation opens its own keys. A key or file that is missing is no failure; a failure (a value or
// file that could not be written or removed) answers false.
class TIETools {
 public:
  TIETools(std::shared_ptr<IRegistryStore> store, TDesktopPlaces places);

  bool WriteUrlProtocol(std::string_view protocol, std::string_view description, std::string_view command);
  bool DeleteUrlProtocol(std::string_view protocol);
  // The desktop side of the protocol: the handler desktop file starting `programPath` with the address,
  // and its line in mimeapps.list.
  bool WriteSchemeHandler(std::string_view protocol, std::string_view description,
                          std::string_view programPath);
  bool DeleteSchemeHandler(std::string_view protocol);

  bool WriteMenuExtension(std::string_view name, std::string_view target);
  bool DeleteMenuExtension(std::string_view name);
  bool WriteToolsMenuItem(std::string_view id, std::string_view menuText, std::string_view statusText,
                          std::string_view programPath);
  bool WriteToolbarButton(std::string_view id, std::string_view buttonText, std::string_view toolTip,
                          std::string_view icon, std::string_view hotIcon, std::string_view barId);
  bool DeleteBrowserExtension(std::string_view id);
  bool WriteBrowserBar(std::string_view id, std::string_view name, std::string_view url, int64_t barSize,
                       std::string_view systemFolder);
  bool DeleteBrowserBar(std::string_view id);

  enum class TShortcutMode { smCreate = 0, smDelete = 1 };
  // Create: writes the launcher when no file of that name is there; true when it was written. Delete:
  // removes it; true when it existed. Nothing happens while the folder is unknown.
  bool UpdateQuickLaunchShortcut(TShortcutMode mode, std::string_view fileName, std::string_view target);
  // The user's applications folder; empty when unknown.
  std::string GetQuickLaunchFolder() const { return places_.ApplicationsFolder; }

  const TDesktopPlaces& Places() const { return places_; }
  const std::shared_ptr<IRegistryStore>& Store() const { return store_; }
  // What the last failure was, for the command line.
  const std::string& LastError() const { return lastError_; }

 private:
  bool Fail(std::string what);
  // Deletes the key when it exists; false when it is still there afterwards.
  bool DeleteKeyIfPresent(TRegRoot root, const std::string& path);
  bool RemoveFile(const std::string& path, bool* existed = nullptr);

  std::shared_ptr<IRegistryStore> store_;
  TDesktopPlaces places_;
  std::string lastError_;
};

// Whole-file helpers of the integration, also used by its status: read a file ("" when missing) and
// replace one through a temporary file, keeping the mode of the file it replaces (or `mode`).
bool ReadTextFile(const std::string& path, std::string& text);
bool ReplaceFileContents(const std::string& path, std::string_view text, unsigned mode = 0644);

}  // namespace vandrel
