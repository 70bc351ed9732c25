// What the uninstall hook does: waits for the running program to close, removes the integration, the data
// folder and, when the user agrees, the user's searches; later removes the program's settings keys.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "integration/IETools.h"
#include "platform/RegistryStore.h"

namespace vandrel {

// VALUES: cross the uninstall library's C interface; the answers are the message-box button numbers.
enum class TPromptKind : int {
  pkCloseProgram = 0,    // OK or Cancel
  pkDeleteSearches = 1,  // Yes or No
  pkNotice = 2,          // shown only; the answer is ignored
};
enum class TPromptAnswer : int { paOk = 1, paCancel = 2, paYes = 6, paNo = 7 };

using TUninstallPrompt =
    std::function<TPromptAnswer(TPromptKind kind, const std::string& caption, const std::string& text)>;

// What folder removal could not remove, and how much it did.
struct TRemoveReport {
  int Removed = 0;                  // files, links and folders
  std::vector<std::string> Failed;  // "path: reason"
};
// Removes the folder with everything in it, depth first. A symbolic link is removed as a link, never
// followed; names are skipped only when they are "." or ".."; read-only folders are made writable first.
// Goes on after a failure and lists what stayed.
TRemoveReport RemoveFolderTree(const std::string& folder);

// Why `root` must not be deleted from: empty when it is an absolute, existing folder holding the home page
// (Web/Welcome.htm), which marks it as the program's own.
std::string UnsafeRootReason(const std::string& root);

struct TUninstallSetup {
  std::shared_ptr<IRegistryStore> Store;
  TDesktopPlaces Places;
  std::string RootFolder;      // from the configuration
  std::string InstanceFolder;  // where the running program holds its single-instance lock
  TUninstallPrompt Prompt;     // empty: Cancel to the close request, No to the question
};

struct TUninstallOutcome {
  int Result = 0;                   // 0: go on uninstalling; -1: the user cancelled
  std::vector<std::string> Failed;  // what could not be removed, or why the root folder was left alone
};

// The first entry point: 0, or -1 when the user cancelled while the program was running (then nothing
// was touched).
TUninstallOutcome UninstallInitialize(const TUninstallSetup& setup);
// The second: removes the program's settings keys in both parts of the store, and the maker's key when
// nothing else is left under it. Always 0.
int UninstallUnInitialize(IRegistryStore& store);

namespace uninstall {
inline constexpr std::string_view kCloseCaption = "Closing %s";
inline constexpr std::string_view kCloseText =
    "Please close the %s window that is currently open.\r\nClick OK to continue.";
inline constexpr std::string_view kDeleteCaption = "Confirm Search Folders Deletion";
inline constexpr std::string_view kDeleteText =
    "Do you want to delete your search folders?\r\n\r\nClicking Yes will clear all the searches you have "
    "created with %s.";
}  // namespace uninstall

}  // namespace vandrel
