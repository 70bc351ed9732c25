// What searches need from the catalogue of definitions: where the files are, the constants every
// definition sees, and the stored search types, categories and engines.
#pragma once

#include <memory>
#include <string>

namespace vandrel {

class TCategoryStorageItem;
class TEngineStorageList;
class TSearchTypeReader;
class TSearchTypeStorageItem;
class TVariableList;

// Main thread only. Pointers handed out stay valid until the catalogue is refreshed.
class ISearchCatalogue {
 public:
  virtual ~ISearchCatalogue() = default;

  virtual std::string SearchTypeFile(const std::string& srtName) const = 0;
  virtual std::string EngineFile(const std::string& catName, const std::string& engName) const = 0;
  // The constants script's variables, handed to every search type and engine; null when there are none.
  virtual TVariableList* Constants() = 0;

  // Null when unknown.
  virtual TSearchTypeStorageItem* FindSearchType(const std::string& srtName) = 0;
  virtual TCategoryStorageItem* FindCategory(const std::string& catName) = 0;
  // The category's engines in the catalogue's order; null when the category has none stored.
  virtual TEngineStorageList* CategoryEngines(const std::string& catName) = 0;
  // Writes a changed category back (its LastSearchDate).
  virtual void SaveCategory(TCategoryStorageItem& category) = 0;
};

// Loads the search type `srtName` from the catalogue's data folder with the catalogue's constants; null
// when the file is missing or does not load.
std::unique_ptr<TSearchTypeReader> LoadSearchType(ISearchCatalogue& catalogue, const std::string& srtName);

}  // namespace vandrel
