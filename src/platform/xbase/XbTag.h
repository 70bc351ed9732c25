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
  void AppendTo(std::string_view record, std::string& key) const;

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
  // Ordered by key, then record number; lookups by a borrowed key need no copy of it.
  struct EntryLess {
    using is_transparent = void;
    using Probe = std::pair<std::string_view, uint32_t>;
    static Probe View(const Entry& e) { return {e.first, e.second}; }
    static Probe View(const Probe& p) { return p; }
    template <class A, class B>
    bool operator()(const A& a, const B& b) const {
      return View(a) < View(b);
    }
  };
  using Entries = std::set<Entry, EntryLess>;

  bool Define(const TXbTagDef& def, const std::vector<TXbFieldDef>& fields, std::string& why);
  const TXbTagDef& Definition() const { return def_; }

  // The record's key, or false when the filter leaves it out.
  bool KeyOf(std::string_view record, std::string& key) const;
  void Clear() {
    entries_.clear();
    ++version_;
  }
  // Adds a record unless the filter excludes it or a unique tag already has the key.
  void Insert(std::string_view record, uint32_t recno);
  // Replaces every entry with `entries` (any order), as inserting them by ascending record number would.
  void Assign(std::vector<Entry> entries);
  // Brings the entry of a rewritten record up to date.
  void Update(std::string_view oldRecord, std::string_view newRecord, uint32_t recno);

  const Entries& Items() const { return entries_; }
  Entries::const_iterator Find(std::string_view key, uint32_t recno) const;
  Entries::const_iterator LowerBound(std::string_view key, uint32_t recno) const {
    return entries_.lower_bound(EntryLess::Probe(key, recno));
  }
  Entries::const_iterator UpperBound(std::string_view key, uint32_t recno) const {
    return entries_.upper_bound(EntryLess::Probe(key, recno));
  }
  // Changes whenever an entry is removed, so an iterator kept from an equal version still points at a
  // live entry (insertions leave iterators valid).
  uint64_t Version() const { return version_; }

 private:
  TXbTagDef def_;
  TXbKeyExpression expression_;
  bool skipDeleted_ = false;
  Entries entries_;
  uint64_t version_ = 0;
};

}  // namespace vandrel
