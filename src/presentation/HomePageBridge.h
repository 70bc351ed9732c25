// The home page and the program talking to each other: what the page's script functions receive, what its
// calls through the external object do, its right-click menus and its keys.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "presentation/BrowserView.h"

namespace vandrel {

// The two lists of stored searches the page shows.
enum class THomeList { hlReviews, hlCompare };

// VALUES: the link types are what the main window dispatches on.
enum class THomeLink : int {
  hlNewSearch = 0,
  hlNewReviews = 1,
  hlNewCompare = 2,
  hlLoadReviews = 3,
  hlLoadCompare = 4,
  hlCategoryProperties = 6,
};

struct THomeCategory {
  std::string BaseName;     // lower case
  std::string Description;  // of the price category
};

struct THomeEntry {
  std::string Text;      // the stored search's display value
  std::string Category;  // the display name of the search's category; empty when it is unknown
};

// What the page shows, as the main window keeps it. Main thread only.
class IHomePageSource {
 public:
  virtual ~IHomePageSource() = default;
  virtual std::vector<THomeCategory> Categories() = 0;
  // The list in the order the result frames show it, newest access first.
  virtual size_t EntryCount(THomeList list) = 0;
  virtual THomeEntry Entry(THomeList list, size_t index) = 0;  // 0-based
  // False while the action runner works on that list's history.
  virtual bool CanDelete(THomeList list) = 0;
  // Deletes the stored search without asking; false when it failed.
  virtual bool DeleteEntry(THomeList list, size_t index) = 0;
};

enum class THomeMenuKind { hmNone, hmEntry, hmCategory };

struct THomeMenu {
  THomeMenuKind Kind = THomeMenuKind::hmNone;
  bool DeleteEnabled = false;  // hmEntry only
};

// What a key pressed on the page does.
enum class THomeKeyAction { hkPass, hkSwallow, hkNewSearch, hkNextPage, hkPreviousPage };

// The keys the page treats apart from the browser.
enum class THomeKey { hkOther, hkN, hkF, hkP, hkInsert, hkBackspace, hkTab };

// Width in pixels of a text in the main window's font.
using TTextWidth = std::function<int(std::string_view text)>;

// The page's own functions and the calls it makes. Main thread only.
class THomePageBridge {
 public:
  // ORDER: a call's position is its index, as the page registers the external names.
  static constexpr const char* kExternalNames[6] = {"NewSearch",   "NewReviews",  "NewCompare",
                                                    "LoadReviews", "LoadCompare", "PageLoadDone"};
  static constexpr size_t kMaxEntries = 10;
  static constexpr int kMaxTextWidth = 215;

  // Neither is owned; both must outlive the bridge.
  THomePageBridge(IHomePageSource& source, IBrowserView& view, TTextWidth textWidth);

  // Called by the owner; type and text of a link from the page.
  std::function<void(THomeLink type, const std::string& text)> OnLink;

  // The home page became current: fill it when it was loaded, else load `pageUrl`.
  void ShowHome(const std::string& pageUrl);
  bool Loaded() const { return Loaded_; }
  // Categories, then reviews, then prices.
  void FillPage();
  void SendCategories();
  void SendList(THomeList list);

  // A call from the page through the external object; names match without regard to case. False when the
  // name is unknown.
  bool Call(std::string_view name, std::string_view argument);

  // The right-click menu for the element with that identifier.
  THomeMenu MenuFor(std::string_view elementId);
  // "&Delete" on an entry; nothing for an identifier without a valid entry number.
  void DeleteEntry(std::string_view elementId);
  // A category menu item: link `type` with the category's base name.
  void CategoryCommand(std::string_view elementId, THomeLink type);
  // The statement that clicks the element, for "&Open".
  static std::string ClickStatement(std::string_view elementId);

  static THomeKeyAction KeyAction(THomeKey key, bool ctrl, bool shift);

  // The search text as the page receives it: fitted to the width, then entity-encoded.
  std::string PageText(std::string_view text) const;

 private:
  void Run(const std::string& statement);
  void Link(THomeLink type, const std::string& text);
  // The 1-based entry number from the page, when it names an entry of `list`.
  std::optional<size_t> EntryNumber(THomeList list, std::string_view text);

  IHomePageSource& Source_;
  IBrowserView& View_;
  TTextWidth TextWidth_;
  bool Loaded_ = false;  // set when the page was asked to load; cleared by every link from the page
};

// Text for the page's HTML: blanks, quotes, ampersands, angle brackets, the trade mark and the Latin-1
// letters from U+00A1 on become named entities. Bytes that are not UTF-8 are read as Windows-1252.
std::string EncodeForPage(std::string_view text);
// A double-quoted script string literal of valid UTF-8 `text` that cannot end the literal, the statement or
// the script element around it.
std::string ScriptStringLiteral(std::string_view text);
// The longest beginning of `text` that, followed by "...", fits `maxWidth`, then "..."; a text that fits
// is kept whole. Cuts only between characters.
std::string FitText(std::string_view text, int maxWidth, const TTextWidth& width);

}  // namespace vandrel
