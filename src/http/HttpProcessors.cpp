// Prepares a received body by its document type: HTML pages are parsed for their frames, images and
// links, text may be wrapped into HTML, binary data is kept as it came.
#include "http/HttpProcessors.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "html/HtmlParserEx.h"
#include "platform/Format.h"

namespace vandrel {

namespace {

const char* const kBrowseOpen = "<html><body><pre>";
const char* const kBrowseClose = "</pre></body></html>";

// A body the transfer wrote, read back. Only a regular file, and only as much as it held when asked: a
// destination such as a device would otherwise give bytes without end.
bool ReadLocalFile(const std::string& path, std::string& out) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  const auto size = std::filesystem::file_size(path, error);
  if (error) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.resize(static_cast<size_t>(size));
  in.read(out.data(), static_cast<std::streamsize>(out.size()));
  out.resize(static_cast<size_t>(in.gcount()));
  return !in.bad();
}

bool WriteLocalFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  out.close();
  return !out.fail();
}

void AddOnce(std::vector<std::string>& list, const std::string& url) {
  if (std::find(list.begin(), list.end(), url) == list.end()) list.push_back(url);
}

}  // namespace

void DownloaderTrace(const std::string& line) {
  static const bool enabled = std::getenv("VANDREL_TRACE") != nullptr;
  if (enabled) std::fprintf(stderr, "%s\n", line.c_str());
}

// ---------------------------------------------------------------------------------------------------

void TParsePermits::SetCount(int count) {
  std::lock_guard<std::mutex> g(lock_);
  free_ += count - count_;
  count_ = count;
  cv_.notify_all();
}

void TParsePermits::Acquire() {
  std::unique_lock<std::mutex> g(lock_);
  cv_.wait(g, [this] { return free_ > 0; });
  --free_;
}

void TParsePermits::Release() {
  std::lock_guard<std::mutex> g(lock_);
  ++free_;
  cv_.notify_one();
}

// ---------------------------------------------------------------------------------------------------

int TBinaryProcessor::ProcessStream(std::string body, THttpContent& content) {
  if (stopped_) return 1;
  content.Kind = 0;
  content.Stream = std::move(body);
  return 0;
}

int TBinaryProcessor::ProcessFile(const std::string&, THttpContent&) {
  return stopped_ ? 1 : 0;
}

int TTextProcessor::ProcessStream(std::string body, THttpContent& content) {
  if (stopped_) return 1;
  content.Kind = 2;
  content.Text = browseMode_ ? kBrowseOpen + body + kBrowseClose : std::move(body);
  return 0;
}

int TTextProcessor::ProcessFile(const std::string& path, THttpContent&) {
  if (stopped_) return 1;
  if (!browseMode_) return 0;
  std::string body;
  if (!ReadLocalFile(path, body)) return 1;
  return WriteLocalFile(path, kBrowseOpen + body + kBrowseClose) && !stopped_ ? 0 : 1;
}

// ---------------------------------------------------------------------------------------------------

bool THtmlProcessor::Parse(std::string& html, THttpContent& content) {
  DownloaderTrace(Format("ReadPage URL: %s UID:%d", {context_.PageUrl, context_.UniqueId}));
  if (!context_.ParsePages) return false;
  THtmlParserEx parser;
  parser.ParseImages = true;
  parser.ParseIFrames = true;
  parser.SetText(std::move(html));
  {
    // Collecting the addresses is what the permits bound.
    struct TPermit {
      TParsePermits& Permits;
      explicit TPermit(TParsePermits& p) : Permits(p) { Permits.Acquire(); }
      ~TPermit() { Permits.Release(); }
    } permit(*context_.Permits);
    parser.Parse();
    parser.ResolveLinks(context_.PageUrl);
  }

  // One sub-item per address, however often the page names it; every use links to the same copy.
  std::map<std::string, std::optional<std::string>> fetched;
  auto localName = [&](const std::string& url) -> const std::optional<std::string>& {
    auto it = fetched.find(url);
    if (it == fetched.end()) it = fetched.emplace(url, context_.AddSubItem(url)).first;
    return it->second;
  };
  auto place = [&](const TLinkList& list, std::vector<std::string>& urls, bool download) {
    for (TLinkItem* item : list) {
      AddOnce(urls, item->ResolvedUrl);
      item->Replacement = context_.UpdateLinks ? item->ResolvedUrl : item->Address;
      if (!download || stopped_) continue;
      const auto& name = localName(item->ResolvedUrl);
      item->Replacement = name && !name->empty() ? *name : item->ResolvedUrl;
    }
  };
  place(parser.Frames(), content.Frames, context_.DownloadFrames);
  place(parser.Images(), content.Images, context_.DownloadImages);
  place(parser.Links(), content.Links, false);
  parser.BuildRewrittenPage();
  html = parser.GetRewrittenPage();
  return true;
}

int THtmlProcessor::ProcessStream(std::string body, THttpContent& content) {
  if (stopped_) return 1;
  content.Kind = 1;
  Parse(body, content);
  content.Text = std::move(body);
  return stopped_ ? 1 : 0;
}

int THtmlProcessor::ProcessFile(const std::string& path, THttpContent& content) {
  if (stopped_) return 1;
  if (!context_.ParsePages) {
    DownloaderTrace(Format("ReadPage URL: %s UID:%d", {context_.PageUrl, context_.UniqueId}));
    return 0;
  }
  std::string html;
  if (!ReadLocalFile(path, html)) return 1;
  content.Kind = 1;  // the lists only: the page is in its file
  if (Parse(html, content) && !WriteLocalFile(path, html)) return 1;
  return stopped_ ? 1 : 0;
}

}  // namespace vandrel
