#include <gtest/gtest.h>

#include <filesystem>

#include "DataFolderUtil.h"
#include "actions/AppErrors.h"
#include "platform/SourceDir.h"
#include "search/CategoryList.h"
#include "search/DefinitionFiles.h"
#include "search/QuorinEngineRepository.h"

namespace vandrel {
namespace {

namespace fs = std::filesystem;

// The definitions shipped with the program, as a debug-mode start sees them.
TEST(BundledDataIntegrationTest, EveryShippedDefinitionEntersTheCatalogue) {
  testing::TDataFolder data;
  fs::copy(std::string(VANDREL_SOURCE_DIR) + "/Data", data.Path(), fs::copy_options::recursive);

  TEngineRepository repository;
  repository.Start(data.Path(), /*debugMode=*/true, /*refresh=*/true, {});
  EXPECT_EQ(repository.SearchTypes().Count(), ListDefinitionFiles(data.Path(), ".sst").size());
  std::vector<TDefinitionFile> categories = ListDefinitionFiles(data.Path(), ".sca");
  ASSERT_EQ(repository.Categories().Count(), categories.size());
  size_t engineFiles = 0, engines = 0;
  for (const TDefinitionFile& category : categories) {
    SCOPED_TRACE(category.Name);
    engineFiles += ListDefinitionFiles(repository.CategoryFolder(category.Name), ".sen").size();
    TEngineStorageList* list = repository.EngineLists().EngineList(category.Name);
    ASSERT_NE(list, nullptr);
    engines += list->Count();
    TCategoryStorageItem* stored = repository.Categories().FindByName(category.Name);
    EXPECT_NE(repository.SearchTypes().FindByName(stored->SrtName), nullptr) << stored->SrtName;
  }
  EXPECT_EQ(engines, engineFiles);  // none failed to load
  EXPECT_GT(repository.Constants().Count(), 0u);

  // Icons are the windows' business; with them in place every category has both halves.
  TErrorPresenter previous =
      SetErrorPresenter({[](TMessageStyle, const std::string& text) { ADD_FAILURE() << text; }, [] {}});
  TCategoryList list(repository.Categories(), data.Path());
  for (const TDefinitionFile& category : categories)
    if (category.Name.rfind("buy", 0) == 0)
      for (const char* suffix : TCategoryList::kIconSuffixes)
        data.WriteText(category.Name.substr(3) + suffix, "BM");
  EXPECT_TRUE(list.Load());
  EXPECT_EQ(list.Count(), categories.size() / 2);
  SetErrorPresenter(previous);
}

}  // namespace
}  // namespace vandrel
