#include "engines/EngineCompiler.h"

#include <charconv>
#include <cmath>

#include "engines/SearchTypeCompiler.h"
#include "platform/Format.h"
#include "script/CollectionWrappers.h"

namespace vandrel {

std::string DefinitionName(const std::string& fileName) {
  size_t slash = fileName.find_last_of("/\\");
  std::string base = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
  size_t dot = base.rfind('.');
  return dot == std::string::npos || dot == 0 ? base : base.substr(0, dot);
}

namespace {

TEngineCompiler& EngineOf(TCommand& c) {
  return static_cast<TEngineCompiler&>(c.Compiler());
}

// Commands with one String argument that act on the engine.
template <void (*Act)(TEngineCompiler&, const std::string&)>
class TStringCommand : public TCommand {
 public:
  using TCommand::TCommand;
  void RunStep() override {
    if (!EvaluateAs(0, Params, dtString)) return ReportEvalError();
    Act(EngineOf(*this), Ev().AsString());
  }
};

template <void (*Act)(TEngineCompiler&)>
class TPlainCommand : public TCommand {
 public:
  using TCommand::TCommand;
  void RunStep() override { Act(EngineOf(*this)); }
};

void AddHttpVar(TEngineCompiler& e, const std::string& s) {
  e.HttpVars->Add(s);
}
void AddExcluded(TEngineCompiler& e, const std::string& s) {
  e.ResultsParser.Exclusions->Add(s);
}
void AddIncluded(TEngineCompiler& e, const std::string& s) {
  e.ResultsParser.Inclusions->Add(s);
}
void AddLinefeedTag(TEngineCompiler& e, const std::string& s) {
  e.ResultsParser.LineFeedTags->Add(s);
}
void AddPrefix(TEngineCompiler& e, const std::string& s) {
  e.ResultsParser.Prefixes->Add(s);
}
void ClearHttpVars(TEngineCompiler& e) {
  e.HttpVars->Clear();
}
void ClearExcluded(TEngineCompiler& e) {
  e.ResultsParser.Exclusions->Clear();
}
void ClearIncluded(TEngineCompiler& e) {
  e.ResultsParser.Inclusions->Clear();
}
void ClearPrefixes(TEngineCompiler& e) {
  e.ResultsParser.Prefixes->Clear();
}
void BuildSearchQuery(TEngineCompiler& e) {
  e.SetSearchQuery();
}

class TTranslateInRuleCommand : public TCommand {
 public:
  using TCommand::TCommand;
  void RunStep() override {
    if (!EvaluateList(0, Params, {dtString, dtString, dtString})) return ReportEvalError();
    TValueStack& s = Ev().Stack;
    if (TSearchRule* r = EngineOf(*this).ResultsParser.Rules->Find(s.At(0).Text))
      r->AddTranslation(s.At(1).Text, s.At(2).Text);
  }
};

class TRaiseErrorCommand : public TCommand {
 public:
  using TCommand::TCommand;
  void RunStep() override {
    if (!EvaluateList(0, Params, {dtInteger, dtString})) return ReportEvalError();
    TValueStack& s = Ev().Stack;
    RunError(static_cast<int>(s.At(0).AsInteger()), s.At(1).Text);
  }
};

class TAddTempFieldCommand : public TCommand {
 public:
  using TCommand::TCommand;
  void RunStep() override {
    if (!EvaluateList(0, Params, {dtString})) return ReportEvalError();
    TValueStack& s = Ev().Stack;
    uint8_t type = dtString;
    if (s.Count() >= 2) {
      if (!IsNumericType(s.At(1).DataType))
        return RunError(kErrIncompatibleTypes,
                        Format("Incompatible data types: '%s' and '%s'",
                               {DataTypeName(s.At(1).DataType), DataTypeName(dtInteger)}));
      int64_t t = s.At(1).AsInteger();
      if (t < dtFloat || t > dtMoney)
        return RunError(kErrInvalidDataType, Format("Invalid data type: %d", {static_cast<long long>(t)}));
      type = static_cast<uint8_t>(t);
    }
    EngineOf(*this).ResultsParser.AddTempField(s.At(0).Text, type);
  }
};

class TExpandResultsCommand : public TCommand {
 public:
  using TCommand::TCommand;
  void RunStep() override {
    if (!EvaluateList(0, Params, {dtString})) return ReportEvalError();
    TValueStack& s = Ev().Stack;
    std::string field = s.At(0).Text;
    TObjectRef list = s.Count() >= 2 && s.At(1).DataType == dtObject ? s.At(1).ObjectRef : nullptr;
    if (!EngineOf(*this).ExpandResults(field, list)) ReportEvalError();
  }
};

class TIgnoreStatusCommand : public TCommand {
 public:
  using TCommand::TCommand;
  void RunStep() override {
    if (!EvaluateAs(0, Params, dtInteger)) return ReportEvalError();
    EngineOf(*this).IgnoredStatusCodes.push_back(static_cast<int32_t>(Ev().AsInteger()));
  }
};

}  // namespace

TEngineCompiler::TEngineCompiler()
    : TBaseCompiler(std::make_unique<TEngineEvaluator>()),
      Descriptions(NewLanguageCollection()),
      DisplayNames(NewLanguageCollection()),
      Priorities(NewLanguageCollection()),
      HttpVars(std::make_shared<TZnStringList>()) {
  static_cast<TEngineEvaluator&>(Evaluator()).Engine = this;
  RunTimeLimit = kDefaultRunTimeLimitMs;
  DefineDefinitionConstants(constants_);
  const uint8_t back = kfExecutable | kfBackward;
  Syntax.Add("ClearHttpVars", kwClearHttpVars, CommandClass<TPlainCommand<&ClearHttpVars>>(), back);
  Syntax.Add("SetHttpVar", kwSetHttpVar, CommandClass<TStringCommand<&AddHttpVar>>(), back);
  Syntax.Add("SetSearchQuery", kwSetSearchQuery, CommandClass<TPlainCommand<&BuildSearchQuery>>(), back);
  Syntax.Add("AddExcluded", kwAddExcluded, CommandClass<TStringCommand<&AddExcluded>>(), back);
  Syntax.Add("ClearExcludedList", kwClearExcludedList, CommandClass<TPlainCommand<&ClearExcluded>>(), back);
  Syntax.Add("TranslateInRule", kwTranslateInRule, CommandClass<TTranslateInRuleCommand>(), kfExecutable);
  Syntax.Add("RaiseError", kwRaiseError, CommandClass<TRaiseErrorCommand>(), kfExecutable);
  Syntax.Add("AddIncluded", kwAddIncluded, CommandClass<TStringCommand<&AddIncluded>>(), back);
  Syntax.Add("ClearIncludedList", kwClearIncludedList, CommandClass<TPlainCommand<&ClearIncluded>>(), back);
  Syntax.Add("AddLinefeedTag", kwAddLinefeedTag, CommandClass<TStringCommand<&AddLinefeedTag>>(), back);
  Syntax.Add("AddPrefix", kwAddPrefix, CommandClass<TStringCommand<&AddPrefix>>(), back);
  Syntax.Add("ClearPrefixList", kwClearPrefixList, CommandClass<TPlainCommand<&ClearPrefixes>>(), back);
  Syntax.Add("AddTempField", kwAddTempField, CommandClass<TAddTempFieldCommand>(), back);
  Syntax.Add("ExpandResults", kwExpandResults, CommandClass<TExpandResultsCommand>(), kfExecutable);
  Syntax.Add("IgnoreHttpStatusCode", kwIgnoreHttpStatusCode, CommandClass<TIgnoreStatusCommand>(),
             kfExecutable);
  Syntax.Rebuild();
  ResetEngineVariables();
}

TEngineCompiler::~TEngineCompiler() {
  // The wrappers in the list refer to this compiler.
  Variables().Clear();
}

void TEngineCompiler::ResetEngineVariables() {
  ResetVariables();
  HttpVars->Clear();
  QueryParsers.Clear();
  TVariableList& v = Variables();
  v.SetParent(instance_ ? &instance_->Variables : &constants_);

  v.DefineConstant("Iteration", THostValue(static_cast<int64_t>(0)));
  v.DefineConstant("SubEngine", THostValue(static_cast<int64_t>(1)));
  v.SetBoolean("AuthorizationRequired", false, true);
  // Each engine owns its currency: without this local, its assignment would land in the search's default,
  // shared by every engine of the run.
  v.SetString("DefaultMoneyCode", "", true);
  v.SetInteger("DocumentType", 0, true);
  v.SetInteger("DownloadType", 0, true);
  v.SetInteger("NbSubEngines", 1, true);
  v.SetString("ParseExpression", ResultsParser.ParseExpression, true);
  v.SetBoolean("ParseIncompleteLinks", ResultsParser.ParseIncompleteLinks, true);
  v.SetInteger("ParseType", 0, true);
  v.SetString("Referer", "", true);
  v.SetInteger("ResultsPerEngine", 10, true);
  v.SetInteger("ResultsPerPage", 65535, true);
  v.SetBoolean("Terminated", false, true);
  v.SetInteger("TransferMethod", 0, true);
  v.SetBoolean("UseCookies", true, true);
  v.AddShared("Rules", std::make_shared<TRulesWrapper>("Rules", this, this));
  v.AddShared("InputFields", std::make_shared<TInputValuesWrapper>("InputFields", this, this));
  v.AddShared("Results", std::make_shared<TResultsWrapper>("Results", this, this));
  const struct {
    std::vector<const char*> Names;
    std::shared_ptr<TZnCollection> Coll;
  } colls[] = {{{"Descriptions", "Description"}, Descriptions},
               {{"DisplayNames", "DisplayName"}, DisplayNames},
               {{"Priorities", "Priority", "PrioritiesByEdition", "PrioritiesByLanguage"}, Priorities}};
  for (const auto& c : colls) {
    auto w = std::make_shared<TZnCollectionWrapper>(c.Names[0], c.Coll, this);
    for (const char* n : c.Names) v.AddShared(n, w);
  }
  const struct {
    const char* Name;
    std::shared_ptr<TZnStringList> List;
  } lists[] = {{"HttpVars", HttpVars},
               {"Inclusions", ResultsParser.Inclusions},
               {"Exclusions", ResultsParser.Exclusions},
               {"Prefixes", ResultsParser.Prefixes},
               {"LineFeedTags", ResultsParser.LineFeedTags}};
  for (const auto& l : lists)
    v.AddShared(l.Name, std::make_shared<TZnStringListWrapper>(l.Name, l.List, this));
  v.SetString("SearchQuery", "");
  v.SetString("SearchQueryPrefix", "");
  v.SetString("SearchQuerySeparator", "");
  v.SetString("ExactPhraseDelimiter", "\"");
}

void TEngineCompiler::SetInstance(TSearchTypeInstance* instance) {
  instance_ = instance;
  Variables().SetParent(instance ? &instance->Variables : &constants_);
  ResultsParser.SetInstance(instance);
  EditionInfo = instance ? instance->EditionInfo : nullptr;
}

TZnQueryParser& TEngineCompiler::QueryParserFor(const std::string& fieldName) {
  return *QueryParsers.FindOrAdd(fieldName);
}

void TEngineCompiler::SetSearchQuery() {
  if (!instance_) return;
  TSearchInputField* keywords = instance_->InputFields.Find("Keywords");
  if (!keywords) return;
  TZnQueryParser& qp = QueryParserFor(keywords->Name());
  qp.Parse(HostText(ToHostValue(*keywords)), true);
  TVariableList& v = Variables();
  TVariable* queryType = v.Find("QueryType");
  qp.SetExactPhrase(queryType && IsNumericType(queryType->DataType) && queryType->AsInteger() == 2);
  qp.SetExactPhraseDelimiter(v.GetString("ExactPhraseDelimiter", "\""));
  qp.SetPrefix(v.GetString("SearchQueryPrefix", ""));
  qp.SetSeparator(v.GetString("SearchQuerySeparator", ""));
  v.SetString("SearchQuery", qp.QueryText());
}

bool TEngineCompiler::ExpandResults(const std::string& fieldName, const TObjectRef& list) {
  TFuncEvaluator& ev = Evaluator();
  int index = instance_ ? instance_->OutputFields.IndexOf(fieldName) : -1;
  if (index < 0) {
    ev.SetError(kErrInvalidParameter, Format("Invalid parameter: '%s'", {fieldName}));
    return false;
  }
  TObjectRef target = list;
  if (auto* tr = dynamic_cast<TTransporter*>(target.get())) target = tr->Target;
  std::vector<std::string> values;
  if (auto* sl = dynamic_cast<TZnStringList*>(target.get())) {
    values = sl->Items();
  } else if (auto* coll = dynamic_cast<TZnCollection*>(target.get())) {
    for (size_t i = 0; i < coll->Count(); ++i) values.push_back(coll->At(i)->Key);
  } else {
    ev.SetError(kErrInvalidParameter, Format("Invalid parameter: '%s'", {"(Collection)"}));
    return false;
  }
  TSearchResultList& page = ResultsParser.Results();
  std::vector<std::unique_ptr<TResultRecord>> clones;
  for (size_t r = 0; r < page.Count(); ++r) {
    for (const std::string& s : values) {
      auto c = page.At(r).Clone();
      TResultField& f = c->Field(static_cast<size_t>(index));
      if (IsIntegralType(f.DataType)) {
        int64_t n = 0;
        auto res = std::from_chars(s.data(), s.data() + s.size(), n);
        f.SetInteger(res.ec == std::errc() && res.ptr == s.data() + s.size() ? n : 0);
      } else if (f.DataType == dtFloat || f.DataType == dtMoney) {
        // A typed field keeps its type whatever is written to it, so a text would leave the old number.
        std::string_view t = Trim(s, kAsciiControlsAndSpace);
        double x = 0;
        auto res = std::from_chars(t.data(), t.data() + t.size(), x);
        if (res.ec != std::errc() || res.ptr != t.data() + t.size() || !std::isfinite(x)) x = 0;
        if (f.DataType == dtMoney) {
          if (f.MoneyCode.empty()) f.MoneyCode = c->MoneyCode;
          f.SetMoneyValue(x);
        } else {
          f.SetFloat(x);
        }
      } else {
        f.SetString(s);
      }
      f.Invalidate();
      clones.push_back(std::move(c));
    }
  }
  page.Clear();
  for (auto& c : clones) {
    TResultRecord* rec = c.get();
    page.Add(std::move(c));
    rec->Refresh();
  }
  return true;
}

void TEngineCompiler::ApplyPageSettings() {
  TVariableList& v = Variables();
  std::string prefix = v.GetString("PrefixLink", "");
  if (!prefix.empty()) {
    ResultsParser.Prefixes->Clear();
    ResultsParser.Prefixes->Add(prefix);
  }
  std::string lineFeed = v.GetString("LineFeedTag", "");
  if (!lineFeed.empty()) {
    ResultsParser.LineFeedTags->Clear();
    ResultsParser.LineFeedTags->Add(lineFeed);
  }
  // Only this engine's own setting counts: a value further up the chain belongs to the search or to another
  // engine. An empty code is read as the axis currency, which is the search's default anyway.
  TVariable* money = v.FindLocal("DefaultMoneyCode");
  ResultsParser.DefaultMoneyCode = money ? money->AsString() : std::string();
}

void TEngineCompiler::ApplyParseSettings() {
  TVariableList& v = Variables();
  ResultsParser.ParseType = static_cast<int32_t>(v.GetInteger("ParseType", 0));
  ResultsParser.BaseLink = v.GetString("BaseLink", "");
  ResultsParser.ParseIncompleteLinks = v.GetBoolean("ParseIncompleteLinks", false);
  ResultsParser.ParseExpression = v.GetString("ParseExpression", "");
}

THostValue TEngineCompiler::LocalValue(const TZnCollection& c) const {
  TZnCollectionRecordPtr def = c.Find(c.DefaultKey);
  THostValue defValue = def ? ToHostValue(def->DefaultValue()) : THostValue();
  if (!EditionInfo) return defValue;
  TZnCollectionRecordPtr byEdition = c.FindOrDefault(EditionInfo->Edition);
  THostValue v = byEdition ? ToHostValue(byEdition->DefaultValue()) : THostValue();
  if (HostText(v) == HostText(defValue)) {
    TZnCollectionRecordPtr byLanguage = c.FindOrDefault(EditionInfo->Language);
    v = byLanguage ? ToHostValue(byLanguage->DefaultValue()) : defValue;
  }
  return v;
}

std::string TEngineCompiler::LocalDisplayName() const {
  return HostText(LocalValue(*DisplayNames));
}
std::string TEngineCompiler::LocalDescription() const {
  return HostText(LocalValue(*Descriptions));
}
int64_t TEngineCompiler::LocalPriority() const {
  THostValue v = LocalValue(*Priorities);
  if (v.IsString()) {
    int64_t n = 0;
    const std::string s = v.AsString();
    auto res = std::from_chars(s.data(), s.data() + s.size(), n);
    return res.ec == std::errc() ? n : 0;
  }
  return v.AsInteger();
}

// ---------------------------------------------------------------------------------------------------

namespace {

// Reads and compiles an engine or category file for `instance`, naming it after the file once read;
// false with the error on the compiler.
bool LoadDefinition(TEngineCompiler& c, const std::string& fileName, TSearchTypeInstance* instance,
                    std::string& name) {
  if (!c.LoadFromFile(fileName)) {
    c.AddError(kErrStream, FaultText(kErrStream, "Cannot open file " + fileName), 0);
    return false;
  }
  name = DefinitionName(fileName);
  c.SetInstance(instance);
  return c.Compile() == 0;
}

}  // namespace

TEngineReader::TEngineReader() : compiler_(std::make_unique<TEngineCompiler>()) {}
TEngineReader::~TEngineReader() = default;

bool TEngineReader::Load(const std::string& fileName, TSearchTypeInstance* instance) {
  TEngineCompiler& c = *compiler_;
  if (!LoadDefinition(c, fileName, instance, Name)) return false;
  TVariableList& v = c.Variables();
  const struct {
    const char* Name;
    bool* Flag;
  } flags[] = {{"AlwaysEnabled", &AlwaysEnabled},
               {"AuthorizationRequired", &AuthorizationRequired},
               {"AutoUpdate", &AutoUpdate},
               {"Enabled", &Enabled},
               {"SupportQuotes", &SupportQuotes},
               {"SupportAnd", &SupportAnd},
               {"SupportOr", &SupportOr},
               {"SupportNew", &SupportNew},
               {"SupportExactPhrase", &SupportExactPhrase}};
  for (const auto& f : flags) v.SetBoolean(f.Name, *f.Flag, true);
  const struct {
    const char* Name;
    std::string* Text;
  } texts[] = {{"Category", &Category}, {"HomePage", &HomePage}, {"Language", &Language}, {"Name", &Name}};
  for (const auto& t : texts) v.SetString(t.Name, *t.Text, true);
  if (c.ExecuteProcedure("Register") != 0) return false;
  for (const auto& f : flags) *f.Flag = v.GetBoolean(f.Name, false);
  for (const auto& t : texts) *t.Text = v.GetString(t.Name, "");
  if (Category.empty()) Category = v.GetString("ChannelSet3", "");
  if (Category.empty()) Category = v.GetString("ChannelSet", "");
  return true;
}

TCategoryReader::TCategoryReader() : compiler_(std::make_unique<TEngineCompiler>()) {}
TCategoryReader::~TCategoryReader() = default;

bool TCategoryReader::Load(const std::string& fileName, TSearchTypeInstance* instance) {
  TEngineCompiler& c = *compiler_;
  if (!LoadDefinition(c, fileName, instance, Name)) return false;
  TVariableList& v = c.Variables();
  v.SetString("Language", Language);
  v.SetString("Name", Name);
  v.SetBoolean("Enabled", Enabled);
  v.SetInteger("ResultsPerEngine", ResultsPerEngine);
  v.SetString("SearchType", SearchType);
  v.SetString("SearchFrame", SearchFrame);
  v.SetInteger("TotalResults", TotalResults);
  if (c.ExecuteProcedure("Register") != 0) return false;
  Language = v.GetString("Language", "");
  Name = v.GetString("Name", "");
  Enabled = v.GetBoolean("Enabled", false);
  ResultsPerEngine = v.GetInteger("ResultsPerEngine", 0);
  SearchType = v.GetString("SearchType", "");
  SearchFrame = v.GetString("SearchFrame", "");
  TotalResults = v.GetInteger("TotalResults", 0);
  return true;
}

}  // namespace vandrel
