#include "update/UpdateDownloader.h"

namespace vandrel {

TUpdateDownloader::TUpdateDownloader(MainDispatcher& dispatcher)
    : Dispatcher_(dispatcher), Http_(std::make_unique<THttpDownloader>(dispatcher)) {
  THttpDownloaderSettings s = Http_->Settings();
  s.CruncherMode = true;
  s.StoreInMemory = true;
  s.ParsePages = false;
  s.DownloadFrames = false;
  s.DownloadImages = false;
  s.KeepResults = true;
  Http_->SetSettings(s);
  std::weak_ptr<bool> alive = Alive_;
  THttpDownloaderEvents events;
  events.OnItemDone = [this, alive](const IHttpResultPtr& result) {
    if (!alive.expired()) ItemDone(result);
  };
  events.OnItemProgress = [this, alive](const IHttpResultPtr& result) {
    if (alive.expired() || !OnProgress) return;
    OnProgress(result->BytesTransferred(), result->ContentLength());
  };
  Http_->SetEvents(std::move(events));
}

TUpdateDownloader::~TUpdateDownloader() {
  Alive_.reset();
  Http_->Stop();
}

std::string TUpdateDownloader::RequestBody() const {
  std::string body;
  for (size_t i = 0; i < RequestedFiles.size(); ++i) {
    if (i) body += ';';
    body += RequestedFiles[i];
  }
  return body;
}

bool TUpdateDownloader::SendRequest() {
  Received_ = false;
  ErrorText_.clear();
  if (RequestedFiles.empty()) return false;
  IHttpItemPtr item = Http_->AddItem(UpdaterAddress);
  if (!item) {
    ErrorText_ =
        UpdaterAddress.empty() ? "no update address" : "not an http or https address: " + UpdaterAddress;
    return false;
  }
  THttpParam& p = item->Params();
  p.TransferMethod.Set(hmPost);
  // The answer is a blob whatever type the site declares; a text or HTML reading would alter its bytes.
  p.DocumentType.Set(dtBinary);
  p.StoreInMemory.Set(true);
  p.PostStream = RequestBody();
  Pending_ = item->UniqueId();
  item->Run();
  return true;
}

void TUpdateDownloader::Stop() {
  Http_->Stop();
}

void TUpdateDownloader::ItemDone(const IHttpResultPtr& result) {
  if (!result || result->UniqueId() != Pending_) return;
  Pending_ = 0;
  const THttpItemState state = result->State();
  const int status = result->StatusCode();
  if (result->ResultCode() != 0 || (state != hisDoneItem && state != hisDonePage)) {
    ErrorText_ = result->ErrorText().empty() ? "the update site did not answer" : result->ErrorText();
  } else if (status < 200 || status > 299) {
    ErrorText_ = "the update site answered with status " + std::to_string(status);
  } else {
    const THttpContent content = result->Content();
    const TBlobReadResult read = Blob_.LoadFromBytes(content.Stream);
    if (read == TBlobReadResult::Ok)
      Received_ = true;
    else
      ErrorText_ = std::string("unreadable answer: ") + BlobReadResultText(read);
  }
  // The next step may send another request: leave the downloader's own callback first.
  std::weak_ptr<bool> alive = Alive_;
  Dispatcher_.Post([this, alive] {
    if (!alive.expired() && OnDone) OnDone();
  });
}

}  // namespace vandrel
