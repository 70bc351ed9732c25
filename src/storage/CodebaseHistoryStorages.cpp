#include "storage/CodebaseHistoryStorages.h"

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

}  // namespace

// ---- searches ----

TSearchStorage_Codebase::TSearchStorage_Codebase()
    : TCodebaseStorage("Search", {"Search", "SearchFilterManagersData", "SearchGroupManagersData"}) {}

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

void TSearchStorage_Codebase::ReadColumns(TTable* t, TSearchStorageItem& s) {
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

bool TSearchStorage_Codebase::DeleteResultsOf(const std::vector<TDbKeyValue>& srhNum) {
  for (const char* name : {"Result", "ResultFilterManagersData", "ResultEngine", "ResultGroupManagersData"}) {
    TTable* t = CompanionTable(name);
    if (t == nullptr || !DeleteRows(t, srhNum)) return false;
  }
  return true;
}

bool TSearchStorage_Codebase::AddItems(const TBytes& items) {
  return RunBatch([&] {
    auto list = ReadTransaction<TSearchStorageTransactionList>(items);
    TTable* t = Table(kSearch);
    ProgressStart();
    for (size_t i = 0; i < list->Count(); ++i) {
      auto* s = list->ItemAs<TSearchStorageItem>(i);
      if (s == nullptr) continue;
      if (!IsStorableKey(s->Index()) || !t->AppendStart()) return false;
      Field(t, "SrhNum")->SetAsInteger(s->Index());
      WriteColumns(t, *s);
      if (!t->Append()) return false;
      ProgressItem(i, list->Count());
    }
    bool ok = StoreBlobRow(Table(kSfm), 1, "SfmData", list->FilterManagersData.Data) &&
              StoreBlobRow(Table(kSgm), 1, "SgmData", list->GroupManagersData.Data);
    ProgressEnd();
    return ok;
  });
}

bool TSearchStorage_Codebase::UpdateItems(const TBytes& items, int fieldIndex) {
  return RunBatch([&] {
    auto list = ReadTransaction<TSearchStorageTransactionList>(items);
    if (fieldIndex == kStoreFilterManagers)
      return StoreBlobRow(Table(kSfm), 1, "SfmData", list->FilterManagersData.Data);
    if (fieldIndex == kStoreGroupManagers)
      return StoreBlobRow(Table(kSgm), 1, "SgmData", list->GroupManagersData.Data);
    TTable* t = Table(kSearch);
    ProgressStart();
    for (size_t i = 0; i < list->Count(); ++i) {
      auto* s = list->ItemAs<TSearchStorageItem>(i);
      if (s == nullptr || !IsStorableKey(s->Index()) || !SeekKey(t, {s->Index()})) continue;
      if (fieldIndex == kSearchUpdateMatchCount)
        Field(t, "SrhMatches")->SetAsShort(s->MatchCount);
      else if (fieldIndex == kSearchUpdateAccessDate)
        Field(t, "SrhAccessDate")->SetAsDateTime(s->AccessDate);
      else
        WriteColumns(t, *s);
      if (!t->Flush()) return false;
      ProgressItem(i, list->Count());
    }
    ProgressEnd();
    return true;
  });
}

bool TSearchStorage_Codebase::SetItemsField(const TBytes& keys, const TDynamicValue& value) {
  return RunBatch([&] {
    auto list = ReadTransaction<TSearchStorageTransactionList>(keys);
    if (list->FieldIndex != kSearchSetFlagged) return true;
    TTable* t = Table(kSearch);
    for (size_t i = 0; i < list->Count(); ++i) {
      int32_t key = IndexOfEntry(list->Item(i));
      if (!IsStorableKey(key) || !SeekKey(t, {key})) continue;
      TField* flags = Field(t, "SrhFlags");
      flags->SetAsShort(SetBit(flags->AsShort(), kSrhFlagged, value.AsBoolean()));
      if (!t->Flush()) return false;
    }
    return true;
  });
}

bool TSearchStorage_Codebase::GetNextKey(const TBytes& selection, int32_t& key) {
  return Guard([&] {
    ReadTransaction<TSearchStorageTransactionList>(selection);
    int32_t next = HighestKey(Table(kSearch), {}, "SrhNum") + 1;
    if (!IsStorableKey(next)) return false;
    key = next;
    return true;
  });
}

bool TSearchStorage_Codebase::LoadItems(const TBytes& selection, TBytes& result) {
  return Guard([&] {
    auto sel = ReadTransaction<TSearchStorageTransactionList>(selection);
    TSearchStorageTransactionList out;
    TTable* t = Table(kSearch);
    ProgressStart();
    auto read = [&] {
      auto s = std::make_unique<TSearchStorageItem>();
      ReadColumns(t, *s);
      out.Add(std::move(s));
    };
    if (sel->Count() > 0) {
      for (size_t i = 0; i < sel->Count(); ++i) {
        int32_t key = IndexOfEntry(sel->Item(i));
        if (!IsStorableKey(key) || !SeekKey(t, {key})) return false;
        read();
        ProgressItem(i, sel->Count());
      }
    } else {
      size_t n = t->RecordCount(), i = 0;
      for (bool found = SeekKey(t, {}); found; found = t->SeekNext()) {
        read();
        ProgressItem(i++, n);
      }
    }
    out.FilterManagersData.Data = ReadBlobRow(Table(kSfm), 1, "SfmData");
    out.GroupManagersData.Data = ReadBlobRow(Table(kSgm), 1, "SgmData");
    result.clear();
    WriteObjectStream(result, out);
    ProgressEnd();
    return true;
  });
}

bool TSearchStorage_Codebase::DeleteItems(const TBytes& keys) {
  return RunBatch([&] {
    auto list = ReadTransaction<TSearchStorageTransactionList>(keys);
    ProgressStart();
    for (size_t i = 0; i < list->Count(); ++i) {
      int32_t key = IndexOfEntry(list->Item(i));
      if (!IsStorableKey(key)) continue;
      if (!DeleteRows(Table(kSearch), {key}) || !DeleteResultsOf({key})) return false;
      ProgressItem(i, list->Count());
    }
    ProgressEnd();
    return true;
  });
}

bool TSearchStorage_Codebase::DeleteAllItems(const TBytes& selection) {
  return RunBatch([&] {
    ReadTransaction<TSearchStorageTransactionList>(selection);
    for (size_t i : {kSearch, kSfm, kSgm}) {
      if (!DeleteRows(Table(i), {})) return false;
    }
    return DeleteResultsOf({});
  });
}

bool TSearchStorage_Codebase::EmptyStorage() {
  if (!RunBatch([&] { return DeleteResultsOf({}); })) return false;
  return TCodebaseStorage::EmptyStorage();
}

// ---- results ----

TResultStorage_Codebase::TResultStorage_Codebase()
    : TCodebaseStorage("Result",
                       {"Result", "ResultFilterManagersData", "ResultGroupManagersData", "ResultEngine"}) {}

bool TResultStorage_Codebase::AddItems(const TBytes& items) {
  return RunBatch([&] {
    auto list = ReadTransaction<TResultStorageTransactionList>(items);
    int32_t srhNum = list->SrhNum;
    if (!IsStorableKey(srhNum)) return false;
    TTable* t = Table(kResult);
    TTable* engines = Table(kResultEngine);
    ProgressStart();
    for (size_t i = 0; i < list->Count(); ++i) {
      auto* r = list->ItemAs<TResultStorageItem>(i);
      if (r == nullptr) continue;
      if (!IsStorableKey(r->Index()) || !t->AppendStart()) return false;
      Field(t, "SrhNum")->SetAsInteger(srhNum);
      Field(t, "ResNum")->SetAsInteger(r->Index());
      Field(t, "ResDate")->SetAsDateTime(r->Date);
      Field(t, "ResVisitedDate")->SetAsDateTime(0);
      Field(t, "ResNbOccurence")->SetAsShort(r->Occurences);
      Field(t, "ResState")->SetAsShort(ResultStateBits(*r));
      Field(t, "ResFlags")->SetAsShort((r->Visited ? kResVisited : 0) | (r->Checked ? kResChecked : 0));
      Field(t, "ResFileName")->SetAsString(r->FileName);
      std::vector<TBlobFieldValue> values;
      const TResultStorageFieldList* fields = r->ResultFields();
      for (size_t f = 0; f < fields->Count(); ++f) {
        const TResultStorageFieldItem* v = fields->ResultField(f);
        values.push_back({v->Name, v->Value(), v->DisplayValue()});
      }
      Field(t, "ResFieldValues")->SetAsStream(EncodeResultValues(list->OutputFieldDefinitions, values));
      Field(t, "ResUserState")->SetAsShort(r->UserState);
      if (!t->Append()) return false;
      for (const auto& engine : r->FoundBy.Lines) {
        if (!engines->AppendStart()) return false;
        Field(engines, "SrhNum")->SetAsInteger(srhNum);
        Field(engines, "ResNum")->SetAsInteger(r->Index());
        Field(engines, "EngName")->SetAsString(engine);
        if (!engines->Append()) return false;
      }
      ProgressItem(i, list->Count());
    }
    bool ok = StoreBlobRow(Table(kRfm), srhNum, "RfmData", list->FilterManagersData.Data) &&
              StoreBlobRow(Table(kRgm), srhNum, "RgmData", list->GroupManagersData.Data);
    ProgressEnd();
    return ok;
  });
}

bool TResultStorage_Codebase::UpdateItems(const TBytes& items, int fieldIndex) {
  return RunBatch([&] {
    auto list = ReadTransaction<TResultStorageTransactionList>(items);
    int32_t srhNum = list->SrhNum;
    if (!IsStorableKey(srhNum)) return false;
    if (fieldIndex == kStoreFilterManagers)
      return StoreBlobRow(Table(kRfm), srhNum, "RfmData", list->FilterManagersData.Data);
    if (fieldIndex == kStoreGroupManagers)
      return StoreBlobRow(Table(kRgm), srhNum, "RgmData", list->GroupManagersData.Data);
    if (fieldIndex != kResultUpdateVisited && fieldIndex != kResultUpdateState) return false;
    TTable* t = Table(kResult);
    ProgressStart();
    for (size_t i = 0; i < list->Count(); ++i) {
      auto* r = list->ItemAs<TResultStorageItem>(i);
      if (r == nullptr || !IsStorableKey(r->Index()) || !SeekKey(t, {srhNum, r->Index()})) continue;
      if (fieldIndex == kResultUpdateVisited) {
        TField* flags = Field(t, "ResFlags");
        flags->SetAsShort(SetBit(flags->AsShort(), kResVisited, r->Visited));
        Field(t, "ResVisitedDate")->SetAsDateTime(r->VisitedDate);
      } else {
        TField* state = Field(t, "ResState");
        state->SetAsShort((state->AsShort() & ~kResStateMask) | ResultStateBits(*r));
        Field(t, "ResFileName")->SetAsString(r->FileName);
      }
      if (!t->Flush()) return false;
      ProgressItem(i, list->Count());
    }
    ProgressEnd();
    return true;
  });
}

bool TResultStorage_Codebase::SetItemsField(const TBytes& keys, const TDynamicValue& value) {
  return RunBatch([&] {
    auto list = ReadTransaction<TResultStorageTransactionList>(keys);
    const char* column = nullptr;
    int bit = 0;
    if (list->FieldIndex == kResultSetDeleted) {
      column = "ResState";
      bit = rfsDeleted << kResFilterShift;
    } else if (list->FieldIndex == kResultSetChecked) {
      column = "ResFlags";
      bit = kResChecked;
    } else {
      return true;
    }
    int32_t srhNum = list->SrhNum;
    if (!IsStorableKey(srhNum)) return false;
    TTable* t = Table(kResult);
    for (size_t i = 0; i < list->Count(); ++i) {
      int32_t key = IndexOfEntry(list->Item(i));
      if (!IsStorableKey(key) || !SeekKey(t, {srhNum, key})) continue;
      TField* f = Field(t, column);
      f->SetAsShort(SetBit(f->AsShort(), bit, value.AsBoolean()));
      if (!t->Flush()) return false;
    }
    return true;
  });
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

void TResultStorage_Codebase::ReadResult(TResultStorageItem& r,
                                         const TResultStorageTransactionList& selection) {
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
    NoteError(xbeMemo, error);
  }
  TTable* engines = Table(kResultEngine);
  for (bool found = SeekKey(engines, {selection.SrhNum, resNum}); found; found = engines->SeekNext())
    r.FoundBy.Lines.push_back(Field(engines, "EngName")->AsString());
}

bool TResultStorage_Codebase::LoadItems(const TBytes& selection, TBytes& result) {
  return Guard([&] {
    auto sel = ReadTransaction<TResultStorageTransactionList>(selection);
    if (!IsStorableKey(sel->SrhNum)) return false;
    TResultStorageTransactionList out;
    out.SrhNum = sel->SrhNum;
    out.OutputFieldDefinitions.Assign(sel->OutputFieldDefinitions);
    TTable* t = Table(kResult);
    ProgressStart();
    std::vector<int32_t> keys;
    if (sel->Count() > 0) {
      for (size_t i = 0; i < sel->Count(); ++i) keys.push_back(IndexOfEntry(sel->Item(i)));
    } else {
      for (bool found = SeekKey(t, {sel->SrhNum}); found; found = t->SeekNext())
        keys.push_back(static_cast<int32_t>(Field(t, "ResNum")->AsInteger()));
    }
    for (size_t i = 0; i < keys.size(); ++i) {
      if (!IsStorableKey(keys[i]) || !SeekKey(t, {sel->SrhNum, keys[i]})) return false;
      auto r = std::make_unique<TResultStorageItem>();
      ReadResult(*r, *sel);
      out.Add(std::move(r));
      ProgressItem(i, keys.size());
    }
    out.FilterManagersData.Data = ReadBlobRow(Table(kRfm), sel->SrhNum, "RfmData");
    out.GroupManagersData.Data = ReadBlobRow(Table(kRgm), sel->SrhNum, "RgmData");
    result.clear();
    WriteObjectStream(result, out);
    ProgressEnd();
    return true;
  });
}

bool TResultStorage_Codebase::DeleteItems(const TBytes& keys) {
  return RunBatch([&] {
    auto list = ReadTransaction<TResultStorageTransactionList>(keys);
    int32_t srhNum = list->SrhNum;
    if (!IsStorableKey(srhNum)) return false;
    ProgressStart();
    for (size_t i = 0; i < list->Count(); ++i) {
      int32_t key = IndexOfEntry(list->Item(i));
      if (!IsStorableKey(key)) continue;
      if (!DeleteRows(Table(kResult), {srhNum, key}) || !DeleteRows(Table(kResultEngine), {srhNum, key}))
        return false;
      ProgressItem(i, list->Count());
    }
    ProgressEnd();
    return true;
  });
}

bool TResultStorage_Codebase::DeleteAllItems(const TBytes& selection) {
  return RunBatch([&] {
    auto sel = ReadTransaction<TResultStorageTransactionList>(selection);
    if (!IsStorableKey(sel->SrhNum)) return false;
    for (size_t i : {kResult, kRfm, kResultEngine, kRgm}) {
      if (!DeleteRows(Table(i), {sel->SrhNum})) return false;
    }
    return true;
  });
}

}  // namespace vandrel
