#include "currency/CurrencyScript.h"

#include <algorithm>

#include "script/BaseCompiler.h"
#include "script/CollectionWrappers.h"
#include "script/Collections.h"

namespace vandrel {

TCurrencyScript::TCurrencyScript() : Compiler_(std::make_unique<TBaseCompiler>()) {
  // The table loads silently: script messages have nowhere to go.
  Compiler_->OutputEnabled = false;
  Compiler_->OnMessageBox = [](TBaseCompiler&, const std::string&, const std::string&) {};
}

TCurrencyScript::~TCurrencyScript() = default;

bool TCurrencyScript::Load(const std::string& path) {
  Compiler_->ResetVariables();
  if (!Compiler_->LoadFromFile(path)) return false;
  return Compiler_->Compile() == 0;
}

bool TCurrencyScript::SetStringVariable(const std::string& name, const std::string& value) {
  return Compiler_->Variables().SetString(name, value) != nullptr;
}

bool TCurrencyScript::GetStringVariable(const std::string& name, std::string& value) {
  TVariable* v = Compiler_->Variables().Find(name);
  if (!v) return false;
  value = v->AsString();
  return true;
}

bool TCurrencyScript::ExecuteProcedure(const std::string& name) {
  return Compiler_->HasProcedure(name) && Compiler_->ExecuteProcedure(name) == 0;
}

bool TCurrencyScript::GetCollection(const std::string& name, std::vector<TCurrencyScriptRecord>& records) {
  auto* wrapper = dynamic_cast<TZnCollectionWrapper*>(Compiler_->Variables().Find(name));
  if (!wrapper) return false;
  const TZnCollection& collection = wrapper->Collection();
  records.clear();
  for (size_t i = 0; i < collection.Count(); ++i) {
    const TZnCollectionRecordPtr& source = collection.At(i);
    TCurrencyScriptRecord record;
    record.Key = source->Key;
    for (size_t f = 0; f < source->FieldCount(); ++f) {
      std::string fieldName = AsciiLowerCase(source->FieldName(f));
      const TBaseEvalItem* item = source->FindField(source->FieldName(f));
      if (!item) continue;
      TCurrencyScriptField field;
      field.IsText = item->DataType == dtString;
      field.Number = item->AsFloat();
      field.Text = item->AsString();
      record.Fields[fieldName] = std::move(field);
    }
    records.push_back(std::move(record));
  }
  return true;
}

}  // namespace vandrel

#include "currency/CurrencyConverters.h"

namespace vandrel {

void ReloadCurrencyTable(TCurrencyConverter& converter, const std::string& dataFolder,
                         const std::string& localCode, bool showConverted) {
  TCurrencyScript script;
  converter.LoadTable(&script, dataFolder, localCode, showConverted);
}

}  // namespace vandrel
