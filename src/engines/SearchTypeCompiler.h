// The search-type script: its commands, functions, acting variables and field wrappers, and the reader
// that loads a search-type definition.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "engines/SearchType.h"
#include "script/BaseCompiler.h"

namespace vandrel {

// Keyword ids of search-type scripts, stored in compiled files: never renumber.
enum TSearchTypeKeywordId : uint16_t {
  kwAddInputField = 4096,
  kwAddOutputField = 4097,
  kwAddSortKey = 4098,
  kwSelectView = 4101,
};

// A variable whose assignment acts on its host (CurrentView, UniqueKey, ...).
class TActionVariable : public TVariable {
 public:
  TActionVariable(std::string name, uint8_t type, std::function<void(TActionVariable&)> onChange)
      : TVariable(std::move(name), type), OnChange(std::move(onChange)) {}
  void Changed() override {
    if (OnChange && !Muted) OnChange(*this);
  }
  std::function<void(TActionVariable&)> OnChange;
  bool Muted = false;  // host writes that must not act
};

// Reads and writes the properties of a field definition on behalf of a wrapper (`self` receives errors
// and produced objects). Answers false for a name that is no field property.
bool ReadSearchFieldProperty(TVariable& self, TBaseSearchField& field, const std::string& name,
                             THostValue& out);
bool WriteSearchFieldProperty(TVariable& self, TBaseSearchField& field, const std::string& name,
                              const THostValue& value);

// One field definition: `f.name`, `f.datatype = DT_MONEY` ...
class TSearchFieldWrapper : public TWrapperOf<TSearchFieldWrapper, TBaseSearchField> {
 public:
  TSearchFieldWrapper(std::string name, std::shared_ptr<TBaseSearchField> field, TBaseCompiler* compiler);
  THostValue GetProperty(const std::string& name) override;
  void SetProperty(const std::string& name, const THostValue& value) override;
  void SetPropertyObject(const std::string& name, const TObjectRef& object) override;
};

// The sort keys of the current view (or of one list): "count", "add"(name), `SortKeys[key].ascending`.
class TSortKeyListWrapper : public TBaseCollectionWrapper {
 public:
  // With a search type the wrapper always follows its current view.
  TSortKeyListWrapper(std::string name, TSearchType* type, std::shared_ptr<TSortKeyList> list,
                      TBaseCompiler* compiler);
  static std::shared_ptr<TVariable> Make(const std::string& name, const TObjectRef& target,
                                         TBaseCompiler* compiler);
  TWrapperFactory WrapperClass() const override { return &Make; }
  THostValue GetProperty(const std::string& name) override;
  THostValue GetIndexed(const THostValue& key, const std::string& member) override;
  void SetIndexed(const THostValue& key, const std::string& member, const THostValue& value,
                  const THostValue& memberArg) override;
  void GetObject(TWrapperFactory wrapperClass = nullptr) override;
  TVariablePtr Select(int index) override;

 private:
  TSortKeyList& List() const;
  std::shared_ptr<TSortKey> KeyFor(const THostValue& key);
  TSearchType* type_;
  std::shared_ptr<TSortKeyList> list_;
};

class TSortKeyWrapper : public TWrapperOf<TSortKeyWrapper, TSortKey> {
 public:
  TSortKeyWrapper(std::string name, std::shared_ptr<TSortKey> key, TBaseCompiler* compiler);
  THostValue GetProperty(const std::string& name) override;
  void SetProperty(const std::string& name, const THostValue& value) override;

  static bool Read(TSortKey& key, const std::string& name, THostValue& out);
  static bool Write(TSortKey& key, const std::string& name, const THostValue& value);
};

class TSearchTypeEvaluator : public TFuncEvaluator {
 public:
  explicit TSearchTypeEvaluator(TSearchType& type);
};

class TSearchTypeCompiler : public TBaseCompiler {
 public:
  explicit TSearchTypeCompiler(TSearchType& type);
  ~TSearchTypeCompiler() override;

  // Defines the search-type variables anew (after the base variables).
  void ResetVariables() override;

  TSearchType& Type;
};

// A loaded search-type definition.
class TSearchTypeReader : public TSearchType {
 public:
  TSearchTypeReader();
  ~TSearchTypeReader() override;

  // Loads, compiles and registers the definition. False on the first error (see Compiler().Errors).
  bool Load(const std::string& fileName);
  TSearchTypeCompiler& Compiler() { return *compiler_; }

 private:
  std::unique_ptr<TSearchTypeCompiler> compiler_;
};

}  // namespace vandrel
