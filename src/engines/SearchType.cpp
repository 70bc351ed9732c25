#include "engines/SearchType.h"

#include <algorithm>

#include "engines/SearchTypeCompiler.h"

namespace vandrel {

std::shared_ptr<TZnCollection> NewLanguageCollection(const THostValue& initial) {
  auto c = std::make_shared<TZnCollection>();
  c->DefaultKey = "ENG";
  if (!initial.IsEmpty()) c->AddWithValue("ENG", initial);
  return c;
}

std::string DefaultText(const TZnCollection& c) {
  TZnCollectionRecordPtr r = c.Find(c.DefaultKey);
  return r ? r->DefaultValue().AsString() : std::string();
}

void SetDefaultText(TZnCollection& c, const std::string& text) {
  c.FindOrAdd(c.DefaultKey)->DefaultValue().SetString(text);
}

void DefineDefinitionConstants(TVariableList& list) {
  // Script-visible values stored in definition files: never change them.
  static const struct {
    const char* Name;
    int Value;
  } kConstants[] = {
      {"SP_HTTP", 1},
      {"SP_LDAP", 2},
      {"CT_SEARCH", 0},
      {"CT_DOWNLOAD", 1},
      {"QT_ALLWORDS", 0},
      {"QT_ANYWORDS", 1},
      {"QT_EXACTPHRASE", 2},
      {"DT_UNKNOWN", 0},
      {"DT_FLOAT", 1},
      {"DT_STRING", 2},
      {"DT_INTEGER", 3},
      {"DT_BOOLEAN", 4},
      {"DT_SMALLINT", 5},
      {"DT_BYTE", 6},
      {"DT_MONEY", 7},
      {"DT_OBJECT", 8},
      {"DT_VARIANT", 9},
      {"FA_LEFT", 0},
      {"FA_CENTER", 1},
      {"FA_RIGHT", 2},
      {"REDUC_NONE", 0},
      {"REDUC_SLASH", 1},
      {"REDUC_WWW", 2},
      {"REDUC_DEFAULTPAGE", 4},
      {"REDUC_DOMAINPREFIX", 8},
      {"REDUC_ALL", 65535},
      {"REDUCE_NONE", 0},
      {"REDUCE_SLASH", 1},
      {"REDUCE_WWW", 2},
      {"REDUCE_DEFAULTPAGE", 4},
      {"REDUCE_DOMAINPREFIX", 8},
      {"REDUCE_ALL", 65535},
      {"TM_GET", 0},
      {"TM_HEADERS", 1},
      {"TM_POST", 2},
      {"RP_INFINITE", 65535},
      {"DT_SEARCH", 0},
      {"DT_DOWNLOAD", 1},
      {"PT_LINK", 0},
      {"PT_EXPRESSION", 1},
      {"PT_PAGE", 2},
      {"RC_CUSTOM", 0},
      {"RC_LINKADDRESS", 1},
      {"RC_LINKTEXT", 2},
      {"RC_DOCUMENTADDRESS", 3},
      {"RC_DOCADDRESS", 3},
      {"RC_PAGEADDRESS", 3},
      {"RC_DOCUMENTTITLE", 4},
      {"RC_FORMULA", 5},
      {"RC_XMLATTRIBUTE", 10},
      {"RC_XMLATTR", 10},
      {"RC_XMLTEXT", 11},
      {"DOC_HTML", 0},
      {"DOC_XML", 1},
      {"DT_NUMERIC", 1},
      {"DT_POINTER", 8},
  };
  for (const auto& c : kConstants) list.DefineConstant(c.Name, THostValue(static_cast<int64_t>(c.Value)));
  list.DefineConstant("SK_ASCENDING", THostValue(true));
  list.DefineConstant("SK_DESCENDING", THostValue(false));
}

// ---------------------------------------------------------------------------------------------------

TBaseSearchField::TBaseSearchField(std::string name, TSearchType* owner)
    : TBaseEvalItem(dtString),
      DisplayNames(NewLanguageCollection(THostValue(name))),
      FieldName(std::move(name)),
      SearchType(owner) {}

void TBaseSearchField::SetDeclaredType(uint8_t type) {
  DeclaredType = type;
  DataType = (type == dtSmallInteger || type == dtByte) ? static_cast<uint8_t>(dtInteger) : type;
}

void TBaseSearchInputField::SetChoicesText(const std::string& text) {
  ChoicesText = text;
  Choices.clear();
  size_t start = 0;
  for (;;) {
    size_t comma = text.find(',', start);
    std::string part = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    size_t b = part.find_first_not_of(" \t\r\n");
    size_t e = part.find_last_not_of(" \t\r\n");
    Choices.push_back(b == std::string::npos ? std::string() : part.substr(b, e - b + 1));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
}

int CompareSearchFields(const TBaseSearchField& a, const TBaseSearchField& b) {
  if (a.Length != b.Length || a.DataType != b.DataType || a.FieldName != b.FieldName) return 2;
  if (a.DisplayName() != b.DisplayName() || a.FormatString != b.FormatString || a.Formula != b.Formula)
    return 1;
  return 0;
}

// ---------------------------------------------------------------------------------------------------

TSortKey* TSortKeyList::Find(std::string_view name) const {
  for (const auto& k : items_)
    if (SameText(k->FieldName, name)) return k.get();
  return nullptr;
}

std::shared_ptr<TSortKey> TSortKeyList::Add(const std::string& fieldName, bool ascending) {
  items_.push_back(std::make_shared<TSortKey>(fieldName, ascending));
  Resolved = false;
  return items_.back();
}

void TSortKeyList::Resolve(const TBaseSearchOutputFieldList& fields) {
  if (Resolved) return;
  for (auto& k : items_) {
    if (k->FieldIndex >= 0) continue;
    k->FieldIndex = fields.IndexOf(k->FieldName);
    if (k->FieldIndex >= 0) k->FieldType = fields.At(static_cast<size_t>(k->FieldIndex)).DataType;
  }
  Resolved = true;
}

// ---------------------------------------------------------------------------------------------------

TSearchType::TSearchType()
    : InputFields(std::make_shared<TBaseSearchInputFieldList>(this)),
      OutputFields(std::make_shared<TBaseSearchOutputFieldList>(this)) {
  DefineDefinitionConstants(Variables);
  ResetViews(kDefaultUrlReduction);
}

TSearchType::~TSearchType() = default;

TSearchTypeView* TSearchType::FindView(std::string_view name) const {
  for (const auto& v : Views)
    if (SameText(v->Name, name)) return v.get();
  return nullptr;
}

TSearchTypeView& TSearchType::SelectView(const std::string& name) {
  TSearchTypeView* v = FindView(name);
  if (!v) {
    Views.push_back(std::make_unique<TSearchTypeView>());
    v = Views.back().get();
    v->Name = name;
  }
  CurrentView = v;
  CurrentViewName = v->Name;
  return *v;
}

void TSearchType::ResetViews(uint32_t reduction) {
  Views.clear();
  SelectView("DEFAULT").UrlReduction = reduction;
}

void TSearchType::SetUniqueKey(const std::string& fieldName) {
  CurrentView->UniqueKey = fieldName;
  CurrentView->UniqueKeyIndex = OutputFields->IndexOf(fieldName);
}

}  // namespace vandrel
