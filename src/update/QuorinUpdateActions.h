// The engine update: the operation that asks for one, and the action that brings the installed
// definitions up to the versions the update site lists, in up to four request steps.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "actions/QuorinActions.h"
#include "actions/QuorinApplications.h"
#include "actions/QuorinOperations.h"
#include "platform/DateTime.h"
#include "search/QuorinEngineRepository.h"
#include "search/QuorinUpdateReport.h"
#include "storage/Persistent.h"
#include "update/UpdateDownloader.h"
#include "update/UpdateInfoFiles.h"

namespace vandrel {

class TEngineRepository;
class TVersionStorageDataList;

// What an engine update should check.
class TQuorinUpdateOperation : public TQuorinOperation {
  VANDREL_PERSISTENT(TQuorinUpdateOperation)
 public:
  std::string UpdaterAddress;   // where the requests are posted
  std::string StreamerName;     // no reader
  std::string SubDirectory;     // no reader
  TStrings CatNames;            // categories whose engine-version files the first request asks for
  int32_t CompilerVersion = 0;  // entries needing a newer compiler are ignored
  TStrings CustomScripts;       // base names of the shared scripts to check
};

// The compiler version this program reports to the update site.
inline constexpr int32_t kUpdateCompilerVersion = 5000;

// ORDER/VALUES: the steps are shown by number; never renumber.
enum class TUpdateStep : uint8_t {
  None = 0,
  CheckVersions = 1,    // the version file and the requested categories' engine files
  FetchCategories = 2,  // engine files of categories the first answer asked to fetch
  DownloadFiles = 3,    // the changed and new definitions
  Install = 4,
};

// Observers of an update; the four first operations follow the update's own protocol, the last two say
// what went wrong. Main thread only.
class IQuorinUpdateActionObserver : public IQuorinAsynchronousActionObserver {
 public:
  virtual void UpdateSiteChanged(const std::string& address) {}
  // `entry` is valid during the call only.
  virtual void SoftwareUpdateAvailable(const TVersionVUISoftwareUpdate& entry) {}
  // The report's files are installed; the catalogue is refreshed after this.
  virtual void UpdateReportReady(const TQuorinUpdateReport& report) {}
  virtual void UpdateStepChanged(TUpdateStep step) {}
  // One file was refused (an unsafe name, damaged data, a definition that does not load); the rest of
  // the update goes on without it.
  virtual void UpdateFileRefused(const std::string& name, const std::string& reason) {}
  // The update ends without changes because of `text`.
  virtual void UpdateFailed(const std::string& text) {}
};

// The name a report item is asked for under, and where it is installed.
std::string UpdateItemName(const TQuorinUpdateReportItem& item);
std::string UpdateDownloadName(const TQuorinUpdateReportItem& item, const TEngineRepository& repository);
// The names in the folders an update writes to, each folder listed once: every new file would otherwise
// list its folder again to learn that no other letter case of its name is there. Only right while the
// update is the one changing these folders.
class TFolderNames {
 public:
  // The entry of `folder` named `name` in some letter case, the exact one first; empty when none.
  std::string Find(const std::string& folder, const std::string& name);
  void Added(const std::string& path);
  void Removed(const std::string& path);
  // A folder that was listed or made since the last Forget, so it need not be looked at again.
  bool Known(const std::string& folder) const;
  void Made(const std::string& folder);
  void Forget() {
    Folders_.clear();
    Present_.clear();
  }

 private:
  std::set<std::string>* Listed(const std::string& folder, bool read);
  std::map<std::string, std::set<std::string>> Folders_;  // by folder, with its "/"
  std::set<std::string> Present_;                         // folders seen to exist, with their "/"
};

// Where the item's file goes. `names`, when given, answers for the folders instead of the disk.
std::string UpdateLocalPath(const TQuorinUpdateReportItem& item, const TEngineRepository& repository,
                            TFolderNames* names = nullptr);

// Runs one update operation. Main thread only; the later steps run from the downloader's done event.
class TQuorinUpdateAction : public TQuorinAsynchronousAction {
 public:
  TQuorinUpdateAction(const TQuorinVersionInfo& version,
                      MainDispatcher& dispatcher = MainDispatcher::Default());
  ~TQuorinUpdateAction() override;

  bool Prepare(TEngineRepository* repository, TSearchHistory* history) override;
  bool Bind(const TQuorinOperation& operation) override;
  // Defers the first step to the dispatcher; false when there is no catalogue to update.
  bool Start() override;
  void Stop() override;

  TUpdateDownloader& Downloader() { return *Downloader_; }
  const TQuorinUpdateReport& Report() const { return Report_; }
  const std::vector<std::string>& UpdatedCategories() const { return UpdatedCategories_; }
  const std::vector<std::string>& CustomScripts() const { return CustomScripts_; }
  TUpdateStep Step() const { return Step_; }
  // Empty while the update goes well; otherwise why it ended without changes.
  const std::string& ErrorText() const { return ErrorText_; }
  // The site switched updates off.
  bool Disabled() const { return Disabled_; }
  // Files that were refused, as "name: reason".
  const std::vector<std::string>& Refused() const { return Refused_; }
  // The running download's bytes so far and expected (0: unknown).
  int64_t BytesReceived() const { return BytesReceived_; }
  int64_t BytesExpected() const { return BytesExpected_; }
  // With CheckOnly the update stops before its download step: the report says what would change.
  bool CheckOnly = false;
  // The clock that stamps the updated categories; tests set their own.
  std::function<TDateTime()> Clock = [] { return Now(); };

 private:
  template <class F>
  void Tell(F&& call) {
    ForEachObserver<IQuorinUpdateActionObserver>(std::forward<F>(call));
  }
  void FirstStep();
  void NextStep();
  void AnswerDone();
  void Finish();
  void Fail(const std::string& text);
  void Refuse(const std::string& name, const std::string& reason);
  void SetStep(TUpdateStep step);
  void Send(TUpdateStep step);
  void DownloadProgress(int64_t received, int64_t expected);

  bool ProcessVersionFile(const std::string& data);
  bool CompareVersionList(const TVUIFileVersionList* files, const TVUICategoryVersionList* categories,
                          int kind, const std::string& category);
  void CompareSharedScripts(const TVUIFileVersionList& scripts);
  bool BuildDownloadList();
  void Install();
  bool InstallItem(const TQuorinUpdateReportItem& item, const TFileInfo& entry);
  void RemoveItem(const TQuorinUpdateReportItem& item);
  void MarkUpdatedCategories();

  TQuorinVersionInfo Version_;
  MainDispatcher& Dispatcher_;
  std::unique_ptr<TUpdateDownloader> Downloader_;
  TQuorinUpdateReport Report_;
  std::vector<std::string> UpdatedCategories_;
  int32_t CompilerVersion_ = 0;
  std::vector<std::string> CustomScripts_;
  TUpdateStep Step_ = TUpdateStep::None;
  std::string ErrorText_;
  bool Disabled_ = false;
  bool Stopped_ = false;
  bool Finished_ = false;
  std::vector<std::string> Refused_;
  std::set<std::string> PackageFiles_;  // paths the installed category packages wrote
  TFolderNames Names_;                  // of the data folder and its category folders, while installing
  TLoadedDefinitions Loaded_;           // what the installed files were checked to hold
  int64_t BytesReceived_ = 0;
  int64_t BytesExpected_ = 0;
  // Posted tasks hold a weak reference, so one that arrives after the action is gone does nothing.
  std::shared_ptr<bool> Alive_ = std::make_shared<bool>(true);
};

// Registers TQuorinUpdateAction for TQuorinUpdateOperation (category 2) with `actions`.
void RegisterUpdateAction(TQuorinActionRepository& actions, const TQuorinApplication& runner,
                          MainDispatcher& dispatcher = MainDispatcher::Default());

}  // namespace vandrel
