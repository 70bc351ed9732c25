// The downloader's shared state: settings, thread manager, cookies, results, reserved file names and
// the event fan-out. Items and the result manager hold it; the facade owns it.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "http/ConnectionDetector.h"
#include "http/CookieManager.h"
#include "http/HttpDownloader.h"
#include "http/HttpProcessors.h"
#include "http/HttpResultManager.h"
#include "http/ThreadManager.h"

namespace vandrel {

class THttpItem;

class THttpDownloaderCore : public std::enable_shared_from_this<THttpDownloaderCore> {
 public:
  explicit THttpDownloaderCore(MainDispatcher& dispatcher);

  // Connects the thread manager's and the detector's callbacks. Main thread, once, after construction.
  void Open();
  // Ends every transfer and forgets the owner's handlers. Main thread.
  void Shutdown();

  MainDispatcher& Dispatcher() { return dispatcher_; }
  THttpDownloaderSettings Settings() const;
  // Answers false (and changes nothing) unless the downloader and its thread manager are idle.
  bool SetSettings(const THttpDownloaderSettings& settings);
  THttpDownloaderState State() const;
  void SetState(THttpDownloaderState state);
  std::shared_ptr<TThreadManager> ThreadManager() const;
  TCookieManager& Cookies() { return cookies_; }
  THttpResultManager& Results() { return *resultManager_; }
  TConnectionDetector& Detector() { return *detector_; }
  TParsePermits& ParsePermits() { return parsePermits_; }

  IHttpItemPtr CreateItem(const std::string& url, const std::string& destFile, bool isSubItem,
                          const IHttpResultPtr& parent, bool storeInMemory);
  // Worker thread: queues a frame or image of `page` for a priority start, into `file` (empty: memory).
  void StartSubItem(const std::shared_ptr<THttpItem>& page, const std::string& url, const std::string& file);
  // The local file for `url` in `folder`, reserved when names are kept unique.
  std::string DestFileName(const std::string& url, const std::string& folder);
  void ReleaseFileName(const std::string& path);

  // Events: the observers first, in registration order, then the handler.
  template <class F>
  void Notify(F call) {
    std::vector<IHttpDownloaderObserver*> observers;
    {
      std::lock_guard<std::mutex> g(observerLock_);
      observers = observers_;
    }
    for (auto* o : observers) call(*o);
  }
  THttpDownloaderEvents Events() const;
  void SetEvents(THttpDownloaderEvents events);
  void AddObserver(IHttpDownloaderObserver* observer);
  void RemoveObserver(IHttpDownloaderObserver* observer);
  bool HasProgressListeners() const;

  void ItemHeaders(const IHttpResultPtr& result);   // worker thread
  void ItemProgress(const IHttpResultPtr& result);  // main thread
  void PageDone(const IHttpResultPtr& result);      // main thread

  std::atomic<bool> closed_{false};  // the owner has let go

 private:
  void OnRunStarted();
  void OnRunDone();
  void OnItemStarted(const TThreadItemPtr& item);
  void OnItemDone(const TThreadItemPtr& item);
  void OnError(const TThreadError& error);

  MainDispatcher& dispatcher_;
  mutable std::mutex settingsLock_;  // guards settings_, state_ and threadManager_
  THttpDownloaderSettings settings_;
  THttpDownloaderState state_ = hdsIdle;
  std::shared_ptr<TThreadManager> threadManager_;
  TCookieManager cookies_;
  std::unique_ptr<THttpResultManager> resultManager_;
  std::unique_ptr<TConnectionDetector> detector_;
  TParsePermits parsePermits_;  // bounds the pages parsed at once to MaxParseThreads
  std::mutex reservedLock_;
  std::set<std::string> reserved_;   // destination files handed out and not released
  mutable std::mutex observerLock_;  // guards observers_ and events_
  std::vector<IHttpDownloaderObserver*> observers_;
  THttpDownloaderEvents events_;
};

}  // namespace vandrel
