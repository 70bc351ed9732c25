// Posts the update requests (the names of the wanted files, ";"-joined) and collects the answers.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "http/HttpDownloader.h"
#include "update/UpdaterBlobs.h"

namespace vandrel {

// Owned by the update action. Main thread only; its events arrive on the main thread.
class TUpdateDownloader {
 public:
  explicit TUpdateDownloader(MainDispatcher& dispatcher = MainDispatcher::Default());
  ~TUpdateDownloader();
  TUpdateDownloader(const TUpdateDownloader&) = delete;
  TUpdateDownloader& operator=(const TUpdateDownloader&) = delete;

  std::string UpdaterAddress;
  std::vector<std::string> RequestedFiles;  // asked for by the next request

  THttpDownloader& HttpDownloader() { return *Http_; }
  TUpdaterBlob& Blob() { return Blob_; }
  // The last answer was read into the blob.
  bool Received() const { return Received_; }
  // Why the last request brought nothing usable; empty after a good answer.
  const std::string& ErrorText() const { return ErrorText_; }

  // The ";"-joined request body.
  std::string RequestBody() const;
  // False when nothing is asked for, or (with ErrorText set) when the address cannot take a request. On
  // true, OnDone follows exactly once.
  bool SendRequest();
  void Stop();

  // The answer was read (or failed); posted to the dispatcher after the transfer ended.
  std::function<void()> OnDone;
  // Bytes of the running answer so far and its announced length (0: unknown). Main thread.
  std::function<void(int64_t received, int64_t expected)> OnProgress;

 private:
  void ItemDone(const IHttpResultPtr& result);

  MainDispatcher& Dispatcher_;
  std::unique_ptr<THttpDownloader> Http_;
  TUpdaterBlob Blob_;
  bool Received_ = false;
  std::string ErrorText_;
  int Pending_ = 0;  // unique id of the item in flight; 0 when none
  std::shared_ptr<bool> Alive_ = std::make_shared<bool>(true);
};

}  // namespace vandrel
