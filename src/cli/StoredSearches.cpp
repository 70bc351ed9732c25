#include "cli/StoredSearches.h"
#include "script/Variables.h"
#include "search/SearchAction.h"

#include <filesystem>

#include "engines/EngineCompiler.h"
#include "engines/SearchTypeCompiler.h"
#include "kernel/AppConfig.h"
#include "platform/MainDispatcher.h"
#include "platform/TextUtils.h"
#include "search/DefinitionConverters.h"
#include "search/DefinitionReaders.h"
#include "search/SearchConverters.h"

namespace vandrel::cli {

namespace fs = std::filesystem;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return s;
}

std::string FindDefinition(const std::string& folder, const std::string& name, const std::string& compiledExt,
                           const std::string& sourceExt) {
  std::error_code ec;
  for (const std::string& ext : {compiledExt, sourceExt}) {
    for (const auto& e : fs::directory_iterator(folder, ec)) {
      if (e.is_regular_file() && Lower(e.path().filename().string()) == Lower(name + ext))
        return e.path().string();
    }
  }
  return {};
}

std::map<std::string, std::string> EngineFiles(const std::string& folder) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (const char* ext : {".sen", ".cen"}) {
    for (const auto& e : fs::directory_iterator(folder, ec))
      if (e.is_regular_file() && Lower(e.path().extension().string()) == ext)
        files[Lower(e.path().stem().string())] = e.path().string();
  }
  return files;
}

std::string JsonString(std::string_view text) {
  const std::string s = ToDisplayText(text);
  std::string out = "\"";
  for (char ch : s) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20) {
      static const char* hex = "0123456789abcdef";
      out += "\\u00";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

bool LoadConstants(const std::string& dataFolder,
                   const std::vector<std::pair<std::string, std::string>>& defines, TVariableList& constants,
                   std::string& error) {
  const std::string file = FindDefinition(dataFolder, "constants", ".ccs", ".scs");
  if (!file.empty()) {
    TBaseCompiler c;
    c.ResetVariables();
    c.Variables().SetParent(&constants);
    const bool ok = c.LoadFromFile(file) && c.Compile() == 0 && c.ExecuteProcedure("Register") == 0;
    c.Variables().SetParent(nullptr);
    if (!ok) {
      error = c.Errors.empty() ? file + " could not be loaded"
                               : file + ": error " + std::to_string(c.Errors.front().Code) + ": " +
                                     ToDisplayText(c.Errors.front().Text);
      return false;
    }
  }
  for (const auto& [name, value] : defines) constants.SetString(name, value);
  return true;
}

bool IsReviewCategory(const std::string& catName) {
  return Lower(catName).rfind("review", 0) == 0;
}

TCliCatalogue::TCliCatalogue(std::string dataFolder, TVariableList* constants)
    : Data_(std::move(dataFolder)), Constants_(constants) {}

std::string TCliCatalogue::SearchTypeFile(const std::string& srtName) const {
  return FindDefinition(Data_, srtName, ".cst", ".sst");
}

std::string TCliCatalogue::EngineFile(const std::string& catName, const std::string& engName) const {
  const auto files = EngineFiles((fs::path(Data_) / catName).string());
  auto it = files.find(Lower(engName));
  return it == files.end() ? std::string() : it->second;
}

TSearchTypeStorageItem* TCliCatalogue::FindSearchType(const std::string& srtName) {
  if (auto* known = SearchTypes_.FindByName(srtName)) return known;
  const std::string file = SearchTypeFile(srtName);
  if (file.empty()) return nullptr;
  TSearchTypeReader reader;
  if (Constants_) reader.Variables.SetParent(Constants_);
  if (!reader.Load(file)) return nullptr;
  TSearchTypeInstance instance(&reader);
  SearchTypes_.BeginTransaction(lsAdding);
  TSearchTypeStorageItem* item = SearchTypes_.NewSearchType();
  item->SrtName = srtName;
  Convert(*item, instance);
  SearchTypes_.EndTransaction();
  return item;
}

TCategoryStorageItem* TCliCatalogue::FindCategory(const std::string& catName) {
  if (auto* known = Categories_.FindByName(catName)) return known;
  const std::string file = FindDefinition(Data_, catName, ".cca", ".sca");
  if (file.empty()) return nullptr;
  TCategorySummary summary;
  std::string error;
  if (!ReadCategoryDefinition(file, summary, error)) return nullptr;
  Categories_.BeginTransaction(lsAdding);
  TCategoryStorageItem* item = Categories_.NewCategory();
  item->CatName = fs::path(file).stem().string();
  ConvertCategory(*item, summary);
  item->Enabled = true;
  Categories_.EndTransaction();
  return item;
}

TEngineStorageList* TCliCatalogue::CategoryEngines(const std::string& catName) {
  TCategoryStorageItem* category = FindCategory(catName);
  if (!category) return nullptr;
  auto& list = Engines_[Lower(catName)];
  if (list) return list->Count() ? list.get() : nullptr;
  list = std::make_unique<TEngineStorageList>();
  list->BeginTransaction(lsAdding);
  for (const auto& [name, file] : EngineFiles((fs::path(Data_) / category->CatName).string())) {
    TEngineSummary summary;
    std::string error;
    if (!ReadEngineDefinition(file, summary, error)) continue;
    TEngineStorageItem* item = list->NewEngine();
    ConvertEngine(*item, summary, category->SrtName);
    item->EngName = name;
    item->Enabled = true;
  }
  list->EndTransaction();
  return list->Count() ? list.get() : nullptr;
}

bool TStoredSearches::Open(const std::string& root, const std::string& dataFolder, TVariableList* constants,
                           bool reviews, std::string& error) {
  Folders_ = std::make_unique<TAppFolders>(ResolveRootFolder(root), CurrentUserName());
  std::error_code ec;
  fs::create_directories(Folders_->UserFolder(), ec);
  if (!OpenDatabase(error)) return false;
  Catalogue_ = std::make_unique<TCliCatalogue>(dataFolder.empty() ? Folders_->Data() : dataFolder, constants);

  TQuorinApplicationParts parts;
  auto* history = new TSearchHistory(Catalogue_.get());
  parts.History = {history, [](TSearchHistory* h) { delete h; }};
  parts.BindStoredSearch = &TSearchHistory::Bind;
  Runner_ = std::make_unique<TQuorinApplication>(Actions_, MainDispatcher::Default(), std::move(parts));
  RegisterSearchAction(Actions_, *Runner_, *Catalogue_);
  Runner_->AddObserver(this);

  const std::string folder = Folders_->UserFolder() + (reviews ? kReviewsFolder : kCompareFolder) + "/";
  fs::create_directories(folder, ec);
  history->SetStorage(HistoryStorage());
  history->SetFolder(Folders_->UserFolder());
  History_ =
      std::make_unique<TAppSearchHistory>(*history, reviews ? kReviewsFolder : kCompareFolder, Runner_.get());
  // Searches are kept until the user deletes them: the command line purges nothing.
  if (!History_->Open(0, 0) || !History_->Item() || !History_->Item()->GetSearches().LoggedIn()) {
    error = "Could not access database in " + folder;
    return false;
  }
  return true;
}

bool TStoredSearches::Run(TSearchStorageItem* search) {
  auto operation = std::make_unique<TQuorinSearchOperation>();
  operation->Folder = History_->Folder();
  operation->SrhNum = search->Index();
  History_->SetCurrentSearch(search);
  if (Runner_->Submit(std::move(operation)) != arOk) return false;
  return MainDispatcher::Default().RunUntil(
      [this] { return Runner_->State() == asIdle && !Runner_->IsBusy() && Runner_->Queue().Empty(); },
      std::chrono::minutes(10), std::chrono::milliseconds(5));
}

void TStoredSearches::ActionStarting(TQuorinAction& action) {
  if (auto* search = dynamic_cast<TQuorinSearchAction*>(&action); search && OnStarting) OnStarting(*search);
}

void TStoredSearches::ActionFinished(TQuorinAction& action) {
  if (auto* search = dynamic_cast<TQuorinSearchAction*>(&action); search && OnFinished) OnFinished(*search);
}

}  // namespace vandrel::cli
