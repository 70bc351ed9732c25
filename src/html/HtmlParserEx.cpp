#include "html/HtmlParserEx.h"

#include <algorithm>
#include <ostream>

#include "platform/TextUtils.h"
#include "platform/UrlUtils.h"

namespace vandrel {

namespace {

bool IsLineBlank(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

// --- Lists ----------------------------------------------------------------------------------------------

int TLinkList::IndexOf(std::string_view address) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i]->Address == address) return static_cast<int>(i);
  return -1;
}

TUniqueUrlItem& TUniqueUrlList::Add(std::string_view url, TLinkItem* link) {
  auto it = items_.find(url);
  if (it == items_.end())
    it = items_.emplace(std::string(url), TUniqueUrlItem{std::string(url), {}, {}}).first;
  if (link) it->second.Links.push_back(link);
  return it->second;
}

const TUniqueUrlItem* TUniqueUrlList::Find(std::string_view url) const {
  auto it = items_.find(url);
  return it != items_.end() ? &it->second : nullptr;
}

std::string TMetaList::Value(std::string_view name) const {
  auto it = items_.lower_bound(name);  // the first of equal names is the earliest in the page
  return (it != items_.end() && it->first == name) ? it->second : std::string();
}

std::string CleanHtmlText(std::string_view text) {
  if (text.find_first_of("\r\n") == std::string_view::npos) return std::string(text);
  std::string out;
  size_t start = 0;
  bool first = true;
  while (start <= text.size()) {
    size_t brk = text.find_first_of("\r\n", start);
    size_t end = brk == std::string_view::npos ? text.size() : brk;
    std::string_view piece = text.substr(start, end - start);
    // Blanks next to a line break go with it; the text's own outer blanks stay.
    if (!first)
      while (!piece.empty() && IsLineBlank(piece.front())) piece.remove_prefix(1);
    if (brk != std::string_view::npos)
      while (!piece.empty() && IsLineBlank(piece.back())) piece.remove_suffix(1);
    if (!piece.empty()) {
      if (!out.empty()) out += ' ';
      out += piece;
    }
    first = false;
    if (brk == std::string_view::npos) break;
    start = brk + 1;
  }
  return out;
}

// --- THtmlParserEx --------------------------------------------------------------------------------------

THtmlParserEx::THtmlParserEx() = default;
THtmlParserEx::~THtmlParserEx() = default;

void THtmlParserEx::SetText(std::string text) {
  TWordScanner::SetText(std::move(text));
  ClearResults();
}

void THtmlParserEx::ClearResults() {
  items_.clear();
  links_.Clear();
  images_.Clear();
  frames_.Clear();
  replacements_.clear();
  elements_.clear();
  meta_.Clear();
  baseUrl_.clear();
  title_.clear();
  rewritten_.clear();
  rewrittenBuilt_ = false;
  parsed_ = false;
  frameStack_.clear();
  texts_.clear();
  contexts_.clear();
  mode_ = pmBody;
  sawBody_ = false;
}

void THtmlParserEx::AddToLists(TLinkItem* item) {
  switch (item->Kind) {
    case lkImage:
      images_.Add(item);
      break;
    case lkFrame:
      frames_.Add(item);
      break;
    default:
      links_.Add(item);
      break;
  }
}

TLinkItem& THtmlParserEx::AddLink(std::string_view address, TLinkKind kind, size_t position) {
  auto item = std::make_unique<TLinkItem>();
  item->Position = position;
  item->Address = std::string(address);
  item->Replacement = item->Address;  // an untouched link is written back as it was
  item->Kind = kind;
  TLinkItem* raw = item.get();
  items_.push_back(std::move(item));
  AddToLists(raw);
  elements_.push_back({position, true, items_.size() - 1});
  rewrittenBuilt_ = false;
  return *raw;
}

void THtmlParserEx::AddReplacement(size_t position, size_t length, std::string text) {
  replacements_.push_back({position, length, std::move(text)});
  elements_.push_back({position, false, replacements_.size() - 1});
  rewrittenBuilt_ = false;
}

void THtmlParserEx::ReadAttributes() {
  attrCount_ = 0;
  NextToken();
  while (InTag()) {
    THtmlTokenKind t = Token();
    if (t == tkTagClose || t == tkEnd) break;
    if (t != tkWord) {
      NextToken();
      continue;
    }
    if (attrCount_ == attrs_.size()) attrs_.emplace_back();
    TAttribute& a = attrs_[attrCount_++];
    a.Name.assign(TokenText());
    a.Value = {};
    a.Position = kNoOffset;
    NextToken();
    if (Token() == tkEquals) {
      if (ReadAttributeValue()) {
        a.Value = TokenText();
        a.Position = TokenStart();
      }
      NextToken();
    }
  }
}

const THtmlParserEx::TAttribute* THtmlParserEx::Attribute(std::string_view name) const {
  for (size_t i = 0; i < attrCount_; ++i)
    if (attrs_[i].Name == name && attrs_[i].Position != kNoOffset) return &attrs_[i];
  return nullptr;
}

void THtmlParserEx::PushFrame(std::string_view stop, TFrameAction action, size_t link) {
  size_t textIndex = kNoOffset;
  if ((action == faAnchor && CollectLinkText) || action == faTitle) {
    texts_.emplace_back();
    textIndex = texts_.size() - 1;
  }
  frameStack_.push_back({stop, action, mode_, link, textIndex});
}

void THtmlParserEx::CloseFrame(size_t closeOffset) {
  TFrame f = frameStack_.back();
  frameStack_.pop_back();
  std::string text;
  if (f.TextIndex != kNoOffset) {
    text = std::move(texts_.back());
    texts_.pop_back();
  }
  switch (f.Action) {
    case faAnchor: {
      TLinkItem& item = *items_[f.Link];
      item.AnchorEnd = closeOffset;
      if (f.TextIndex != kNoOffset) item.AnchorText = CleanHtmlText(text);
      break;
    }
    case faForm:
    case faSelect:
      if (!contexts_.empty()) contexts_.pop_back();
      break;
    case faHead:
    case faBody:
      mode_ = f.SavedMode;
      break;
    case faTitle:
      title_ = CleanHtmlText(text);
      break;
    case faNone:
      break;
  }
}

void THtmlParserEx::SkipPast(std::string_view closer) {
  if (FindNext(closer, false))
    SetPosition(Position() + closer.size());
  else
    SetPosition(Length());
}

void THtmlParserEx::Parse() {
  ClearResults();
  SetPosition(0);
  // One loop with an explicit stack of open elements instead of recursion, so deeply nested or
  // unclosed tags cannot exhaust the stack.
  while (NextToken()) {
    if (Token() == tkText) {
      // The innermost collector gets the text even from inside a <span> or <td> of its own, so an
      // anchor keeps all its words; an anchor nested in another keeps its text to itself.
      if (!texts_.empty()) texts_.back().append(TokenText());
      continue;
    }
    if (Token() != tkTagOpen) continue;
    size_t tagStart = TokenStart();
    if (!NextToken()) break;
    if (Token() == tkTagClose) continue;  // "<>"
    bool isWord = Token() == tkWord;
    tagName_.assign(TokenText());
    if (!frameStack_.empty() && tagName_ == frameStack_.back().Stop) {
      SkipToTagEnd();
      CloseFrame(tagStart);
      continue;
    }
    if (!DispatchTag(tagName_, isWord, tagStart)) SkipToTagEnd();
  }
  while (!frameStack_.empty()) CloseFrame(Length());
  parsed_ = true;
}

bool THtmlParserEx::DispatchTag(std::string_view name, bool isWord, size_t tagStart) {
  if (!contexts_.empty() && contexts_.back() == pcSelect) {
    if (isWord && name == "option") {
      ReadAttributes();  // the option's value is read and not used
      return true;
    }
    return false;
  }

  if (name == "html") {
    SkipToTagEnd();
    PushFrame("/html", faNone);
    return true;
  }
  if (name == "head") {
    SkipToTagEnd();
    PushFrame("/head", faHead);
    mode_ = pmHead;
    return true;
  }
  if (name == "comment") {
    SkipPast("/comment>");
    return true;
  }
  if (name == "script") {
    SkipPast("/script>");
    return true;
  }
  if (name == CommentOpener) {
    size_t end = FindNext("-->", true) ? Position() + 3 : Length();
    if (StripComments) AddReplacement(tagStart, end - tagStart, std::string());
    SetPosition(end);
    return true;
  }
  if (name == "frame" || (name == "iframe" && ParseIFrames)) {
    ReadAttributes();
    if (const TAttribute* src = Attribute("src")) AddLink(src->Value, lkFrame, src->Position);
    return true;
  }
  if (!isWord) return false;

  // Head tags are also read before any <body> on pages that leave out <head>.
  if (mode_ == pmHead || !sawBody_) {
    if (name == "base" && ParseLinks) {
      ReadAttributes();
      if (const TAttribute* href = Attribute("href")) baseUrl_ = std::string(href->Value);
      return true;
    }
    if (name == "link" && ParseLinks) {
      ReadAttributes();
      if (const TAttribute* href = Attribute("href")) AddLink(href->Value, lkLink, href->Position);
      return true;
    }
    if (name == "meta") {
      ReadAttributes();
      const TAttribute* equiv = Attribute("http-equiv");
      const TAttribute* content = Attribute("content");
      if (equiv)
        meta_.Add(AsciiLowerCase(equiv->Value), content ? AsciiLowerCase(content->Value) : std::string());
      return true;
    }
    if (name == "title") {
      SkipToTagEnd();
      PushFrame("/title", faTitle);
      return true;
    }
  }
  if (mode_ != pmBody && name != "body") return false;

  auto addBackground = [this] {
    if (!ParseImages) return;
    if (const TAttribute* bg = Attribute("background")) AddLink(bg->Value, lkImage, bg->Position);
  };
  if (name == "body") {
    ReadAttributes();
    addBackground();
    PushFrame("/body", faBody);
    // A <body> ends the head even when "</head>" is missing.
    mode_ = pmBody;
    sawBody_ = true;
    return true;
  }
  if (name == "a") {
    if (!ParseLinks) return false;
    ReadAttributes();
    const TAttribute* href = Attribute("href");
    if (!href) return true;
    TLinkItem& item = AddLink(href->Value, lkLink, href->Position);
    item.AnchorStart = tagStart;
    PushFrame("/a", faAnchor, items_.size() - 1);
    return true;
  }
  if (name == "img") {
    if (!ParseImages) return false;
    ReadAttributes();
    if (const TAttribute* src = Attribute("src")) AddLink(src->Value, lkImage, src->Position);
    return true;
  }
  if (name == "area") {
    if (!ParseLinks) return false;
    ReadAttributes();
    if (const TAttribute* href = Attribute("href")) AddLink(href->Value, lkLink, href->Position);
    return true;
  }
  if (name == "form") {
    if (!ParseForms) return false;
    ReadAttributes();
    if (const TAttribute* action = Attribute("action")) AddLink(action->Value, lkLink, action->Position);
    contexts_.push_back(pcForm);
    PushFrame("/form", faForm);
    return true;
  }
  if (name == "input") {
    if (contexts_.empty() || contexts_.back() != pcForm) return false;
    ReadAttributes();
    const TAttribute* type = Attribute("type");
    const TAttribute* src = Attribute("src");
    if (type && src && AsciiLowerCase(type->Value) == "image") AddLink(src->Value, lkImage, src->Position);
    return true;
  }
  if (name == "select") {
    SkipToTagEnd();
    contexts_.push_back(pcSelect);
    PushFrame("/select", faSelect);
    return true;
  }
  static constexpr std::string_view kBlocks[][2] = {
      {"div", "/div"}, {"span", "/span"}, {"table", "/table"}, {"td", "/td"}, {"tr", "/tr"}};
  for (const auto& block : kBlocks) {
    if (name == block[0]) {
      ReadAttributes();
      addBackground();
      PushFrame(block[1], faNone);
      return true;
    }
  }
  return false;
}

void THtmlParserEx::ResolveLinks(std::string_view pageUrl) {
  TUrlParserEx page(pageUrl);
  std::string base = baseUrl_.empty() ? page.Url() : TUrlParserEx(baseUrl_, &page).Url();
  if (pageUrl.empty() && baseUrl_.empty()) base.clear();
  TUrlParserEx baseParser(base);
  TUrlParserEx link;
  link.SetBase(base.empty() ? nullptr : &baseParser);
  for (const auto& item : items_) {
    link.SetUrl(item->Address);
    item->ResolvedUrl = link.Url();
  }
}

const TLinkItem* THtmlParserEx::LinkAt(size_t position) const {
  const TLinkItem* found = nullptr;
  for (const TLinkItem* link : links_) {
    if (link->AnchorStart == kNoOffset) continue;
    if (link->AnchorStart > position) break;
    if (link->AnchorEnd >= position) found = link;
  }
  return found;
}

std::string THtmlParserEx::FindLinkAtText(std::string_view page, std::string_view what, bool plain) {
  if (page != Text()) SetText(std::string(page));
  SkipTags = plain;
  if (!parsed_) Parse();
  SetPosition(0);
  if (!FindText(what)) return {};
  const TLinkItem* link = LinkAt(Position());
  return link ? link->Address : std::string();
}

void THtmlParserEx::BuildRewrittenPage() {
  std::vector<TElement> order(elements_);
  std::stable_sort(order.begin(), order.end(),
                   [](const TElement& a, const TElement& b) { return a.Position < b.Position; });
  const std::string& page = Text();
  rewritten_.clear();
  rewritten_.reserve(page.size() + page.size() * 3 / 4);
  size_t cursor = 0;
  for (const TElement& e : order) {
    // An element inside one already written (or past the page) cannot be applied without garbling.
    if (e.Position < cursor || e.Position > page.size()) continue;
    rewritten_.append(page, cursor, e.Position - cursor);
    if (e.IsLink) {
      const TLinkItem& item = *items_[e.Index];
      rewritten_ += item.Replacement;
      cursor = e.Position + std::min(item.Address.size(), page.size() - e.Position);
    } else {
      const TReplaceItem& r = replacements_[e.Index];
      rewritten_ += r.Text;
      cursor = e.Position + std::min(r.Length, page.size() - e.Position);
    }
  }
  rewritten_.append(page, cursor, std::string::npos);
  rewrittenBuilt_ = true;
}

void THtmlParserEx::SaveToStream(std::ostream& stream) const {
  if (!rewrittenBuilt_) return TScanner::SaveToStream(stream);
  stream.write(rewritten_.data(), static_cast<std::streamsize>(rewritten_.size()));
}

}  // namespace vandrel
