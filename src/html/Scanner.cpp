#include "html/Scanner.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include "platform/TextUtils.h"

namespace vandrel {

namespace {

bool MatchAt(std::string_view text, size_t at, std::string_view what, bool caseSensitive) {
  if (at + what.size() > text.size()) return false;
  if (caseSensitive) return text.compare(at, what.size(), what) == 0;
  for (size_t i = 0; i < what.size(); ++i)
    if (AsciiLower(text[at + i]) != AsciiLower(what[i])) return false;
  return true;
}

// Bytes that end a word inside a tag.
bool EndsWord(unsigned char c) {
  return TScanner::IsBlank(c) || c == '"' || c == '\'' || c == '<' || c == '=' || c == '>';
}

}  // namespace

TScanner::TScanner() : LineFeeds{"\n"} {}
TScanner::~TScanner() = default;

bool TScanner::LoadFromFile(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return false;
  return LoadFromStream(in);
}

bool TScanner::LoadFromStream(std::istream& stream) {
  std::ostringstream buf;
  buf << stream.rdbuf();
  SetText(std::move(buf).str());
  return !stream.bad();
}

void TScanner::SetText(std::string text) {
  text_ = std::move(text);
  pos_ = 0;
  inTag_ = false;
  token_ = tkEnd;
  tokenText_ = {};
  tokenStart_ = 0;
  saved_.clear();
}

bool TScanner::SaveToFile(const std::string& fileName) const {
  std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  SaveToStream(out);
  return static_cast<bool>(out);
}

void TScanner::SaveToStream(std::ostream& stream) const {
  stream.write(text_.data(), std::streamsize(text_.size()));
}

void TScanner::SetPosition(size_t pos) {
  pos_ = pos > text_.size() ? text_.size() : pos;
  inTag_ = false;
}

bool TScanner::PopPosition() {
  if (saved_.empty()) return false;
  SetPosition(saved_.back());
  saved_.pop_back();
  return true;
}

void TScanner::ReadQuoted(char quote) {
  // An unterminated quote runs to the end of the page.
  size_t start = pos_ + 1;
  const void* hit =
      start < text_.size() ? std::memchr(text_.data() + start, quote, text_.size() - start) : nullptr;
  size_t end = hit ? static_cast<size_t>(static_cast<const char*>(hit) - text_.data()) : text_.size();
  token_ = tkString;
  tokenStart_ = start;
  tokenText_ = std::string_view(text_).substr(start > text_.size() ? text_.size() : start, end - start);
  pos_ = hit ? end + 1 : text_.size();
}

bool TScanner::EndOfPage() {
  inTag_ = false;
  token_ = tkEnd;
  tokenText_ = {};
  tokenStart_ = text_.size();
  return false;
}

bool TScanner::NextToken() {
  const size_t len = text_.size();
  if (!inTag_) {
    if (pos_ >= len) return EndOfPage();
    tokenStart_ = pos_;
    if (text_[pos_] == '<') {
      ++pos_;
      inTag_ = true;
      token_ = tkTagOpen;
      tokenText_ = std::string_view(text_).substr(tokenStart_, 1);
      return true;
    }
    const void* lt = std::memchr(text_.data() + pos_, '<', len - pos_);
    size_t end = lt ? static_cast<size_t>(static_cast<const char*>(lt) - text_.data()) : len;
    token_ = tkText;
    tokenText_ = std::string_view(text_).substr(pos_, end - pos_);
    pos_ = end;
    return true;
  }

  while (pos_ < len && IsBlank(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  if (pos_ >= len) return EndOfPage();
  tokenStart_ = pos_;
  char c = text_[pos_];
  switch (c) {
    case '>':
      ++pos_;
      inTag_ = false;
      token_ = tkTagClose;
      tokenText_ = std::string_view(text_).substr(tokenStart_, 1);
      return true;
    case '=':
      ++pos_;
      token_ = tkEquals;
      tokenText_ = std::string_view(text_).substr(tokenStart_, 1);
      return true;
    case '"':
    case '\'':
      ReadQuoted(c);
      return true;
    default:
      break;
  }
  // A word: its first byte is always taken (a stray "<" included), so every call moves on.
  size_t end = pos_ + 1;
  if (CommentsEnabled && !CommentOpener.empty() &&
      text_.compare(pos_, CommentOpener.size(), CommentOpener) == 0) {
    end = pos_ + CommentOpener.size();
  } else {
    while (end < len && !EndsWord(static_cast<unsigned char>(text_[end]))) ++end;
  }
  lowered_.assign(text_, pos_, end - pos_);
  for (char& ch : lowered_) ch = AsciiLower(ch);
  token_ = tkWord;
  tokenText_ = lowered_;
  pos_ = end;
  return true;
}

bool TScanner::ReadAttributeValue() {
  const size_t len = text_.size();
  while (pos_ < len && IsBlank(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  if (pos_ >= len) return EndOfPage();
  char c = text_[pos_];
  if (c == '"' || c == '\'') {
    ReadQuoted(c);
    return true;
  }
  size_t end = pos_;
  while (end < len && !IsBlank(static_cast<unsigned char>(text_[end])) && text_[end] != '>') ++end;
  token_ = tkWord;
  tokenStart_ = pos_;
  tokenText_ = std::string_view(text_).substr(pos_, end - pos_);
  pos_ = end;
  return true;
}

void TScanner::SkipToTagEnd() {
  while (inTag_ && NextToken()) {
    if (token_ == tkTagClose) return;
  }
}

bool TScanner::FindNext(std::string_view what, bool caseSensitive) {
  if (what.empty() || what.size() > text_.size()) return false;
  std::string_view text(text_);
  if (caseSensitive) {
    size_t at = text.find(what, pos_);
    if (at == std::string_view::npos) return false;
    SetPosition(at);
    return true;
  }
  for (size_t at = pos_; at + what.size() <= text.size(); ++at) {
    if (MatchAt(text, at, what, false)) {
      SetPosition(at);
      return true;
    }
  }
  return false;
}

bool TScanner::FindPrevious(std::string_view what, bool caseSensitive) {
  if (what.empty() || what.size() > text_.size()) return false;
  size_t at = pos_ < text_.size() - what.size() ? pos_ : text_.size() - what.size();
  while (true) {
    if (MatchAt(text_, at, what, caseSensitive)) {
      SetPosition(at);
      return true;
    }
    if (at == 0) return false;
    --at;
  }
}

int TScanner::FindFirstOf(const std::vector<std::string>& texts, bool caseSensitive) {
  for (size_t at = pos_; at < text_.size(); ++at) {
    for (size_t i = 0; i < texts.size(); ++i) {
      if (!texts[i].empty() && MatchAt(text_, at, texts[i], caseSensitive)) {
        SetPosition(at);
        return static_cast<int>(i);
      }
    }
  }
  return -1;
}

bool TScanner::NextLineFeed(size_t from, size_t& at, size_t& len) const {
  bool found = false;
  std::string_view text(text_);
  for (const std::string& lf : LineFeeds) {
    if (lf.empty()) continue;
    size_t p = text.find(lf, from);
    if (p != std::string_view::npos && (!found || p < at)) {
      at = p;
      len = lf.size();
      found = true;
    }
  }
  return found;
}

bool TScanner::PrevLineFeed(size_t limit, size_t& at, size_t& len) const {
  bool found = false;
  std::string_view text(text_);
  for (const std::string& lf : LineFeeds) {
    if (lf.empty() || lf.size() > limit) continue;
    size_t p = text.rfind(lf, limit - lf.size());
    if (p != std::string_view::npos && (!found || p + lf.size() > at + len)) {
      at = p;
      len = lf.size();
      found = true;
    }
  }
  return found;
}

size_t TScanner::LinePosition(size_t pos, int k) const {
  if (pos > text_.size()) pos = text_.size();
  size_t at = 0, len = 0;
  size_t start = PrevLineFeed(pos, at, len) ? at + len : 0;
  size_t markerStart = len ? at : 0;  // where the marker ending at `start` begins
  for (; k > 0; --k) {
    if (!NextLineFeed(start, at, len)) return text_.size();
    start = at + len;
  }
  for (; k < 0; ++k) {
    if (start == 0) return 0;
    if (!PrevLineFeed(markerStart, at, len)) return 0;
    start = at + len;
    markerStart = at;
  }
  return start;
}

}  // namespace vandrel
