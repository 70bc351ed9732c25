// Fetches web documents on the thread manager's workers and hands each back as a reference-counted result.
#include "http/HttpDownloader.h"

#include <cctype>

#include "http/CookieManager.h"
#include "http/CookieParser.h"
#include "http/HttpDownloaderCore.h"
#include "platform/TextUtils.h"

namespace vandrel {

namespace {

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
  return AsciiLowerCase(url.substr(0, i));
}

}  // namespace

THttpDownloader::THttpDownloader(MainDispatcher& dispatcher)
    : core_(std::make_shared<THttpDownloaderCore>(dispatcher)) {
  core_->Open();
}

THttpDownloader::~THttpDownloader() {
  core_->Shutdown();
}

IHttpItemPtr THttpDownloader::AddItem(const std::string& url, const std::string& destFile) {
  std::string address(Trim(url));
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
  name = std::string(Trim(name));
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
