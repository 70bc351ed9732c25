#include "platform/xbase/XbTag.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <iterator>

#include "platform/Format.h"
#include "platform/xbase/XbEngine.h"
#include "platform/xbase/XbFormat.h"

namespace vandrel {

namespace {

void SkipBlanks(std::string_view& s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
}

bool EatWord(std::string_view& s, std::string_view word) {
  SkipBlanks(s);
  if (s.size() < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(s[i])) != word[i]) return false;
  }
  s.remove_prefix(word.size());
  return true;
}

bool EatChar(std::string_view& s, char c) {
  SkipBlanks(s);
  if (s.empty() || s.front() != c) return false;
  s.remove_prefix(1);
  return true;
}

std::string Identifier(std::string_view& s) {
  SkipBlanks(s);
  size_t n = 0;
  while (n < s.size() && (std::isalnum(static_cast<unsigned char>(s[n])) || s[n] == '_')) ++n;
  std::string id(s.substr(0, n));
  s.remove_prefix(n);
  return id;
}

bool Integer(std::string_view& s, int& v) {
  SkipBlanks(s);
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (r.ec != std::errc()) return false;
  s.remove_prefix(static_cast<size_t>(r.ptr - s.data()));
  return true;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// A number in `width` characters, right-aligned; asterisks when it does not fit. Descending keys are
// zero-padded, the way seek keys for descending fields are built, so both meet.
std::string FormatNumber(double v, int width, int decimals, bool zeroPad) {
  std::string text = FormatFixed(v, decimals);
  if (static_cast<int>(text.size()) > width) return std::string(static_cast<size_t>(width), '*');
  size_t pad = static_cast<size_t>(width) - text.size();
  if (!zeroPad) return std::string(pad, ' ') + text;
  if (!text.empty() && text[0] == '-') return "-" + std::string(pad, '0') + text.substr(1);
  return std::string(pad, '0') + text;
}

// True when `raw` already reads as STR(value, width, 0) would write it: blanks, an optional minus, digits
// without a leading zero. Integer columns as this program writes them always do, which spares opening a
// large table the formatting of every key; anything else goes through the full formatting.
bool IsFormatted(std::string_view raw, int width, int decimals) {
  if (decimals != 0 || raw.size() != static_cast<size_t>(width)) return false;
  size_t i = raw.find_first_not_of(' ');
  if (i == std::string_view::npos) return false;
  bool negative = raw[i] == '-';
  if (negative) ++i;
  size_t digits = raw.size() - i;
  if (digits == 0 || digits > 15 || (raw[i] == '0' && (digits > 1 || negative))) return false;
  for (; i < raw.size(); ++i) {
    if (raw[i] < '0' || raw[i] > '9') return false;
  }
  return true;
}

}  // namespace

bool TXbKeyExpression::ParseTerm(std::string_view& s, bool descend, std::string& why) {
  std::string_view save = s;
  if (EatWord(s, "DESCEND") && EatChar(s, '(')) {
    if (!ParseSum(s, !descend, why)) return false;
    if (!EatChar(s, ')')) {
      why = "missing ')'";
      return false;
    }
    return true;
  }
  s = save;
  Term part;
  part.Descend = descend;
  bool str = EatWord(s, "STR") && EatChar(s, '(');
  if (!str) s = save;
  std::string name = Identifier(s);
  part.Field = -1;
  for (size_t i = 0; i < fields_->size(); ++i) {
    if (SameName((*fields_)[i].Name, name)) {
      part.Field = static_cast<int>(i);
      break;
    }
  }
  if (part.Field < 0) {
    why = "unknown field '" + name + "'";
    return false;
  }
  const auto& f = (*fields_)[static_cast<size_t>(part.Field)];
  part.Width = f.Length;
  part.Decimals = f.Decimals;
  if (str) {
    part.Str = true;
    part.Decimals = 0;
    if (EatChar(s, ',')) {
      if (!Integer(s, part.Width)) {
        why = "bad STR width";
        return false;
      }
      if (EatChar(s, ',') && !Integer(s, part.Decimals)) {
        why = "bad STR decimals";
        return false;
      }
    } else {
      part.Width = 10;
    }
    if (!EatChar(s, ')') || part.Width < 1 || part.Width > 255 || part.Decimals < 0 ||
        part.Decimals >= part.Width) {
      why = "bad STR()";
      return false;
    }
  }
  parts_.push_back(part);
  return true;
}

bool TXbKeyExpression::ParseSum(std::string_view& s, bool descend, std::string& why) {
  if (!ParseTerm(s, descend, why)) return false;
  while (EatChar(s, '+')) {
    if (!ParseTerm(s, descend, why)) return false;
  }
  return true;
}

bool TXbKeyExpression::Parse(std::string_view text, const std::vector<TXbFieldDef>& fields,
                             std::string& why) {
  fields_ = &fields;
  parts_.clear();
  if (!ParseSum(text, false, why)) return false;
  SkipBlanks(text);
  if (!text.empty()) {
    why = "unexpected text in the expression";
    return false;
  }
  return true;
}

std::string TXbKeyExpression::Evaluate(std::string_view record) const {
  std::string key;
  AppendTo(record, key);
  return key;
}

void TXbKeyExpression::AppendTo(std::string_view record, std::string& key) const {
  for (const auto& p : parts_) {
    const auto& f = (*fields_)[static_cast<size_t>(p.Field)];
    std::string_view raw = record.substr(static_cast<size_t>(f.Offset), static_cast<size_t>(f.Length));
    bool numeric = f.Type == 'N' || f.Type == 'F';
    size_t start = key.size();
    if (numeric && (p.Str || p.Descend)) {
      if (!p.Descend && IsFormatted(raw, p.Width, p.Decimals)) {
        key.append(raw);
      } else {
        key += FormatNumber(XbNumberOf(raw), p.Width, p.Decimals, p.Descend);
      }
    } else if (p.Str) {
      key.append(raw.substr(0, static_cast<size_t>(p.Width)));
      key.resize(start + static_cast<size_t>(p.Width), ' ');
    } else {
      key.append(raw);
    }
    if (p.Descend) {
      for (size_t i = start; i < key.size(); ++i) {
        key[i] = static_cast<char>(256 - static_cast<unsigned char>(key[i]));
      }
    }
  }
}

bool TXbTag::Define(const TXbTagDef& def, const std::vector<TXbFieldDef>& fields, std::string& why) {
  def_ = def;
  std::string filter;
  for (char c : def.Filter) {
    if (!std::isspace(static_cast<unsigned char>(c))) filter += static_cast<char>(std::toupper(c));
  }
  if (!filter.empty() && filter != ".NOT.DELETED()") {
    why = "unsupported filter";
    return false;
  }
  skipDeleted_ = !filter.empty();
  Clear();
  return expression_.Parse(def.Expression, fields, why);
}

bool TXbTag::KeyOf(std::string_view record, std::string& key) const {
  if (skipDeleted_ && !record.empty() && record[0] == '*') return false;
  key.clear();
  expression_.AppendTo(record, key);
  return true;
}

TXbTag::Entries::const_iterator TXbTag::Find(std::string_view key, uint32_t recno) const {
  return entries_.find(EntryLess::Probe(key, recno));
}

void TXbTag::Insert(std::string_view record, uint32_t recno) {
  std::string key;
  if (!KeyOf(record, key)) return;
  if (def_.Unique) {
    auto it = LowerBound(key, 0);
    if (it != entries_.end() && it->first == key) return;
  }
  entries_.emplace(std::move(key), recno);
}

void TXbTag::Assign(std::vector<Entry> entries) {
  std::sort(entries.begin(), entries.end());
  if (def_.Unique) {
    // The lowest record number of each key stays, as it would have come first.
    auto last = std::unique(entries.begin(), entries.end(),
                            [](const Entry& a, const Entry& b) { return a.first == b.first; });
    entries.erase(last, entries.end());
  }
  entries_ = Entries(std::make_move_iterator(entries.begin()), std::make_move_iterator(entries.end()));
  ++version_;
}

void TXbTag::Update(std::string_view oldRecord, std::string_view newRecord, uint32_t recno) {
  std::string oldKey, newKey;
  bool hadOld = KeyOf(oldRecord, oldKey);
  bool hasNew = KeyOf(newRecord, newKey);
  if (hadOld && hasNew && oldKey == newKey) return;
  if (hadOld) {
    auto it = Find(oldKey, recno);
    if (it != entries_.end()) {
      entries_.erase(it);
      ++version_;
    }
  }
  if (hasNew) Insert(newRecord, recno);
}

}  // namespace vandrel
