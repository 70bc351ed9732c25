// The advertisement strip without its toolkit: the manager that runs the banner script and fetches
// banners and clicks with a downloader of its own, and the strip that rotates them.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "http/HttpDownloader.h"
#include "platform/MainDispatcher.h"
#include "presentation/DesktopPorts.h"
#include "script/Variables.h"

namespace vandrel {

class TEngineCompiler;
class TSearchStorageItem;
class TSearchTypeInstance;
class TSearchTypeReader;

// VALUES: the states are numbered as the strip's callers compare them; never renumber.
enum class TAdState {
  adsNoScript = 0,
  adsReady = 1,
  adsPreparing = 2,
  adsScriptFailed = 3,
  adsDownloading = 4
};

// The rotation when the script asks for none.
inline constexpr int kAdDefaultRotationMs = 45000;
// Every advertisement transfer waits at most this long, whatever the preference says.
inline constexpr int kAdTimeoutSeconds = 60;

// Runs "shopper.ccs" before every banner request, fetches the banner or follows a click, and keeps the
// advertisement servers' cookies in "Cookies.dat". Main thread only.
class TAdManager {
 public:
  explicit TAdManager(MainDispatcher& dispatcher = MainDispatcher::Default());
  // Stops the transfers and, while cookies are on, saves the persistent ones.
  ~TAdManager();
  TAdManager(const TAdManager&) = delete;
  TAdManager& operator=(const TAdManager&) = delete;

  // Setting a script makes the manager ready (unless the script failed before); none: no script.
  void SetScriptFile(const std::string& path);
  void SetCookieFile(const std::string& path) { CookieFile_ = path; }
  // Variables the script sees when no search is given (the definition constants); not owned.
  void SetConstants(TVariableList* constants) { Constants_ = constants; }
  // The network values for the next request; the time-out is then forced to kAdTimeoutSeconds.
  void ApplySettings(const THttpDownloaderSettings& settings);

  // Runs the script against `instance` (may be null) and starts the banner it names. Only when ready;
  // answers whether a request went out.
  bool RequestBanner(TSearchTypeInstance* instance);
  // Follows the shown banner's target through its redirections. Only when ready and a target is known.
  bool RequestClick();
  bool IsBusy() const;
  // Stops the transfers and makes the manager ready again.
  void StopAds();

  TAdState State() const { return State_; }
  const std::string& SourceUrl() const { return SourceUrl_; }
  const std::string& TargetUrl() const { return TargetUrl_; }
  const std::string& ClickUrl() const { return ClickUrl_; }
  // 0 until the first successful script run fixes it.
  int RotationInterval() const { return RotationInterval_; }
  bool UseCookies() const { return UseCookies_; }
  THttpDownloader& Downloader() { return *Downloader_; }

  std::function<void(const std::string& bytes)> OnBannerArrived;
  std::function<void(const std::string& address)> OnLinkResolved;
  std::function<void(const std::string& message)> OnScriptError;
  std::function<void()> OnRequestFailed;

 private:
  // What each request carries: the banner's target, or nothing for a click.
  struct TAdInfo {
    std::string Target;
    bool NoTarget() const { return Target.empty(); }
  };

  bool Prepare(TSearchTypeInstance* instance);
  bool Send(const std::string& url, TAdInfo info, const std::vector<std::string>& vars);
  void ItemDone(const IHttpResultPtr& result);
  void TakeSnapshot();
  void Commit();
  void RollBack();
  void LoadCookies();
  void SaveCookies();

  MainDispatcher& Dispatcher_;
  std::unique_ptr<THttpDownloader> Downloader_;
  std::unique_ptr<TEngineCompiler> Compiler_;  // rebuilt before each banner request
  TAdState State_ = TAdState::adsNoScript;
  std::string ScriptFile_;
  std::string CookieFile_;
  TVariableList* Constants_ = nullptr;
  std::string SourceUrl_;
  std::string TargetUrl_;
  std::string ClickUrl_;
  std::string ScriptTarget_;  // the script's TargetUrl, until its banner arrives
  std::vector<std::string> HttpVars_;
  int RotationInterval_ = 0;
  bool UseCookies_ = false;
  bool HasSnapshot_ = false;
  std::vector<std::string> Snapshot_;  // the cookies before the running request, in their saved form
  std::map<int, TAdInfo> Requests_;    // by the item's unique id
};

// The strip's rules: when to ask for a banner, when to show itself, what a click does. The view shows the
// picture and reports clicks and the main window's activation. Main thread only.
class TAdStrip {
 public:
  static constexpr int kInitialIntervalMs = 10000;
  // A picture area lower than this hides the strip.
  static constexpr int kMinShowHeight = 32;

  TAdStrip(TAdManager& manager, IScheduler& scheduler);
  ~TAdStrip();
  TAdStrip(const TAdStrip&) = delete;
  TAdStrip& operator=(const TAdStrip&) = delete;

  // Where "constants.ccs" and the search types are found, with a trailing separator.
  std::string DataFolder;
  // Fills in the network values before each request.
  std::function<void(THttpDownloaderSettings&)> ConfigureDownloader;

  // Called once the program is connected, and with every search that starts (null: none).
  void SetAdContext(const TSearchStorageItem* search);
  // Whether the main window is the active window; rotation pauses while it is not.
  void SetActive(bool active) { Active_ = active; }
  bool Active() const { return Active_; }
  // A click on the banner; `infoMode` when the left Shift, Ctrl and Alt keys are all held.
  void Click(bool infoMode);
  bool IsBusy() const { return Manager_.IsBusy(); }
  void StopAds() { Manager_.StopAds(); }

  // The view reports how the picture loaded: `decoded` false when the bytes were no picture, `areaHeight`
  // the picture area's height. Decides whether the strip shows and restarts the rotation.
  void BannerLoaded(bool decoded, int areaHeight);

  bool TimerRunning() const { return Timer_ != 0; }
  int TimerInterval() const { return Interval_; }
  bool InfoMode() const { return InfoMode_; }
  bool Busy() const { return BusyCursor_; }
  const std::string& BannerBytes() const { return Banner_; }
  TAdManager& Manager() { return Manager_; }
  TSearchTypeInstance* Instance() const { return Instance_.get(); }

  // A banner's bytes to show; the view loads them and answers with BannerLoaded.
  std::function<void(const std::string& bytes)> ShowBanner;
  // Shows or hides the strip.
  std::function<void(bool visible)> SetVisible;
  // The three addresses, after a click in info mode.
  std::function<void()> ShowLinks;
  // Opens a clicked banner's final page in the web browser.
  std::function<void(const std::string& address)> OpenPage;
  // The busy cursor from a click until it resolves.
  std::function<void(bool busy)> SetBusyCursor;

 private:
  void Fetch();
  void StartTimer();
  void StopTimer();
  void Busy(bool busy);

  TAdManager& Manager_;
  IScheduler& Scheduler_;
  IScheduler::TTimerId Timer_ = 0;
  int Interval_ = kInitialIntervalMs;
  bool Active_ = true;
  bool InfoMode_ = false;
  bool BusyCursor_ = false;
  std::string Banner_;
  TVariableList Constants_;
  std::unique_ptr<TSearchTypeReader> Reader_;
  std::unique_ptr<TSearchTypeInstance> Instance_;
};

// Writes `bytes` to `path` whole; false when it could not (the links window then says so).
bool SaveBannerImage(const std::string& bytes, const std::string& path);

}  // namespace vandrel
