#include "update/QuorinUpdateActions.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <set>

#include "platform/TextUtils.h"
#include "script/BaseCompiler.h"
#include "search/DefinitionFiles.h"
#include "search/DefinitionReaders.h"
#include "search/QuorinEngineRepository.h"
#include "storage/CategoryStorage.h"

namespace vandrel {

namespace fs = std::filesystem;

const TClassInfo& TQuorinUpdateOperation::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TQuorinUpdateOperation>("TQuorinUpdateOperation", TQuorinOperation::StaticClass())
          .String("UpdaterAddress", &TQuorinUpdateOperation::UpdaterAddress)
          .String("StreamerName", &TQuorinUpdateOperation::StreamerName)
          .String("SubDirectory", &TQuorinUpdateOperation::SubDirectory)
          .Object("CatNames", &TQuorinUpdateOperation::CatNames)
          .Integer("CompilerVersion", &TQuorinUpdateOperation::CompilerVersion)
          .Object("CustomScripts", &TQuorinUpdateOperation::CustomScripts)
          .Build();
  return info;
}

// ---------------------------------------------------------------------------------------------------
// Names and paths.

namespace {

std::string WithSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

// The existing entry of `folder` named `name` in any letter case, else the lower-case name: what an
// update writes must be found again by the catalogue, which looks for lower-case names.
std::string ExistingOrLower(const std::string& folder, const std::string& name, TFolderNames* names) {
  if (names) {
    const std::string found = names->Find(folder, name);
    return folder + (found.empty() ? AsciiLowerCase(name) : found);
  }
  std::error_code ec;
  const std::string found = FindPathIgnoringCase(folder, name);
  if (fs::exists(found, ec)) return found;
  return folder + AsciiLowerCase(name);
}

}  // namespace

std::set<std::string>* TFolderNames::Listed(const std::string& folder, bool read) {
  const std::string key = WithSlash(folder);
  if (auto it = Folders_.find(key); it != Folders_.end()) return &it->second;
  if (!read) return nullptr;
  std::set<std::string>& names = Folders_[key];
  std::error_code ec;
  fs::directory_iterator it(key, ec);
  if (!ec) Present_.insert(key);
  for (fs::directory_iterator end; !ec && it != end; it.increment(ec))
    names.insert(it->path().filename().string());
  return &names;
}

bool TFolderNames::Known(const std::string& folder) const {
  return Present_.count(WithSlash(folder)) != 0;
}

void TFolderNames::Made(const std::string& folder) {
  Present_.insert(WithSlash(folder));
}

std::string TFolderNames::Find(const std::string& folder, const std::string& name) {
  const std::set<std::string>& names = *Listed(folder, true);
  if (names.count(name)) return name;
  for (const std::string& entry : names)
    if (SameText(entry, name)) return entry;
  return {};
}

void TFolderNames::Added(const std::string& path) {
  const fs::path p(path);
  if (std::set<std::string>* names = Listed(p.parent_path().string(), false))
    names->insert(p.filename().string());
}

void TFolderNames::Removed(const std::string& path) {
  const fs::path p(path);
  if (std::set<std::string>* names = Listed(p.parent_path().string(), false))
    names->erase(p.filename().string());
}

std::string UpdateItemName(const TQuorinUpdateReportItem& item) {
  return item.FullName();
}

std::string UpdateDownloadName(const TQuorinUpdateReportItem& item, const TEngineRepository& repository) {
  const std::string name = UpdateItemName(item);
  const size_t slash = name.find('/');
  const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
  switch (item.Kind) {
    case ukSharedScript:
      return base + repository.CompressedScriptExt;
    case ukSearchType:
      return base + repository.CompressedSearchTypeExt;
    case ukCategory:
      return base + repository.CompressedCategoryExt;
    case ukEngine:
      return base + repository.CompressedEngineExt;
    default:
      return base;
  }
}

std::string UpdateLocalPath(const TQuorinUpdateReportItem& item, const TEngineRepository& repository,
                            TFolderNames* names) {
  const std::string& data = repository.DataFolder();
  switch (item.Kind) {
    case ukSharedScript:
      return ExistingOrLower(data, item.Name + repository.ScriptExt, names);
    case ukSearchType:
      return ExistingOrLower(data, item.Name + repository.SearchTypeExt, names);
    case ukCategory:
      return ExistingOrLower(data, item.Name + repository.CategoryExt, names);
    case ukEngine:
      return ExistingOrLower(WithSlash(ExistingOrLower(data, item.Category, names)),
                             item.Name + repository.EngineExt, names);
    default:
      return {};
  }
}

// ---------------------------------------------------------------------------------------------------
// Installing files: each one is written beside its target under a temporary name, checked, and only then
// renamed over the old one, so a damaged delivery never costs the user a working definition.

namespace {

struct TStagedFile {
  std::string Temp;
  std::string Target;
  int32_t Version = -1;  // from the compiled header of the bytes written
};

// Beside the target, and named so that a definition checked under it learns the name it will have.
constexpr std::string_view kStagingSuffix = "-update";

void Discard(const std::vector<TStagedFile>& staged) {
  std::error_code ec;
  for (const TStagedFile& file : staged) fs::remove(file.Temp, ec);
}

// Creates or truncates `path` and writes `bytes` with one system call where it can.
bool WriteWhole(const std::string& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return ::close(fd) == 0 && done == bytes.size();
}

bool Stage(const std::string& target, std::string_view data, TFolderNames& names, TStagedFile& staged,
           std::string& error) {
  std::error_code ec;
  const fs::path path(target);
  const fs::path folder = path.parent_path();
  // One level only: the data folder itself must be there. A folder already listed is known to be one.
  if (!names.Known(folder.string()) && !fs::is_directory(folder, ec)) {
    if (!fs::create_directory(folder, ec)) {
      error = "cannot create the folder " + folder.string();
      return false;
    }
    names.Added(folder.string());
  }
  names.Made(folder.string());
  std::string plain;
  const TZsResult unwrapped = ZsDecompress(data, plain);
  if (unwrapped == TZsResult::NotWrapped) {
    plain.assign(data);
  } else if (unwrapped != TZsResult::Inflated) {
    error = ZsResultText(unwrapped);
    return false;
  }
  staged.Target = target;
  staged.Temp = target + std::string(kStagingSuffix);
  staged.Version = DefinitionVersionOf(plain);
  if (!WriteWhole(staged.Temp, plain)) {
    fs::remove(staged.Temp, ec);
    error = "cannot write " + target;
    return false;
  }
  return true;
}

bool Commit(const std::vector<TStagedFile>& staged, TFolderNames& names, std::string& error) {
  std::error_code ec;
  for (const TStagedFile& file : staged) {
    const fs::path target(file.Target);
    const std::string folder = target.parent_path().string() + "/";
    // A file of the same name in another letter case would shadow or duplicate the new one.
    const std::string variant = names.Find(folder, target.filename().string());
    fs::rename(file.Temp, file.Target, ec);
    if (ec) {
      error = "cannot replace " + file.Target + ": " + ec.message();
      return false;
    }
    names.Added(file.Target);
    if (!variant.empty() && folder + variant != file.Target) {
      fs::remove(folder + variant, ec);
      names.Removed(folder + variant);
    }
  }
  return true;
}

std::string LowerExtension(const std::string& name) {
  const size_t dot = name.find_last_of('.');
  return dot == std::string::npos ? std::string() : AsciiLowerCase(name.substr(dot));
}

}  // namespace

// ---------------------------------------------------------------------------------------------------

TQuorinUpdateAction::TQuorinUpdateAction(const TQuorinVersionInfo& version, MainDispatcher& dispatcher)
    : Version_(version),
      Dispatcher_(dispatcher),
      Downloader_(std::make_unique<TUpdateDownloader>(dispatcher)) {
  Downloader_->OnDone = [this] { AnswerDone(); };
  Downloader_->OnProgress = [this](int64_t received, int64_t expected) {
    DownloadProgress(received, expected);
  };
}

TQuorinUpdateAction::~TQuorinUpdateAction() {
  Alive_.reset();
}

bool TQuorinUpdateAction::Prepare(TEngineRepository* repository, TSearchHistory* history) {
  TQuorinAction::Prepare(repository, history);
  return repository != nullptr;
}

bool TQuorinUpdateAction::Bind(const TQuorinOperation& operation) {
  const auto* update = dynamic_cast<const TQuorinUpdateOperation*>(&operation);
  if (!update) return false;
  Downloader_->UpdaterAddress = update->UpdaterAddress;
  CompilerVersion_ = update->CompilerVersion;
  CustomScripts_ = update->CustomScripts.Lines;
  if (Repository_ && !Repository_->ConstantsName.empty())
    CustomScripts_.push_back(Repository_->ConstantsName);
  std::vector<std::string>& files = Downloader_->RequestedFiles;
  files.clear();
  files.push_back(AsciiLowerCase(Version_.Edition) + ".vui");
  for (const std::string& name : update->CatNames.Lines) files.push_back(name + ".vui");
  return true;
}

bool TQuorinUpdateAction::Start() {
  if (!Repository_) return false;
  std::weak_ptr<bool> alive = Alive_;
  Dispatcher_.Post([this, alive] {
    if (!alive.expired()) FirstStep();
  });
  return true;
}

void TQuorinUpdateAction::Stop() {
  Stopped_ = true;
  Downloader_->Stop();
}

void TQuorinUpdateAction::FirstStep() {
  NotifyAllStarted();
  Step_ = TUpdateStep::None;
  if (Stopped_) return Fail("the update was stopped");
  NextStep();
}

void TQuorinUpdateAction::Finish() {
  if (Finished_) return;
  Finished_ = true;
  NotifyAllFinished();
}

void TQuorinUpdateAction::Fail(const std::string& text) {
  Report_.Clear();
  ErrorText_ = text;
  Tell([&text](IQuorinUpdateActionObserver& o) { o.UpdateFailed(text); });
  Finish();
}

void TQuorinUpdateAction::Refuse(const std::string& name, const std::string& reason) {
  Refused_.push_back(name + ": " + reason);
  Tell([&](IQuorinUpdateActionObserver& o) { o.UpdateFileRefused(name, reason); });
}

void TQuorinUpdateAction::SetStep(TUpdateStep step) {
  BytesReceived_ = BytesExpected_ = 0;
  Tell([step](IQuorinUpdateActionObserver& o) { o.UpdateStepChanged(step); });
}

void TQuorinUpdateAction::Send(TUpdateStep step) {
  SetStep(step);
  if (Finished_) return;
  if (!Downloader_->SendRequest())
    Fail(Downloader_->ErrorText().empty() ? "nothing to ask the update site" : Downloader_->ErrorText());
}

void TQuorinUpdateAction::DownloadProgress(int64_t received, int64_t expected) {
  BytesReceived_ = received;
  BytesExpected_ = expected > 0 ? expected : 0;
  int percent = 0;
  if (expected > 0 && received > 0)
    percent = received >= expected
                  ? 100
                  : static_cast<int>(static_cast<double>(received) * 100.0 / static_cast<double>(expected));
  SetProgress(std::clamp(percent, 0, 100));
}

void TQuorinUpdateAction::AnswerDone() {
  if (Finished_) return;
  if (Stopped_) return Fail("the update was stopped");
  if (!Downloader_->Received() || Downloader_->Blob().Count() == 0)
    return Fail(Downloader_->ErrorText().empty() ? "the update site sent an empty answer"
                                                 : Downloader_->ErrorText());
  NextStep();
}

void TQuorinUpdateAction::NextStep() {
  try {
    Step_ = static_cast<TUpdateStep>(static_cast<uint8_t>(Step_) + 1);
    TUpdaterBlob& blob = Downloader_->Blob();
    std::vector<std::string>& requested = Downloader_->RequestedFiles;
    switch (Step_) {
      case TUpdateStep::CheckVersions:
        return Send(TUpdateStep::CheckVersions);

      case TUpdateStep::FetchCategories: {
        if (requested.empty() || blob.Items(0).Name != requested.front())
          return Fail("the update site did not send " +
                      (requested.empty() ? std::string() : requested.front()));
        requested.clear();
        if (!ProcessVersionFile(blob.Items(0).Data)) return Finished_ ? void() : Finish();
        if (requested.empty()) return NextStep();
        return Send(TUpdateStep::FetchCategories);
      }

      case TUpdateStep::DownloadFiles: {
        for (size_t i = 1; i < blob.Count(); ++i) {
          const std::string& name = blob.Items(i).Name;
          std::string category = name;
          if (const size_t dot = category.find_last_of('.'); dot != std::string::npos) category.erase(dot);
          if (!IsSafeUpdateName(category)) {
            Refuse(name, "not a plain file name");
            continue;
          }
          TCategoryVUI engines;
          if (!engines.LoadFromBytes(blob.Items(i).Data)) return Fail("damaged engine list " + name);
          if (!CompareVersionList(&engines.EngineVersions, nullptr, ukEngine, category))
            return Fail("no engine list for the category " + category);
          UpdatedCategories_.push_back(category);
        }
        blob.Clear();
        if (CheckOnly) {
          Report_.SortByKind();
          return Finish();
        }
        if (BuildDownloadList()) return Send(TUpdateStep::DownloadFiles);
        MarkUpdatedCategories();
        return Finish();
      }

      case TUpdateStep::Install:
        if (Report_.Count() > 0) {
          SetStep(TUpdateStep::Install);
          Install();
          Tell([this](IQuorinUpdateActionObserver& o) { o.UpdateReportReady(Report_); });
          Repository_->Refresh(
              &Report_, [this](int percent) { SetProgress(std::clamp(percent, 0, 100)); }, &Loaded_);
          Loaded_ = {};
          Names_.Forget();
          SetProgress(100);
        }
        MarkUpdatedCategories();
        return Finish();

      default:
        return Finish();
    }
  } catch (const std::exception& e) {
    // Whatever a step throws ends the update here, so the runner never stays busy.
    Fail(std::string("the update failed: ") + e.what());
  }
}

bool TQuorinUpdateAction::ProcessVersionFile(const std::string& data) {
  TVersionVUI vui;
  if (!vui.LoadFromBytes(data)) {
    Fail("damaged version file");
    return false;
  }
  if (vui.UpdateDisabled) {
    Disabled_ = true;
    return false;
  }
  // An empty address would leave nowhere to send the rest of this update: the current one stays.
  if (!vui.UpdateSite.empty() && vui.UpdateSite != Downloader_->UpdaterAddress) {
    Downloader_->UpdaterAddress = vui.UpdateSite;
    Tell([&vui](IQuorinUpdateActionObserver& o) { o.UpdateSiteChanged(vui.UpdateSite); });
  }
  int32_t build = 0;
  const std::string& text = Version_.BuildNumber;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), build);
  if (ec != std::errc() || end != text.data() + text.size()) build = 0;
  if (const TVersionVUISoftwareUpdate* entry = vui.SoftwareUpdates.FindByBuild(build))
    Tell([entry](IQuorinUpdateActionObserver& o) { o.SoftwareUpdateAvailable(*entry); });
  if (!CompareVersionList(&vui.SearchTypeVersions, nullptr, ukSearchType, {})) return false;
  if (!CompareVersionList(nullptr, &vui.CategoryVersions, ukCategory, {})) return false;
  CompareSharedScripts(vui.CustomScriptVersions);
  return true;
}

bool TQuorinUpdateAction::CompareVersionList(const TVUIFileVersionList* files,
                                             const TVUICategoryVersionList* categories, int kind,
                                             const std::string& category) {
  TVersionStorageDataList* stored = nullptr;
  switch (kind) {
    case ukSearchType:
      stored = &Repository_->SearchTypes();
      break;
    case ukCategory:
      stored = &Repository_->Categories();
      break;
    case ukEngine:
      stored = Repository_->EngineLists().EngineList(category);
      break;
    default:
      break;
  }
  if (!stored) return false;

  std::set<const TVersionStorageDataItem*> matched;
  auto compare = [&](const TVUIFileVersion& entry, const TVUICategoryVersion* categoryEntry) {
    if (entry.MinCompilerVersion > CompilerVersion_) return;
    if (!IsSafeUpdateName(entry.Name)) return Refuse(entry.Name, "not a plain file name");
    TVersionStorageDataItem* item = stored->FindByName(entry.Name);
    if (item) {
      matched.insert(item);
      if (item->Version < entry.Version) Report_.AddChanged(kind, *item, category);
    } else if (kind == ukEngine) {
      Report_.AddAdded(kind, category + "/" + entry.Name);
    } else if (kind == ukSearchType || !categoryEntry->SkipIfAbsent) {
      Report_.AddAdded(kind, entry.Name);
    }
    // Engines are fetched only for a category the catalogue has or gets: the files of one that is not
    // installed would have nothing to belong to.
    if (categoryEntry && categoryEntry->FetchEngines && (item || !categoryEntry->SkipIfAbsent)) {
      TEngineStorageList* engines = Repository_->EngineLists().EngineList(entry.Name);
      const std::string file = entry.Name + ".vui";
      std::vector<std::string>& requested = Downloader_->RequestedFiles;
      if ((!engines || engines->Count() == 0) && Downloader_->Blob().IndexOf(file) < 0 &&
          std::find(requested.begin(), requested.end(), file) == requested.end())
        requested.push_back(file);
    }
  };
  if (files)
    for (const TVUIFileVersion& entry : *files) compare(entry, nullptr);
  if (categories)
    for (const TVUICategoryVersion& entry : *categories) compare(entry, &entry);
  for (size_t i = 0; i < stored->Count(); ++i)
    if (!matched.count(stored->VersionItem(i))) Report_.AddRemoved(kind, *stored->VersionItem(i), category);
  return true;
}

void TQuorinUpdateAction::CompareSharedScripts(const TVUIFileVersionList& scripts) {
  for (const std::string& name : CustomScripts_) {
    const TVUIFileVersion* entry = scripts.Find(name);
    if (!entry) continue;
    if (!IsSafeUpdateName(name)) {
      Refuse(name, "not a plain file name");
      continue;
    }
    const std::string path = FindPathIgnoringCase(Repository_->DataFolder(), name + Repository_->ScriptExt);
    const int16_t installed = static_cast<int16_t>(ReadDefinitionVersion(path));
    if (installed < entry->Version && CompilerVersion_ >= entry->MinCompilerVersion)
      Report_.AddChangedScript(name);
  }
}

bool TQuorinUpdateAction::BuildDownloadList() {
  Report_.SortByKind();
  std::vector<std::string>& requested = Downloader_->RequestedFiles;
  requested.clear();
  for (size_t i = 0; i < Report_.Count(); ++i) {
    const TQuorinUpdateReportItem& item = Report_.Items(i);
    if (item.Action == uaRemoved) continue;
    const std::string name = UpdateDownloadName(item, *Repository_);
    if (std::find(requested.begin(), requested.end(), name) == requested.end()) requested.push_back(name);
  }
  return !requested.empty();
}

void TQuorinUpdateAction::Install() {
  bool scriptsInstalled = false;
  size_t i = 0;
  while (i < Report_.Count()) {
    const TQuorinUpdateReportItem item = Report_.Items(i);
    if (item.Action == uaRemoved) {
      RemoveItem(item);
      ++i;
      continue;
    }
    // Definitions are checked against the constants they will run with.
    if (item.Kind != ukSharedScript && scriptsInstalled) {
      Repository_->LoadConstants();
      scriptsInstalled = false;
    }
    // Its category's package, installed just before, may have brought this engine already.
    if (item.Kind == ukEngine && PackageFiles_.count(UpdateLocalPath(item, *Repository_, &Names_))) {
      ++i;
      continue;
    }
    const std::string name = UpdateDownloadName(item, *Repository_);
    int index = -1;
    // A site whose categories hold different engines of one name adds them as "category/engine" entries.
    if (item.Kind == ukEngine) index = Downloader_->Blob().IndexOf(item.Category + "/" + name);
    if (index < 0) index = Downloader_->Blob().IndexOf(name);
    if (index < 0) {
      Refuse(name, "missing from the update site's answer");
      Report_.Delete(i);
      continue;
    }
    if (!InstallItem(item, Downloader_->Blob().Items(static_cast<size_t>(index)))) {
      Report_.Delete(i);
      continue;
    }
    if (item.Kind == ukSharedScript) scriptsInstalled = true;
    ++i;
  }
}

bool TQuorinUpdateAction::InstallItem(const TQuorinUpdateReportItem& item, const TFileInfo& entry) {
  TEngineRepository& repo = *Repository_;
  std::vector<TStagedFile> staged;
  TLoadedDefinitions checked;
  std::string error;
  auto refuse = [&](const std::string& reason) {
    Discard(staged);
    Refuse(entry.Name, reason);
    return false;
  };

  // Checks that a staged definition of `kind` loads before it may replace anything, and keeps what it
  // holds for the catalogue. Where the catalogue keeps compiled files, a source would never show a
  // version and would come again with every update.
  auto loads = [&](int kind, const TStagedFile& file, const std::string& name) {
    const std::string ext = LowerExtension(file.Target);
    if (ext.size() == 4 && ext[1] == 'c' && file.Version < 0) return false;
    std::string why;
    switch (kind) {
      case ukSearchType: {
        TSearchTypeSummary summary;
        return ReadSearchTypeDefinition(file.Temp, name, &repo.Constants(), summary, why);
      }
      case ukCategory: {
        auto& loaded = checked.Categories[file.Target];
        loaded.Version = file.Version;
        return ReadCategoryDefinition(file.Temp, loaded.Summary, why);
      }
      case ukEngine: {
        auto& loaded = checked.Engines[file.Target];
        loaded.Version = file.Version;
        return ReadEngineDefinition(file.Temp, loaded.Summary, why);
      }
      default: {
        TBaseCompiler compiler;
        compiler.ResetVariables();
        return compiler.LoadFromFile(file.Temp) && compiler.Compile() == 0;
      }
    }
  };

  if (item.Kind == ukCategory) {
    std::string packageBytes;
    if (!ZsUnwrap(entry.Data, packageBytes)) return refuse("damaged compressed data");
    TUpdaterBlob package;
    if (const TBlobReadResult read = package.LoadFromBytes(packageBytes); read != TBlobReadResult::Ok)
      return refuse(std::string("damaged category package: ") + BlobReadResultText(read));
    bool hasDefinition = false;
    for (size_t i = 0; i < package.Count(); ++i) {
      const TFileInfo& file = package.Items(i);
      if (!IsSafeUpdateName(file.Name, true)) return refuse("the package names a path: " + file.Name);
      // Another file's staging name: staging one would overwrite the other's.
      if (file.Name.size() > kStagingSuffix.size() &&
          SameText(std::string_view(file.Name).substr(file.Name.size() - kStagingSuffix.size()),
                   kStagingSuffix))
        return refuse("the package names a temporary file: " + file.Name);
      const size_t slash = file.Name.find('/');
      // The one folder a package may fill is its category's own.
      if (slash != std::string::npos && !SameText(file.Name.substr(0, slash), item.Name))
        return refuse("the package writes outside its category: " + file.Name);
      const bool isDefinition = SameText(file.Name, item.Name + repo.CategoryExt);
      // Definition files go in lower case, as the catalogue looks for them.
      const std::string ext = LowerExtension(file.Name);
      const bool lower = ext == repo.CategoryExt || ext == repo.EngineExt || ext == repo.SearchTypeExt ||
                         ext == repo.ScriptExt;
      std::string target = repo.DataFolder();
      if (slash != std::string::npos) {
        target = WithSlash(ExistingOrLower(target, file.Name.substr(0, slash), &Names_));
        const std::string leaf = file.Name.substr(slash + 1);
        target = lower ? ExistingOrLower(target, leaf, &Names_) : target + leaf;
      } else {
        target = lower ? ExistingOrLower(target, file.Name, &Names_) : target + file.Name;
      }
      TStagedFile one;
      if (!Stage(target, file.Data, Names_, one, error)) return refuse(error);
      staged.push_back(one);
      if (isDefinition) {
        hasDefinition = true;
        if (!loads(ukCategory, one, item.Name)) return refuse("the category definition does not load");
      } else if (slash != std::string::npos && ext == repo.EngineExt) {
        if (!loads(ukEngine, one, file.Name)) return refuse("the engine " + file.Name + " does not load");
      }
    }
    if (!hasDefinition) return refuse("the package holds no category definition");
  } else {
    TStagedFile one;
    if (!Stage(UpdateLocalPath(item, repo, &Names_), entry.Data, Names_, one, error)) return refuse(error);
    staged.push_back(one);
    if (!loads(item.Kind, one, item.Name)) return refuse("the definition does not load");
  }
  if (!Commit(staged, Names_, error)) {
    // What was renamed already holds the new bytes, but its item is dropped from the report.
    for (const TStagedFile& file : staged) {
      Loaded_.Categories.erase(file.Target);
      Loaded_.Engines.erase(file.Target);
    }
    return refuse(error);
  }
  for (auto& [path, loaded] : checked.Categories) Loaded_.Categories[path] = std::move(loaded);
  for (auto& [path, loaded] : checked.Engines) Loaded_.Engines[path] = std::move(loaded);
  if (item.Kind == ukCategory)
    for (const TStagedFile& file : staged) PackageFiles_.insert(file.Target);
  return true;
}

void TQuorinUpdateAction::RemoveItem(const TQuorinUpdateReportItem& item) {
  // Names come from the catalogue, but a path must never reach a recursive delete.
  if (!IsSafeUpdateName(item.Name) || (item.Kind == ukEngine && !IsSafeUpdateName(item.Category))) return;
  std::error_code ec;
  const std::string path = UpdateLocalPath(item, *Repository_, &Names_);
  fs::remove(path, ec);
  Names_.Removed(path);
  Loaded_.Categories.erase(path);
  Loaded_.Engines.erase(path);
  if (item.Kind != ukCategory) return;
  fs::path stem(path);
  stem.replace_extension();
  fs::remove(stem.string() + ".ico", ec);
  const std::string folder = FindPathIgnoringCase(Repository_->DataFolder(), item.Name);
  if (fs::is_directory(folder, ec)) fs::remove_all(folder, ec);
  Names_.Forget();
}

void TQuorinUpdateAction::MarkUpdatedCategories() {
  if (UpdatedCategories_.empty()) return;
  TCategoryStorageList& categories = Repository_->Categories();
  const TDateTime now = Clock();
  categories.BeginTransaction(lsUpdating, 0);
  for (const std::string& name : UpdatedCategories_) {
    if (TCategoryStorageItem* category = categories.FindByName(name)) {
      category->LastUpdateDate = now;
      category->Changed();
    }
  }
  categories.EndTransaction();
}

// ---------------------------------------------------------------------------------------------------

void RegisterUpdateAction(TQuorinActionRepository& actions, const TQuorinApplication& runner,
                          MainDispatcher& dispatcher) {
  actions.RegisterUpdateAction(
      [&runner, &dispatcher] {
        return std::make_unique<TQuorinUpdateAction>(runner.VersionInfo(), dispatcher);
      },
      TQuorinUpdateOperation::StaticClass());
}

}  // namespace vandrel
