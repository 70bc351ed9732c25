// One download item: runs its transfer on a worker thread, ends in one state with its text, and hands
// the body to the processor of its document type.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "http/HttpDownloader.h"
#include "http/HttpResult.h"

namespace vandrel {

class THttpDownloaderCore;
class TProcessor;

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
  void SetTag(int tag) override;
  void Run() override { threadItem_->Run(); }
  void RunPriority() override { threadItem_->RunPriority(); }
  int UniqueId() const override { return threadItem_->GetUniqueId(); }
  IHttpResultPtr Result() const override { return result_; }
  bool IsSubItem() const override { return isSubItem_; }
  TThreadItemPtr ThreadItem() const override { return threadItem_; }
  void SetState(THttpItemState state) override { result_->SetState(state); }
  const THttpResultPtr& ResultImpl() const { return result_; }

  // IClientItem
  void Execute() override;  // worker thread
  void Prepare() override;  // manager thread
  void Stop() override;     // stop thread

 private:
  // The progress report, run on the main thread while the worker waits.
  class TProgressEvent : public IClientEvent {
   public:
    explicit TProgressEvent(THttpItem& item) : item_(item) {}
    void Execute() override;

   private:
    THttpItem& item_;
  };
  // A frame or image found while processing, started once the page is processed.
  struct TSubItem {
    std::string Url;
    std::string File;  // reserved destination; empty in memory
  };

  // Sets the transfer up from the settings and parameters.
  void Configure(TZHttp& http, THttpDownloaderCore& core, const THttpDownloaderSettings& s, bool inMemory,
                 TZHttpMethod method);
  void RunTransfer(TZHttp& http, const std::shared_ptr<THttpDownloaderCore>& core,
                   const THttpDownloaderSettings& s, TZHttpMethod method, bool inMemory);
  // A page cut by the size limit: keeps what came, with the reason after it.
  void KeepCutPage(TZHttp& http, const std::shared_ptr<THttpDownloaderCore>& core,
                   const THttpDownloaderSettings& s, bool inMemory, const std::string& message);
  int Process(const std::shared_ptr<THttpDownloaderCore>& core, const THttpDownloaderSettings& s,
              TZHttp& http, bool inMemory);
  std::unique_ptr<TProcessor> MakeProcessor(const std::shared_ptr<THttpDownloaderCore>& core,
                                            const THttpDownloaderSettings& s, const std::string& pageUrl);
  // Reserves a sub-item for `url`: its local file name without folder (empty in memory), or nothing when
  // the page may not fetch it.
  std::optional<std::string> ReserveSubItem(THttpDownloaderCore& core, const THttpDownloaderSettings& s,
                                            const std::string& url);
  void HeadersLoaded(TZHttp& http, const std::shared_ptr<THttpDownloaderCore>& core);
  void Progress(int64_t transferred, const std::shared_ptr<THttpDownloaderCore>& core);

  std::weak_ptr<THttpDownloaderCore> core_;  // weak: the downloader may go first
  const std::string url_;
  const std::string destFile_;  // as given; empty: a name is made in DestFolder
  const bool isSubItem_;
  THttpParam params_;
  THttpResultPtr result_;
  TThreadItemPtr threadItem_;
  std::mutex lock_;  // guards http_, processor_ and subItems_
  TZHttp* http_ = nullptr;
  TProcessor* processor_ = nullptr;
  std::vector<TSubItem> subItems_;
};

}  // namespace vandrel
