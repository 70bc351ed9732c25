#include "storage/CodebaseDefinitionStorages.h"

#include "storage/BlobCodecs.h"
#include "storage/CategoryStorage.h"
#include "storage/EngineStorage.h"
#include "storage/SearchTypeStorage.h"

namespace vandrel {

namespace {

// Tables in login order.
enum { kSearchType, kSif, kSof, kSil, kSol };
enum { kEngine, kEngSrt };

std::string SrtNameOf(const TPersistent* entry) {
  if (auto* k = dynamic_cast<const TSearchTypeStorageKeyItem*>(entry)) return k->SrtName;
  if (auto* i = dynamic_cast<const TSearchTypeStorageItem*>(entry)) return i->SrtName;
  return {};
}

std::string CatNameOf(const TPersistent* entry) {
  if (auto* k = dynamic_cast<const TCategoryStorageKeyItem*>(entry)) return k->CatName;
  if (auto* i = dynamic_cast<const TCategoryStorageItem*>(entry)) return i->CatName;
  return {};
}

std::string EngNameOf(const TPersistent* entry) {
  if (auto* k = dynamic_cast<const TEngineStorageKeyItem*>(entry)) return k->EngName;
  if (auto* i = dynamic_cast<const TEngineStorageItem*>(entry)) return i->EngName;
  return {};
}

TField* Column(TTable* t, const std::string& name) {
  return TCodebaseStorage::Field(t, name);
}

// The layout columns of a field: "Sol" and "Sil" rows, and the "SofLayout" columns of an output field.
void WriteLayout(TTable* t, const std::string& prefix, const TStorageLayoutItem& layout) {
  Column(t, prefix + "Alignment")->SetAsShort(static_cast<int>(layout.Alignment));
  Column(t, prefix + "Width")->SetAsLong(layout.Width);
  Column(t, prefix + "Sort")->SetAsBoolean(layout.Sort);
  Column(t, prefix + "SortDirection")->SetAsShort(static_cast<int>(layout.SortDirection));
  Column(t, prefix + "Flags")->SetAsShort(layout.Flags);
}

void ReadLayout(TTable* t, const std::string& prefix, TStorageLayoutItem& layout) {
  layout.Alignment =
      static_cast<TAlignment>(std::clamp<int>(Column(t, prefix + "Alignment")->AsShort(), 0, 2));
  layout.Width = Column(t, prefix + "Width")->AsLong();
  layout.Sort = Column(t, prefix + "Sort")->AsBoolean();
  layout.SortDirection =
      static_cast<TStorageLayoutSortDirection>(Column(t, prefix + "SortDirection")->AsShort() != 0 ? 1 : 0);
  layout.Flags = static_cast<uint8_t>(Column(t, prefix + "Flags")->AsShort());
}

// One layout row of "Sol" or "Sil": the columns after the key.
void WriteLayoutColumns(TTable* t, const char* prefix, const TStorageFieldDefinitionLayoutItem& d) {
  std::string p(prefix);
  Column(t, p + "Name")->SetAsString(d.Name);
  Column(t, p + "DisplayName")->SetAsString(d.DisplayName);
  Column(t, p + "FieldType")->SetAsShort(static_cast<int>(d.FieldType));
  WriteLayout(t, p, d.Layout);
}

void ReadLayoutColumns(TTable* t, const char* prefix, TStorageFieldDefinitionLayoutItem& d) {
  std::string p(prefix);
  d.Name = Column(t, p + "Name")->AsString();
  d.DisplayName = Column(t, p + "DisplayName")->AsString();
  d.FieldType = static_cast<TStorageFieldType>(std::clamp<int>(Column(t, p + "FieldType")->AsShort(), 0, 4));
  ReadLayout(t, p, d.Layout);
}

}  // namespace

// ---- search types ----

TSearchTypeStorage_Codebase::TSearchTypeStorage_Codebase()
    : TCodebaseRowStorage("SearchType", {"SearchType", "SearchTypeInputField", "SearchTypeOutputField",
                                         "SearchTypeInputFieldLayout", "SearchTypeOutputFieldLayout"}) {}

std::optional<TDbKey> TSearchTypeStorage_Codebase::KeyOf(const TList&, const TPersistent* entry) const {
  return TDbKey{SrtNameOf(entry)};
}

TDbKey TSearchTypeStorage_Codebase::RowKey(const TList&) const {
  return {Field(Table(kSearchType), "SrtName")->AsString()};
}

bool TSearchTypeStorage_Codebase::WriteOutputLayout(const TSearchTypeStorageItem& item) {
  TTable* sol = Table(kSol);
  return AppendNumberedRows(sol, "SolNum", &item.SrtName, item.OutputFieldLayout.Count(), [&](size_t i) {
    WriteLayoutColumns(sol, "Sol", *item.OutputFieldLayout.LayoutItem(i));
  });
}

bool TSearchTypeStorage_Codebase::WriteRow(const TList&, const TSearchTypeStorageItem& item) {
  TTable* t = Table(kSearchType);
  Field(t, "SrtName")->SetAsString(item.SrtName);
  Field(t, "SrtDisplayName")->SetAsString(item.DisplayName);
  Field(t, "SrtSearchFrame")->SetAsString(item.SearchFrame);
  Field(t, "SrtAllowedResultOperations")->SetAsString(JoinLines(item.AllowedResultOperations.Lines));
  Field(t, "SrtFilterClasses")->SetAsString(JoinLines(item.FilterClasses.Lines));
  Field(t, "SrtUniqueKey")->SetAsString(item.UniqueKey);
  Field(t, "SrtVersion")->SetAsShort(item.Version);
  Field(t, "SrtSortKeys")->SetAsStream(EncodeSortKeys(item.SortKeys));
  return true;
}

bool TSearchTypeStorage_Codebase::WriteDependents(const TList&, const TSearchTypeStorageItem& item) {
  TTable* sif = Table(kSif);
  const bool inputs =
      AppendNumberedRows(sif, "SifNum", &item.SrtName, item.InputFieldDefinitions.Count(), [&](size_t i) {
        const auto* d = item.InputFieldDefinitions.Input(i);
        Field(sif, "SifName")->SetAsString(d->Name);
        Field(sif, "SifDisplayName")->SetAsString(d->DisplayName);
        Field(sif, "SifType")->SetAsShort(static_cast<int>(d->FieldType));
        Field(sif, "SifIsFormula")->SetAsBoolean(d->IsFormula);
        Field(sif, "SifHighlightSource")->SetAsBoolean(d->HighlightSource);
        // Input fields carry no layout of their own; raw columns left blank would read as 8224.
        Field(sif, "SifLayoutPosition")->SetAsShort(0);
        Field(sif, "SifLayoutWidth")->SetAsLong(0);
        Field(sif, "SifLayoutAlignment")->SetAsShort(0);
        Field(sif, "SifLayoutFlags")->SetAsShort(0);
      });
  if (!inputs) return false;
  TTable* sof = Table(kSof);
  const bool outputs =
      AppendNumberedRows(sof, "SofNum", &item.SrtName, item.OutputFieldDefinitions.Count(), [&](size_t i) {
        const auto* d = item.OutputFieldDefinitions.Output(i);
        Field(sof, "SofName")->SetAsString(d->Name);
        Field(sof, "SofDisplayName")->SetAsString(d->DisplayName);
        Field(sof, "SofType")->SetAsShort(static_cast<int>(d->FieldType));
        Field(sof, "SofBoldIfNew")->SetAsBoolean(d->BoldIfNew);
        Field(sof, "SofHighlightTarget")->SetAsBoolean(d->HighlightTarget);
        Field(sof, "SofIsUrl")->SetAsBoolean(d->IsUrl);
        Field(sof, "SofIsDomain")->SetAsBoolean(d->IsDomain);
        WriteLayout(sof, "SofLayout", d->Layout);
      });
  return outputs && WriteOutputLayout(item);
}

void TSearchTypeStorage_Codebase::ReadRow(const TList&, TSearchTypeStorageItem& item) {
  TTable* t = Table(kSearchType);
  item.SrtName = Field(t, "SrtName")->AsString();
  item.DisplayName = Field(t, "SrtDisplayName")->AsString();
  item.SearchFrame = Field(t, "SrtSearchFrame")->AsString();
  item.AllowedResultOperations.Lines = SplitLines(Field(t, "SrtAllowedResultOperations")->AsString());
  item.FilterClasses.Lines = SplitLines(Field(t, "SrtFilterClasses")->AsString());
  item.UniqueKey = Field(t, "SrtUniqueKey")->AsString();
  item.Version = Field(t, "SrtVersion")->AsShort();
  std::string error;
  if (!DecodeSortKeys(Field(t, "SrtSortKeys")->AsStream(), item.SortKeys, error)) NoteError(xbeMemo, error);

  TTable* sif = Table(kSif);
  for (bool found = SeekKey(sif, {item.SrtName}); found; found = sif->SeekNext()) {
    auto* d = static_cast<TSearchTypeStorageInputFieldDefinitionItem*>(item.InputFieldDefinitions.Add());
    d->Name = Field(sif, "SifName")->AsString();
    d->DisplayName = Field(sif, "SifDisplayName")->AsString();
    d->FieldType = static_cast<TStorageFieldType>(std::clamp<int>(Field(sif, "SifType")->AsShort(), 0, 4));
    d->IsFormula = Field(sif, "SifIsFormula")->AsBoolean();
    d->HighlightSource = Field(sif, "SifHighlightSource")->AsBoolean();
  }
  TTable* sof = Table(kSof);
  for (bool found = SeekKey(sof, {item.SrtName}); found; found = sof->SeekNext()) {
    auto* d = static_cast<TSearchTypeStorageOutputFieldDefinitionItem*>(item.OutputFieldDefinitions.Add());
    d->Name = Field(sof, "SofName")->AsString();
    d->DisplayName = Field(sof, "SofDisplayName")->AsString();
    d->FieldType = static_cast<TStorageFieldType>(std::clamp<int>(Field(sof, "SofType")->AsShort(), 0, 4));
    d->BoldIfNew = Field(sof, "SofBoldIfNew")->AsBoolean();
    d->HighlightTarget = Field(sof, "SofHighlightTarget")->AsBoolean();
    d->IsUrl = Field(sof, "SofIsUrl")->AsBoolean();
    d->IsDomain = Field(sof, "SofIsDomain")->AsBoolean();
    ReadLayout(sof, "SofLayout", d->Layout);
  }
  TTable* sol = Table(kSol);
  for (bool found = SeekKey(sol, {item.SrtName}); found; found = sol->SeekNext()) {
    auto* d = static_cast<TStorageFieldDefinitionLayoutItem*>(item.OutputFieldLayout.Add());
    ReadLayoutColumns(sol, "Sol", *d);
  }
}

bool TSearchTypeStorage_Codebase::DeleteDependents(const TList&, const TDbKey& key) {
  for (size_t i : {kSif, kSof, kSol}) {
    if (!DeleteRows(Table(i), key)) return false;
  }
  return true;
}

std::optional<bool> TSearchTypeStorage_Codebase::UpdateOther(const TList& list, int fieldIndex) {
  if (fieldIndex == kSearchTypeUpdateOutputLayout) return std::nullopt;
  if (fieldIndex != kSearchTypeUpdateInputLayout) return true;
  TTable* sil = Table(kSil);
  if (!DeleteRows(sil, {})) return false;
  return AppendNumberedRows(sil, "SilNum", nullptr, list.InputFieldLayout.Count(), [&](size_t i) {
    WriteLayoutColumns(sil, "Sil", *list.InputFieldLayout.LayoutItem(i));
  });
}

bool TSearchTypeStorage_Codebase::UpdateRow(const TList&, const TSearchTypeStorageItem& item, int) {
  return DeleteRows(Table(kSol), {item.SrtName}) && WriteOutputLayout(item);
}

// The global input layout comes with a load of every search type.
void TSearchTypeStorage_Codebase::AfterLoad(const TList& selection, TList& out) {
  if (selection.Count() > 0) return;
  TTable* sil = Table(kSil);
  for (bool found = SeekKey(sil, {}); found; found = sil->SeekNext())
    ReadLayoutColumns(sil, "Sil",
                      *static_cast<TStorageFieldDefinitionLayoutItem*>(out.InputFieldLayout.Add()));
}

// ---- categories ----

namespace {

void WriteCategoryColumns(TTable* t, const TCategoryStorageItem& c) {
  auto f = [t](const char* name) { return t->Fields().Find(name); };
  f("CatDisplayName")->SetAsString(c.DisplayName);
  f("CatDescription")->SetAsString(c.Description);
  f("CatState")->SetAsShort(c.Enabled ? 1 : 0);
  f("CatFileName")->SetAsString(c.FileName);
  f("CatDefaultResultsPerEngine")->SetAsShort(c.DefaultResultsPerEngine);
  f("CatDefaultTotalResults")->SetAsShort(c.DefaultTotalResults);
  f("CatResultsPerEngine")->SetAsShort(c.ResultsPerEngine);
  f("CatTotalResults")->SetAsShort(c.TotalResults);
  f("CatPriority")->SetAsShort(c.Priority);
  f("SrtName")->SetAsString(c.SrtName);
  f("SrtSearchFrame")->SetAsString(c.SearchFrame);
  f("CatLanguage")->SetAsString(c.Language);
  f("CatVersion")->SetAsShort(c.Version);
  f("CatLastUpdateDate")->SetAsDateTime(c.LastUpdateDate);
  f("CatLastSearchDate")->SetAsDateTime(c.LastSearchDate);
}

void ReadCategoryColumns(TTable* t, TCategoryStorageItem& c) {
  auto f = [t](const char* name) { return t->Fields().Find(name); };
  c.CatName = f("CatName")->AsString();
  c.DisplayName = f("CatDisplayName")->AsString();
  c.Description = f("CatDescription")->AsString();
  c.Enabled = (f("CatState")->AsShort() & 1) != 0;
  c.FileName = f("CatFileName")->AsString();
  c.DefaultResultsPerEngine = f("CatDefaultResultsPerEngine")->AsShort();
  c.DefaultTotalResults = f("CatDefaultTotalResults")->AsShort();
  c.ResultsPerEngine = f("CatResultsPerEngine")->AsShort();
  c.TotalResults = f("CatTotalResults")->AsShort();
  c.Priority = f("CatPriority")->AsShort();
  c.SrtName = f("SrtName")->AsString();
  c.SearchFrame = f("SrtSearchFrame")->AsString();
  c.Language = f("CatLanguage")->AsString();
  c.Version = f("CatVersion")->AsShort();
  c.LastUpdateDate = f("CatLastUpdateDate")->AsDateTime();
  c.LastSearchDate = f("CatLastSearchDate")->AsDateTime();
}

}  // namespace

TCategoryStorage_Codebase::TCategoryStorage_Codebase() : TCodebaseRowStorage("Category", {"Category"}) {}

std::optional<TDbKey> TCategoryStorage_Codebase::KeyOf(const TList&, const TPersistent* entry) const {
  return TDbKey{CatNameOf(entry)};
}

TDbKey TCategoryStorage_Codebase::RowKey(const TList&) const {
  return {Field(Table(0), "CatName")->AsString()};
}

bool TCategoryStorage_Codebase::WriteRow(const TList&, const TCategoryStorageItem& item) {
  Field(Table(0), "CatName")->SetAsString(item.CatName);
  WriteCategoryColumns(Table(0), item);
  return true;
}

void TCategoryStorage_Codebase::ReadRow(const TList&, TCategoryStorageItem& item) {
  ReadCategoryColumns(Table(0), item);
}

std::optional<bool> TCategoryStorage_Codebase::UpdateOther(const TList&, int fieldIndex) {
  // Categories keep no filter or group blobs.
  if (fieldIndex == kStoreFilterManagers || fieldIndex == kStoreGroupManagers) return true;
  return std::nullopt;
}

bool TCategoryStorage_Codebase::UpdateRow(const TList&, const TCategoryStorageItem& item, int) {
  WriteCategoryColumns(Table(0), item);
  return true;
}

std::optional<std::pair<const char*, int>> TCategoryStorage_Codebase::FlagOf(int fieldIndex) const {
  if (fieldIndex != kCategorySetEnabled) return std::nullopt;
  return std::make_pair("CatState", 1);
}

// ---- engines ----

namespace {

void WriteEngineColumns(TTable* t, const TEngineStorageItem& e) {
  auto f = [t](const char* name) { return t->Fields().Find(name); };
  f("EngDisplayName")->SetAsString(e.DisplayName);
  f("EngDescription")->SetAsString(e.Description);
  f("EngHomePage")->SetAsString(e.HomePage);
  f("EngFlags")->SetAsShort(e.Flags);
  f("EngFileName")->SetAsString(e.FileName);
  f("EngState")->SetAsShort(e.State);
  f("EngPriority")->SetAsShort(e.Priority);
  f("EngDefaultUserName")->SetAsString(e.DefaultUserName);
  f("EngDefaultPassword")->SetAsString(e.DefaultPassword);
  f("EngUserName")->SetAsString(e.UserName);
  f("EngPassword")->SetAsString(e.Password);
  f("EngSupportFormula")->SetAsString(e.SupportFormula);
  f("EngVersion")->SetAsShort(e.Version);
  f("EngDefaultEnabled")->SetAsBoolean(e.DefaultEnabled);
  f("EngEnabled")->SetAsBoolean(e.Enabled);
}

void ReadEngineColumns(TTable* t, TEngineStorageItem& e) {
  auto f = [t](const char* name) { return t->Fields().Find(name); };
  e.EngName = f("EngName")->AsString();
  e.DisplayName = f("EngDisplayName")->AsString();
  e.Description = f("EngDescription")->AsString();
  e.HomePage = f("EngHomePage")->AsString();
  e.Flags = static_cast<uint8_t>(f("EngFlags")->AsShort());
  e.FileName = f("EngFileName")->AsString();
  e.State = static_cast<uint8_t>(f("EngState")->AsShort());
  e.Priority = f("EngPriority")->AsShort();
  e.DefaultUserName = f("EngDefaultUserName")->AsString();
  e.DefaultPassword = f("EngDefaultPassword")->AsString();
  e.UserName = f("EngUserName")->AsString();
  e.Password = f("EngPassword")->AsString();
  e.SupportFormula = f("EngSupportFormula")->AsString();
  e.Version = f("EngVersion")->AsShort();
  e.DefaultEnabled = f("EngDefaultEnabled")->AsBoolean();
  e.Enabled = f("EngEnabled")->AsBoolean();
}

}  // namespace

TEngineStorage_Codebase::TEngineStorage_Codebase()
    : TCodebaseRowStorage("Engine", {"Engine", "EngineSearchType"}) {}

std::optional<TDbKey> TEngineStorage_Codebase::KeyOf(const TList& list, const TPersistent* entry) const {
  return TDbKey{list.CatName, EngNameOf(entry)};
}

TDbKey TEngineStorage_Codebase::RowKey(const TList&) const {
  return {Field(Table(kEngine), "CatName")->AsString(), Field(Table(kEngine), "EngName")->AsString()};
}

bool TEngineStorage_Codebase::WriteRow(const TList& list, const TEngineStorageItem& item) {
  TTable* t = Table(kEngine);
  Field(t, "CatName")->SetAsString(list.CatName);
  Field(t, "EngName")->SetAsString(item.EngName);
  WriteEngineColumns(t, item);
  return true;
}

bool TEngineStorage_Codebase::WriteDependents(const TList& list, const TEngineStorageItem& item) {
  TTable* est = Table(kEngSrt);
  for (const auto& srt : item.SrtNames.Lines) {
    if (!est->AppendStart()) return false;
    Field(est, "CatName")->SetAsString(list.CatName);
    Field(est, "EngName")->SetAsString(item.EngName);
    Field(est, "SrtName")->SetAsString(srt);
    if (!est->Append()) return false;
  }
  return true;
}

void TEngineStorage_Codebase::ReadRow(const TList& selection, TEngineStorageItem& item) {
  ReadEngineColumns(Table(kEngine), item);
  TTable* est = Table(kEngSrt);
  for (bool found = SeekKey(est, {selection.CatName, item.EngName}); found; found = est->SeekNext())
    item.SrtNames.Lines.push_back(Field(est, "SrtName")->AsString());
}

std::optional<bool> TEngineStorage_Codebase::UpdateOther(const TList&, int fieldIndex) {
  if (fieldIndex == kStoreFilterManagers || fieldIndex == kStoreGroupManagers) return true;
  return std::nullopt;
}

bool TEngineStorage_Codebase::UpdateRow(const TList&, const TEngineStorageItem& item, int) {
  WriteEngineColumns(Table(kEngine), item);
  return true;
}

}  // namespace vandrel
