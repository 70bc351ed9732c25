#include "storage/CodebaseHistoryStorages.h"

#include <set>
#include <tuple>

#include "platform/TextUtils.h"
#include "storage/BlobCodecs.h"
#include "storage/ResultStorage.h"
#include "storage/SearchStorage.h"

namespace vandrel {

namespace {

enum { kSearch, kSfm, kSgm };
enum { kResult, kRfm, kRgm, kResultEngine };

// Search flags and result bits. ORDER: stored in the short columns.
constexpr int kSrhFlagged = 1 << 0;
constexpr int kSrhRefineWholeWords = 1 << 1;
constexpr int kSrhRefineCaseSensitive = 1 << 2;
constexpr int kResFilterShift = 5;  // rfsDeleted, rfsOutdated, rfsRemains from bit 5
constexpr int kResStateMask = 0x1FF;
constexpr int kResVisited = 1 << 0;
constexpr int kResChecked = 1 << 1;

int32_t IndexOfEntry(const TPersistent* entry) {
  if (auto* k = dynamic_cast<const TDefaultKeyItem*>(entry)) return k->Index;
  if (auto* i = dynamic_cast<const TStorageDataItem*>(entry)) return i->Index();
  return -1;
}

int ResultStateBits(const TResultStorageItem& r) {
  return (r.Validated ? 1 << 0 : 0) | (r.Skipped ? 1 << 1 : 0) | (r.IsHtml ? 1 << 2 : 0) |
         (r.Valid ? 1 << 3 : 0) | (r.Refined ? 1 << 4 : 0) | ((r.FilterState & 7) << kResFilterShift) |
         (r.New ? 1 << 8 : 0);
}

void ApplyResultStateBits(int bits, TResultStorageItem& r) {
  r.Validated = (bits & (1 << 0)) != 0;
  r.Skipped = (bits & (1 << 1)) != 0;
  r.IsHtml = (bits & (1 << 2)) != 0;
  r.Valid = (bits & (1 << 3)) != 0;
  r.Refined = (bits & (1 << 4)) != 0;
  r.FilterState = static_cast<uint8_t>((bits >> kResFilterShift) & 7);
  r.New = (bits & (1 << 8)) != 0;
}

int SetBit(int bits, int bit, bool on) {
  return on ? (bits | bit) : (bits & ~bit);
}

std::optional<TDbKey> StorableKey(int32_t index) {
  if (!IsStorableKey(index)) return std::nullopt;
  return TDbKey{index};
}

}  // namespace

// ---- searches ----

TSearchStorage_Codebase::TSearchStorage_Codebase()
    : TCodebaseRowStorage("Search", {"Search", "SearchFilterManagersData", "SearchGroupManagersData"}) {}

std::optional<TDbKey> TSearchStorage_Codebase::KeyOf(const TList&, const TPersistent* entry) const {
  return StorableKey(IndexOfEntry(entry));
}

TDbKey TSearchStorage_Codebase::RowKey(const TList&) const {
  return {static_cast<int32_t>(Field(Table(kSearch), "SrhNum")->AsInteger())};
}

bool TSearchStorage_Codebase::WriteRow(const TList&, const TSearchStorageItem& s) {
  if (!IsStorableKey(s.Index())) return false;
  Field(Table(kSearch), "SrhNum")->SetAsInteger(s.Index());
  WriteColumns(Table(kSearch), s);
  return true;
}

void TSearchStorage_Codebase::WriteColumns(TTable* t, const TSearchStorageItem& s) {
  Field(t, "SrhFlags")
      ->SetAsShort((s.Flagged ? kSrhFlagged : 0) | (s.RefineWholeWords ? kSrhRefineWholeWords : 0) |
                   (s.RefineCaseSensitive ? kSrhRefineCaseSensitive : 0));
  Field(t, "SrhCreationDate")->SetAsDateTime(s.CreationDate);
  Field(t, "SrhUpdateDate")->SetAsDateTime(s.UpdateDate);
  Field(t, "SrhAccessDate")->SetAsDateTime(s.AccessDate);
  Field(t, "SrhMatches")->SetAsShort(s.MatchCount);
  Field(t, "SrhResultsPerEngine")->SetAsShort(s.ResultsPerEngine);
  Field(t, "SrhTotalResults")->SetAsShort(s.TotalResults);
  Field(t, "SrhRefineQuery")->SetAsString(s.RefineString);
  Field(t, "SrhNotes")->SetAsString(s.Notes);
  Field(t, "SrhSearchValues")->SetAsStream(EncodeSearchValues(s.FieldDefinitions, *s.GetFields()));
  Field(t, "SrhFlagValues")->SetAsString(JoinLines(s.Flags.Lines));
  Field(t, "SrtName")->SetAsString(s.SrtName);
  Field(t, "SrhView")->SetAsString(s.View);
  Field(t, "SrhCatName")->SetAsString(s.CatName);
  Field(t, "SrhEngines")->SetAsString(JoinLines(s.Engines.Lines));
  Field(t, "SrhDisplayValue")->SetAsString(s.DisplayValue);
}

void TSearchStorage_Codebase::ReadRow(const TList&, TSearchStorageItem& s) {
  TTable* t = Table(kSearch);
  s.SetIndex(static_cast<int32_t>(Field(t, "SrhNum")->AsInteger()));
  int flags = Field(t, "SrhFlags")->AsShort();
  s.Flagged = (flags & kSrhFlagged) != 0;
  s.RefineWholeWords = (flags & kSrhRefineWholeWords) != 0;
  s.RefineCaseSensitive = (flags & kSrhRefineCaseSensitive) != 0;
  s.CreationDate = Field(t, "SrhCreationDate")->AsDateTime();
  s.UpdateDate = Field(t, "SrhUpdateDate")->AsDateTime();
  s.AccessDate = Field(t, "SrhAccessDate")->AsDateTime();
  s.MatchCount = Field(t, "SrhMatches")->AsShort();
  s.ResultsPerEngine = Field(t, "SrhResultsPerEngine")->AsShort();
  s.TotalResults = Field(t, "SrhTotalResults")->AsShort();
  s.RefineString = Field(t, "SrhRefineQuery")->AsString();
  s.Notes = Field(t, "SrhNotes")->AsString();
  std::string error;
  // A damaged blob costs this search its input values, not the whole history.
  if (!DecodeSearchValues(Field(t, "SrhSearchValues")->AsStream(), s.FieldDefinitions, *s.GetFields(),
                          error)) {
    s.FieldDefinitions.Clear();
    s.GetFields()->Clear();
    NoteError(xbeMemo, error);
  }
  s.Flags.Lines = SplitLines(Field(t, "SrhFlagValues")->AsString());
  s.SrtName = Field(t, "SrtName")->AsString();
  s.View = Field(t, "SrhView")->AsString();
  s.CatName = Field(t, "SrhCatName")->AsString();
  s.Engines.Lines = SplitLines(Field(t, "SrhEngines")->AsString());
  s.DisplayValue = Field(t, "SrhDisplayValue")->AsString();
}

bool TSearchStorage_Codebase::DeleteResultsOf(const TDbKey& srhNum) {
  for (const char* name : {"Result", "ResultFilterManagersData", "ResultEngine", "ResultGroupManagersData"}) {
    TTable* t = CompanionTable(name);
    if (t == nullptr || !DeleteRows(t, srhNum)) return false;
  }
  return true;
}

std::optional<bool> TSearchStorage_Codebase::UpdateOther(const TList& list, int fieldIndex) {
  if (fieldIndex == kStoreFilterManagers)
    return StoreBlobRow(Table(kSfm), 1, "SfmData", list.FilterManagersData.Data);
  if (fieldIndex == kStoreGroupManagers)
    return StoreBlobRow(Table(kSgm), 1, "SgmData", list.GroupManagersData.Data);
  return std::nullopt;
}

bool TSearchStorage_Codebase::UpdateRow(const TList&, const TSearchStorageItem& s, int fieldIndex) {
  TTable* t = Table(kSearch);
  if (fieldIndex == kSearchUpdateMatchCount)
    Field(t, "SrhMatches")->SetAsShort(s.MatchCount);
  else if (fieldIndex == kSearchUpdateAccessDate)
    Field(t, "SrhAccessDate")->SetAsDateTime(s.AccessDate);
  else
    WriteColumns(t, s);
  return true;
}

std::optional<std::pair<const char*, int>> TSearchStorage_Codebase::FlagOf(int fieldIndex) const {
  if (fieldIndex != kSearchSetFlagged) return std::nullopt;
  return std::make_pair("SrhFlags", kSrhFlagged);
}

bool TSearchStorage_Codebase::AfterAdd(const TList& list) {
  return StoreBlobRow(Table(kSfm), 1, "SfmData", list.FilterManagersData.Data) &&
         StoreBlobRow(Table(kSgm), 1, "SgmData", list.GroupManagersData.Data);
}

void TSearchStorage_Codebase::AfterLoad(const TList&, TList& out) {
  out.FilterManagersData.Data = ReadBlobRow(Table(kSfm), 1, "SfmData");
  out.GroupManagersData.Data = ReadBlobRow(Table(kSgm), 1, "SgmData");
}

bool TSearchStorage_Codebase::GetNextKey(const TBytes& selection, int32_t& key) {
  return Guard([&] {
    ReadTransaction<TSearchStorageTransactionList>(selection);
    int32_t highest = HighestKey(Table(kSearch), {}, "SrhNum");
    for (const char* name :
         {"Result", "ResultFilterManagersData", "ResultEngine", "ResultGroupManagersData"}) {
      TTable* t = CompanionTable(name);
      if (t == nullptr) return false;
      highest = std::max(highest, HighestKey(t, {}, "SrhNum"));
    }
    int32_t next = highest + 1;
    if (!IsStorableKey(next)) return false;
    key = next;
    return true;
  });
}

bool TSearchStorage_Codebase::EmptyStorage() {
  if (!RunBatch([&] { return DeleteResultsOf({}); })) return false;
  return TCodebaseStorage::EmptyStorage();
}

// ---- results ----

TResultStorage_Codebase::TResultStorage_Codebase()
    : TCodebaseRowStorage(
          "Result", {"Result", "ResultFilterManagersData", "ResultGroupManagersData", "ResultEngine"}) {}

std::optional<TDbKey> TResultStorage_Codebase::KeyOf(const TList& list, const TPersistent* entry) const {
  int32_t index = IndexOfEntry(entry);
  if (!IsStorableKey(index)) return std::nullopt;
  return TDbKey{list.SrhNum, index};
}

TDbKey TResultStorage_Codebase::RowKey(const TList& list) const {
  return {list.SrhNum, static_cast<int32_t>(Field(Table(kResult), "ResNum")->AsInteger())};
}

bool TResultStorage_Codebase::WriteRow(const TList& list, const TResultStorageItem& r) {
  if (!IsStorableKey(r.Index())) return false;
  TTable* t = Table(kResult);
  Field(t, "SrhNum")->SetAsInteger(list.SrhNum);
  Field(t, "ResNum")->SetAsInteger(r.Index());
  Field(t, "ResDate")->SetAsDateTime(r.Date);
  Field(t, "ResVisitedDate")->SetAsDateTime(0);
  Field(t, "ResNbOccurence")->SetAsShort(r.Occurences);
  Field(t, "ResState")->SetAsShort(ResultStateBits(r));
  Field(t, "ResFlags")->SetAsShort((r.Visited ? kResVisited : 0) | (r.Checked ? kResChecked : 0));
  Field(t, "ResFileName")->SetAsString(r.FileName);
  std::vector<TBlobFieldValue> values;
  const TResultStorageFieldList* fields = r.ResultFields();
  for (size_t f = 0; f < fields->Count(); ++f) {
    const TResultStorageFieldItem* v = fields->ResultField(f);
    values.push_back({v->Name, v->Value(), v->DisplayValue()});
  }
  Field(t, "ResFieldValues")->SetAsStream(EncodeResultValues(list.OutputFieldDefinitions, values));
  Field(t, "ResUserState")->SetAsShort(r.UserState);
  return true;
}

bool TResultStorage_Codebase::WriteDependents(const TList& list, const TResultStorageItem& r) {
  TTable* engines = Table(kResultEngine);
  // A row left over by an earlier, interrupted write would join this result when the table is next
  // opened; the key is cleared before it is written.
  if (!DeleteRows(engines, {list.SrhNum, r.Index()})) return false;
  std::vector<std::string> written;
  for (const auto& engine : r.FoundBy.Lines) {
    bool seen = false;
    for (const auto& w : written) seen = seen || SameText(w, engine);
    if (seen) continue;
    written.push_back(engine);
    if (!engines->AppendStart()) return false;
    Field(engines, "SrhNum")->SetAsInteger(list.SrhNum);
    Field(engines, "ResNum")->SetAsInteger(r.Index());
    Field(engines, "EngName")->SetAsString(engine);
    if (!engines->Append()) return false;
  }
  return true;
}

std::optional<bool> TResultStorage_Codebase::UpdateOther(const TList& list, int fieldIndex) {
  if (fieldIndex == kStoreFilterManagers)
    return StoreBlobRow(Table(kRfm), list.SrhNum, "RfmData", list.FilterManagersData.Data);
  if (fieldIndex == kStoreGroupManagers)
    return StoreBlobRow(Table(kRgm), list.SrhNum, "RgmData", list.GroupManagersData.Data);
  if (fieldIndex != kResultUpdateVisited && fieldIndex != kResultUpdateState) return false;
  return std::nullopt;
}

bool TResultStorage_Codebase::UpdateRow(const TList&, const TResultStorageItem& r, int fieldIndex) {
  TTable* t = Table(kResult);
  if (fieldIndex == kResultUpdateVisited) {
    TField* flags = Field(t, "ResFlags");
    flags->SetAsShort(SetBit(flags->AsShort(), kResVisited, r.Visited));
    Field(t, "ResVisitedDate")->SetAsDateTime(r.VisitedDate);
  } else {
    TField* state = Field(t, "ResState");
    state->SetAsShort((state->AsShort() & ~kResStateMask) | ResultStateBits(r));
    Field(t, "ResFileName")->SetAsString(r.FileName);
  }
  return true;
}

std::optional<std::pair<const char*, int>> TResultStorage_Codebase::FlagOf(int fieldIndex) const {
  if (fieldIndex == kResultSetDeleted) return std::make_pair("ResState", rfsDeleted << kResFilterShift);
  if (fieldIndex == kResultSetChecked) return std::make_pair("ResFlags", kResChecked);
  return std::nullopt;
}

bool TResultStorage_Codebase::AfterAdd(const TList& list) {
  return StoreBlobRow(Table(kRfm), list.SrhNum, "RfmData", list.FilterManagersData.Data) &&
         StoreBlobRow(Table(kRgm), list.SrhNum, "RgmData", list.GroupManagersData.Data);
}

bool TResultStorage_Codebase::DeleteDependents(const TList&, const TDbKey& key) {
  return DeleteRows(Table(kResultEngine), key);
}

bool TResultStorage_Codebase::Login(const TBytes& loginInfo) {
  if (!TCodebaseStorage::Login(loginInfo)) return false;
  TTable* engines = Table(kResultEngine);
  // The unique tag keeps the first row of a key in record order, so a later row of that key is the
  // hidden one.
  RunBatch([&] {
    std::set<std::tuple<int64_t, int64_t, std::string>> seen;
    engines->SelectIndex(nullptr);
    for (bool found = engines->First(); found; found = engines->Next()) {
      auto key = std::make_tuple(Field(engines, "SrhNum")->AsInteger(), Field(engines, "ResNum")->AsInteger(),
                                 Field(engines, "EngName")->AsString());
      if (!seen.insert(std::move(key)).second && !engines->Delete()) return false;
    }
    return true;
  });
  // A sweep that failed leaves the rows as they were; the login itself stands.
  return true;
}

bool TResultStorage_Codebase::GetNextKey(const TBytes& selection, int32_t& key) {
  return Guard([&] {
    auto sel = ReadTransaction<TResultStorageTransactionList>(selection);
    if (!IsStorableKey(sel->SrhNum)) return false;
    int32_t next = HighestKey(Table(kResult), {sel->SrhNum}, "ResNum") + 1;
    if (!IsStorableKey(next)) return false;
    key = next;
    return true;
  });
}

void TResultStorage_Codebase::ReadRow(const TList& selection, TResultStorageItem& r) {
  TTable* t = Table(kResult);
  int32_t resNum = static_cast<int32_t>(Field(t, "ResNum")->AsInteger());
  r.SetIndex(resNum);
  r.Date = Field(t, "ResDate")->AsDateTime();
  r.VisitedDate = Field(t, "ResVisitedDate")->AsDateTime();
  r.Occurences = Field(t, "ResNbOccurence")->AsShort();
  ApplyResultStateBits(Field(t, "ResState")->AsShort(), r);
  int flags = Field(t, "ResFlags")->AsShort();
  r.Visited = (flags & kResVisited) != 0;
  r.Checked = (flags & kResChecked) != 0;
  r.FileName = Field(t, "ResFileName")->AsString();
  r.Downloaded = !r.FileName.empty();
  r.UserState = Field(t, "ResUserState")->AsShort();
  std::vector<TBlobFieldValue> values;
  std::string error;
  // A damaged blob costs this result its fields, not the whole list.
  if (DecodeResultValues(Field(t, "ResFieldValues")->AsStream(), selection.OutputFieldDefinitions, values,
                         error)) {
    for (auto& v : values) r.ResultFields()->AddResultField(v.Name, v.Value, v.DisplayValue);
  } else {
    ++DamagedCounting_;
    NoteError(xbeMemo, error);
  }
  TTable* engines = Table(kResultEngine);
  for (bool found = SeekKey(engines, {selection.SrhNum, resNum}); found; found = engines->SeekNext())
    r.FoundBy.Lines.push_back(Field(engines, "EngName")->AsString());
}

void TResultStorage_Codebase::AfterLoad(const TList& selection, TList& out) {
  out.SrhNum = selection.SrhNum;
  out.OutputFieldDefinitions.Assign(selection.OutputFieldDefinitions);
  out.FilterManagersData.Data = ReadBlobRow(Table(kRfm), selection.SrhNum, "RfmData");
  out.GroupManagersData.Data = ReadBlobRow(Table(kRgm), selection.SrhNum, "RgmData");
  DamagedOnLoad_ = DamagedCounting_;
  DamagedCounting_ = 0;
}

}  // namespace vandrel
