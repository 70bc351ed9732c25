// One download item: runs its transfer on a worker thread, ends in one state with its text, and hands
// the body to the processor of its document type.
#include "http/HttpItem.h"

#include <fstream>

#include "http/HttpDownloaderCore.h"
#include "http/HttpErrors.h"
#include "http/HttpProcessors.h"
#include "platform/Format.h"
#include "platform/TextUtils.h"
#include "platform/UrlUtils.h"

namespace vandrel {

namespace {

const char* const kHtmlNoteOpen = "></TABLE><TABLE WIDTH=100%><hr size=1 noshade><font size=+1><B>";
const char* const kHtmlNoteClose = "</TABLE>";

std::string JoinVars(const std::vector<std::string>& vars) {
  std::string out;
  for (const auto& v : vars) {
    if (!out.empty()) out += '&';
    out += v;
  }
  return out;
}

// What a document is: the content type decides when there is one, the address's extension otherwise.
TResultType DetectResultType(const std::string& contentType, const std::string& url) {
  if (!contentType.empty()) {
    if (contentType.find("html") != std::string::npos) return rtHtml;
    if (contentType.find("text") != std::string::npos) return rtText;
    if (contentType.find("image") != std::string::npos) return rtImage;
    return rtBinary;
  }
  TUrlParser parser;
  parser.Parse(url);
  std::string ext;
  auto dot = parser.FileName.rfind('.');
  if (dot != std::string::npos) ext = " " + AsciiLowerCase(parser.FileName.substr(dot)) + " ";
  if (parser.FileName.empty() || std::string(" .htm .html ").find(ext) != std::string::npos) return rtHtml;
  if (std::string(" .txt .rtx .tsv .etx ").find(ext) != std::string::npos) return rtText;
  if (std::string(" .bmp .gif .jpeg .jpg ").find(ext) != std::string::npos) return rtImage;
  return rtBinary;
}

bool IsFetchable(const std::string& url) {
  TUrlParserEx parser(url);
  return parser.Scheme() == "http" || parser.Scheme() == "https";
}

}  // namespace

THttpItem::~THttpItem() {
  if (!result_) return;
  auto state = result_->State();
  if (state == hisWaiting || state == hisSuspended) result_->SetState(hisCanceled);
}

void THttpItem::SetTag(int tag) {
  threadItem_->SetTag(tag);
  result_->Edit([&](THttpResult& r) { r.tag_ = tag; });
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

void THttpItem::TProgressEvent::Execute() {
  auto core = item_.core_.lock();
  if (core && !core->closed_) core->ItemProgress(item_.result_);
}

void THttpItem::HeadersLoaded(TZHttp& http, const std::shared_ptr<THttpDownloaderCore>& core) {
  const TResultType type = DetectResultType(http.ContentType, http.URL());
  std::vector<std::string> headers = http.Headers.Lines;
  result_->Edit([&](THttpResult& r) {
    r.contentType_ = http.ContentType;
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
  TProgressEvent event(*this);
  threadItem_->Synchronize(event);
}

void THttpItem::Configure(TZHttp& http, THttpDownloaderCore& core, const THttpDownloaderSettings& s,
                          bool inMemory, TZHttpMethod method) {
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
  result_->Edit([&](THttpResult& r) {
    r.storeInMemory_ = inMemory;
    if (docType != dtDetect) {
      r.documentType_ = static_cast<TDocumentType>(docType);
      r.documentTypeForced_ = true;
    }
  });
  http.Password = params_.Password.Or(s.Password);
  std::string userName = params_.UserName.Or(s.UserName);
  if (!userName.empty()) http.UserName = userName;
  http.UserAgent = params_.UserAgent.Or(s.UserAgent);
  if (s.MaxFileSize > 0) http.MaxFileSize = s.MaxFileSize;
  if (!inMemory && method != hmHead) {
    std::string file(Trim(destFile_));
    if (file.empty()) file = core.DestFileName(url_, s.DestFolder);
    http.LocalFileName = file;
    result_->Edit([&](THttpResult& r) { r.localFileName_ = file; });
  }
}

void THttpItem::Execute() {
  auto core = core_.lock();
  if (!core) return;
  auto s = core->Settings();
  TZHttp http;
  http.OnHeadersLoaded = [this, &http, core] { HeadersLoaded(http, core); };
  http.OnProgress = [this, core](int, int64_t transferred) { Progress(transferred, core); };
  http.OnReceiveCookie = [core](const TCookie& cookie) { core->Cookies().Receive(cookie); };
  http.OnSendCookie = [core](const std::string& url, std::string& cookies) {
    cookies = core->Cookies().GetCookieString(url);
  };
  http.OnRedirection = [this](const std::string& url, bool& follow) {
    follow = result_->AcceptRedirection(url);
  };
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
    Configure(http, *core, s, inMemory, method);
    RunTransfer(http, core, s, method, inMemory);
  } catch (const std::exception& e) {
    // Only a bad address or proxy reaches here (the transfer's own failures end inside RunTransfer).
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
    // The item's time limit cancels the transfer; it is reported as the time-out it is.
    auto ts = threadItem_->GetState();
    if (ts == tisTimedOut) {
      fail(hisTimedOut, SocketErrorText(kErrTimedOut));
    } else {
      fail(ts == tisCanceled ? hisCanceled : hisWaiting, e.what());
    }
  } catch (const EFilesizeExceededError& e) {
    code = 1;
    KeepCutPage(http, core, s, inMemory, e.what());
  } catch (const EFileSkippedError& e) {
    fail(hisSkipped, e.what());
  } catch (const ESocketError& e) {
    fail(hisError, e.what());
  } catch (const EStreamWriteError& e) {
    fail(hisError, e.what());
  } catch (...) {
    fail(hisError, kUnknownErrorText);
  }
  result_->Edit([&](THttpResult& r) { r.resultCode_ = code; });
}

void THttpItem::KeepCutPage(TZHttp& http, const std::shared_ptr<THttpDownloaderCore>& core,
                            const THttpDownloaderSettings& s, bool inMemory, const std::string& message) {
  result_->Edit([&](THttpResult& r) { r.errorText_ = message; });
  auto docType = result_->DocumentType();
  if (docType != dtHtml && docType != dtText) {
    result_->SetState(hisSkipped);
    return;
  }
  // The part received is kept with a note saying why it ends there, and processed like a whole page, or
  // the caller would get nothing of it.
  std::string note =
      docType == dtText ? "\r\n" + message : std::string(kHtmlNoteOpen) + message + kHtmlNoteClose;
  if (inMemory) {
    http.Body.append(note);
  } else {
    std::ofstream out(http.LocalFileName, std::ios::binary | std::ios::app);
    out << note;
    out.close();
    if (out.fail()) {
      // Not even the part could be kept.
      if (result_->State() == hisRunning) result_->SetState(hisError);
      return;
    }
  }
  Process(core, s, http, inMemory);
}

std::optional<std::string> THttpItem::ReserveSubItem(THttpDownloaderCore& core,
                                                     const THttpDownloaderSettings& s,
                                                     const std::string& url) {
  if (!IsFetchable(url) || !result_->AcceptRedirection(url)) return std::nullopt;
  std::string file = result_->StoreInMemory() ? std::string() : core.DestFileName(url, s.DestFolder);
  {
    std::lock_guard<std::mutex> g(lock_);
    subItems_.push_back({url, file});
  }
  return file.substr(file.find_last_of('/') + 1);
}

std::unique_ptr<TProcessor> THttpItem::MakeProcessor(const std::shared_ptr<THttpDownloaderCore>& core,
                                                     const THttpDownloaderSettings& s,
                                                     const std::string& pageUrl) {
  switch (result_->DocumentType()) {
    case dtHtml: {
      THtmlPageContext context;
      context.PageUrl = pageUrl;
      context.UniqueId = result_->UniqueId();
      context.ParsePages = s.ParsePages;
      context.UpdateLinks = s.UpdateLinks;
      context.DownloadFrames = s.DownloadFrames;
      context.DownloadImages = s.DownloadImages;
      context.Permits = &core->ParsePermits();
      context.AddSubItem = [this, core, s](const std::string& url) { return ReserveSubItem(*core, s, url); };
      return std::make_unique<THtmlProcessor>(std::move(context));
    }
    case dtText:
      return std::make_unique<TTextProcessor>(s.BrowseMode);
    default:
      return std::make_unique<TBinaryProcessor>();
  }
}

int THttpItem::Process(const std::shared_ptr<THttpDownloaderCore>& core, const THttpDownloaderSettings& s,
                       TZHttp& http, bool inMemory) {
  if (result_->State() != hisRunning) return 1;
  std::unique_ptr<TProcessor> processor = MakeProcessor(core, s, http.URL());
  {
    std::lock_guard<std::mutex> g(lock_);
    processor_ = processor.get();
  }
  // A stop that came before the processor existed still has to end it.
  if (result_->State() != hisRunning) processor->Stop();
  THttpContent content;
  // The body moves on rather than being copied: a page may be as large as the size limit lets it be.
  int code = inMemory ? processor->ProcessStream(std::move(http.Body), content)
                      : processor->ProcessFile(http.LocalFileName, content);
  result_->Edit([&](THttpResult& r) { r.content_ = std::move(content); });
  std::vector<TSubItem> subItems;
  {
    std::lock_guard<std::mutex> g(lock_);
    subItems.swap(subItems_);
    processor_ = nullptr;
  }
  const bool running = result_->State() == hisRunning;
  for (const auto& sub : subItems) {
    if (running) {
      core->StartSubItem(shared_from_this(), sub.Url, sub.File);
    } else if (!sub.File.empty()) {
      core->ReleaseFileName(sub.File);
    }
  }
  return code;
}

}  // namespace vandrel
