#include "search/SearchFolders.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "platform/TextUtils.h"

namespace fs = std::filesystem;

namespace vandrel {
namespace {

std::vector<std::string> SplitPath(std::string_view path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path) {
    if (c == '/' || c == '\\') {
      if (!part.empty()) parts.push_back(std::move(part));
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(std::move(part));
  return parts;
}

bool IsPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string_view::npos;
}

}  // namespace

TFolderItem::TFolderItem(std::string name, TFolderItem* parent) : Name_(std::move(name)), Parent_(parent) {}

std::string TFolderItem::Path() const {
  std::string path = Parent_ ? Parent_->Path() : std::string();
  path += Name_;
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

std::string TFolderItem::RelativePath() const {
  if (!Parent_) return {};
  return Parent_->RelativePath() + Name_ + "/";
}

TFolderItem* TFolderItem::FindChild(std::string_view name) const {
  for (const auto& child : Children_)
    if (SameText(child->Name_, name)) return child.get();
  return nullptr;
}

void TFolderItem::Rescan(bool recursive) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(Path(), error), end; !error && it != end; it.increment(error)) {
    std::error_code kindError;
    if (!it->is_directory(kindError)) continue;
    std::string name = it->path().filename().string();
    if (IsPlainName(name)) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  std::vector<std::unique_ptr<TFolderItem>> children;
  for (const std::string& name : names) {
    auto same = std::find_if(Children_.begin(), Children_.end(),
                             [&](const auto& child) { return child && child->Name_ == name; });
    if (same != Children_.end())
      children.push_back(std::move(*same));
    else
      children.push_back(std::make_unique<TFolderItem>(name, this));
  }
  Children_ = std::move(children);
  if (recursive)
    for (auto& child : Children_) child->Rescan(true);
}

TFolderItem* TFolderItem::FindByPath(std::string_view path) {
  std::string own = Path();
  if (!path.empty() && path.front() == '/') {
    // An absolute path must lie under this folder.
    std::string absolute(path);
    if (absolute.back() != '/') absolute += '/';
    if (absolute.compare(0, own.size(), own) != 0) return nullptr;
    path.remove_prefix(std::min(path.size(), own.size()));
  }
  TFolderItem* folder = this;
  for (const std::string& part : SplitPath(path)) {
    if (part == ".") continue;
    folder = folder->FindChild(part);
    if (!folder) return nullptr;
  }
  return folder;
}

TFolderItem* TFolderItem::CreateChild(const std::string& name) {
  if (!IsPlainName(name)) return nullptr;
  if (TFolderItem* existing = FindChild(name)) return existing;
  std::error_code error;
  fs::create_directories(Path() + name, error);
  if (!fs::is_directory(Path() + name, error)) return nullptr;
  Children_.push_back(std::make_unique<TFolderItem>(name, this));
  return Children_.back().get();
}

int32_t EffectiveDaysToKeep(int32_t daysToKeepSearches) {
  return daysToKeepSearches < 1 ? kDefaultDaysToKeepSearches : daysToKeepSearches;
}

bool SearchExpired(TDateTime creationDate, TDateTime now, int32_t daysToKeepSearches) {
  const TDateTime today = std::floor(now);
  return today - creationDate >= EffectiveDaysToKeep(daysToKeepSearches);
}

}  // namespace vandrel
