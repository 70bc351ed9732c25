#include "actions/AppErrors.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace vandrel {
namespace {

struct TMessageEntry {
  const char* text;
  bool fatal;
};

// ORDER: indexed by TAppError.
constexpr TMessageEntry kAppErrors[kAppErrorCount] = {
    {"No error.", false},
    {"You cannot start a search when Vandrel Shopper is busy.", false},
    {"There is a problem with your web browser. Cannot open this page.", false},
    {"Cannot start Vandrel Shopper because there are no engines in database.", true},
    {"Vandrel Shopper requires a screen resolution of at least 640x480 using 256 colors.", true},
    {"Vandrel Shopper requires Windows 98/2000 or Windows 95/NT4 with Internet Explorer 4.0 or later.", true},
    {"Vandrel Shopper cannot find a required file: WinInet.dll.", false},
    {"Price engines for category \"%0:s\" not found.", true},
    {"Review engines for category \"%0:s\" not found.", true},
    {"Could not reset Internet Explorer integration settings.", false},
    {"Could not write Internet Explorer integration settings.", false},
    {"No engines for %0:s category.", true},
    {"Search error: %0:s (Error #%1:d).", false},
    {"Software update error: %0:s", false},
    {"Could not create Vandrel Shopper folders.", true},
    {"Database compact error.", false},
    {"The following error has occurred:\r\n%0:s.", false},
    {"Could not access database.", true},
    {"The home page could not be found.", true},
    {"This category has no engine.\rSelect Categories from the Tools menu to add engines.", false},
    {"You must be connected to the Internet to perform this operation.", false},
    {"An error occured when trying to open %0:s.", false},
    {"For best performance, please set screen resolution to 800x600.", false},
    {"An error occured when trying to open %0:s.", true},
};

// ORDER: indexed by TQuorinActionResult.
constexpr TMessageEntry kActionErrors[kActionResultCount] = {
    {"No error.", false},
    {"Vandrel Shopper is currently running.", true},
    {"No active action.", true},
    {"The queue is empty.", true},
    {"The action class is not registered.", true},
    {"Cannot prepare the action.", true},
    {"Cannot bind this action.", true},
    {"Cannot start.", false},
    {"Cannot stop a synchronous action.", true},
    {"Vandrel Shopper is currently stopping.", true},
    {"Cannot stop now.", true},
};

TErrorPresenter& Presenter() {
  static TErrorPresenter presenter;
  return presenter;
}

std::string TableText(const TMessageEntry* table, int count, int code,
                      std::initializer_list<FormatArg> args) {
  if (code < 0 || code >= count) return Format("Error #%0:d.", {code});
  std::vector<FormatArg> list(args);
  return FormatArgs(table[code].text, list.data(), list.size());
}

void Present(bool fatal, const std::string& text) {
  const TErrorPresenter& p = Presenter();
  TMessageStyle style = fatal ? TMessageStyle::msError : TMessageStyle::msWarning;
  if (p.Show) {
    p.Show(style, text);
  } else {
    std::fprintf(stderr, "Vandrel Shopper: %s\n", text.c_str());
  }
  if (!fatal) return;
  if (p.Terminate) {
    p.Terminate();
  } else {
    std::exit(1);
  }
}

}  // namespace

std::string AppErrorText(TAppError code, std::initializer_list<FormatArg> args) {
  return TableText(kAppErrors, kAppErrorCount, code, args);
}

std::string ActionErrorText(TQuorinActionResult code, std::initializer_list<FormatArg> args) {
  return TableText(kActionErrors, kActionResultCount, code, args);
}

bool IsFatalAppError(TAppError code) {
  return code < kAppErrorCount && kAppErrors[code].fatal;
}

bool IsFatalActionError(TQuorinActionResult code) {
  return code < kActionResultCount && kActionErrors[code].fatal;
}

TErrorPresenter SetErrorPresenter(TErrorPresenter presenter) {
  TErrorPresenter previous = std::move(Presenter());
  Presenter() = std::move(presenter);
  return previous;
}

void ShowAppError(TAppError code, std::initializer_list<FormatArg> args) {
  Present(IsFatalAppError(code), AppErrorText(code, args));
}

void ShowActionError(TQuorinActionResult code, std::initializer_list<FormatArg> args) {
  if (code == arOk) return;
  Present(IsFatalActionError(code), ActionErrorText(code, args));
}

}  // namespace vandrel
