#include "html/WordScanner.h"

#include <charconv>
#include <cstring>

#include "platform/TextUtils.h"
#include "platform/UrlUtils.h"

namespace vandrel {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

void TWordScanner::SetText(std::string text) {
  TScanner::SetText(std::move(text));
  pending_.clear();
  pendingIndex_ = 0;
}

bool TWordScanner::DecodeAt(size_t at, std::string& bytes, size_t& next) const {
  const size_t len = text_.size();
  if (len - at - 1 < 4) return false;
  size_t p = at + 1;
  uint32_t code = 0;
  if (text_[p] == '#') {
    size_t digits = ++p;
    // Seven digits at most: enough for any character, and no overflow.
    while (p < len && p - digits < 7 && IsDigit(text_[p])) ++p;
    if (p == digits) return false;
    std::from_chars(text_.data() + digits, text_.data() + p, code);
  } else {
    size_t start = p;
    while (p < len && IsLetter(text_[p])) ++p;
    if (p == start) return false;
    code = static_cast<uint32_t>(LookupEntity(std::string_view(text_).substr(start, p - start)));
  }
  if (code == 0) return false;
  if (p < len && text_[p] == ';') ++p;
  bytes.clear();
  AppendCharCode(bytes, code);
  next = p;
  return true;
}

bool TWordScanner::SkipTagAt(size_t at, size_t& next) const {
  const void* gt = std::memchr(text_.data() + at + 1, '>', text_.size() - at - 1);
  size_t end = gt ? static_cast<size_t>(static_cast<const char*>(gt) - text_.data()) : text_.size();
  next = gt ? end + 1 : end;
  // "<br/>" and "<br clear=all>" break a line just as "<br>" does.
  size_t nameEnd = at + 1;
  while (nameEnd < end && !IsTextBlank(static_cast<unsigned char>(text_[nameEnd])) && text_[nameEnd] != '/')
    ++nameEnd;
  return nameEnd - at - 1 == 2 && AsciiLower(text_[at + 1]) == 'b' && AsciiLower(text_[at + 2]) == 'r';
}

bool TWordScanner::NextChar(TChar& out) {
  if (pendingIndex_ < pending_.size()) {
    out = {pending_[pendingIndex_++], pendingStart_, pos_};
    return true;
  }
  pending_.clear();
  pendingIndex_ = 0;
  bool blank = false;
  size_t runStart = pos_;
  auto crossBlank = [&](size_t at) {
    if (!blank) runStart = at;
    blank = true;
  };
  std::string bytes;
  const size_t len = text_.size();
  while (pos_ < len) {
    auto c = static_cast<unsigned char>(text_[pos_]);
    if (IsTextBlank(c)) {
      crossBlank(pos_++);
      continue;
    }
    if (c == '<' && SkipTags) {
      size_t next;
      if (SkipTagAt(pos_, next)) crossBlank(pos_);
      pos_ = next;
      continue;
    }
    size_t next;
    if (c == '&' && DecodeEntities && DecodeAt(pos_, bytes, next)) {
      if (bytes.size() == 1 && IsTextBlank(static_cast<unsigned char>(bytes[0]))) {
        crossBlank(pos_);
        pos_ = next;
        continue;
      }
      if (blank) break;  // the reference is read again after the space
      out = {bytes[0], pos_, next};
      if (bytes.size() > 1) {
        pending_ = bytes;
        pendingIndex_ = 1;
        pendingStart_ = pos_;
      }
      pos_ = next;
      return true;
    }
    if (blank) break;
    out = {static_cast<char>(c), pos_, pos_ + 1};
    ++pos_;
    return true;
  }
  if (!blank) return false;
  out = {' ', runStart, pos_};
  return true;
}

bool TWordScanner::FindText(std::string_view what) {
  if (what.empty()) return false;
  std::string sought(what);
  for (char& ch : sought) ch = AsciiLower(ch);
  const size_t saved = pos_;
  pending_.clear();
  pendingIndex_ = 0;
  size_t matched = 0;
  TChar first{}, c{};
  while (NextChar(c)) {
    if (c.Ch == sought[matched] || AsciiLower(c.Ch) == sought[matched]) {
      if (matched == 0) first = c;
      if (++matched == sought.size()) {
        pending_.clear();
        pendingIndex_ = 0;
        pos_ = first.Start + 1;
        return true;
      }
    } else if (matched > 0) {
      matched = 0;
      pending_.clear();
      pendingIndex_ = 0;
      pos_ = first.Next;
    }
  }
  pending_.clear();
  pendingIndex_ = 0;
  pos_ = saved;
  return false;
}

}  // namespace vandrel
