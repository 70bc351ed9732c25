// The application's tables: files, columns and primary index of every table the storage back ends keep.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "storage/DbKernel.h"

namespace vandrel {

struct TSchemaTable {
  std::string DictionaryName;
  std::string FileName;
  std::string Pattern;  // logical name pattern with one "%d" for the login number
  // ORDER: record order; tables are bound by position, so existing files depend on it.
  std::vector<TSchemaColumn> Columns;
  std::string IndexTag;  // the one unique "Primary" index, all fields ascending
  std::vector<std::string> IndexFields;
};

// Every application table, search types first, result engines last.
const std::vector<TSchemaTable>& SchemaTables();
// Null when the dictionary name is unknown (letter case ignored).
const TSchemaTable* FindSchemaTable(std::string_view dictionaryName);
// Adds the columns and the primary index to a freshly defined table.
void DefineSchemaTable(TTable& table, const TSchemaTable& definition);

// Numeric keys are kept in four-digit columns.
constexpr int kMaxStoredKey = 9999;

}  // namespace vandrel
