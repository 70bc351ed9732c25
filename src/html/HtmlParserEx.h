// Tokenises a page and collects its links, frames, forms and meta data with their byte offsets; rewrites
// the page with replaced addresses.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "html/WordScanner.h"

namespace vandrel {

// Stored with downloaded content: keep the numbers.
enum TLinkKind : int { lkLink = 0, lkImage = 1, lkFrame = 2 };

inline constexpr size_t kNoOffset = static_cast<size_t>(-1);

// One address found in the page.
struct TLinkItem {
  size_t Position = 0;      // offset of the address value (after its opening quote)
  std::string Address;      // as written
  std::string Replacement;  // written instead of Address by the rewriter; starts as Address
  std::string ResolvedUrl;  // filled by ResolveLinks
  TLinkKind Kind = lkLink;
  std::string AnchorText;          // <a> only, when collected
  size_t AnchorStart = kNoOffset;  // offset of the "<" of the <a>; kNoOffset for other elements
  size_t AnchorEnd = kNoOffset;    // offset of the "<" of its "</a>"; page length when never closed
};

// A stretch of the page written differently by the rewriter (an empty Text removes it).
struct TReplaceItem {
  size_t Position = 0;
  size_t Length = 0;
  std::string Text;
};

// Links in page order, duplicates kept. Items belong to the parser that found them.
class TLinkList {
 public:
  size_t Count() const { return items_.size(); }
  TLinkItem& operator[](size_t i) const { return *items_[i]; }
  // First item with that address as written, or -1.
  int IndexOf(std::string_view address) const;
  void Add(TLinkItem* item) { items_.push_back(item); }
  void Clear() { items_.clear(); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  std::vector<TLinkItem*> items_;
};

// One resolved address and the link items that use it (not owned: valid while their parser lives).
struct TUniqueUrlItem {
  std::string Url;
  std::string LocalFileName;
  std::vector<TLinkItem*> Links;
};

// Resolved addresses, sorted, each once.
class TUniqueUrlList {
 public:
  TUniqueUrlItem& Add(std::string_view url, TLinkItem* link);
  const TUniqueUrlItem* Find(std::string_view url) const;
  size_t Count() const { return items_.size(); }
  // Iterates pairs of address and item, in address order.
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }
  auto begin() { return items_.begin(); }
  auto end() { return items_.end(); }
  void Clear() { items_.clear(); }

 private:
  std::map<std::string, TUniqueUrlItem, std::less<>> items_;
};

// http-equiv names and contents (both lower-case), sorted by name, duplicates kept in page order.
class TMetaList {
 public:
  void Add(std::string name, std::string content) { items_.emplace(std::move(name), std::move(content)); }
  // Content of the first entry of that name, or empty.
  std::string Value(std::string_view name) const;
  size_t Count() const { return items_.size(); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }
  void Clear() { items_.clear(); }

 private:
  std::multimap<std::string, std::string, std::less<>> items_;
};

// Joins the lines of a title or anchor text with single spaces, dropping the blanks around each break.
std::string CleanHtmlText(std::string_view text);

// The forgiving tag loop with the full tag set. Never fails: malformed pages give what could be read.
// Each instance is independent, so download workers may each run their own.
class THtmlParserEx : public TWordScanner {
 public:
  THtmlParserEx();
  ~THtmlParserEx() override;

  // Options, read by Parse.
  bool ParseLinks = true;        // <a href>, <area href>, <base href>, <link href>
  bool ParseForms = true;        // <form action>, <input type=image src>
  bool ParseImages = false;      // <img src>, background=
  bool ParseIFrames = false;     // <iframe src>
  bool CollectLinkText = false;  // anchor texts
  bool StripComments = true;     // comments leave the rewritten page

  void SetText(std::string text) override;
  // Clears earlier results and reads the whole page.
  void Parse();
  bool Parsed() const { return parsed_; }

  TLinkItem& AddLink(std::string_view address, TLinkKind kind, size_t position);
  void AddReplacement(size_t position, size_t length, std::string text);

  // Fills every item's ResolvedUrl against <base href> (itself resolved against `pageUrl`) or the page.
  void ResolveLinks(std::string_view pageUrl);

  // The innermost anchor that contains `position`, or null.
  const TLinkItem* LinkAt(size_t position) const;
  // Address as written of the anchor around the first occurrence of visible `what` in `page`; `plain`
  // passes tags over (use it when `what` holds no markup). Loads and parses `page` when it is new.
  std::string FindLinkAtText(std::string_view page, std::string_view what, bool plain);

  void BuildRewrittenPage();
  const std::string& GetRewrittenPage() const { return rewritten_; }
  // Writes the rewritten page once it has been built, else the page (SaveToFile goes through here).
  void SaveToStream(std::ostream& stream) const override;

  const TLinkList& Links() const { return links_; }
  const TLinkList& Images() const { return images_; }
  const TLinkList& Frames() const { return frames_; }
  const std::vector<TReplaceItem>& Replacements() const { return replacements_; }
  const TMetaList& Meta() const { return meta_; }
  const std::string& BaseUrl() const { return baseUrl_; }
  const std::string& Title() const { return title_; }

 protected:
  enum TMode { pmHead, pmBody };
  enum TContext { pcForm, pcSelect };

  // Interprets the tag whose name was just read (the scanner stands after it, inside the tag). Answers
  // false to have the rest of the tag skipped. `tagStart` is the offset of its "<".
  virtual bool DispatchTag(std::string_view name, bool isWord, size_t tagStart);

  struct TAttribute {
    std::string Name;             // lower-cased
    std::string_view Value;       // as written, into the page
    size_t Position = kNoOffset;  // offset of the value; kNoOffset without "="
  };
  // Reads the attributes up to and including the tag's ">".
  void ReadAttributes();
  const TAttribute* Attribute(std::string_view name) const;

  // Runs the tag loop until `stop` (a closing tag name such as "/a") is met; the action runs then.
  enum TFrameAction { faNone, faAnchor, faForm, faSelect, faHead, faBody, faTitle };
  void PushFrame(std::string_view stop, TFrameAction action, size_t link = kNoOffset);
  // Skips to just after `closer` (case-insensitive) or to the end of the page.
  void SkipPast(std::string_view closer);

  TMode mode_ = pmBody;
  bool sawBody_ = false;  // a <body> tag was met: head tags are no longer read outside <head>
  std::vector<TContext> contexts_;

 private:
  struct TFrame {
    std::string_view Stop;
    TFrameAction Action;
    TMode SavedMode;
    size_t Link;       // index into items_ for faAnchor
    size_t TextIndex;  // index into texts_ when collecting, else kNoOffset
  };
  void CloseFrame(size_t closeOffset);
  void ClearResults();
  void AddToLists(TLinkItem* item);

  std::vector<std::unique_ptr<TLinkItem>> items_;  // owns every link item
  TLinkList links_, images_, frames_;
  std::vector<TReplaceItem> replacements_;
  struct TElement {
    size_t Position;
    bool IsLink;
    size_t Index;  // into items_ or replacements_
  };
  std::vector<TElement> elements_;  // in insertion order; the rewriter sorts a copy by position
  TMetaList meta_;
  std::string baseUrl_;
  std::string title_;
  std::string rewritten_;
  bool rewrittenBuilt_ = false;
  bool parsed_ = false;

  std::vector<TFrame> frameStack_;
  std::vector<std::string> texts_;  // texts being collected by open frames
  std::vector<TAttribute> attrs_;
  size_t attrCount_ = 0;
  std::string tagName_;
};

}  // namespace vandrel
