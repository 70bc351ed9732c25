#include "http/HttpDownloader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "http/CookieManager.h"
#include "http/CookieParser.h"
#include "http/HttpErrors.h"
#include "platform/Format.h"
#include "platform/UrlUtils.h"

namespace vandrel {

namespace {

std::string Trim(const std::string& s) {
  auto b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  auto e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

std::string Lower(std::string s) {
  for (auto& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// Diagnostic lines; shown only when VANDREL_TRACE is set in the environment.
void Trace(const std::string& line) {
  static const bool enabled = std::getenv("VANDREL_TRACE") != nullptr;
  if (enabled) std::fprintf(stderr, "%s\n", line.c_str());
}

// The scheme of `url` in lower case, or empty when it has none. "host:8080/x" has none: what follows
// the colon of a scheme is never a port number.
std::string SchemeOf(const std::string& url) {
  size_t i = 0;
  while (i < url.size() && (std::isalnum(static_cast<unsigned char>(url[i])) || url[i] == '+' ||
                            url[i] == '-' || url[i] == '.'))
    ++i;
  if (i == 0 || i >= url.size() || url[i] != ':' || !std::isalpha(static_cast<unsigned char>(url[0])))
    return {};
  if (url.compare(i, 3, "://") != 0 && i + 1 < url.size() &&
      std::isdigit(static_cast<unsigned char>(url[i + 1])))
    return {};
  return Lower(url.substr(0, i));
}

const char* const kHtmlNoteOpen = "></TABLE><TABLE WIDTH=100%><hr size=1 noshade><font size=+1><B>";
const char* const kHtmlNoteClose = "</TABLE>";
const char* const kBrowseOpen = "<html><body><pre>";
const char* const kBrowseClose = "</pre></body></html>";

bool IsBrowseExtension(const std::string& ext) {
  static const char* const kept[] = {"htm", "html", "gif", "jpg", "jpe", "bmp", "wav"};
  for (const char* k : kept)
    if (ext == k) return true;
  return false;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::string JoinVars(const std::vector<std::string>& vars) {
  std::string out;
  for (const auto& v : vars) {
    if (!out.empty()) out += '&';
    out += v;
  }
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------

class THttpResult : public IHttpResult, public std::enable_shared_from_this<THttpResult> {
 public:
  explicit THttpResult(std::string url) : url_(std::move(url)) { visited_.push_back(url_); }

#define VANDREL_LOCKED_GET(Type, Name, field) \
  Type Name() const override {                \
    std::lock_guard<std::mutex> g(lock_);     \
    return field;                             \
  }
  VANDREL_LOCKED_GET(std::string, Url, url_)
  VANDREL_LOCKED_GET(std::string, ContentType, contentType_)
  VANDREL_LOCKED_GET(int64_t, ContentLength, contentLength_)
  VANDREL_LOCKED_GET(double, Date, date_)
  VANDREL_LOCKED_GET(double, LastModified, lastModified_)
  VANDREL_LOCKED_GET(std::string, Location, location_)
  VANDREL_LOCKED_GET(int, StatusCode, statusCode_)
  VANDREL_LOCKED_GET(std::vector<std::string>, Headers, headers_)
  VANDREL_LOCKED_GET(int64_t, BytesTransferred, bytesTransferred_)
  VANDREL_LOCKED_GET(TDocumentType, DocumentType, documentType_)
  VANDREL_LOCKED_GET(bool, DocumentTypeForced, documentTypeForced_)
  VANDREL_LOCKED_GET(TResultType, ResultType, resultType_)
  VANDREL_LOCKED_GET(THttpItemState, State, state_)
  VANDREL_LOCKED_GET(int, ResultCode, resultCode_)
  VANDREL_LOCKED_GET(std::string, ErrorText, errorText_)
  VANDREL_LOCKED_GET(std::string, LocalFileName, localFileName_)
  VANDREL_LOCKED_GET(bool, StoreInMemory, storeInMemory_)
  VANDREL_LOCKED_GET(bool, IsSubItem, isSubItem_)
  VANDREL_LOCKED_GET(IHttpResultPtr, Parent, parent_)
  VANDREL_LOCKED_GET(int, SubItemCount, subItemCount_)
  VANDREL_LOCKED_GET(int, SubItemsDone, subItemsDone_)
  VANDREL_LOCKED_GET(int, UniqueId, uniqueId_)
  VANDREL_LOCKED_GET(int, Tag, tag_)
  VANDREL_LOCKED_GET(THttpContent, Content, content_)
#undef VANDREL_LOCKED_GET

  std::vector<std::string> Visited() const override {
    std::lock_guard<std::mutex> g(visitedLock_);
    return visited_;
  }
  bool WasRedirected() const override {
    std::lock_guard<std::mutex> g(visitedLock_);
    return visited_.size() > 1;
  }
  bool IsComplete() const override {
    std::lock_guard<std::mutex> g(lock_);
    if (resultType_ == rtHtml) return subItemsDone_ == subItemCount_ && state_ != hisRunning;
    return resultType_ <= rtImage;
  }

  void AddObserver(IHttpResultObserver* observer) override {
    std::lock_guard<std::mutex> g(observerLock_);
    if (std::find(observers_.begin(), observers_.end(), observer) == observers_.end())
      observers_.push_back(observer);
  }
  void RemoveObserver(IHttpResultObserver* observer) override {
    std::lock_guard<std::mutex> g(observerLock_);
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
  }

  bool HasVisited(const std::string& url) const {
    std::lock_guard<std::mutex> g(visitedLock_);
    return std::find(visited_.begin(), visited_.end(), url) != visited_.end();
  }
  void AddVisited(const std::string& url) {
    std::lock_guard<std::mutex> g(visitedLock_);
    if (std::find(visited_.begin(), visited_.end(), url) == visited_.end()) visited_.push_back(url);
  }
  bool AcceptRedirection(const std::string& url) override {
    if (!MayVisit(url)) return false;
    AddVisited(url);
    return true;
  }
  // Not visited by this result nor, up the chain, by its parents.
  bool MayVisit(const std::string& url) const {
    if (HasVisited(url)) return false;
    auto parent = std::dynamic_pointer_cast<THttpResult>(Parent());
    return !parent || parent->MayVisit(url);
  }

  // Changes the state and tells every observer, outside the lock, in registration order.
  void SetState(THttpItemState state) {
    {
      std::lock_guard<std::mutex> g(lock_);
      state_ = state;
    }
    std::vector<IHttpResultObserver*> observers;
    {
      std::lock_guard<std::mutex> g(observerLock_);
      observers = observers_;
    }
    auto self = shared_from_this();
    for (auto* o : observers) o->ResultStateChanged(self, state);
  }
  // Changes the state only when it is still `from`; answers whether it did.
  bool ChangeState(THttpItemState from, THttpItemState to) {
    {
      std::lock_guard<std::mutex> g(lock_);
      if (state_ != from) return false;
    }
    SetState(to);
    return true;
  }

  template <class F>
  void Edit(F edit) {
    std::lock_guard<std::mutex> g(lock_);
    edit(*this);
  }

  // Written only through Edit (under the lock).
  std::string url_;
  std::string contentType_;
  int64_t contentLength_ = 0;
  double date_ = 0, lastModified_ = 0;
  std::string location_;
  int statusCode_ = 0;
  std::vector<std::string> headers_;
  int64_t bytesTransferred_ = 0;
  TDocumentType documentType_ = dtDetect;
  bool documentTypeForced_ = false;
  TResultType resultType_ = rtUnknown;
  int resultCode_ = 0;
  std::string errorText_;
  std::string localFileName_;
  bool storeInMemory_ = false;
  bool isSubItem_ = false;
  IHttpResultPtr parent_;
  int subItemCount_ = 0, subItemsDone_ = 0;
  int uniqueId_ = 0, tag_ = 0;
  THttpContent content_;
  // Result manager bookkeeping, main thread only.
  bool countedInParent_ = false;
  bool finished_ = false;

 private:
  mutable std::mutex lock_;  // guards every field above
  THttpItemState state_ = hisWaiting;
  mutable std::mutex visitedLock_;
  std::vector<std::string> visited_;
  std::mutex observerLock_;
  std::vector<IHttpResultObserver*> observers_;
};

using THttpResultPtr = std::shared_ptr<THttpResult>;

// ---------------------------------------------------------------------------------------------------
// Processors: classify and prepare a body. Each answers 0 (done) or 1 (failed or stopped).

class TProcessor {
 public:
  virtual ~TProcessor() = default;
  virtual int ProcessStream(const std::string& body, THttpContent& content) = 0;
  virtual int ProcessFile(const std::string& path) = 0;
  void Stop() { stopped_ = true; }

 protected:
  std::atomic<bool> stopped_{false};
};

class TBinaryProcessor : public TProcessor {
 public:
  int ProcessStream(const std::string& body, THttpContent& content) override {
    if (stopped_) return 1;
    content.Kind = 0;
    content.Stream = body;
    return 0;
  }
  int ProcessFile(const std::string&) override { return stopped_ ? 1 : 0; }
};

class TTextProcessor : public TProcessor {
 public:
  explicit TTextProcessor(bool browseMode) : browseMode_(browseMode) {}
  int ProcessStream(const std::string& body, THttpContent& content) override {
    if (stopped_) return 1;
    content.Kind = 2;
    content.Text = browseMode_ ? kBrowseOpen + body + kBrowseClose : body;
    return 0;
  }
  int ProcessFile(const std::string& path) override {
    if (stopped_) return 1;
    if (!browseMode_) return 0;
    std::string body;
    {
      std::ifstream in(path, std::ios::binary);
      if (!in) return 1;
      std::ostringstream all;
      all << in.rdbuf();
      body = all.str();
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << kBrowseOpen << body << kBrowseClose;
    return out ? 0 : 1;
  }

 private:
  bool browseMode_;
};

class THttpDownloaderCore;

class THtmlProcessor : public TProcessor {
 public:
  THtmlProcessor(std::shared_ptr<THttpDownloaderCore> core, std::shared_ptr<class THttpItem> item)
      : core_(std::move(core)), item_(std::move(item)) {}
  int ProcessStream(const std::string& body, THttpContent& content) override;
  int ProcessFile(const std::string& path) override;

 private:
  // Parses `html` when pages are parsed and a parser is installed; answers false to keep it as it came.
  bool Parse(std::string& html, THttpContent& content);

  std::shared_ptr<THttpDownloaderCore> core_;
  std::shared_ptr<class THttpItem> item_;
};

// ---------------------------------------------------------------------------------------------------

class TParsePermits {
 public:
  void SetCount(int count) {
    std::lock_guard<std::mutex> g(lock_);
    free_ += count - count_;
    count_ = count;
    cv_.notify_all();
  }
  void Acquire() {
    std::unique_lock<std::mutex> g(lock_);
    cv_.wait(g, [this] { return free_ > 0; });
    --free_;
  }
  void Release() {
    std::lock_guard<std::mutex> g(lock_);
    ++free_;
    cv_.notify_one();
  }

 private:
  std::mutex lock_;
  std::condition_variable cv_;
  int count_ = 1;
  int free_ = 1;
};

// Keeps results until they are finished, and tells the owner when a page with everything it holds is done.
class THttpResultManager : public IHttpResultObserver {
 public:
  THttpResultManager(THttpDownloaderCore& core, MainDispatcher& dispatcher)
      : core_(core), dispatcher_(dispatcher) {}
  ~THttpResultManager() override { Clear(); }

  void Register(const THttpResultPtr& result) { result->AddObserver(this); }
  void ResultStateChanged(const IHttpResultPtr& result, THttpItemState state) override;
  // Main thread.
  void Handle(const THttpResultPtr& result, THttpItemState state);
  // Main thread. `notify`: deliver the page-done event when complete.
  void Finish(const THttpResultPtr& result, bool notify);
  IHttpResultPtr Find(int uniqueId) const {
    std::lock_guard<std::mutex> g(lock_);
    auto it = results_.find(uniqueId);
    return it == results_.end() ? nullptr : it->second;
  }
  void Clear() {
    std::map<int, THttpResultPtr> all;
    {
      std::lock_guard<std::mutex> g(lock_);
      all.swap(results_);
    }
    for (auto& [id, r] : all) r->RemoveObserver(this);
  }
  size_t Count() const {
    std::lock_guard<std::mutex> g(lock_);
    return results_.size();
  }

 private:
  THttpDownloaderCore& core_;
  MainDispatcher& dispatcher_;
  mutable std::mutex lock_;  // guards results_
  std::map<int, THttpResultPtr> results_;
};

// ---------------------------------------------------------------------------------------------------

class THttpItem : public IHttpItem, public IClientItem, public std::enable_shared_from_this<THttpItem> {
 public:
  THttpItem(std::weak_ptr<THttpDownloaderCore> core, std::string url, std::string destFile, bool isSubItem)
      : core_(std::move(core)), url_(std::move(url)), destFile_(std::move(destFile)), isSubItem_(isSubItem) {}
  ~THttpItem() override;

  void Bind(THttpResultPtr result, TThreadItemPtr threadItem) {
    result_ = std::move(result);
    threadItem_ = std::move(threadItem);
  }

  // IHttpItem
  THttpParam& Params() override { return params_; }
  std::string DestFile() const override { return destFile_; }
  std::string Url() const override { return url_; }
  int Tag() const override { return threadItem_->GetTag(); }
  void SetTag(int tag) override {
    threadItem_->SetTag(tag);
    result_->Edit([&](THttpResult& r) { r.tag_ = tag; });
  }
  void Run() override { threadItem_->Run(); }
  void RunPriority() override { threadItem_->RunPriority(); }
  int UniqueId() const override { return threadItem_->GetUniqueId(); }
  IHttpResultPtr Result() const override { return result_; }
  bool IsSubItem() const override { return isSubItem_; }
  TThreadItemPtr ThreadItem() const override { return threadItem_; }
  void SetState(THttpItemState state) override { result_->SetState(state); }
  const THttpResultPtr& ResultImpl() const { return result_; }

  // IClientItem
  void Execute() override;
  void Prepare() override;
  void Stop() override;
  // The progress report, run on the main thread.
  void ExecuteEvent();

  void AddSubItem(const std::string& url) {
    std::lock_guard<std::mutex> g(lock_);
    subItems_.push_back(url);
  }

 private:
  // The item's own Execute is the work; its main-thread event is this separate object.
  class ProgressEvent : public IClientEvent {
   public:
    explicit ProgressEvent(THttpItem& item) : item_(item) {}
    void Execute() override { item_.ExecuteEvent(); }

   private:
    THttpItem& item_;
  };

  void RunTransfer(TZHttp& http, const std::shared_ptr<THttpDownloaderCore>& core,
                   const THttpDownloaderSettings& s, TZHttpMethod method, bool inMemory);
  int Process(const std::shared_ptr<THttpDownloaderCore>& core, const THttpDownloaderSettings& s,
              TZHttp& http, bool inMemory);
  void HeadersLoaded(TZHttp& http, const std::shared_ptr<THttpDownloaderCore>& core);
  void Progress(int64_t transferred, const std::shared_ptr<THttpDownloaderCore>& core);
  void AppendSizeNote(TZHttp& http, bool inMemory, const std::string& message);

  std::weak_ptr<THttpDownloaderCore> core_;  // weak: the downloader may go first
  const std::string url_;
  const std::string destFile_;
  const bool isSubItem_;
  THttpParam params_;
  THttpResultPtr result_;
  TThreadItemPtr threadItem_;
  std::mutex lock_;  // guards http_, processor_ and subItems_
  TZHttp* http_ = nullptr;
  TProcessor* processor_ = nullptr;
  std::vector<std::string> subItems_;
};

// ---------------------------------------------------------------------------------------------------

class THttpDownloaderCore : public std::enable_shared_from_this<THttpDownloaderCore> {
 public:
  explicit THttpDownloaderCore(MainDispatcher& dispatcher)
      : dispatcher_(dispatcher),
        threadManager_(std::make_shared<TThreadManager>(dispatcher)),
        resultManager_(std::make_unique<THttpResultManager>(*this, dispatcher)),
        detector_(std::make_unique<TConnectionDetector>(dispatcher)) {}

  void Open();
  void Shutdown();

  MainDispatcher& Dispatcher() { return dispatcher_; }
  THttpDownloaderSettings Settings() const {
    std::lock_guard<std::mutex> g(settingsLock_);
    return settings_;
  }
  bool SetSettings(const THttpDownloaderSettings& settings);
  THttpDownloaderState State() const {
    std::lock_guard<std::mutex> g(settingsLock_);
    return state_;
  }
  void SetState(THttpDownloaderState state) {
    std::lock_guard<std::mutex> g(settingsLock_);
    state_ = state;
  }
  std::shared_ptr<TThreadManager> ThreadManager() const {
    std::lock_guard<std::mutex> g(settingsLock_);
    return threadManager_;
  }
  TCookieManager& Cookies() { return cookies_; }
  THttpResultManager& Results() { return *resultManager_; }
  TConnectionDetector& Detector() { return *detector_; }
  TParsePermits& ParsePermits() { return parsePermits_; }
  std::shared_ptr<IHtmlPageParser> PageParser() const {
    std::lock_guard<std::mutex> g(settingsLock_);
    return pageParser_;
  }
  void SetPageParser(std::shared_ptr<IHtmlPageParser> parser) {
    std::lock_guard<std::mutex> g(settingsLock_);
    pageParser_ = std::move(parser);
  }

  IHttpItemPtr CreateItem(const std::string& url, const std::string& destFile, bool isSubItem,
                          const IHttpResultPtr& parent, bool storeInMemory);
  // Worker thread: queues a frame or image of a page for a priority start.
  void StartSubItem(const std::shared_ptr<THttpItem>& page, const std::string& url);
  // The local file for `url` in `folder`, reserved when names are kept unique.
  std::string DestFileName(const std::string& url, const std::string& folder);
  void ReleaseFileName(const std::string& path) {
    std::lock_guard<std::mutex> g(reservedLock_);
    reserved_.erase(path);
  }

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
  THttpDownloaderEvents Events() const {
    std::lock_guard<std::mutex> g(observerLock_);
    return events_;
  }
  void SetEvents(THttpDownloaderEvents events) {
    std::lock_guard<std::mutex> g(observerLock_);
    events_ = std::move(events);
  }
  void AddObserver(IHttpDownloaderObserver* o) {
    std::lock_guard<std::mutex> g(observerLock_);
    if (std::find(observers_.begin(), observers_.end(), o) == observers_.end()) observers_.push_back(o);
  }
  void RemoveObserver(IHttpDownloaderObserver* o) {
    std::lock_guard<std::mutex> g(observerLock_);
    observers_.erase(std::remove(observers_.begin(), observers_.end(), o), observers_.end());
  }
  bool HasProgressListeners() const {
    std::lock_guard<std::mutex> g(observerLock_);
    return !observers_.empty() || events_.OnItemProgress;
  }

  void ItemHeaders(const IHttpResultPtr& r) {
    if (closed_) return;
    Notify([&](IHttpDownloaderObserver& o) { o.ItemHeaders(r); });
    if (auto h = Events().OnItemHeaders) h(r);
  }
  void ItemProgress(const IHttpResultPtr& r) {
    Notify([&](IHttpDownloaderObserver& o) { o.ItemProgress(r); });
    if (auto h = Events().OnItemProgress) h(r);
  }
  void PageDone(const IHttpResultPtr& r) {
    Notify([&](IHttpDownloaderObserver& o) { o.PageDone(r); });
    if (auto h = Events().OnPageDone) h(r);
  }

  std::atomic<bool> closed_{false};  // the owner has let go

 private:
  void OnRunStarted();
  void OnRunDone();
  void OnItemStarted(const TThreadItemPtr& item);
  void OnItemDone(const TThreadItemPtr& item);
  void OnError(const TThreadError& error);

  MainDispatcher& dispatcher_;
  mutable std::mutex settingsLock_;  // guards settings_, state_, threadManager_ and pageParser_
  THttpDownloaderSettings settings_;
  THttpDownloaderState state_ = hdsIdle;
  std::shared_ptr<TThreadManager> threadManager_;
  std::shared_ptr<IHtmlPageParser> pageParser_;
  TCookieManager cookies_;
  std::unique_ptr<THttpResultManager> resultManager_;
  std::unique_ptr<TConnectionDetector> detector_;
  TParsePermits parsePermits_;
  std::mutex reservedLock_;
  std::set<std::string> reserved_;
  mutable std::mutex observerLock_;  // guards observers_ and events_
  std::vector<IHttpDownloaderObserver*> observers_;
  THttpDownloaderEvents events_;
};

// ---------------------------------------------------------------------------------------------------
// Result manager

void THttpResultManager::ResultStateChanged(const IHttpResultPtr& result, THttpItemState state) {
  auto r = std::dynamic_pointer_cast<THttpResult>(result);
  if (!r) return;
  if (state == hisWaiting || state == hisSuspended) {
    std::lock_guard<std::mutex> g(lock_);
    results_[r->UniqueId()] = r;
    return;
  }
  if (state != hisDonePage && state != hisCanceled) return;  // the rest is only recorded
  // Finishing may deliver the page-done event, which belongs to the main thread.
  if (dispatcher_.IsMainThread()) {
    Handle(r, state);
    return;
  }
  auto core = core_.weak_from_this();
  dispatcher_.Post([core, r, state] {
    if (auto c = core.lock(); c && !c->closed_) c->Results().Handle(r, state);
  });
}

void THttpResultManager::Handle(const THttpResultPtr& result, THttpItemState state) {
  if (core_.closed_) return;
  Finish(result, state == hisDonePage);
}

void THttpResultManager::Finish(const THttpResultPtr& result, bool notify) {
  if (result->finished_) return;
  if (result->IsSubItem() && !result->countedInParent_) {
    result->countedInParent_ = true;
    if (auto parent = std::dynamic_pointer_cast<THttpResult>(result->Parent())) {
      parent->Edit([](THttpResult& p) { ++p.subItemsDone_; });
      auto ps = parent->State();
      if (parent->IsComplete() && (ps == hisDonePage || ps == hisCanceled || ps >= hisTimedOut))
        Finish(parent, notify);
    }
  }
  if (!result->IsComplete()) return;  // its frames and images finish it later
  result->finished_ = true;
  if (notify) core_.PageDone(result);
  if (!core_.Settings().KeepResults) {
    {
      std::lock_guard<std::mutex> g(lock_);
      results_.erase(result->UniqueId());
    }
    result->RemoveObserver(this);
  }
}

// ---------------------------------------------------------------------------------------------------
// Items

THttpItem::~THttpItem() {
  if (!result_) return;
  auto state = result_->State();
  if (state == hisWaiting || state == hisSuspended) result_->SetState(hisCanceled);
}

void THttpItem::Prepare() {
  auto core = core_.lock();
  int limit = params_.TimeLimit.Or(core ? core->Settings().TimeLimit : 0);
  threadItem_->SetTimeLimit(limit);
  // The worker may finish before the item-started event reaches the main thread; it must already see
  // the item running.
  auto state = result_->State();
  if (state == hisWaiting || state == hisSuspended || state == hisStarting) result_->SetState(hisRunning);
}

void THttpItem::Stop() {
  auto state = result_->State();
  if (state == hisDoneItem || state == hisDonePage) return;
  // A time limit ends the item as timed out, not as canceled by the user.
  result_->SetState(threadItem_->GetState() == tisTimedOut ? hisTimedOut : hisCanceled);
  std::lock_guard<std::mutex> g(lock_);
  if (processor_) processor_->Stop();
  if (http_) http_->Cancel();
}

void THttpItem::ExecuteEvent() {
  auto core = core_.lock();
  if (core && !core->closed_) core->ItemProgress(result_);
}

void THttpItem::HeadersLoaded(TZHttp& http, const std::shared_ptr<THttpDownloaderCore>& core) {
  std::string contentType = http.ContentType;
  TResultType type;
  // The content type decides when there is one; the address otherwise.
  if (!contentType.empty()) {
    if (contentType.find("html") != std::string::npos) {
      type = rtHtml;
    } else if (contentType.find("text") != std::string::npos) {
      type = rtText;
    } else if (contentType.find("image") != std::string::npos) {
      type = rtImage;
    } else {
      type = rtBinary;
    }
  } else {
    TUrlParser parser;
    parser.Parse(http.URL());
    std::string ext;
    auto dot = parser.FileName.rfind('.');
    if (dot != std::string::npos) ext = " " + Lower(parser.FileName.substr(dot)) + " ";
    if (parser.FileName.empty() || std::string(" .htm .html ").find(ext) != std::string::npos) {
      type = rtHtml;
    } else if (std::string(" .txt .rtx .tsv .etx ").find(ext) != std::string::npos) {
      type = rtText;
    } else if (std::string(" .bmp .gif .jpeg .jpg ").find(ext) != std::string::npos) {
      type = rtImage;
    } else {
      type = rtBinary;
    }
  }
  std::vector<std::string> headers = http.Headers.Lines;
  result_->Edit([&](THttpResult& r) {
    r.contentType_ = contentType;
    r.date_ = http.Date;
    r.contentLength_ = http.ContentLength;
    r.lastModified_ = http.LastModified;
    r.location_ = http.Location;
    r.statusCode_ = http.StatusCode;
    r.headers_ = std::move(headers);
    r.resultType_ = type;
    if (!r.documentTypeForced_)
      r.documentType_ = type == rtHtml ? dtHtml : type == rtText ? dtText : dtBinary;
  });
  core->ItemHeaders(result_);
}

void THttpItem::Progress(int64_t transferred, const std::shared_ptr<THttpDownloaderCore>& core) {
  result_->Edit([&](THttpResult& r) { r.bytesTransferred_ = transferred; });
  // Every report waits for the main thread; without a listener there is nothing to wait for.
  if (!core->HasProgressListeners()) return;
  ProgressEvent event(*this);
  threadItem_->Synchronize(event);
}

void THttpItem::Execute() {
  auto core = core_.lock();
  if (!core) return;
  auto s = core->Settings();
  TZHttp http;
  auto self = shared_from_this();
  http.OnHeadersLoaded = [this, &http, core] { HeadersLoaded(http, core); };
  http.OnProgress = [this, core](int, int64_t transferred) { Progress(transferred, core); };
  http.OnReceiveCookie = [core](const TCookie& cookie) { core->Cookies().Receive(cookie); };
  http.OnSendCookie = [core](const std::string& url, std::string& cookies) {
    cookies = core->Cookies().GetCookieString(url);
  };
  http.OnRedirection = [this](const std::string& url, bool& follow) {
    follow = result_->AcceptRedirection(url);
  };

  if (s.UseProxy) {
    std::string proxy = Format("%s:%d", {s.ProxyAddress, s.ProxyPort});
    if (s.ProxyType == ptSocks) {
      http.SetSocksServer(proxy);
    } else {
      http.SetProxyServer(proxy);
    }
  }
  if (s.UseProxyAuthenticate) {
    http.ProxyUserName = s.ProxyUserName;
    http.ProxyPassword = s.ProxyPassword;
  }
  http.TimeOut = s.Timeout;

  bool inMemory = params_.StoreInMemory.Or(s.StoreInMemory);
  TZHttpMethod method = params_.TransferMethod.Or(s.DefaultTransferMethod);
  {
    std::lock_guard<std::mutex> g(lock_);
    http_ = &http;
    // A stop that came before the transfer existed still has to end it.
    if (threadItem_->GetState() != tisRunning) http.Cancel();
  }
  try {
    http.SetURL(url_);
    http.UseCookies = params_.UseCookies.Or(s.UseCookies);
    http.NoCache = params_.NoCache.Or(s.NoCache);
    http.NoRedirections = params_.NoRedirections.Or(s.NoRedirections);
    http.Storage = inMemory ? hsMemory : hsFile;
    http.Method = method;
    if (!params_.Headers.empty()) http.ExtraHeaders = params_.Headers;
    if (!params_.Vars.empty()) http.Vars = params_.Vars;
    if (!params_.PostStream.empty()) http.PostStream = params_.PostStream;
    int docType = params_.DocumentType.IsSet && params_.DocumentType.Value != dtDetect
                      ? params_.DocumentType.Value
                      : s.DefaultDocumentType;
    std::string userName = params_.UserName.Or(s.UserName);
    std::string password = params_.Password.Or(s.Password);
    result_->Edit([&](THttpResult& r) {
      r.storeInMemory_ = inMemory;
      if (docType != dtDetect) {
        r.documentType_ = static_cast<TDocumentType>(docType);
        r.documentTypeForced_ = true;
      }
    });
    http.Password = password;
    if (!userName.empty()) http.UserName = userName;
    http.UserAgent = params_.UserAgent.Or(s.UserAgent);
    if (s.MaxFileSize > 0) http.MaxFileSize = s.MaxFileSize;
    if (!inMemory && method != hmHead) {
      std::string file = Trim(destFile_);
      if (file.empty()) file = core->DestFileName(url_, s.DestFolder);
      http.LocalFileName = file;
      result_->Edit([&](THttpResult& r) { r.localFileName_ = file; });
    }
    RunTransfer(http, core, s, method, inMemory);
  } catch (const std::exception& e) {
    // Only a bad address reaches here (the transfer's own failures end inside RunTransfer).
    result_->Edit([&](THttpResult& r) {
      r.resultCode_ = 1;
      r.errorText_ = e.what();
    });
    if (result_->State() == hisRunning) result_->SetState(hisError);
  }
  std::lock_guard<std::mutex> g(lock_);
  http_ = nullptr;
}

void THttpItem::RunTransfer(TZHttp& http, const std::shared_ptr<THttpDownloaderCore>& core,
                            const THttpDownloaderSettings& s, TZHttpMethod method, bool inMemory) {
  std::string requested = url_;
  if (method == hmGet && !params_.Vars.empty()) requested += "?" + JoinVars(params_.Vars);
  result_->AddVisited(requested);
  int code = 0;
  auto fail = [&](THttpItemState state, const std::string& text) {
    code = 1;
    result_->Edit([&](THttpResult& r) { r.errorText_ = text; });
    if (state != hisWaiting) result_->SetState(state);
  };
  try {
    http.Execute();
    if (http.Succeeded || s.DownloadOnError) {
      if (method != hmHead) code = Process(core, s, http, inMemory);
    } else if (result_->State() == hisRunning) {
      std::string text = HttpStatusText(http.StatusCode);
      if (text.empty() && http.StatusCode <= 0) text = SocketErrorText(kErrInvalidReply);
      fail(hisError, text);
    }
  } catch (const ETimedOutError& e) {
    fail(hisTimedOut, e.what());
  } catch (const ECanceledError& e) {
    auto ts = threadItem_->GetState();
    fail(ts == tisCanceled ? hisCanceled : ts == tisTimedOut ? hisTimedOut : hisWaiting, e.what());
  } catch (const EFilesizeExceededError& e) {
    code = 1;
    result_->Edit([&](THttpResult& r) { r.errorText_ = e.what(); });
    auto docType = result_->DocumentType();
    if (docType != dtHtml && docType != dtText) {
      result_->SetState(hisSkipped);
    } else {
      // The part received is kept with a note saying why it ends there; it is processed like a whole
      // page, or the caller would get nothing of it.
      AppendSizeNote(http, inMemory, e.what());
      Process(core, s, http, inMemory);
    }
  } catch (const EFileSkippedError& e) {
    fail(hisSkipped, e.what());
  } catch (const ESocketError& e) {
    fail(hisError, e.what());
  } catch (...) {
    fail(hisError, kUnknownErrorText);
  }
  result_->Edit([&](THttpResult& r) { r.resultCode_ = code; });
}

void THttpItem::AppendSizeNote(TZHttp& http, bool inMemory, const std::string& message) {
  std::string note = result_->DocumentType() == dtText
                         ? "\r\n" + message
                         : std::string(kHtmlNoteOpen) + message + kHtmlNoteClose;
  if (inMemory) {
    http.Body.append(note);
    return;
  }
  std::ofstream out(http.LocalFileName, std::ios::binary | std::ios::app);
  out << note;
}

int THttpItem::Process(const std::shared_ptr<THttpDownloaderCore>& core, const THttpDownloaderSettings& s,
                       TZHttp& http, bool inMemory) {
  if (result_->State() != hisRunning) return 1;
  std::unique_ptr<TProcessor> processor;
  switch (result_->DocumentType()) {
    case dtHtml:
      processor = std::make_unique<THtmlProcessor>(core, shared_from_this());
      break;
    case dtText:
      processor = std::make_unique<TTextProcessor>(s.BrowseMode);
      break;
    default:
      processor = std::make_unique<TBinaryProcessor>();
  }
  {
    std::lock_guard<std::mutex> g(lock_);
    processor_ = processor.get();
  }
  int code;
  if (inMemory) {
    THttpContent content;
    code = processor->ProcessStream(http.Body, content);
    result_->Edit([&](THttpResult& r) { r.content_ = std::move(content); });
  } else {
    code = processor->ProcessFile(http.LocalFileName);
  }
  std::vector<std::string> subItems;
  {
    std::lock_guard<std::mutex> g(lock_);
    subItems.swap(subItems_);
    processor_ = nullptr;
  }
  if (!subItems.empty() && result_->State() == hisRunning)
    for (const auto& url : subItems) core->StartSubItem(shared_from_this(), url);
  return code;
}

// ---------------------------------------------------------------------------------------------------
// The HTML processor: pages are parsed only when asked for and a parser is installed.

bool THtmlProcessor::Parse(std::string& html, THttpContent& content) {
  auto s = core_->Settings();
  auto parser = core_->PageParser();
  auto result = item_->ResultImpl();
  Trace(Format("ReadPage URL: %s UID:%d", {result->Url(), result->UniqueId()}));
  if (!s.ParsePages || !parser) return false;
  IHtmlPageParser::TPage page;
  page.Url = result->Url();
  page.Html = html;
  page.UpdateLinks = s.UpdateLinks;
  auto item = item_;
  auto core = core_;
  page.LocalName = [&s, item, core](const std::string& address, bool isFrame) -> std::string {
    if (!(isFrame ? s.DownloadFrames : s.DownloadImages)) return {};
    item->AddSubItem(address);
    if (item->ResultImpl()->StoreInMemory()) return {};
    auto file = core->DestFileName(address, s.DestFolder);
    core->ReleaseFileName(file);  // reserved again when the sub-item starts
    auto slash = file.find_last_of('/');
    return slash == std::string::npos ? file : file.substr(slash + 1);
  };
  core_->ParsePermits().Acquire();
  bool ok = false;
  try {
    ok = parser->Parse(page);
  } catch (...) {
    ok = false;
  }
  core_->ParsePermits().Release();
  if (!ok) return false;
  auto unique = [](std::vector<std::string> list) {
    std::vector<std::string> out;
    for (auto& u : list)
      if (std::find(out.begin(), out.end(), u) == out.end()) out.push_back(std::move(u));
    return out;
  };
  content.Frames = unique(std::move(page.Frames));
  content.Images = unique(std::move(page.Images));
  content.Links = unique(std::move(page.Links));
  html = std::move(page.Html);
  return true;
}

int THtmlProcessor::ProcessStream(const std::string& body, THttpContent& content) {
  if (stopped_) return 1;
  content.Kind = 1;
  std::string html = body;
  Parse(html, content);
  content.Text = std::move(html);
  return stopped_ ? 1 : 0;
}

int THtmlProcessor::ProcessFile(const std::string& path) {
  if (stopped_) return 1;
  std::string html;
  {
    std::ifstream in(path, std::ios::binary);
    if (!in) return 1;
    std::ostringstream all;
    all << in.rdbuf();
    html = all.str();
  }
  THttpContent content;
  if (Parse(html, content)) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << html;
    if (!out) return 1;
  }
  return stopped_ ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------------
// The downloader's core

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
    if (storeInMemory) item->Params().StoreInMemory.Set(true);
    tm->AddAndRun(threadItem);
  } else {
    tm->AddItem(threadItem);
  }
  return item;
}

void THttpDownloaderCore::StartSubItem(const std::shared_ptr<THttpItem>& page, const std::string& url) {
  auto pageResult = page->ResultImpl();
  bool inMemory = pageResult->StoreInMemory();
  std::string file = inMemory ? std::string() : DestFileName(url, Settings().DestFolder);
  if (!pageResult->AcceptRedirection(url)) {
    if (!file.empty()) ReleaseFileName(file);
    return;
  }
  pageResult->Edit([](THttpResult& r) { ++r.subItemCount_; });
  CreateItem(url, file, true, pageResult, inMemory);
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
  segment = Lower(segment);
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

// ---------------------------------------------------------------------------------------------------

THttpDownloader::THttpDownloader(MainDispatcher& dispatcher)
    : core_(std::make_shared<THttpDownloaderCore>(dispatcher)) {
  core_->Open();
}

THttpDownloader::~THttpDownloader() {
  core_->Shutdown();
}

IHttpItemPtr THttpDownloader::AddItem(const std::string& url, const std::string& destFile) {
  std::string address = Trim(url);
  if (address.empty()) return nullptr;
  std::string scheme = SchemeOf(address);
  if (scheme.empty()) {
    address = "http://" + address;
  } else if (scheme != "http" && scheme != "https") {
    return nullptr;
  }
  return core_->CreateItem(address, destFile, false, nullptr, core_->Settings().StoreInMemory);
}

void THttpDownloader::Start() {
  if (auto tm = core_->ThreadManager()) tm->Start();
}

void THttpDownloader::Stop() {
  if (core_->State() == hdsDetectingConnection) {
    core_->Detector().Cancel();
    return;
  }
  if (auto tm = core_->ThreadManager()) tm->Stop();
}

void THttpDownloader::DetectConnection() {
  if (core_->State() != hdsIdle) return;
  core_->SetState(hdsDetectingConnection);
  core_->Detector().Start();
}

void THttpDownloader::AddCookie(const std::string& cookieText, const std::string& url) {
  TCookie cookie(cookieText, url);
  core_->Cookies().Receive(cookie);
}

void THttpDownloader::ClearCookies() {
  core_->Cookies().Clear();
}
TCookieManager& THttpDownloader::Cookies() {
  return core_->Cookies();
}

void THttpDownloader::ClearResults() {
  if (IsIdle()) core_->Results().Clear();
}

IHttpResultPtr THttpDownloader::FindResult(int uniqueId) const {
  return core_->Results().Find(uniqueId);
}
THttpDownloaderState THttpDownloader::State() const {
  return core_->State();
}
bool THttpDownloader::SetSettings(const THttpDownloaderSettings& settings) {
  return core_->SetSettings(settings);
}
THttpDownloaderSettings THttpDownloader::Settings() const {
  return core_->Settings();
}
std::string THttpDownloader::ConnectionDetectorLink() const {
  return core_->Detector().Link();
}
void THttpDownloader::SetConnectionDetectorLink(const std::string& link) {
  if (IsIdle()) core_->Detector().SetLink(link);
}
void THttpDownloader::AddObserver(IHttpDownloaderObserver* observer) {
  core_->AddObserver(observer);
}
void THttpDownloader::RemoveObserver(IHttpDownloaderObserver* observer) {
  core_->RemoveObserver(observer);
}
void THttpDownloader::SetPageParser(std::shared_ptr<IHtmlPageParser> parser) {
  core_->SetPageParser(std::move(parser));
}
void THttpDownloader::SetEvents(THttpDownloaderEvents events) {
  core_->SetEvents(std::move(events));
}

std::string THttpDownloader::SafeFileName(const std::string& segment, const std::string& defaultName) {
  std::string name;
  for (unsigned char c : segment) {
    // Separators of either system, characters no file system takes, and control bytes.
    if (c < 32 || c == 127 || c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' || c == '"' ||
        c == '<' || c == '>' || c == '|') {
      name += '_';
    } else {
      name += static_cast<char>(c);
    }
  }
  name = Trim(name);
  if (name.find_first_not_of('.') == std::string::npos) name.clear();  // "", ".", "..", "..."
  constexpr size_t kMaxName = 200;  // room for a counter within the usual 255-byte limit
  if (name.size() > kMaxName) {
    auto dot = name.rfind('.');
    std::string ext = dot != std::string::npos && name.size() - dot <= 16 ? name.substr(dot) : std::string();
    name = name.substr(0, kMaxName - ext.size()) + ext;
  }
  if (name.empty()) name = defaultName.empty() ? "index.htm" : defaultName;
  return name;
}

}  // namespace vandrel
