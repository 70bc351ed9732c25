// Helpers for search tests: a gadget search type whose score depends on rank and occurrence.
#pragma once

#include <memory>
#include <string>

#include "../engines/EngineTestUtil.h"
#include "engines/SearchResults.h"

namespace vandrel::testing {

// Keyed by a reduced address, sorted by price (cheapest first), records without a price rejected.
// "occ" shows the occurrence count a record was evaluated with; "score" the keyword score.
inline std::string GadgetType(bool keyed = true) {
  return RegisterProc(std::string(R"src(  Name = "gadgets"
  f = AddInputField("Keywords")
  f = AddOutputField("title")
  f = AddOutputField("price")
  f.datatype = DT_FLOAT
  f = AddOutputField("url")
  f.isurl = True
  f = AddOutputField("occ")
  f.datatype = DT_INTEGER
  f.formula = "Occurrence"
  f = AddOutputField("score")
  f.datatype = DT_INTEGER
  f.formula = "KeywordScore(title, '', '')"
  AddSortKey "price", SK_ASCENDING
  UrlReduction = REDUC_SLASH + REDUC_WWW + REDUC_DEFAULTPAGE
  Filter = "price > 0")src") +
                      (keyed ? "\n  UniqueKey = \"url\"" : ""));
}

inline std::string FieldText(const TResultRecord& r, const std::string& name) {
  TResultField* f = r.FindField(name);
  return f ? f->DisplayText() : std::string("<no field " + name + ">");
}

inline int64_t FieldInt(const TResultRecord& r, const std::string& name) {
  TResultField* f = r.FindField(name);
  return f ? f->AsInteger() : -1;
}

}  // namespace vandrel::testing
