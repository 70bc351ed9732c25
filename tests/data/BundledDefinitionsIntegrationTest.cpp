// The bundled definitions: every file compiles and loads, the categories are complete, and every engine
// cuts real records out of the demo store site page after page.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "data/DemoSite.h"
#include "engines/EngineCompiler.h"
#include "engines/SearchResults.h"
#include "engines/SearchTypeCompiler.h"
#include "platform/SourceDir.h"
#include "platform/TextUtils.h"
#include "search/DefinitionFiles.h"

namespace vandrel {
namespace {

namespace fs = std::filesystem;
using test::CompiledDataDir;

const char* const kBases[] = {"books",    "music",          "movies", "electronics",
                              "hardware", "healthproducts", "home",   "officesupplies",
                              "software", "sports",         "toys"};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::vector<std::string> FilesWithExt(const std::string& dir, const std::string& ext) {
  std::vector<std::string> files;
  if (!fs::is_directory(dir)) return files;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.is_regular_file() && e.path().extension() == ext) files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

// A search type loaded the way the program loads one: with the constants script's variables behind it, run
// by the program's own constants loader.
struct TLoadedType {
  TVariableList Constants;
  TSearchTypeReader Reader;
  bool Ok = false;
  explicit TLoadedType(const std::string& name, const std::string& siteAddress = {}) {
    if (!RunConstantsScript(Constants, CompiledDataDir() + "/constants.ccs")) return;
    if (!siteAddress.empty()) Constants.SetString("DemoStoreAddress", siteAddress);
    Ok = Reader.Load(CompiledDataDir() + "/" + name + ".cst");
    Reader.Variables.SetParent(&Constants);
  }
};

TEST(BundledDefinitions, EverySourceHasACompiledFormThatLoads) {
  const std::string source = std::string(VANDREL_SOURCE_DIR) + "/Data";
  size_t sources = 0;
  for (const auto& e : fs::recursive_directory_iterator(source)) {
    if (!e.is_regular_file()) continue;
    std::string ext = e.path().extension().string();
    if (ext.size() != 4 || ext[1] != 's') continue;
    ++sources;
    ext[1] = 'c';
    fs::path compiled = fs::path(CompiledDataDir()) / fs::relative(e.path(), source);
    compiled.replace_extension(ext);
    EXPECT_TRUE(fs::exists(compiled)) << compiled;
  }
  EXPECT_GT(sources, 90u);

  TVariableList constants;
  ASSERT_TRUE(RunConstantsScript(constants, CompiledDataDir() + "/constants.ccs"));
  EXPECT_NE(constants.FindLocal("DemoStoreAddress"), nullptr);

  for (const std::string& file : FilesWithExt(CompiledDataDir(), ".cst")) {
    TSearchTypeReader type;
    EXPECT_TRUE(type.Load(file)) << file;
    EXPECT_EQ(type.Name, DefinitionName(file));
    EXPECT_GE(type.CurrentView->UniqueKeyIndex, 0) << file;
    EXPECT_GT(type.CurrentView->SortKeys->Count(), 0u) << file;
    EXPECT_NE(type.OutputFields->Find("url"), nullptr) << file;
    EXPECT_NE(type.OutputFields->Find("title"), nullptr) << file;
  }
}

TEST(BundledDefinitions, EveryCategoryHasItsSearchTypeAndAtLeastThreeEngines) {
  for (const char* base : kBases) {
    for (const std::string prefix : {"buy", "review"}) {
      const std::string category = prefix + base;
      TCategoryReader reader;
      ASSERT_TRUE(reader.Load(CompiledDataDir() + "/" + category + ".cca")) << category;
      EXPECT_EQ(prefix == "review", reader.SearchType == "reviews") << category;
      TLoadedType type(reader.SearchType);
      ASSERT_TRUE(type.Ok) << category << " names " << reader.SearchType;
      TSearchTypeInstance instance(&type.Reader);
      const auto engines = FilesWithExt(CompiledDataDir() + "/" + category, ".cen");
      EXPECT_GE(engines.size(), 3u) << category;
      for (const std::string& file : engines) {
        TEngineReader engine;
        EXPECT_TRUE(engine.Load(file, &instance)) << file;
        EXPECT_EQ(Lower(engine.Category), category) << file;
        EXPECT_FALSE(engine.Compiler().LocalDisplayName().empty()) << file;
      }
    }
  }
}

// Width and height of a 24-bit Windows bitmap; 0 x 0 when the file is not one.
std::pair<int32_t, int32_t> BitmapSize(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::string head(54, '\0');
  if (!in.read(head.data(), 54) || head.compare(0, 2, "BM") != 0 || head[28] != 24) return {0, 0};
  int32_t w = 0, h = 0;
  std::memcpy(&w, head.data() + 18, 4);
  std::memcpy(&h, head.data() + 22, 4);
  return {w, h};
}

// The category list refuses to start without a category's four icons, and the wizard shows its header.
TEST(BundledDefinitions, EveryCategoryHasItsIconsAndHeaderPicture) {
  for (const char* base : kBases) {
    const std::string stem = CompiledDataDir() + "/" + base;
    for (int size : {16, 32})
      for (const char* kind : {"ImageIcon", "AlphaIcon"})
        EXPECT_EQ(BitmapSize(stem + std::to_string(size) + kind + ".bmp"), std::make_pair(size, size))
            << base << size << kind;
    EXPECT_GT(BitmapSize(stem + ".bmp").first, 0) << base;
  }
}

// One engine run as the searcher drives it, minus the transfer machinery: pages are fetched in turn
// until the engine or the page count says stop.
struct TEngineRun {
  std::vector<size_t> PageCounts;                           // records kept per fetched page
  std::vector<std::map<std::string, std::string>> Records;  // display texts by field
  std::vector<double> Prices;
  std::vector<std::string> Urls;  // the pages asked for, in order
  int FailedStatus = 0;           // the first HTTP status other than 200
  std::string ScriptError;
};

void SetInput(TSearchTypeInstance& instance, const std::string& name, const std::string& value) {
  TSearchInputField* f = instance.InputFields.Find(name);
  ASSERT_NE(f, nullptr) << name;
  if (IsNumericType(f->DataType)) {
    f->SetInteger(std::stoll(value));
    f->DataType = f->Definition->DataType;
  } else {
    f->SetString(value);
  }
}

TEngineRun RunEngine(const std::string& file, TSearchTypeInstance& instance, int resultsPerEngine) {
  TEngineRun run;
  TEngineReader reader;
  if (!reader.Load(file, &instance)) {
    run.ScriptError = "does not load";
    return run;
  }
  TEngineCompiler& engine = reader.Compiler();
  TVariableList& vars = engine.Variables();
  engine.ResetEngineVariables();
  engine.ResultsParser.Reset();
  engine.SetInstance(&instance);
  TSearchResultList all(&instance);
  engine.ResultsParser.SetResultList(&all);
  vars.SetInteger("ResultsPerEngine", resultsPerEngine, true);
  auto fail = [&]() {
    run.ScriptError = engine.Errors.empty() ? "error" : engine.Errors.front().Text;
    return run;
  };
  if (engine.ExecuteProcedure("Init") != 0) return fail();
  engine.ResultsParser.MaxResults = resultsPerEngine;
  const int64_t perPage = vars.GetInteger("ResultsPerPage", 65535);
  const int64_t pageCount = perPage == 65535 ? 1 : (resultsPerEngine - 1) / perPage + 1;
  for (int64_t page = 1; page <= pageCount; ++page) {
    vars.SetInteger("Iteration", page - 1);
    if (engine.ExecuteProcedure("BeforeDownload") != 0) return fail();
    const std::string url = vars.GetString("SourceUrl", "");
    run.Urls.push_back(url);
    const test::THttpAnswer answer = test::HttpGet(url);
    if (answer.Status != 200) {
      run.FailedStatus = answer.Status;
      break;
    }
    engine.ApplyPageSettings();
    engine.ResultsParser.SetPageText(answer.Body);
    engine.ResultsParser.SetDocumentAddress(url);
    if (engine.ExecuteProcedure("AfterDownload") != 0) return fail();
    engine.ApplyParseSettings();
    engine.ResultsParser.PrepareRules();
    const size_t before = all.Count();
    engine.ResultsParser.Parse();
    if (engine.ExecuteProcedure("AfterParse") != 0) return fail();
    size_t kept = 0;
    for (size_t i = before; i < all.Count(); ++i) {
      TResultRecord& r = all.At(i);
      r.Refresh();
      if (r.Deleted || r.FilteredOut) continue;
      ++kept;
      std::map<std::string, std::string> texts;
      for (size_t f = 0; f < instance.OutputFields.Count(); ++f) {
        const std::string& name = instance.OutputFields.At(f).Definition->FieldName;
        if (TResultField* field = r.FindField(name)) texts[name] = field->DisplayText();
      }
      if (TResultField* price = r.FindField("price")) run.Prices.push_back(price->Number);
      run.Records.push_back(std::move(texts));
    }
    run.PageCounts.push_back(kept);
    if (kept == 0) break;
  }
  return run;
}

struct TCategoryQuery {
  const char* Base;
  std::vector<std::pair<const char*, const char*>> Inputs;
  const char* MakerField;
};

const std::vector<TCategoryQuery>& Queries() {
  static const std::vector<TCategoryQuery> queries = {
      {"books", {{"Title", "glass"}, {"Author", "Mira Castell"}}, "author"},
      {"music", {{"Artist", "Lanterns"}, {"Media", "0"}}, "artist"},
      {"movies", {{"Title", "glass"}, {"Format", "0"}}, "studio"},
      {"electronics", {{"Keywords", "volta wireless"}}, "brand"},
      {"hardware", {{"Keywords", "ironclad drill"}}, "brand"},
      {"healthproducts", {{"Keywords", "vitalis"}}, "brand"},
      {"home", {{"Keywords", "hearthstone"}}, "brand"},
      {"officesupplies", {{"Keywords", "inkwell pens"}}, "brand"},
      {"software", {{"Keywords", "shieldwall"}}, "brand"},
      {"sports", {{"Keywords", "trailhawk"}}, "brand"},
      {"toys", {{"Keywords", "brickworks"}}, "brand"},
  };
  return queries;
}

class BundledEnginesIntegration : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { Site = new test::TDemoSite(); }
  static void TearDownTestSuite() {
    delete Site;
    Site = nullptr;
  }
  void SetUp() override { ASSERT_NE(Site->Port, 0) << "the demo store site did not start"; }
  static inline test::TDemoSite* Site = nullptr;
};

TEST_F(BundledEnginesIntegration, EveryStoreEngineYieldsPricedRecordsSeveralPagesDeep) {
  for (const auto& q : Queries()) {
    const std::string category = std::string("buy") + q.Base;
    TCategoryReader cat;
    ASSERT_TRUE(cat.Load(CompiledDataDir() + "/" + category + ".cca"));
    TLoadedType type(cat.SearchType, Site->Address());
    ASSERT_TRUE(type.Ok);
    for (const std::string& file : FilesWithExt(CompiledDataDir() + "/" + category, ".cen")) {
      SCOPED_TRACE(file);
      TSearchTypeInstance instance(&type.Reader);
      for (const auto& [name, value] : q.Inputs) SetInput(instance, name, value);
      instance.InputFields.RecomputeFields();
      const TEngineRun run = RunEngine(file, instance, 30);
      ASSERT_EQ(run.ScriptError, "");
      if (DefinitionName(file) == "brokenbazaar") {
        EXPECT_EQ(run.FailedStatus, 500);
        continue;
      }
      EXPECT_EQ(run.FailedStatus, 0);
      ASSERT_GE(run.PageCounts.size(), 2u) << "fewer than two pages with records";
      EXPECT_EQ(run.PageCounts[0], 5u);
      for (const auto& r : run.Records) {
        EXPECT_EQ(r.at("url").rfind("http://", 0), 0u) << r.at("url");
        EXPECT_FALSE(r.at("title").empty());
        EXPECT_FALSE(r.at(q.MakerField).empty()) << r.at("title");
        EXPECT_FALSE(r.at("store").empty());
        EXPECT_FALSE(r.at("shipping").empty());
        EXPECT_EQ(r.at("title").find('<'), std::string::npos) << r.at("title");
      }
      // Every price was read as a positive amount or marked as missing, never left at a silent 0.
      size_t priced = 0;
      for (double p : run.Prices) {
        EXPECT_TRUE(p > 0 || p == -1) << p;
        priced += p > 0;
      }
      EXPECT_GE(priced * 2, run.Prices.size());
      // The first page holds the products that match the query best.
      const std::string first =
          Lower(run.Records.front().at("title") + " " + run.Records.front().at(q.MakerField));
      const std::string word = Lower(q.Inputs.front().second);
      EXPECT_NE(first.find(word.substr(0, word.find(' '))), std::string::npos) << first;
    }
  }
}

TEST_F(BundledEnginesIntegration, EveryReviewEngineYieldsRatedReviewsSeveralPagesDeep) {
  TLoadedType type("reviews", Site->Address());
  ASSERT_TRUE(type.Ok);
  for (const auto& q : Queries()) {
    const std::string category = std::string("review") + q.Base;
    for (const std::string& file : FilesWithExt(CompiledDataDir() + "/" + category, ".cen")) {
      SCOPED_TRACE(file);
      TSearchTypeInstance instance(&type.Reader);
      SetInput(instance, "Keywords", q.Inputs.front().second);
      instance.InputFields.RecomputeFields();
      const TEngineRun run = RunEngine(file, instance, 10);
      ASSERT_EQ(run.ScriptError, "");
      EXPECT_EQ(run.FailedStatus, 0);
      ASSERT_EQ(run.PageCounts.size(), 2u) << run.Urls.back();
      EXPECT_EQ(run.PageCounts[0] + run.PageCounts[1], 10u);
      for (const auto& r : run.Records) {
        EXPECT_EQ(r.at("url").rfind("http://", 0), 0u);
        EXPECT_FALSE(r.at("title").empty());
        EXPECT_FALSE(r.at("critic").empty());
        EXPECT_FALSE(r.at("summary").empty());
        EXPECT_FALSE(r.at("site").empty());
        const double rating = std::stod(r.at("rating"));
        EXPECT_TRUE(rating >= 2.0 && rating <= 5.0) << r.at("rating");
      }
    }
  }
}

// Amounts as each store prints them, read back into numbers: symbols, decimal commas, grouped yen.
TEST_F(BundledEnginesIntegration, StorePricesAreReadInTheirOwnCurrencyFormat) {
  struct TCase {
    const char* Category;
    const char* Engine;
    const char* Keywords;
    const char* Title;
    double Price;
  };
  const TCase cases[] = {
      {"buyelectronics", "circuitnorth", "volta headphones", "Volta X2 Wireless Headphones", 176.79},
      {"buyelectronics", "bargainbin", "lumen television", "Lumen 55\" 4K Television", 505.99},
      {"buytoys", "toyboxjunction", "brickworks castle", "Brickworks Castle Set, 1200 pieces", 13499},
      {"buysports", "fieldandcourt", "trailhawk shoes", "Trailhawk Running Shoes", 182.38},
      {"buyhardware", "toolden", "ironclad drill", "Ironclad 18V Cordless Drill", 71.09},
  };
  TLoadedType type("keywords", Site->Address());
  ASSERT_TRUE(type.Ok);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Engine);
    TSearchTypeInstance instance(&type.Reader);
    SetInput(instance, "Keywords", c.Keywords);
    instance.InputFields.RecomputeFields();
    const TEngineRun run =
        RunEngine(CompiledDataDir() + "/" + c.Category + "/" + c.Engine + ".cen", instance, 5);
    ASSERT_EQ(run.ScriptError, "");
    ASSERT_FALSE(run.Records.empty());
    EXPECT_EQ(ToDisplayText(run.Records[0].at("title")), c.Title);
    EXPECT_NEAR(run.Prices[0], c.Price, 0.005);
  }
}

// A book search whose title is also an output field: every page's address is built from what the user
// asked for, not from the title of the last record cut from the previous page.
TEST_F(BundledEnginesIntegration, LaterPagesAskForTheSameInputAsTheFirst) {
  TLoadedType type("books", Site->Address());
  ASSERT_TRUE(type.Ok);
  TSearchTypeInstance instance(&type.Reader);
  SetInput(instance, "Title", "glass");
  instance.InputFields.RecomputeFields();
  TEngineReader reader;
  ASSERT_TRUE(reader.Load(CompiledDataDir() + "/buybooks/pageturner.cen", &instance));
  TEngineRun run = RunEngine(CompiledDataDir() + "/buybooks/pageturner.cen", instance, 15);
  ASSERT_GE(run.PageCounts.size(), 2u);
  TEngineCompiler& engine = reader.Compiler();
  engine.ResetEngineVariables();
  engine.SetInstance(&instance);
  ASSERT_EQ(engine.ExecuteProcedure("Init"), 0);
  engine.Variables().SetInteger("Iteration", 2);
  ASSERT_EQ(engine.ExecuteProcedure("BeforeDownload"), 0);
  const std::string url = engine.Variables().GetString("SourceUrl", "");
  EXPECT_NE(url.find("/pageturner/search?q=glass&page=3"), std::string::npos) << url;
}

}  // namespace
}  // namespace vandrel
