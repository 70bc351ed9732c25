// The outcome of one download item: every field behind one lock, state changes told to observers.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "http/HttpDownloader.h"

namespace vandrel {

class THttpResult : public IHttpResult, public std::enable_shared_from_this<THttpResult> {
 public:
  explicit THttpResult(std::string url) : url_(std::move(url)) { visited_.push_back(url_); }

  std::string Url() const override { return Get(&THttpResult::url_); }
  std::string ContentType() const override { return Get(&THttpResult::contentType_); }
  int64_t ContentLength() const override { return Get(&THttpResult::contentLength_); }
  double Date() const override { return Get(&THttpResult::date_); }
  double LastModified() const override { return Get(&THttpResult::lastModified_); }
  std::string Location() const override { return Get(&THttpResult::location_); }
  int StatusCode() const override { return Get(&THttpResult::statusCode_); }
  std::vector<std::string> Headers() const override { return Get(&THttpResult::headers_); }
  int64_t BytesTransferred() const override { return Get(&THttpResult::bytesTransferred_); }
  TDocumentType DocumentType() const override { return Get(&THttpResult::documentType_); }
  bool DocumentTypeForced() const override { return Get(&THttpResult::documentTypeForced_); }
  TResultType ResultType() const override { return Get(&THttpResult::resultType_); }
  THttpItemState State() const override { return Get(&THttpResult::state_); }
  int ResultCode() const override { return Get(&THttpResult::resultCode_); }
  std::string ErrorText() const override { return Get(&THttpResult::errorText_); }
  std::string LocalFileName() const override { return Get(&THttpResult::localFileName_); }
  bool StoreInMemory() const override { return Get(&THttpResult::storeInMemory_); }
  bool IsSubItem() const override { return Get(&THttpResult::isSubItem_); }
  IHttpResultPtr Parent() const override { return Get(&THttpResult::parent_); }
  int SubItemCount() const override { return Get(&THttpResult::subItemCount_); }
  int SubItemsDone() const override { return Get(&THttpResult::subItemsDone_); }
  int UniqueId() const override { return Get(&THttpResult::uniqueId_); }
  int Tag() const override { return Get(&THttpResult::tag_); }
  THttpContent Content() const override { return Get(&THttpResult::content_); }

  std::vector<std::string> Visited() const override;
  bool WasRedirected() const override;
  bool IsComplete() const override;

  void AddObserver(IHttpResultObserver* observer) override;
  void RemoveObserver(IHttpResultObserver* observer) override;
  bool AcceptRedirection(const std::string& url) override;

  // Records `url` as fetched by this result (a redirection or the request with its form data).
  void AddVisited(const std::string& url);

  // Changes the state and tells every observer, outside the lock, in registration order.
  void SetState(THttpItemState state);
  // Changes the state only when it is still `from`; answers whether it did.
  bool ChangeState(THttpItemState from, THttpItemState to);

  // Runs `edit` on the fields under the lock.
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
  int resultCode_ = 0;  // 0 processed, 1 failed or stopped
  std::string errorText_;
  std::string localFileName_;
  bool storeInMemory_ = false;
  bool isSubItem_ = false;
  IHttpResultPtr parent_;  // the page of a frame or image
  int subItemCount_ = 0;   // frames and images started for this page
  int subItemsDone_ = 0;   // of those, finished
  int uniqueId_ = 0, tag_ = 0;
  THttpContent content_;
  // The result manager's mark, main thread only: finished and counted in its parent.
  bool finished_ = false;

 private:
  template <class T>
  T Get(T THttpResult::*field) const {
    std::lock_guard<std::mutex> g(lock_);
    return this->*field;
  }
  // Not fetched by this result nor, up the chain, by its parents.
  bool MayVisit(const std::string& url) const;

  mutable std::mutex lock_;  // guards every field above and state_
  THttpItemState state_ = hisWaiting;
  mutable std::mutex visitedLock_;
  std::vector<std::string> visited_;  // every address fetched, the item's own first
  std::mutex observerLock_;
  std::vector<IHttpResultObserver*> observers_;  // not owned, registration order
};

using THttpResultPtr = std::shared_ptr<THttpResult>;

}  // namespace vandrel
