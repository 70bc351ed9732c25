#include "presentation/AdManager.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "engines/EngineCompiler.h"
#include "engines/SearchTypeCompiler.h"
#include "engines/SearchTypeInstance.h"
#include "http/CookieManager.h"
#include "platform/TextUtils.h"
#include "search/DefinitionFiles.h"
#include "search/SearchConverters.h"
#include "storage/SearchStorage.h"

namespace vandrel {

namespace fs = std::filesystem;

TAdManager::TAdManager(MainDispatcher& dispatcher)
    : Dispatcher_(dispatcher), Downloader_(std::make_unique<THttpDownloader>(dispatcher)) {
  THttpDownloaderSettings settings = Downloader_->Settings();
  settings.StoreInMemory = true;
  settings.CruncherMode = true;
  settings.DefaultDocumentType = dtBinary;
  // A landing page is only followed, never taken apart for its frames and pictures.
  settings.ParsePages = false;
  settings.UseCookies = false;
  settings.Timeout = kAdTimeoutSeconds;
  Downloader_->SetSettings(settings);
  Downloader_->Cookies().SetDisabled(true);
  THttpDownloaderEvents events;
  events.OnItemDone = [this](const IHttpResultPtr& result) { ItemDone(result); };
  Downloader_->SetEvents(std::move(events));
}

TAdManager::~TAdManager() {
  Downloader_->SetEvents({});
  Downloader_->Stop();
  if (UseCookies_) SaveCookies();
}

void TAdManager::SetScriptFile(const std::string& path) {
  ScriptFile_ = path;
  if (path.empty())
    State_ = TAdState::adsNoScript;
  else if (State_ == TAdState::adsNoScript)
    State_ = TAdState::adsReady;
}

void TAdManager::ApplySettings(const THttpDownloaderSettings& settings) {
  THttpDownloaderSettings s = Downloader_->Settings();
  s.MaxDownloadThreads = settings.MaxDownloadThreads;
  s.ProxyType = settings.ProxyType;
  s.UseProxy = settings.UseProxy;
  s.ProxyAddress = settings.ProxyAddress;
  s.ProxyPort = settings.ProxyPort;
  s.ProxyUserName = settings.ProxyUserName;
  s.ProxyPassword = settings.ProxyPassword;
  s.UseProxyAuthenticate = settings.UseProxyAuthenticate;
  s.Timeout = kAdTimeoutSeconds;
  Downloader_->SetSettings(s);
}

bool TAdManager::Prepare(TSearchTypeInstance* instance) {
  State_ = TAdState::adsPreparing;
  Compiler_ = std::make_unique<TEngineCompiler>();
  Compiler_->OutputEnabled = false;
  Compiler_->OnMessageBox = [](TBaseCompiler&, const std::string&, const std::string&) {};
  Compiler_->SetInstance(instance);
  if (!instance && Constants_) Compiler_->Variables().SetParent(Constants_);
  std::string reason;
  bool ok = Compiler_->LoadFromFile(ScriptFile_, &reason) && Compiler_->Compile() == 0 &&
            Compiler_->ExecuteProcedure("Init") == 0;
  if (!ok) {
    State_ = TAdState::adsScriptFailed;
    std::string message = !Compiler_->Errors.empty() ? Compiler_->Errors.front().Text : reason;
    if (Constants_) Constants_->DetachCompiler(Compiler_.get());
    Compiler_.reset();
    if (OnScriptError) OnScriptError(message);
    return false;
  }
  const TVariableList& vars = Compiler_->Variables();
  SourceUrl_ = vars.GetString("SourceUrl", "");
  ScriptTarget_ = vars.GetString("TargetUrl", "");
  const int64_t interval = vars.GetInteger("RotationInterval", 0);
  const bool useCookies = vars.GetBoolean("UseCookies", false);
  HttpVars_.clear();
  if (Compiler_->HttpVars)
    for (size_t i = 0; i < Compiler_->HttpVars->Count(); ++i) HttpVars_.push_back(Compiler_->HttpVars->At(i));
  if (useCookies != UseCookies_) {
    UseCookies_ = useCookies;
    THttpDownloaderSettings s = Downloader_->Settings();
    s.UseCookies = useCookies;
    Downloader_->SetSettings(s);
    Downloader_->Cookies().SetDisabled(!useCookies);
    if (useCookies) LoadCookies();
  }
  // Fixed by the first run: a script cannot speed the strip up later.
  if (RotationInterval_ == 0)
    RotationInterval_ = interval > 0 && interval < INT32_MAX ? int(interval) : kAdDefaultRotationMs;
  // The script's objects may refer to the instance; nothing of it is needed after this point.
  if (Constants_) Constants_->DetachCompiler(Compiler_.get());
  Compiler_.reset();
  State_ = TAdState::adsReady;
  return true;
}

bool TAdManager::RequestBanner(TSearchTypeInstance* instance) {
  if (State_ != TAdState::adsReady) return false;
  if (!Prepare(instance)) return false;
  State_ = TAdState::adsDownloading;
  TakeSnapshot();
  // Without a picture address the manager stays downloading: no further banner until StopAds.
  if (SourceUrl_.empty()) return false;
  return Send(SourceUrl_, TAdInfo{std::string(Trim(ScriptTarget_))}, HttpVars_);
}

bool TAdManager::RequestClick() {
  if (State_ != TAdState::adsReady || TargetUrl_.empty()) return false;
  State_ = TAdState::adsDownloading;
  TakeSnapshot();
  return Send(TargetUrl_, TAdInfo{}, {});
}

bool TAdManager::Send(const std::string& url, TAdInfo info, const std::vector<std::string>& vars) {
  IHttpItemPtr item = Downloader_->AddItem(url);
  if (!item) {
    // Not an address the downloader can fetch: the request fails at once.
    State_ = TAdState::adsReady;
    RollBack();
    if (OnRequestFailed) OnRequestFailed();
    return false;
  }
  item->Params().StoreInMemory.Set(true);
  item->Params().Vars = vars;
  Requests_[item->UniqueId()] = std::move(info);
  item->Run();
  return true;
}

bool TAdManager::IsBusy() const {
  return !Requests_.empty() || !Downloader_->IsIdle();
}

void TAdManager::StopAds() {
  Downloader_->Stop();
  Requests_.clear();
  if (HasSnapshot_) RollBack();
  if (State_ != TAdState::adsNoScript && State_ != TAdState::adsScriptFailed) State_ = TAdState::adsReady;
}

void TAdManager::ItemDone(const IHttpResultPtr& result) {
  auto found = Requests_.find(result->UniqueId());
  if (found == Requests_.end()) return;  // stopped meanwhile
  const TAdInfo info = std::move(found->second);
  Requests_.erase(found);
  State_ = TAdState::adsReady;
  const THttpItemState state = result->State();
  const std::vector<std::string> visited = result->Visited();
  const std::string last = visited.empty() ? result->Url() : visited.back();
  auto failed = [this] {
    if (OnRequestFailed) OnRequestFailed();
  };

  if (state == hisTimedOut || state == hisError) {
    if (info.NoTarget()) {
      // A click still takes the user as far as it got.
      ClickUrl_ = last;
      Commit();
      if (OnLinkResolved) OnLinkResolved(ClickUrl_);
    } else {
      RollBack();
      failed();
    }
    return;
  }
  if (state != hisDoneItem && state != hisDonePage) {
    RollBack();
    // A stopped click must not leave the busy cursor behind.
    if (info.NoTarget()) failed();
    return;
  }
  switch (result->ResultType()) {
    case rtImage:
      if (info.NoTarget()) {
        RollBack();
        failed();
        return;
      }
      Commit();
      TargetUrl_ = info.Target;
      if (result->StatusCode() == 200) {
        const THttpContent content = result->Content();
        if (!content.Stream.empty() && OnBannerArrived) return OnBannerArrived(content.Stream);
      }
      return;
    case rtHtml:
      if (info.NoTarget()) {
        Commit();
        ClickUrl_ = last;
        if (result->StatusCode() == 200) {
          if (OnLinkResolved) OnLinkResolved(ClickUrl_);
        } else {
          failed();
        }
        return;
      }
      // A banner answered with a page: the server's cookies stay, the banner request failed.
      Commit();
      failed();
      return;
    default:
      if (info.NoTarget()) failed();
      return;
  }
}

void TAdManager::TakeSnapshot() {
  Snapshot_.clear();
  for (const TCookie& cookie : Downloader_->Cookies().Export()) Snapshot_.push_back(cookie.Text());
  HasSnapshot_ = true;
}

void TAdManager::Commit() {
  Snapshot_.clear();
  HasSnapshot_ = false;
}

void TAdManager::RollBack() {
  if (!HasSnapshot_) return;
  TCookieManager& cookies = Downloader_->Cookies();
  const bool disabled = cookies.Disabled();
  cookies.SetDisabled(false);
  cookies.Clear();
  for (const std::string& text : Snapshot_) Downloader_->AddCookie(text, "");
  cookies.SetDisabled(disabled);
  Commit();
}

void TAdManager::LoadCookies() {
  std::ifstream in(CookieFile_, std::ios::binary);
  std::string line;
  while (in && std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!Trim(line).empty()) Downloader_->AddCookie(line, "");
  }
}

void TAdManager::SaveCookies() {
  if (CookieFile_.empty()) return;
  const std::vector<TCookie> cookies = Downloader_->Cookies().Export();
  if (cookies.empty()) return;
  std::string text;
  for (const TCookie& cookie : cookies)
    if (cookie.IsPersistent() && !cookie.IsExpired()) text += cookie.Text() + "\n";
  // Written aside and renamed, so a crash mid-write never leaves half a file.
  const std::string temp = CookieFile_ + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) return;
  }
  std::error_code ec;
  fs::rename(temp, CookieFile_, ec);
  if (ec) fs::remove(temp, ec);
}

// ---------------------------------------------------------------------------------------------------

TAdStrip::TAdStrip(TAdManager& manager, IScheduler& scheduler) : Manager_(manager), Scheduler_(scheduler) {
  Manager_.OnBannerArrived = [this](const std::string& bytes) {
    StopTimer();
    Banner_ = bytes;
    if (ShowBanner)
      ShowBanner(Banner_);
    else
      BannerLoaded(false, 0);
  };
  Manager_.OnLinkResolved = [this](const std::string& address) {
    Busy(false);
    if (InfoMode_) {
      InfoMode_ = false;
      if (ShowLinks) ShowLinks();
    } else if (OpenPage) {
      OpenPage(address);
    }
  };
  Manager_.OnRequestFailed = [this] {
    Busy(false);
    StartTimer();
  };
  Manager_.OnScriptError = [this](const std::string&) { Busy(false); };
}

TAdStrip::~TAdStrip() {
  StopTimer();
  Manager_.OnBannerArrived = nullptr;
  Manager_.OnLinkResolved = nullptr;
  Manager_.OnRequestFailed = nullptr;
  Manager_.OnScriptError = nullptr;
  Manager_.StopAds();
}

void TAdStrip::SetAdContext(const TSearchStorageItem* search) {
  Instance_.reset();
  Reader_.reset();
  StopTimer();
  if (search) {
    RunConstantsScript(Constants_, DataFolder + "constants.ccs");
    Reader_ = std::make_unique<TSearchTypeReader>();
    Reader_->Variables.SetParent(&Constants_);
    const std::string path = FindPathIgnoringCase(DataFolder, search->SrtName + ".cst");
    if (Reader_->Load(path)) {
      Instance_ = std::make_unique<TSearchTypeInstance>(Reader_.get());
      try {
        Convert(*Instance_, *search);
        Instance_->InputFields.RecomputeFields();
      } catch (const ESearchConvertError&) {
        // The banner is still chosen, only without this search's words.
      }
    } else {
      Reader_.reset();
    }
  } else if (Constants_.Count() == 0) {
    RunConstantsScript(Constants_, DataFolder + "constants.ccs");
  }
  Manager_.SetConstants(&Constants_);
  Fetch();
}

void TAdStrip::Fetch() {
  THttpDownloaderSettings settings = Manager_.Downloader().Settings();
  if (ConfigureDownloader) ConfigureDownloader(settings);
  Manager_.ApplySettings(settings);
  Manager_.RequestBanner(Instance_.get());
}

void TAdStrip::Click(bool infoMode) {
  InfoMode_ = infoMode;
  Busy(true);
  // Nothing to follow (no banner yet, or a request still running): the cursor must not stay busy.
  if (!Manager_.RequestClick()) {
    Busy(false);
    InfoMode_ = false;
  }
}

void TAdStrip::BannerLoaded(bool decoded, int areaHeight) {
  // The picture never resizes its area, so the area alone decides; an undecodable banner leaves the
  // picture empty and is decided the same way.
  if (SetVisible) SetVisible(areaHeight >= kMinShowHeight);
  StartTimer();
}

void TAdStrip::StartTimer() {
  StopTimer();
  Interval_ = Manager_.RotationInterval() > 0 ? Manager_.RotationInterval() : kInitialIntervalMs;
  Timer_ = Scheduler_.Schedule(Interval_, [this] {
    Timer_ = 0;
    // A repeating timer: it keeps its rhythm while the window is inactive and fetches only when active.
    StartTimer();
    if (Active_) Fetch();
  });
}

void TAdStrip::StopTimer() {
  if (Timer_) Scheduler_.Cancel(Timer_);
  Timer_ = 0;
}

void TAdStrip::Busy(bool busy) {
  if (BusyCursor_ == busy) return;
  BusyCursor_ = busy;
  if (SetBusyCursor) SetBusyCursor(busy);
}

bool SaveBannerImage(const std::string& bytes, const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
  return bool(out.flush());
}

}  // namespace vandrel
