#include "presentation/BrowserFavorites.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "html/Scanner.h"
#include "platform/JsonReader.h"
#include "platform/TextUtils.h"
#include "platform/UrlUtils.h"

namespace vandrel {
namespace {

// Bookmark files are small; a larger one is not a bookmark file.
constexpr std::uintmax_t kMaxBookmarksFileSize = 32u << 20;

void ReadChromiumNode(const TJsonValue& node, TFavoriteFolder& into, int depth) {
  if (depth > 32) return;
  const std::string type = node.Text("type");
  if (type == "url") {
    const std::string url = node.Text("url");
    if (!url.empty()) into.Links.push_back({node.Text("name"), url});
  } else if (type == "folder") {
    TFavoriteFolder folder{node.Text("name"), {}, {}};
    if (const TJsonValue* children = node.Find("children"); children && children->Type == TJsonType::jtArray)
      for (const TJsonValue& child : children->Elements) ReadChromiumNode(child, folder, depth + 1);
    into.Folders.push_back(std::move(folder));
  }
}

std::string ReadFile(const std::filesystem::path& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec || size > kMaxBookmarksFileSize) return {};
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

void SortFavorites(TFavoriteFolder& folder) {
  auto byName = [](const auto& a, const auto& b) { return CompareText(a.Name, b.Name) < 0; };
  std::stable_sort(folder.Folders.begin(), folder.Folders.end(), byName);
  std::stable_sort(folder.Links.begin(), folder.Links.end(), byName);
  for (TFavoriteFolder& child : folder.Folders) SortFavorites(child);
}

TFavoriteFolder ReadChromiumBookmarks(std::string_view json) {
  TFavoriteFolder root;
  auto document = ParseJson(json);
  if (!document) return root;
  const TJsonValue* roots = document->Find("roots");
  if (!roots || roots->Type != TJsonType::jtObject) return root;
  for (const auto& [name, node] : roots->Members)
    if (node.Type == TJsonType::jtObject) ReadChromiumNode(node, root, 0);
  // An empty root (no synced bookmarks) is not worth a submenu.
  std::erase_if(root.Folders, [](const TFavoriteFolder& folder) { return folder.Empty(); });
  return root;
}

TFavoriteFolder ReadNetscapeBookmarks(std::string_view html) {
  TFavoriteFolder root;
  std::vector<TFavoriteFolder*> open{&root};  // the folder each <DL> level fills
  std::string pendingFolder;                  // the name of the last <H3>, whose <DL> comes next
  bool folderPending = false;
  TScanner scanner;
  scanner.SetText(std::string(html));
  std::string tag, href;
  enum class TIn { inNone, inFolderName, inLinkName } in = TIn::inNone;
  std::string text;
  while (scanner.NextToken()) {
    if (scanner.Token() == tkText) {
      if (in != TIn::inNone) text += scanner.TokenText();
      continue;
    }
    if (scanner.Token() != tkTagOpen) continue;
    if (!scanner.NextToken() || scanner.Token() != tkWord) continue;
    tag = std::string(scanner.TokenText());
    href.clear();
    if (tag == "a") {
      while (scanner.NextToken() && scanner.Token() != tkTagClose) {
        if (scanner.Token() == tkWord && scanner.TokenText() == "href" && scanner.NextToken() &&
            scanner.Token() == tkEquals && scanner.ReadAttributeValue())
          href = std::string(scanner.TokenText());
      }
    } else if (scanner.Token() != tkTagClose) {
      scanner.SkipToTagEnd();
    }
    const std::string name(Trim(DecodeEntities(text)));
    if (tag == "h3") {
      in = TIn::inFolderName;
      text.clear();
    } else if (tag == "/h3" && in == TIn::inFolderName) {
      pendingFolder = name;
      folderPending = true;
      in = TIn::inNone;
    } else if (tag == "a") {
      in = TIn::inLinkName;
      text.clear();
      open.back()->Links.push_back({{}, DecodeEntities(href)});
    } else if (tag == "/a" && in == TIn::inLinkName) {
      if (!open.back()->Links.empty()) open.back()->Links.back().Name = name;
      in = TIn::inNone;
    } else if (tag == "dl") {
      if (folderPending && open.size() < 32) {
        open.back()->Folders.push_back({pendingFolder, {}, {}});
        open.push_back(&open.back()->Folders.back());
      } else {
        open.push_back(open.back());  // a list without a heading stays in its folder
      }
      folderPending = false;
    } else if (tag == "/dl") {
      if (open.size() > 1) open.pop_back();
    }
  }
  std::erase_if(root.Links, [](const TFavoriteLink& link) { return link.Url.empty(); });
  return root;
}

std::string FindBookmarksFile(const std::string& homeFolder, const std::string& configFolder) {
  namespace fs = std::filesystem;
  const fs::path config = configFolder.empty() ? fs::path(homeFolder) / ".config" : fs::path(configFolder);
  const fs::path candidates[] = {config / "chromium/Default/Bookmarks",
                                 config / "google-chrome/Default/Bookmarks",
                                 fs::path(homeFolder) / "bookmarks.html"};
  std::error_code ec;
  for (const fs::path& candidate : candidates)
    if (fs::is_regular_file(candidate, ec)) return candidate.string();
  return {};
}

TFavoriteFolder LoadUserFavorites(const std::string& homeFolder, const std::string& configFolder) {
  const std::string file = FindBookmarksFile(homeFolder, configFolder);
  if (file.empty()) return {};
  const std::string text = ReadFile(file);
  TFavoriteFolder favorites =
      file.ends_with(".html") ? ReadNetscapeBookmarks(text) : ReadChromiumBookmarks(text);
  SortFavorites(favorites);
  return favorites;
}

bool IsOpenableFavorite(std::string_view url) {
  return StartsWithText(url, "http://") || StartsWithText(url, "https://");
}

}  // namespace vandrel
