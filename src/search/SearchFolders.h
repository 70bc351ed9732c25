// The tree of search-history folders on disk and the rule that says when a stored search is old enough
// to be purged.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DateTime.h"

namespace vandrel {

// One folder of the history tree; the root's name is the history folder's path on disk. Main thread only.
class TFolderItem {
 public:
  TFolderItem(std::string name, TFolderItem* parent);
  TFolderItem(const TFolderItem&) = delete;
  TFolderItem& operator=(const TFolderItem&) = delete;

  const std::string& Name() const { return Name_; }
  TFolderItem* Parent() const { return Parent_; }
  // The names of the ancestors and this one joined by "/", ending in "/".
  std::string Path() const;
  // This folder's path relative to the root, ending in "/" ("" for the root): what operations carry.
  std::string RelativePath() const;

  size_t ChildCount() const { return Children_.size(); }
  TFolderItem* Child(size_t index) const { return Children_[index].get(); }
  // Letter case ignored, like the names of definition files.
  TFolderItem* FindChild(std::string_view name) const;

  // Rebuilds the children from the sub-directories on disk. Children that still exist keep their
  // objects (and whatever refers to them); those gone are dropped.
  void Rescan(bool recursive);
  // `path` relative to this folder, or absolute under it; "/" and "\" both separate. Null when absent.
  TFolderItem* FindByPath(std::string_view path);
  // The child of that name, its directory created when missing; null when it cannot be created or the
  // name would leave this folder.
  TFolderItem* CreateChild(const std::string& name);

 private:
  std::string Name_;
  TFolderItem* Parent_;  // null for the root
  std::vector<std::unique_ptr<TFolderItem>> Children_;
};

// The number of days a wrong setting falls back to: it must never wipe the whole history.
inline constexpr int32_t kDefaultDaysToKeepSearches = 15;
int32_t EffectiveDaysToKeep(int32_t daysToKeepSearches);
// Whether a search created at `creationDate` is purged when the history opens at `now`: counted from
// today's midnight, so a search lives whole days.
bool SearchExpired(TDateTime creationDate, TDateTime now, int32_t daysToKeepSearches);

}  // namespace vandrel
