#include "search/DefinitionReaders.h"

#include <algorithm>
#include <limits>

#include "engines/EngineCompiler.h"
#include "engines/SearchTypeCompiler.h"
#include "platform/TextUtils.h"

namespace vandrel {

namespace {

std::string FirstError(const TBaseCompiler& compiler, const std::string& path) {
  if (!compiler.Errors.empty()) return compiler.Errors.front().Text;
  return "Cannot load " + path;
}

uint8_t SummaryType(uint8_t dataType) {
  switch (dataType) {
    case dtBoolean:
      return sftBoolean;
    case dtFloat:
      return sftDouble;
    case dtInteger:
    case dtSmallInteger:
    case dtByte:
      return sftInteger;
    case dtMoney:
      return sftMoney;
    default:
      return sftString;
  }
}

int32_t Clamp32(int64_t v) {
  return static_cast<int32_t>(
      std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

}  // namespace

bool ReadSearchTypeDefinition(const std::string& path, const std::string& name, TVariableList* constants,
                              TSearchTypeSummary& out, std::string& error) {
  TSearchTypeReader reader;
  if (constants) reader.Variables.SetParent(constants);
  reader.Name = name;
  bool ok = reader.Load(path);
  if (!ok) error = FirstError(reader.Compiler(), path);
  reader.Variables.SetParent(nullptr);
  if (!ok) return false;

  out = TSearchTypeSummary();
  out.DisplayName = DefaultText(*reader.DisplayNames);
  out.SearchFrame = AsciiLowerCase(reader.SearchFrame);
  if (const TSearchTypeView* view = reader.Views.empty() ? nullptr : reader.Views.front().get()) {
    out.UniqueKey = view->UniqueKey;
    for (size_t i = 0; i < view->SortKeys->Count(); ++i)
      out.SortKeys.push_back({view->SortKeys->At(i).FieldName, view->SortKeys->At(i).Ascending});
  }
  for (size_t i = 0; i < reader.InputFields->Count(); ++i) {
    const TBaseSearchInputField& f = reader.InputFields->At(i);
    out.InputFields.push_back(
        {f.FieldName, f.DisplayName(), SummaryType(f.DataType), !f.Formula.empty(), f.HighlightSource});
  }
  for (size_t i = 0; i < reader.OutputFields->Count(); ++i) {
    const TBaseSearchOutputField& f = reader.OutputFields->At(i);
    if (f.Temporary) continue;
    TSearchTypeSummary::TOutputField o;
    o.Name = f.FieldName;
    o.DisplayName = f.DisplayName();
    o.FieldType = SummaryType(f.DataType);
    o.Alignment = f.Alignment;
    o.Width = f.Width;
    o.Hidden = f.Hidden;
    o.Internal = f.Internal;
    o.Summary = f.Summary;
    o.GraphicalDisplay = f.DefaultGraphicalDisplay;
    o.SortColumn = f.DefaultSortColumn;
    o.SortDescending = f.SortDescending;
    o.BoldIfNew = f.BoldIfNew;
    o.HighlightTarget = f.HighlightTarget;
    o.IsUrl = f.IsUrl;
    o.IsDomain = f.IsDomain;
    out.OutputFields.push_back(std::move(o));
  }
  return true;
}

// Loads a category or engine definition and takes the texts and priority every summary carries.
template <class TReader, class TSummary>
bool LoadSummary(const std::string& path, TReader& reader, TSummary& out, std::string& error) {
  if (!reader.Load(path)) {
    error = FirstError(reader.Compiler(), path);
    return false;
  }
  TEngineCompiler& c = reader.Compiler();
  out.DisplayName = c.LocalDisplayName();
  out.Description = c.LocalDescription();
  out.Priority = Clamp32(c.LocalPriority());
  return true;
}

bool ReadCategoryDefinition(const std::string& path, TCategorySummary& out, std::string& error) {
  TCategoryReader reader;
  if (!LoadSummary(path, reader, out, error)) return false;
  out.Language = reader.Language;
  out.SearchType = reader.SearchType;
  out.SearchFrame = reader.SearchFrame;
  out.Enabled = reader.Enabled;
  out.ResultsPerEngine = Clamp32(reader.ResultsPerEngine);
  out.TotalResults = Clamp32(reader.TotalResults);
  return true;
}

bool ReadEngineDefinition(const std::string& path, TEngineSummary& out, std::string& error) {
  TEngineReader reader;
  if (!LoadSummary(path, reader, out, error)) return false;
  TEngineCompiler& c = reader.Compiler();
  out.HomePage = reader.HomePage;
  out.Enabled = reader.Enabled;
  out.AlwaysEnabled = reader.AlwaysEnabled;
  out.AuthorizationRequired = reader.AuthorizationRequired;
  out.SupportNew = reader.SupportNew;
  out.UserName = c.Variables().GetString("UserName", "");
  out.Password = c.Variables().GetString("Password", "");
  out.SupportFormula = c.Variables().GetString("SupportFormula", "");
  return true;
}

}  // namespace vandrel
