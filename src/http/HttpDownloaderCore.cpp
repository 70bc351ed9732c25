// The downloader's shared state: settings, thread manager, cookies, results, reserved file names and
// the event fan-out. Items and the result manager hold it; the facade owns it.
#include "http/HttpDownloaderCore.h"

#include <algorithm>
#include <filesystem>

#include "http/HttpItem.h"
#include "platform/Guarded.h"
#include "platform/TextUtils.h"
#include "platform/UrlUtils.h"

namespace vandrel {

namespace {

bool IsBrowseExtension(const std::string& ext) {
  static const char* const kept[] = {"htm", "html", "gif", "jpg", "jpe", "bmp", "wav"};
  return std::any_of(std::begin(kept), std::end(kept), [&](const char* k) { return ext == k; });
}

bool FileExists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

}  // namespace

THttpDownloaderCore::THttpDownloaderCore(MainDispatcher& dispatcher)
    : dispatcher_(dispatcher),
      threadManager_(std::make_shared<TThreadManager>(dispatcher)),
      resultManager_(std::make_unique<THttpResultManager>(*this, dispatcher)),
      detector_(std::make_unique<TConnectionDetector>(dispatcher)) {}

THttpDownloaderSettings THttpDownloaderCore::Settings() const {
  return ReadLocked(settingsLock_, settings_);
}

THttpDownloaderState THttpDownloaderCore::State() const {
  return ReadLocked(settingsLock_, state_);
}

void THttpDownloaderCore::SetState(THttpDownloaderState state) {
  WriteLocked(settingsLock_, state_, state);
}

std::shared_ptr<TThreadManager> THttpDownloaderCore::ThreadManager() const {
  return ReadLocked(settingsLock_, threadManager_);
}

void THttpDownloaderCore::ReleaseFileName(const std::string& path) {
  std::lock_guard<std::mutex> g(reservedLock_);
  reserved_.erase(path);
}

THttpDownloaderEvents THttpDownloaderCore::Events() const {
  return ReadLocked(observerLock_, events_);
}

void THttpDownloaderCore::SetEvents(THttpDownloaderEvents events) {
  WriteLocked(observerLock_, events_, std::move(events));
}

void THttpDownloaderCore::AddObserver(IHttpDownloaderObserver* observer) {
  std::lock_guard<std::mutex> g(observerLock_);
  if (std::find(observers_.begin(), observers_.end(), observer) == observers_.end())
    observers_.push_back(observer);
}

void THttpDownloaderCore::RemoveObserver(IHttpDownloaderObserver* observer) {
  std::lock_guard<std::mutex> g(observerLock_);
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

bool THttpDownloaderCore::HasProgressListeners() const {
  std::lock_guard<std::mutex> g(observerLock_);
  return !observers_.empty() || events_.OnItemProgress;
}

void THttpDownloaderCore::ItemHeaders(const IHttpResultPtr& result) {
  if (closed_) return;
  Notify([&](IHttpDownloaderObserver& o) { o.ItemHeaders(result); });
  if (auto h = Events().OnItemHeaders) h(result);
}

void THttpDownloaderCore::ItemProgress(const IHttpResultPtr& result) {
  Notify([&](IHttpDownloaderObserver& o) { o.ItemProgress(result); });
  if (auto h = Events().OnItemProgress) h(result);
}

void THttpDownloaderCore::PageDone(const IHttpResultPtr& result) {
  Notify([&](IHttpDownloaderObserver& o) { o.PageDone(result); });
  if (auto h = Events().OnPageDone) h(result);
}

void THttpDownloaderCore::Open() {
  std::weak_ptr<THttpDownloaderCore> weak = shared_from_this();
  auto& tm = *threadManager_;
  tm.SetOnRunStarted([weak] {
    if (auto c = weak.lock()) c->OnRunStarted();
  });
  tm.SetOnRunDone([weak] {
    if (auto c = weak.lock()) c->OnRunDone();
  });
  tm.SetOnItemStarted([weak](int, const TThreadItemPtr& item) {
    if (auto c = weak.lock()) c->OnItemStarted(item);
  });
  tm.SetOnItemDone([weak](int, const TThreadItemPtr& item) {
    if (auto c = weak.lock()) c->OnItemDone(item);
  });
  tm.SetOnError([weak](const TThreadError& error) {
    if (auto c = weak.lock()) c->OnError(error);
  });
  detector_->OnDetectStart = [weak](TConnectionDetector&) {
    auto c = weak.lock();
    if (!c) return;
    c->Notify([](IHttpDownloaderObserver& o) { o.DetectStart(); });
    if (auto h = c->Events().OnDetectStart) h();
  };
  detector_->OnDetectDone = [weak](TConnectionDetector&, int status) {
    auto c = weak.lock();
    if (!c) return;
    if (c->State() == hdsDetectingConnection) c->SetState(hdsIdle);
    c->Notify([&](IHttpDownloaderObserver& o) { o.DetectDone(status); });
    if (auto h = c->Events().OnDetectDone) h(status);
  };
  threadManager_->SetMaxThreads(settings_.MaxDownloadThreads);
}

void THttpDownloaderCore::Shutdown() {
  std::shared_ptr<TThreadManager> tm;
  {
    std::lock_guard<std::mutex> g(settingsLock_);
    tm.swap(threadManager_);
  }
  // The owner is going: nothing reaches it any more, not even while the thread manager ends (which
  // cancels running transfers and waits, pumping, for its threads).
  closed_ = true;
  tm.reset();
  detector_.reset();
  resultManager_->Clear();
  SetEvents({});
  std::lock_guard<std::mutex> g(observerLock_);
  observers_.clear();
}

bool THttpDownloaderCore::SetSettings(const THttpDownloaderSettings& settings) {
  auto tm = ThreadManager();
  if (!tm || tm->GetState() != tmsIdle) return false;
  {
    std::lock_guard<std::mutex> g(settingsLock_);
    if (state_ != hdsIdle) return false;
    settings_ = settings;
    settings_.MaxDownloadThreads = std::max(1, settings_.MaxDownloadThreads);
    settings_.MaxParseThreads = std::max(1, settings_.MaxParseThreads);
  }
  tm->SetMaxThreads(settings.MaxDownloadThreads);
  tm->SetControlMode(settings.CruncherMode ? TThreadManager::kItemByItemMode : TThreadManager::kBatchMode);
  tm->SetUseTimeLimit(settings.UseTimeLimit);
  parsePermits_.SetCount(std::max(1, settings.MaxParseThreads));
  return true;
}

IHttpItemPtr THttpDownloaderCore::CreateItem(const std::string& url, const std::string& destFile,
                                             bool isSubItem, const IHttpResultPtr& parent,
                                             bool storeInMemory) {
  auto tm = ThreadManager();
  if (!tm) return nullptr;
  auto item = std::make_shared<THttpItem>(weak_from_this(), url, destFile, isSubItem);
  auto threadItem = tm->CreateItem(item);
  auto result = std::make_shared<THttpResult>(url);
  result->Edit([&](THttpResult& r) {
    r.uniqueId_ = threadItem->GetUniqueId();
    r.localFileName_ = destFile;
    r.isSubItem_ = isSubItem;
    r.parent_ = parent;
    r.storeInMemory_ = storeInMemory;
  });
  item->Bind(result, threadItem);
  resultManager_->Register(result);
  result->SetState(hisSuspended);
  if (isSubItem) {
    item->Params().StoreInMemory.Set(storeInMemory);  // as its page, whatever the settings say
    tm->AddAndRun(threadItem);
  } else {
    tm->AddItem(threadItem);
  }
  return item;
}

void THttpDownloaderCore::StartSubItem(const std::shared_ptr<THttpItem>& page, const std::string& url,
                                       const std::string& file) {
  auto pageResult = page->ResultImpl();
  pageResult->Edit([](THttpResult& r) { ++r.subItemCount_; });
  CreateItem(url, file, true, pageResult, pageResult->StoreInMemory());
}

std::string THttpDownloaderCore::DestFileName(const std::string& url, const std::string& folderIn) {
  auto s = Settings();
  std::string folder = folderIn;
  std::replace(folder.begin(), folder.end(), '\\', '/');
  if (!folder.empty() && folder.back() != '/') folder += '/';
  TUrlParserEx parser(url);
  std::string segment = parser.Path();
  auto slash = segment.find_last_of('/');
  if (slash != std::string::npos) segment = segment.substr(slash + 1);
  segment = AsciiLowerCase(segment);
  if (s.BrowseMode) {
    auto dot = segment.rfind('.');
    if (dot == std::string::npos || !IsBrowseExtension(segment.substr(dot + 1))) segment = s.DefaultPageName;
  }
  std::string name = THttpDownloader::SafeFileName(segment, s.DefaultPageName);
  std::string path = folder + name;
  if (!s.UniqueDest) return path;
  std::lock_guard<std::mutex> g(reservedLock_);
  auto dot = name.rfind('.');
  std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
  std::string ext = dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot);
  for (int counter = 1; reserved_.count(path) || FileExists(path); ++counter)
    path = folder + stem + std::to_string(counter) + ext;
  reserved_.insert(path);
  return path;
}

void THttpDownloaderCore::OnRunStarted() {
  if (closed_) return;
  SetState(hdsRunning);
  Notify([](IHttpDownloaderObserver& o) { o.DownloaderStart(); });
  if (auto h = Events().OnStart) h();
}

void THttpDownloaderCore::OnRunDone() {
  if (closed_) return;
  SetState(hdsIdle);
  Notify([](IHttpDownloaderObserver& o) { o.DownloaderDone(); });
  if (auto h = Events().OnDone) h();
}

void THttpDownloaderCore::OnItemStarted(const TThreadItemPtr& threadItem) {
  if (closed_) return;
  auto item = std::dynamic_pointer_cast<THttpItem>(threadItem->GetClient());
  if (!item) return;
  auto result = item->ResultImpl();
  auto state = result->State();
  // Only an item that has not moved on yet is set here; a fast worker may already have finished it.
  if (state <= hisRunning) {
    if (threadItem->GetState() == tisRunning && state != hisRunning) result->SetState(hisRunning);
    if (threadItem->GetState() == tisCanceled) result->SetState(hisCanceled);
  }
  Notify([&](IHttpDownloaderObserver& o) { o.ItemStart(result); });
  if (auto h = Events().OnItemStart) h(result);
}

void THttpDownloaderCore::OnItemDone(const TThreadItemPtr& threadItem) {
  if (closed_) return;
  auto item = std::dynamic_pointer_cast<THttpItem>(threadItem->GetClient());
  if (!item) return;
  auto result = item->ResultImpl();
  result->ChangeState(hisRunning, hisDoneItem);
  Notify([&](IHttpDownloaderObserver& o) { o.ItemDone(result); });
  if (auto h = Events().OnItemDone) h(result);
  if (result->ChangeState(hisDoneItem, hisDonePage)) return;
  auto state = result->State();
  if (state == hisTimedOut || state == hisSkipped || state == hisError) resultManager_->Finish(result, true);
}

void THttpDownloaderCore::OnError(const TThreadError& error) {
  if (closed_) return;
  Notify([&](IHttpDownloaderObserver& o) { o.DownloaderError(error); });
  if (auto h = Events().OnError) h(error);
}

}  // namespace vandrel
