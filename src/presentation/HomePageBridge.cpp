#include "presentation/HomePageBridge.h"

#include <charconv>
#include <iterator>

#include "platform/TextUtils.h"

namespace vandrel {
namespace {

// The HTML 4 names of the Latin-1 characters U+00A1 to U+00FF, in code order.
constexpr const char* kLatin1Entities[] = {
    "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",    "copy",   "ordf",
    "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn", "sup2",   "sup3",   "acute",
    "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12", "frac34",
    "iquest", "Agrave", "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave",
    "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve",
    "Oacute", "Ocirc",  "Otilde", "Ouml",   "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",
    "Yacute", "THORN",  "szlig",  "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",
    "ccedil", "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",   "eth",
    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave", "uacute",
    "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};
static_assert(std::size(kLatin1Entities) == 0xFF - 0xA1 + 1);

constexpr std::string_view kEllipsis = "...";

// The code point of the well-formed UTF-8 sequence of `length` bytes at `pos`.
char32_t DecodeAt(std::string_view text, size_t pos, size_t length) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[pos + i]); };
  switch (length) {
    case 1:
      return byte(0);
    case 2:
      return ((byte(0) & 0x1F) << 6) | (byte(1) & 0x3F);
    case 3:
      return ((byte(0) & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
    default:
      return ((byte(0) & 0x07) << 18) | ((byte(1) & 0x3F) << 12) | ((byte(2) & 0x3F) << 6) | (byte(3) & 0x3F);
  }
}

const char* EntityName(char32_t code) {
  switch (code) {
    case U' ':
      return "nbsp";
    case U'"':
      return "quot";
    case U'&':
      return "amp";
    case U'<':
      return "lt";
    case U'>':
      return "gt";
    case U'\u2122':  // the trade mark, byte 153 of the Western code page
      return "trade";
    default:
      if (code >= 0xA1 && code <= 0xFF) return kLatin1Entities[code - 0xA1];
      return nullptr;
  }
}

const char* ListFunction(THomeList list) {
  return list == THomeList::hlReviews ? "Reviews" : "Compare";
}

}  // namespace

std::string EncodeForPage(std::string_view text) {
  const std::string shown = ToDisplayText(text);
  std::string out;
  out.reserve(shown.size());
  for (size_t pos = 0; pos < shown.size();) {
    const size_t length = std::max<size_t>(Utf8SequenceLength(shown, pos), 1);
    if (const char* name = EntityName(DecodeAt(shown, pos, length))) {
      out += '&';
      out += name;
      out += ';';
    } else {
      out.append(shown, pos, length);
    }
    pos += length;
  }
  return out;
}

std::string ScriptStringLiteral(std::string_view text) {
  const std::string shown = ToDisplayText(text);
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "\"";
  for (size_t pos = 0; pos < shown.size(); ++pos) {
    const auto c = static_cast<unsigned char>(shown[pos]);
    // Angle brackets are written as escapes too, so "</script>" or "<!--" in the text
    // cannot end or open anything around the statement, wherever it is placed.
    if (c < 0x20 || c == 0x7F || c == '<' || c == '>' || c == '\'' || c == '"' || c == '\\') {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    } else if (c == 0xE2 && pos + 2 < shown.size() && static_cast<unsigned char>(shown[pos + 1]) == 0x80 &&
               (static_cast<unsigned char>(shown[pos + 2]) == 0xA8 ||
                static_cast<unsigned char>(shown[pos + 2]) == 0xA9)) {
      // Line and paragraph separators end a line in older script engines.
      out += static_cast<unsigned char>(shown[pos + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
      pos += 2;
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
  return out;
}

std::string FitText(std::string_view text, int maxWidth, const TTextWidth& width) {
  if (!width || width(text) <= maxWidth) return std::string(text);
  // Character boundaries, so a cut never splits a multi-byte character.
  std::vector<size_t> ends;
  for (size_t pos = 0; pos < text.size();) {
    pos += std::max<size_t>(Utf8SequenceLength(text, pos), 1);
    ends.push_back(std::min(pos, text.size()));
  }
  std::string fitted;
  for (auto it = ends.rbegin(); it != ends.rend(); ++it) {
    std::string candidate = std::string(text.substr(0, *it)) + std::string(kEllipsis);
    if (width(candidate) <= maxWidth) return candidate;
  }
  return std::string(kEllipsis);
}

THomePageBridge::THomePageBridge(IHomePageSource& source, IBrowserView& view, TTextWidth textWidth)
    : Source_(source), View_(view), TextWidth_(std::move(textWidth)) {}

void THomePageBridge::ShowHome(const std::string& pageUrl) {
  if (Loaded_) {
    FillPage();
    return;
  }
  Loaded_ = true;
  View_.Navigate(pageUrl);
}

void THomePageBridge::FillPage() {
  SendCategories();
  SendList(THomeList::hlReviews);
  SendList(THomeList::hlCompare);
}

void THomePageBridge::Run(const std::string& statement) {
  // A page that is not there yet (or blank) has none of the functions.
  if (!View_.HasDocument() || IsBlankAddress(View_.Location())) return;
  View_.RunScript(statement);
}

void THomePageBridge::SendCategories() {
  Run("ClearCategories()");
  for (const THomeCategory& category : Source_.Categories())
    Run("AddCategory(" + ScriptStringLiteral(AsciiLowerCase(category.BaseName)) + ", " +
        ScriptStringLiteral(category.Description) + ")");
  Run("RefreshCategories()");
}

std::string THomePageBridge::PageText(std::string_view text) const {
  return EncodeForPage(FitText(ToDisplayText(text), kMaxTextWidth, TextWidth_));
}

void THomePageBridge::SendList(THomeList list) {
  const std::string name = ListFunction(list);
  Run("Clear" + name + "()");
  const size_t count = std::min(Source_.EntryCount(list), kMaxEntries);
  for (size_t i = 0; i < count; ++i) {
    const THomeEntry entry = Source_.Entry(list, i);
    Run("Add" + name + "(" + std::to_string(i + 1) + ", " + ScriptStringLiteral(PageText(entry.Text)) + ", " +
        ScriptStringLiteral(entry.Category) + ")");
  }
  Run("Refresh" + name + "()");
}

void THomePageBridge::Link(THomeLink type, const std::string& text) {
  Loaded_ = false;
  if (OnLink) OnLink(type, text);
}

std::optional<size_t> THomePageBridge::EntryNumber(THomeList list, std::string_view text) {
  text = Trim(text);
  size_t number = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  if (number < 1 || number > Source_.EntryCount(list)) return std::nullopt;
  return number;
}

bool THomePageBridge::Call(std::string_view name, std::string_view argument) {
  size_t index = std::size(kExternalNames);
  for (size_t i = 0; i < std::size(kExternalNames); ++i)
    if (SameText(name, kExternalNames[i])) index = i;
  switch (index) {
    case 0:
      Link(THomeLink::hlNewSearch, std::string(argument));
      return true;
    case 1:
      Link(THomeLink::hlNewReviews, std::string(argument));
      return true;
    case 2:
      Link(THomeLink::hlNewCompare, std::string(argument));
      return true;
    case 3:
    case 4: {
      const THomeList list = index == 3 ? THomeList::hlReviews : THomeList::hlCompare;
      // A page can send anything; only a number of an entry the list holds goes on.
      if (auto number = EntryNumber(list, argument))
        Link(index == 3 ? THomeLink::hlLoadReviews : THomeLink::hlLoadCompare, std::to_string(*number));
      return true;
    }
    case 5:
      FillPage();
      return true;
    default:
      return false;
  }
}

namespace {

constexpr std::string_view kEntryPrefix = "AppLink";
constexpr size_t kListPrefixLength = 8;  // "AppLinkC", "AppLinkR"
constexpr std::string_view kCategoryPrefix = "CAT";

std::optional<THomeList> ListOfId(std::string_view id) {
  if (id.size() < kListPrefixLength || !StartsWithText(id, kEntryPrefix)) return std::nullopt;
  switch (AsciiUpper(id[kEntryPrefix.size()])) {
    case 'C':
      return THomeList::hlCompare;
    case 'R':
      return THomeList::hlReviews;
    default:
      return std::nullopt;
  }
}

}  // namespace

THomeMenu THomePageBridge::MenuFor(std::string_view elementId) {
  THomeMenu menu;
  if (StartsWithText(elementId, kEntryPrefix)) {
    menu.Kind = THomeMenuKind::hmEntry;
    if (auto list = ListOfId(elementId)) menu.DeleteEnabled = Source_.CanDelete(*list);
  } else if (StartsWithText(elementId, kCategoryPrefix)) {
    menu.Kind = THomeMenuKind::hmCategory;
  }
  return menu;
}

void THomePageBridge::DeleteEntry(std::string_view elementId) {
  auto list = ListOfId(elementId);
  if (!list || !Source_.CanDelete(*list)) return;
  auto number = EntryNumber(*list, elementId.substr(kListPrefixLength));
  if (!number) return;
  Source_.DeleteEntry(*list, *number - 1);
  SendList(*list);
}

void THomePageBridge::CategoryCommand(std::string_view elementId, THomeLink type) {
  if (!StartsWithText(elementId, kCategoryPrefix)) return;
  Link(type, std::string(elementId.substr(kCategoryPrefix.size())));
}

std::string THomePageBridge::ClickStatement(std::string_view elementId) {
  return "(function(e){if(e)e.click();})(document.getElementById(" + ScriptStringLiteral(elementId) + "))";
}

THomeKeyAction THomePageBridge::KeyAction(THomeKey key, bool ctrl, bool shift) {
  switch (key) {
    case THomeKey::hkN:
      return ctrl && !shift ? THomeKeyAction::hkNewSearch : THomeKeyAction::hkPass;
    case THomeKey::hkF:
    case THomeKey::hkP:
      return ctrl && !shift ? THomeKeyAction::hkSwallow : THomeKeyAction::hkPass;
    case THomeKey::hkInsert:
    case THomeKey::hkBackspace:
      return THomeKeyAction::hkSwallow;
    case THomeKey::hkTab:
      if (!ctrl) return THomeKeyAction::hkPass;
      return shift ? THomeKeyAction::hkPreviousPage : THomeKeyAction::hkNextPage;
    default:
      return THomeKeyAction::hkPass;
  }
}

}  // namespace vandrel
