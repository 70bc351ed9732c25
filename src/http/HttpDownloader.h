// Fetches web documents on the thread manager's workers and hands each back as a reference-counted result.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "http/ConnectionDetector.h"
#include "http/ThreadManager.h"
#include "http/ZHttp.h"
#include "platform/MainDispatcher.h"

namespace vandrel {

class TCookieManager;

// ORDER/VALUES: these enumerations are compared by number by callers and scripts; never renumber.
enum THttpDownloaderState : uint8_t {
  hdsIdle = 0,
  hdsInitializing = 1,
  hdsRunning = 2,
  hdsStopping = 3,
  hdsDetectingConnection = 4,
};
// How a body is processed.
enum TDocumentType : uint8_t { dtDetect = 0, dtHtml = 1, dtText = 2, dtBinary = 3 };
// What a document is.
enum TResultType : uint8_t { rtUnknown = 0, rtHtml = 1, rtText = 2, rtBinary = 3, rtImage = 4 };
enum THttpItemState : uint8_t {
  hisWaiting = 0,
  hisSuspended = 1,
  hisStarting = 2,
  hisRunning = 3,
  hisStopping = 4,
  hisDoneItem = 5,
  hisDonePage = 6,
  hisCanceled = 7,
  hisTimedOut = 8,
  hisSkipped = 9,
  hisError = 10,
};
enum TProxyType : uint8_t { ptHttp = 0, ptSocks = 1 };

// The largest page an engine keeps (and `fetch`, unless told otherwise): a store whose answer never ends
// must not take the memory.
inline constexpr int64_t kDefaultPageSizeLimit = 16 << 20;

// A processed body. Kind: 0 stream only, 1 address lists (an HTML page: its rewritten text too, when kept in
// memory), 2 text only, 3 address lists and stream.
struct THttpContent {
  int Kind = 0;
  std::vector<std::string> Frames, Images, Links;  // resolved addresses, without duplicates
  std::string Text;
  std::string Stream;  // raw bytes
};

class IHttpResult;
using IHttpResultPtr = std::shared_ptr<IHttpResult>;

// Told of every state change of a result, on the thread that made it.
class IHttpResultObserver {
 public:
  virtual ~IHttpResultObserver() = default;
  virtual void ResultStateChanged(const IHttpResultPtr& result, THttpItemState state) = 0;
};

// The outcome of one download item. Every accessor takes the result's lock, so any thread may read it.
class IHttpResult {
 public:
  virtual ~IHttpResult() = default;
  virtual std::string Url() const = 0;
  virtual std::string ContentType() const = 0;
  virtual int64_t ContentLength() const = 0;
  virtual double Date() const = 0;  // days since 1899-12-30; 0 when absent
  virtual double LastModified() const = 0;
  virtual std::string Location() const = 0;
  virtual int StatusCode() const = 0;
  virtual std::vector<std::string> Headers() const = 0;  // every line read, status line first
  virtual int64_t BytesTransferred() const = 0;
  virtual TDocumentType DocumentType() const = 0;
  virtual bool DocumentTypeForced() const = 0;
  virtual TResultType ResultType() const = 0;
  virtual THttpItemState State() const = 0;
  virtual int ResultCode() const = 0;  // 0 processed, 1 failed or stopped
  virtual std::string ErrorText() const = 0;
  virtual std::string LocalFileName() const = 0;
  virtual bool StoreInMemory() const = 0;
  virtual bool IsSubItem() const = 0;
  virtual IHttpResultPtr Parent() const = 0;
  virtual int SubItemCount() const = 0;
  virtual int SubItemsDone() const = 0;
  virtual int UniqueId() const = 0;
  virtual int Tag() const = 0;
  virtual std::vector<std::string> Visited() const = 0;  // every address fetched, redirections included
  virtual THttpContent Content() const = 0;
  virtual bool WasRedirected() const = 0;
  virtual bool IsComplete() const = 0;

  // Observers are kept in registration order and removed by identity; not owned.
  virtual void AddObserver(IHttpResultObserver* observer) = 0;
  virtual void RemoveObserver(IHttpResultObserver* observer) = 0;
  // Whether a redirection to `url` may be followed: never back to an address this result or one of its
  // parents was already fetched from. An accepted address is recorded.
  virtual bool AcceptRedirection(const std::string& url) = 0;
};

// One optional per-item setting; unset means the downloader's setting applies.
template <class T>
struct THttpParamValue {
  T Value{};
  bool IsSet = false;
  void Set(T value) {
    Value = std::move(value);
    IsSet = true;
  }
  T Or(const T& fallback) const { return IsSet ? Value : fallback; }
};

// Per-item parameters. Set before the item starts; read by its worker.
struct THttpParam {
  THttpParamValue<int> DocumentType;  // TDocumentType; 0 = detect
  THttpParamValue<bool> UseCookies, NoCache, NoRedirections, StoreInMemory;
  THttpParamValue<TZHttpMethod> TransferMethod;
  THttpParamValue<int> TimeLimit;  // milliseconds
  THttpParamValue<std::string> UserName, Password, UserAgent;
  std::vector<std::string> Headers;  // extra request lines
  std::vector<std::string> Vars;     // form data lines, name=value
  std::string PostStream;            // a body sent as it stands
};

class THttpItem;

// A download item as its owner sees it. Reference-counted.
class IHttpItem {
 public:
  virtual ~IHttpItem() = default;
  // Main thread, before the item starts.
  virtual THttpParam& Params() = 0;
  virtual std::string DestFile() const = 0;
  virtual std::string Url() const = 0;
  virtual int Tag() const = 0;
  virtual void SetTag(int tag) = 0;
  virtual void Run() = 0;  // item-by-item mode
  virtual void RunPriority() = 0;
  virtual int UniqueId() const = 0;
  virtual IHttpResultPtr Result() const = 0;
  virtual bool IsSubItem() const = 0;
  virtual TThreadItemPtr ThreadItem() const = 0;
  virtual void SetState(THttpItemState state) = 0;
};
using IHttpItemPtr = std::shared_ptr<IHttpItem>;

// Hears every downloader event before the event handlers do. Main thread, except ItemHeaders (worker).
class IHttpDownloaderObserver {
 public:
  virtual ~IHttpDownloaderObserver() = default;
  virtual void DownloaderStart() {}
  virtual void DownloaderDone() {}
  virtual void DownloaderError(const TThreadError&) {}
  virtual void ItemStart(const IHttpResultPtr&) {}
  virtual void ItemHeaders(const IHttpResultPtr&) {}
  virtual void ItemProgress(const IHttpResultPtr&) {}
  virtual void ItemDone(const IHttpResultPtr&) {}
  virtual void PageDone(const IHttpResultPtr&) {}
  virtual void DetectStart() {}
  virtual void DetectDone(int connectionStatus) {}
};

// The downloader's settings. Changed only while the downloader is idle.
struct THttpDownloaderSettings {
  bool CruncherMode = false;  // items are started one by one (the thread manager's item-by-item mode)
  std::string DestFolder;
  bool DownloadFrames = false;
  bool DownloadImages = false;
  bool DownloadOnError = false;  // process the bodies of non-2xx answers too
  bool KeepResults = false;
  int MaxDownloadThreads = 10;
  int64_t MaxFileSize = 0;  // bytes; 0 = none
  int MaxParseThreads = 1;  // pages parsed at once
  bool NoCache = false;
  bool NoRedirections = false;
  bool ParsePages = true;  // HTML pages are parsed for their frames, images and links and rewritten
  std::string Password;
  std::string ProxyAddress;
  std::string ProxyPassword;
  int ProxyPort = 80;
  std::string ProxyUserName;
  TProxyType ProxyType = ptHttp;
  bool StoreInMemory = false;
  int TimeLimit = 0;  // milliseconds per item; 0 = none
  int Timeout = 60;   // seconds per socket operation
  bool UniqueDest = true;
  bool UpdateLinks = false;  // write resolved addresses into parsed pages
  bool UseCookies = false;
  bool UseProxy = false;
  bool UseProxyAuthenticate = false;
  bool UseTimeLimit = false;
  std::string UserAgent = "Mozilla/4.5 [en] (Win98; I)";
  std::string UserName;
  // Not published.
  bool BrowseMode = false;  // wrap text into HTML; keep only the page and picture extensions in names
  int DefaultDocumentType = dtDetect;  // used when an item does not set one; 0 = detect
  TZHttpMethod DefaultTransferMethod = hmGet;
  std::string DefaultPageName = "index.htm";
};

class THttpDownloaderCore;

// The downloader's events, all optional. Main thread, except OnItemHeaders (worker thread).
struct THttpDownloaderEvents {
  std::function<void()> OnStart, OnDone;
  std::function<void(const TThreadError& error)> OnError;
  std::function<void(const IHttpResultPtr&result)> OnItemStart, OnItemHeaders, OnItemProgress, OnItemDone,
      OnPageDone;
  std::function<void()> OnDetectStart;
  std::function<void(int connectionStatus)> OnDetectDone;
};

// Owned by one object on the main thread (the searcher, the updater, the advertisement strip).
class THttpDownloader {
 public:
  explicit THttpDownloader(MainDispatcher& dispatcher = MainDispatcher::Default());
  ~THttpDownloader();
  THttpDownloader(const THttpDownloader&) = delete;
  THttpDownloader& operator=(const THttpDownloader&) = delete;

  // A new item for `url` (null when the address is not http), registered with the result manager and
  // added to the thread manager. `destFile` empty: a name is made in DestFolder.
  IHttpItemPtr AddItem(const std::string& url, const std::string& destFile = {});
  // Batch mode: starts every added item.
  void Start();
  // Stops the connection test while it runs, else every transfer.
  void Stop();
  void DetectConnection();

  void AddCookie(const std::string& cookieText, const std::string& url);
  void ClearCookies();
  TCookieManager& Cookies();

  void ClearResults();  // only while idle
  IHttpResultPtr FindResult(int uniqueId) const;

  THttpDownloaderState State() const;
  bool IsIdle() const { return State() == hdsIdle; }
  // Changes the settings; answers false (and changes nothing) unless idle.
  bool SetSettings(const THttpDownloaderSettings& settings);
  THttpDownloaderSettings Settings() const;
  std::string ConnectionDetectorLink() const;
  void SetConnectionDetectorLink(const std::string& link);

  void AddObserver(IHttpDownloaderObserver* observer);
  void RemoveObserver(IHttpDownloaderObserver* observer);

  // Replaces the event handlers; they are called after the observers.
  void SetEvents(THttpDownloaderEvents events);

  // A local name for the last path segment of `url`: never empty, never ".", "..", nor holding a
  // separator or a control byte, so it cannot leave its folder.
  static std::string SafeFileName(const std::string& segment, const std::string& defaultName);

 private:
  std::shared_ptr<THttpDownloaderCore> core_;
};

}  // namespace vandrel
