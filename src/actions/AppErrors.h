// The application's two numbered message tables and how one of their messages reaches the user.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

#include "platform/Format.h"

namespace vandrel {

// Application errors. VALUES: callers and the message table are indexed by these numbers; never renumber.
enum TAppError : uint8_t {
  aeNoError = 0,
  aeBusy = 1,
  aeBrowserProblem = 2,
  aeNoEngines = 3,       // fatal
  aeScreenTooSmall = 4,  // fatal
  aeSystemTooOld = 5,    // fatal
  aeWinInetMissing = 6,
  aePriceEnginesNotFound = 7,   // fatal; %0:s category
  aeReviewEnginesNotFound = 8,  // fatal; %0:s category
  aeResetIntegration = 9,
  aeWriteIntegration = 10,
  aeNoCategoryEngines = 11,  // fatal; %0:s category
  aeSearchError = 12,        // %0:s text, %1:d number
  aeSoftwareUpdate = 13,     // %0:s text
  aeCreateFolders = 14,      // fatal
  aeCompactDatabase = 15,
  aeGeneral = 16,           // %0:s text
  aeDatabaseAccess = 17,    // fatal
  aeHomePageNotFound = 18,  // fatal
  aeCategoryWithoutEngine = 19,
  aeNotConnected = 20,
  aeOpenFailed = 21,  // %0:s what
  aeLowResolution = 22,
  aeOpenFailedFatal = 23,  // fatal; %0:s what
};
constexpr int kAppErrorCount = 24;

// Results of the action runner. VALUES: returned by the runner and shown through their own table.
enum TQuorinActionResult : uint8_t {
  arOk = 0,
  arBusy = 1,
  arNoActiveAction = 2,
  arQueueEmpty = 3,
  arClassNotRegistered = 4,
  arCannotPrepare = 5,
  arCannotBind = 6,
  arCannotStart = 7,  // the only one that is not fatal
  arCannotStopSynchronous = 8,
  arStopping = 9,
  arCannotStopNow = 10,
};
constexpr int kActionResultCount = 11;

enum class TMessageStyle { msWarning, msError };

// The message of `code` formatted with `args`; a code outside the table gets a generic text.
std::string AppErrorText(TAppError code, std::initializer_list<FormatArg> args = {});
std::string ActionErrorText(TQuorinActionResult code, std::initializer_list<FormatArg> args = {});
bool IsFatalAppError(TAppError code);
bool IsFatalActionError(TQuorinActionResult code);

// Where messages go and how a fatal one ends the program. The front end installs a message box and the
// kernel's Terminate; without them a message goes to stderr and a fatal one exits with status 1.
struct TErrorPresenter {
  std::function<void(TMessageStyle style, const std::string& text)> Show;
  std::function<void()> Terminate;  // may return when the program ends in order later
};

// Installs `presenter` and returns the one it replaces. Main thread only.
TErrorPresenter SetErrorPresenter(TErrorPresenter presenter);

// Shows the formatted message as a modal box: a fatal code in the error style and then Terminate, any
// other in the warning style. Main thread only.
void ShowAppError(TAppError code, std::initializer_list<FormatArg> args = {});
// The same for a runner result; arOk is never shown.
void ShowActionError(TQuorinActionResult code, std::initializer_list<FormatArg> args = {});

}  // namespace vandrel
