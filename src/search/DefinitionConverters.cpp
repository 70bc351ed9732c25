#include "search/DefinitionConverters.h"

namespace vandrel {

namespace {

TStorageFieldType StoredType(uint8_t summaryType) {
  return summaryType <= sftMoney ? static_cast<TStorageFieldType>(summaryType) : TStorageFieldType::ftString;
}

// The script numbers alignments left, center, right; the stored layout left, right, center.
TAlignment StoredAlignment(uint8_t scriptAlignment) {
  switch (scriptAlignment) {
    case 1:
      return TAlignment::taCenter;
    case 2:
      return TAlignment::taRightJustify;
    default:
      return TAlignment::taLeftJustify;
  }
}

}  // namespace

void ConvertSearchType(TSearchTypeStorageItem& dest, const TSearchTypeSummary& source) {
  dest.DisplayName = source.DisplayName;
  dest.SearchFrame = source.SearchFrame;
  dest.UniqueKey = source.UniqueKey;
  dest.SortKeys.Clear();
  for (const auto& key : source.SortKeys)
    dest.SortKeys.AddKey(key.Field, key.Ascending ? TSortKeySortDirection::ksdAscending
                                                  : TSortKeySortDirection::ksdDescending);
  dest.InputFieldDefinitions.Clear();
  for (const auto& field : source.InputFields) {
    auto* d = dest.InputFieldDefinitions.AddInput(field.Name, StoredType(field.FieldType));
    d->DisplayName = field.DisplayName;
    d->IsFormula = field.IsFormula;
    d->HighlightSource = field.HighlightSource;
  }
  dest.OutputFieldDefinitions.Clear();
  for (const auto& field : source.OutputFields) {
    auto* d = dest.OutputFieldDefinitions.AddOutput(field.Name, StoredType(field.FieldType));
    d->DisplayName = field.DisplayName;
    d->Layout.Alignment = StoredAlignment(field.Alignment);
    d->Layout.Width = field.Width;
    d->Layout.Sort = field.SortColumn;
    d->Layout.SortDirection = field.SortDescending ? TStorageLayoutSortDirection::sdDescending
                                                   : TStorageLayoutSortDirection::sdAscending;
    d->Layout.Flags = static_cast<uint8_t>((field.GraphicalDisplay ? lfGraphicalDisplay : 0) |
                                           (field.Summary ? lfSummary : 0) | (field.Hidden ? lfHidden : 0) |
                                           (field.Internal ? lfInternal : 0));
    d->BoldIfNew = field.BoldIfNew;
    d->HighlightTarget = field.HighlightTarget;
    d->IsUrl = field.IsUrl;
    d->IsDomain = field.IsDomain;
  }
}

void ConvertCategory(TCategoryStorageItem& dest, const TCategorySummary& source) {
  dest.DisplayName = source.DisplayName;
  dest.Description = source.Description;
  dest.Enabled = source.Enabled;
  dest.Priority = source.Priority;
  dest.SrtName = source.SearchType;
  dest.SearchFrame = source.SearchFrame;
  dest.Language = source.Language;
  dest.DefaultResultsPerEngine = source.ResultsPerEngine;
  dest.DefaultTotalResults = source.TotalResults;
}

void ConvertEngine(TEngineStorageItem& dest, const TEngineSummary& source, const std::string& searchType) {
  dest.DisplayName = source.DisplayName;
  dest.Description = source.Description;
  dest.HomePage = source.HomePage;
  dest.Flags = source.SupportNew ? efSupportsNew : 0;
  dest.State = static_cast<uint8_t>((source.AlwaysEnabled ? esAlwaysEnabled : 0) |
                                    (source.AuthorizationRequired ? esAuthorizationRequired : 0));
  dest.Priority = source.Priority;
  dest.SrtNames.Lines.clear();
  if (!searchType.empty()) dest.SrtNames.Lines.push_back(searchType);
  dest.DefaultEnabled = source.Enabled;
  dest.DefaultUserName = source.UserName;
  dest.DefaultPassword = source.Password;
  dest.SupportFormula = source.SupportFormula;
}

}  // namespace vandrel
