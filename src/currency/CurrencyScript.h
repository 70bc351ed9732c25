// Runs the currency data script through the script language for the currency table loader.
#pragma once

#include <memory>

#include "currency/Currencies.h"

namespace vandrel {

class TBaseCompiler;

class TCurrencyScript : public ICurrencyTableScript {
 public:
  TCurrencyScript();
  ~TCurrencyScript() override;

  bool Load(const std::string& path) override;
  bool SetStringVariable(const std::string& name, const std::string& value) override;
  bool GetStringVariable(const std::string& name, std::string& value) override;
  bool ExecuteProcedure(const std::string& name) override;
  bool GetCollection(const std::string& name, std::vector<TCurrencyScriptRecord>& records) override;

 private:
  std::unique_ptr<TBaseCompiler> Compiler_;
};

}  // namespace vandrel

namespace vandrel {

class TCurrencyConverter;

// Loads "currencies.ccs" from `dataFolder` into the converter (the USD table when that fails) and applies
// the configured local currency and display choice.
void ReloadCurrencyTable(TCurrencyConverter& converter, const std::string& dataFolder,
                         const std::string& localCode, bool showConverted);

}  // namespace vandrel
