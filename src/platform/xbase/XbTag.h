// An index tag kept in memory: its key expression and the ordered (key, record) entries.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/xbase/XbEngine.h"

namespace vandrel {

// A parsed key expression: parts concatenated in order.
class TXbKeyExpression {
 public:
  // Understands a field name, STR(field, width, decimals), DESCEND(...) and "+".
  bool Parse(std::string_view text, const std::vector<TXbFieldDef>& fields, std::string& why);
  std::string Evaluate(std::string_view record) const;

 private:
  struct Term {
    int Field = 0;
    bool Str = false;  // formatted as STR(field, Width, Decimals)
    int Width = 0;
    int Decimals = 0;
    bool Descend = false;
  };
  bool ParseSum(std::string_view& s, bool descend, std::string& why);
  bool ParseTerm(std::string_view& s, bool descend, std::string& why);

  const std::vector<TXbFieldDef>* fields_ = nullptr;
  std::vector<Term> parts_;
};

class TXbTag {
 public:
  using Entry = std::pair<std::string, uint32_t>;  // key, record number
  using Entries = std::set<Entry>;

  bool Define(const TXbTagDef& def, const std::vector<TXbFieldDef>& fields, std::string& why);
  const TXbTagDef& Definition() const { return def_; }

  // The record's key, or false when the filter leaves it out.
  bool KeyOf(std::string_view record, std::string& key) const;
  void Clear() { entries_.clear(); }
  // Adds a record unless the filter excludes it or a unique tag already has the key.
  void Insert(std::string_view record, uint32_t recno);
  // Brings the entry of a rewritten record up to date.
  void Update(std::string_view oldRecord, std::string_view newRecord, uint32_t recno);

  const Entries& Items() const { return entries_; }
  Entries::const_iterator Find(std::string_view key, uint32_t recno) const;

 private:
  TXbTagDef def_;
  TXbKeyExpression expression_;
  bool skipDeleted_ = false;
  Entries entries_;
};

}  // namespace vandrel
