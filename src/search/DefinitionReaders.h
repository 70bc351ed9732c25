// Loads search type, category and engine definitions into plain summaries the catalogue stores.
//
// The summaries keep the script side (engines/) and the stored side (storage/) in separate units: both
// subsystems name a sort key list, and one translation unit cannot see the two.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vandrel {

class TVariableList;

// Stored field types, by the same numbers as the storage field type.
enum TSummaryFieldType : uint8_t {
  sftBoolean = 0,
  sftDouble = 1,
  sftInteger = 2,
  sftString = 3,
  sftMoney = 4
};

struct TSearchTypeSummary {
  struct TInputField {
    std::string Name, DisplayName;
    uint8_t FieldType = sftString;
    bool IsFormula = false;
    bool HighlightSource = false;
  };
  struct TOutputField {
    std::string Name, DisplayName;
    uint8_t FieldType = sftString;
    uint8_t Alignment = 0;  // left, center, right as the script declares them
    int32_t Width = 0;
    bool Hidden = false, Internal = false, Summary = false, GraphicalDisplay = false;
    bool SortColumn = false, SortDescending = false;
    bool BoldIfNew = false, HighlightTarget = false, IsUrl = false, IsDomain = false;
  };
  struct TSortKey {
    std::string Field;
    bool Ascending = true;
  };
  std::string DisplayName;
  std::string SearchFrame;  // lower case
  std::string UniqueKey;    // of the default view
  std::vector<TSortKey> SortKeys;
  std::vector<TInputField> InputFields;
  std::vector<TOutputField> OutputFields;
};

struct TCategorySummary {
  std::string DisplayName, Description, Language, SearchType, SearchFrame;
  bool Enabled = true;
  int32_t Priority = 0;
  int32_t ResultsPerEngine = 0, TotalResults = 0;
};

struct TEngineSummary {
  std::string DisplayName, Description, HomePage;
  std::string UserName, Password;  // defaults a script may give
  std::string SupportFormula;
  bool Enabled = true, AlwaysEnabled = false, AuthorizationRequired = false, SupportNew = true;
  int32_t Priority = 0;
};

// Each loads the file at `path` and runs its "Register"; false when it cannot be loaded, with the
// compiler's first error in `error`. `constants` (may be null) sits above the search type's constants.
bool ReadSearchTypeDefinition(const std::string& path, const std::string& name, TVariableList* constants,
                              TSearchTypeSummary& out, std::string& error);
bool ReadCategoryDefinition(const std::string& path, TCategorySummary& out, std::string& error);
bool ReadEngineDefinition(const std::string& path, TEngineSummary& out, std::string& error);

}  // namespace vandrel
