#include "storage/QuorinSchema.h"

#include "platform/TextUtils.h"
#include "storage/DbKernel.h"

namespace vandrel {

namespace {

using K = TColumnKind;

TSchemaColumn S(const char* name, int width, const char* physical = "") {
  return {name, physical, K::ckString, width};
}
TSchemaColumn I4(const char* name) {
  return {name, "", K::ckInteger, 4};
}
TSchemaColumn Col(const char* name, K kind, const char* physical = "") {
  return {name, physical, kind, 0};
}

std::vector<TSchemaTable> BuildTables() {
  return {
      {"SearchType",
       "SrhType.ctb",
       "SearchType%d",
       {S("SrtName", 50), S("SrtDisplayName", 64, "SrtDName"), S("SrtSearchFrame", 64, "SrtSchFram"),
        Col("SrtAllowedResultOperations", K::ckMemo, "SrtAlResOp"),
        Col("SrtFilterClasses", K::ckMemo, "SrtFltClss"), S("SrtUniqueKey", 40, "SrtUnK"),
        Col("SrtVersion", K::ckShort), Col("SrtSortKeys", K::ckBlob, "SrtSortK")},
       "SrtPrim",
       {"SrtName"}},
      {"SearchTypeInputField",
       "Sif.ctb",
       "Sif%d",
       {S("SrtName", 50), I4("SifNum"), S("SifName", 40), S("SifDisplayName", 64, "SifDName"),
        Col("SifType", K::ckShort), Col("SifIsFormula", K::ckFlag, "SifIsFormu"),
        Col("SifHighlightSource", K::ckFlag, "SifHiLiSrc"), Col("SifLayoutPosition", K::ckShort, "SifLayPos"),
        Col("SifLayoutWidth", K::ckLong, "SifLayWid"), Col("SifLayoutAlignment", K::ckShort, "SifLayAlig"),
        Col("SifLayoutFlags", K::ckShort, "SifLayFlg")},
       "SifPrim",
       {"SrtName", "SifNum"}},
      {"SearchTypeOutputField",
       "Sof.ctb",
       "Sof%d",
       {S("SrtName", 50), I4("SofNum"), S("SofName", 40), S("SofDisplayName", 64, "SofDName"),
        Col("SofType", K::ckShort), Col("SofBoldIfNew", K::ckFlag, "SofBoldNew"),
        Col("SofHighlightTarget", K::ckFlag, "SofHiLiTrg"), Col("SofIsUrl", K::ckFlag),
        Col("SofIsDomain", K::ckFlag), Col("SofLayoutAlignment", K::ckShort, "SofAlign"),
        Col("SofLayoutWidth", K::ckLong, "SofWidth"), Col("SofLayoutSort", K::ckFlag, "SofSort"),
        Col("SofLayoutSortDirection", K::ckShort, "SofSortDir"),
        Col("SofLayoutFlags", K::ckShort, "SofFlags")},
       "SofPrim",
       {"SrtName", "SofNum"}},
      {"SearchTypeInputFieldLayout",
       "Sil.ctb",
       "Sil%d",
       {I4("SilNum"), Col("SilName", K::ckMemo), Col("SilDisplayName", K::ckMemo, "SilDName"),
        Col("SilFieldType", K::ckShort, "SilFType"), Col("SilAlignment", K::ckShort, "SilAlign"),
        Col("SilWidth", K::ckLong), Col("SilSort", K::ckFlag),
        Col("SilSortDirection", K::ckShort, "SilSortDir"), Col("SilFlags", K::ckShort)},
       "SilPrim",
       {"SilNum"}},
      {"SearchTypeOutputFieldLayout",
       "Sol.ctb",
       "Sol%d",
       {S("SrtName", 50), I4("SolNum"), Col("SolName", K::ckMemo),
        Col("SolDisplayName", K::ckMemo, "SolDName"), Col("SolFieldType", K::ckShort, "SolFType"),
        Col("SolAlignment", K::ckShort, "SolAlign"), Col("SolWidth", K::ckLong), Col("SolSort", K::ckFlag),
        Col("SolSortDirection", K::ckShort, "SolSortDir"), Col("SolFlags", K::ckShort)},
       "SolPrim",
       {"SrtName", "SolNum"}},
      // The two dates share one physical name; columns are bound by position, so they stay distinct.
      {"Category",
       "Category.ctb",
       "Category%d",
       {S("CatName", 50), S("CatDisplayName", 64, "CatDName"), Col("CatDescription", K::ckMemo, "CatDescr"),
        Col("CatState", K::ckShort), Col("CatFileName", K::ckMemo, "CatFName"),
        Col("CatDefaultResultsPerEngine", K::ckShort, "CatDefRPE"),
        Col("CatDefaultTotalResults", K::ckShort, "CatDefTotR"),
        Col("CatResultsPerEngine", K::ckShort, "CatResPEng"), Col("CatTotalResults", K::ckShort, "CatTotRes"),
        Col("CatPriority", K::ckShort), S("SrtName", 50), S("SrtSearchFrame", 64, "SrtSchFram"),
        S("CatLanguage", 64, "CatLang"), Col("CatVersion", K::ckShort),
        Col("CatLastUpdateDate", K::ckDate, "CatLstUpdDt"),
        Col("CatLastSearchDate", K::ckDate, "CatLstUpdDt")},
       "CatPrim",
       {"CatName"}},
      {"Engine",
       "Engine.ctb",
       "Engine%d",
       {S("CatName", 50), S("EngName", 50), S("EngDisplayName", 64, "EngDName"),
        Col("EngDescription", K::ckMemo, "EngDescr"), Col("EngHomePage", K::ckMemo, "EngHomPag"),
        Col("EngFlags", K::ckShort), Col("EngFileName", K::ckMemo, "EngFName"), Col("EngState", K::ckShort),
        Col("EngPriority", K::ckShort, "ChsPrio"), Col("EngDefaultUserName", K::ckMemo, "EngDefUNam"),
        Col("EngDefaultPassword", K::ckMemo, "EngDefPass"), Col("EngUserName", K::ckMemo, "EngUNam"),
        Col("EngPassword", K::ckMemo, "EngPass"), Col("EngSupportFormula", K::ckMemo, "EngSupForm"),
        Col("EngVersion", K::ckShort), Col("EngDefaultEnabled", K::ckFlag, "EngDefEnab"),
        Col("EngEnabled", K::ckFlag, "EngEnab")},
       "EngPrim",
       {"CatName", "EngName"}},
      {"EngineSearchType",
       "EngSrt.ctb",
       "EngSrt%d",
       {S("CatName", 50), S("EngName", 50), S("SrtName", 50)},
       "EstPrim",
       {"CatName", "EngName", "SrtName"}},
      {"Search",
       "Search.ctb",
       "Search%d",
       {I4("SrhNum"), Col("SrhFlags", K::ckShort), Col("SrhCreationDate", K::ckDate, "SrhCreatDt"),
        Col("SrhUpdateDate", K::ckDate, "SrhUpdDt"), Col("SrhAccessDate", K::ckDate, "SrhAccDt"),
        Col("SrhMatches", K::ckShort, "SrhMatch"), Col("SrhResultsPerEngine", K::ckShort, "SrhResPEng"),
        Col("SrhTotalResults", K::ckShort, "SrhTotRes"), Col("SrhRefineQuery", K::ckMemo, "SrhRefQry"),
        Col("SrhNotes", K::ckMemo), Col("SrhSearchValues", K::ckBlob, "SrhSrhVal"),
        Col("SrhFlagValues", K::ckMemo, "SrhFlVal"), S("SrtName", 50), S("SrhView", 64), S("SrhCatName", 50),
        Col("SrhEngines", K::ckMemo), Col("SrhDisplayValue", K::ckMemo, "SrhDispVal")},
       "SrhNum",
       {"SrhNum"}},
      {"SearchFilterManagersData",
       "Sfm.ctb",
       "Sfm%d",
       {I4("SfmNum"), Col("SfmData", K::ckBlob)},
       "SfmNum",
       {"SfmNum"}},
      {"SearchGroupManagersData",
       "Sgm.ctb",
       "Sgm%d",
       {I4("SgmNum"), Col("SgmData", K::ckBlob)},
       "SgmNum",
       {"SgmNum"}},
      {"Result",
       "Result.ctb",
       "Result%d",
       {I4("SrhNum"), I4("ResNum"), Col("ResDate", K::ckDate, "ResDt"),
        Col("ResVisitedDate", K::ckDate, "ResVisDt"), Col("ResNbOccurence", K::ckShort, "ResNbOcc"),
        Col("ResState", K::ckShort), Col("ResFlags", K::ckShort), Col("ResFileName", K::ckMemo, "ResFName"),
        Col("ResFieldValues", K::ckBlob, "ResFldVal"), Col("ResUserState", K::ckShort, "ResUsrStat")},
       "ResPrim",
       {"SrhNum", "ResNum"}},
      {"ResultFilterManagersData",
       "Rfm.ctb",
       "Rfm%d",
       {I4("SrhNum"), Col("RfmData", K::ckBlob)},
       "SrhNum",
       {"SrhNum"}},
      {"ResultGroupManagersData",
       "Rgm.ctb",
       "Rgm%d",
       {I4("SrhNum"), Col("RgmData", K::ckBlob)},
       "SrhNum",
       {"SrhNum"}},
      {"ResultEngine",
       "RChannel.ctb",
       "ResultC%d",
       {I4("SrhNum"), I4("ResNum"), S("EngName", 50)},
       "REPrim",
       {"SrhNum", "ResNum", "EngName"}},
  };
}

}  // namespace

const std::vector<TSchemaTable>& SchemaTables() {
  static const std::vector<TSchemaTable> tables = BuildTables();
  return tables;
}

const TSchemaTable* FindSchemaTable(std::string_view dictionaryName) {
  for (const auto& t : SchemaTables()) {
    if (SameText(t.DictionaryName, dictionaryName)) return &t;
  }
  return nullptr;
}

void DefineSchemaTable(TTable& table, const TSchemaTable& definition) {
  TFieldList& f = table.Fields();
  for (const auto& c : definition.Columns) f.AddColumn(c);
  TIndex* primary = table.Indexes().AddIndex("Primary", definition.IndexTag, 0);
  for (const auto& name : definition.IndexFields) primary->Fields().AddIndexField(f.Find(name), true);
}

}  // namespace vandrel
