// A catalogue whose categories' engines live in memory, for the category window's tests.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "search/SearchCatalogue.h"
#include "storage/EngineStorage.h"

namespace vandrel::test {

class TMemoryCatalogue : public ISearchCatalogue {
 public:
  // Engines named as given, each shown under its name with a home page on a closed loopback port.
  void Fill(const std::string& category, const std::vector<std::string>& names) {
    TEngineStorageList& list = Lists[category];
    list.BeginTransaction(lsAdding);
    for (const std::string& name : names) {
      TEngineStorageItem* engine = list.NewEngine();
      engine->EngName = name;
      engine->DisplayName = name;
      engine->HomePage = "http://127.0.0.1:9/" + name;
    }
    list.EndTransaction();
  }
  std::string SearchTypeFile(const std::string&) const override { return {}; }
  std::string EngineFile(const std::string&, const std::string&) const override { return {}; }
  TVariableList* Constants() override { return nullptr; }
  TSearchTypeStorageItem* FindSearchType(const std::string&) override { return nullptr; }
  TCategoryStorageItem* FindCategory(const std::string&) override { return nullptr; }
  TEngineStorageList* CategoryEngines(const std::string& catName) override {
    auto it = Lists.find(catName);
    return it == Lists.end() || it->second.Count() == 0 ? nullptr : &it->second;
  }
  void SaveCategory(TCategoryStorageItem&) override {}

  std::map<std::string, TEngineStorageList> Lists;
};

}  // namespace vandrel::test
