#include "search/EngineValidation.h"

#include "engines/EngineCompiler.h"
#include "engines/SearchTypeInstance.h"
#include "search/SearchCatalogue.h"
#include "search/SearchConverters.h"
#include "storage/EngineStorage.h"
#include "storage/SearchStorage.h"

namespace vandrel {

bool EngineAcceptsSearch(ISearchCatalogue& catalogue, TSearchTypeReader& validationType,
                         const TSearchStorageItem& search, const TEngineStorageItem& engine) {
  TSearchTypeInstance instance(&validationType);
  try {
    Convert(instance, search);
  } catch (const ESearchConvertError&) {
    return false;
  }
  instance.InputFields.RecomputeFields();
  TEngineReader reader;
  if (!reader.Load(catalogue.EngineFile(search.CatName, engine.EngName), &instance)) return false;
  TEngineCompiler& compiler = reader.Compiler();
  compiler.Variables().SetBoolean("Valid", true);
  if (compiler.ExecuteProcedure("ValidateInputFields") != 0) return false;
  return compiler.Variables().GetBoolean("Valid", false);
}

}  // namespace vandrel
