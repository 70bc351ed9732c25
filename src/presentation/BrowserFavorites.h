// The user's favourites for the browser pane's menu, read from a desktop browser's bookmarks: Chromium's
// (and Chrome's) "Bookmarks" file or a bookmarks page exported in the Netscape format (Firefox).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vandrel {

struct TFavoriteLink {
  std::string Name;
  std::string Url;
};

struct TFavoriteFolder {
  std::string Name;
  std::vector<TFavoriteFolder> Folders;
  std::vector<TFavoriteLink> Links;

  bool Empty() const { return Folders.empty() && Links.empty(); }
};

// Sub-folders and links each sorted by display name, without regard to case, at every level.
void SortFavorites(TFavoriteFolder& folder);

// The roots of a Chromium "Bookmarks" file as sub-folders; empty when the text is not one.
TFavoriteFolder ReadChromiumBookmarks(std::string_view json);
// A Netscape bookmark page ("<DL><DT><H3>folder</H3><DL>...</DL><DT><A HREF=...>link</A>").
TFavoriteFolder ReadNetscapeBookmarks(std::string_view html);

// The bookmarks file of the first browser found under the user's folders: Chromium, Chrome, then an
// exported "bookmarks.html" in the home folder. Empty when there is none.
std::string FindBookmarksFile(const std::string& homeFolder, const std::string& configFolder);
// Reads and sorts the file found above; an empty folder when none is found or it does not read.
TFavoriteFolder LoadUserFavorites(const std::string& homeFolder, const std::string& configFolder);

// Only web addresses are opened from a favourite; anything else (script, data, local files) is refused.
bool IsOpenableFavorite(std::string_view url);

}  // namespace vandrel
