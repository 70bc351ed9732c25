// Prepares a received body by its document type: HTML pages are parsed for their frames, images and
// links, text may be wrapped into HTML, binary data is kept as it came.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "http/HttpDownloader.h"

namespace vandrel {

// A counting semaphore whose count may change while nobody holds a permit.
class TParsePermits {
 public:
  void SetCount(int count);
  void Acquire();
  void Release();

 private:
  std::mutex lock_;
  std::condition_variable cv_;
  int count_ = 1;  // permits in all
  int free_ = 1;   // permits not taken
};

// Each processor answers 0 (done) or 1 (failed or stopped). Stop may come from another thread.
class TProcessor {
 public:
  virtual ~TProcessor() = default;
  virtual int ProcessStream(std::string body, THttpContent& content) = 0;
  // The content gets what was found besides the body, which stays in its file.
  virtual int ProcessFile(const std::string& path, THttpContent& content) = 0;
  void Stop() { stopped_ = true; }

 protected:
  std::atomic<bool> stopped_{false};
};

class TBinaryProcessor : public TProcessor {
 public:
  int ProcessStream(std::string body, THttpContent& content) override;
  int ProcessFile(const std::string& path, THttpContent& content) override;
};

class TTextProcessor : public TProcessor {
 public:
  explicit TTextProcessor(bool browseMode) : browseMode_(browseMode) {}
  int ProcessStream(std::string body, THttpContent& content) override;
  int ProcessFile(const std::string& path, THttpContent& content) override;

 private:
  bool browseMode_;  // wrap the text into a page
};

// What the HTML processor needs of its page's item and downloader.
struct THtmlPageContext {
  std::string PageUrl;  // where the page came from, after redirections: the base of relative addresses
  int UniqueId = 0;
  bool ParsePages = true;
  bool UpdateLinks = false;  // write resolved addresses into the page
  bool DownloadFrames = false;
  bool DownloadImages = false;
  TParsePermits* Permits = nullptr;
  // Asks for `url` to be fetched as a sub-item of the page. Answers the local file name (without folder)
  // to link to, empty when the copy stays in memory, nothing when the address is refused.
  std::function<std::optional<std::string>(const std::string& url)> AddSubItem;
};

class THtmlProcessor : public TProcessor {
 public:
  explicit THtmlProcessor(THtmlPageContext context) : context_(std::move(context)) {}
  int ProcessStream(std::string body, THttpContent& content) override;
  int ProcessFile(const std::string& path, THttpContent& content) override;

 private:
  // Parses `html` into `content`'s lists and replaces it with the rewritten page; false (and `html` left
  // alone) when pages are not parsed.
  bool Parse(std::string& html, THttpContent& content);

  THtmlPageContext context_;
};

// Trace lines of the downloader; written to stderr only when VANDREL_TRACE is set.
void DownloaderTrace(const std::string& line);

}  // namespace vandrel
