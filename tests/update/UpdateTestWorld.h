// An update client for tests: an action runner over an in-memory catalogue of a temporary data folder,
// settings kept in memory, a manual clock, and a real vandrel-update-site process to update from.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "TempFolder.h"
#include "actions/QuorinApplications.h"
#include "repository/DataFolderUtil.h"
#include "search/QuorinEngineRepository.h"
#include "storage/CategoryStorage.h"
#include "update/AppUpdater.h"

namespace vandrel::updatetest {

class TMemorySettings : public IUpdaterSettings {
 public:
  std::string Address;
  TDateTime LastChannel = 0;
  int LastChannelWrites = 0;
  std::string SoftwareAddress;

  std::string UpdateAddress() const override { return Address; }
  void SetUpdateAddress(const std::string& address) override { Address = address; }
  TDateTime LastChannelUpdate() const override { return LastChannel; }
  void SetLastChannelUpdate(TDateTime when) override {
    LastChannel = when;
    ++LastChannelWrites;
  }
  void SetSoftwareUpdateAddress(const std::string& address) override { SoftwareAddress = address; }
};

inline std::string RegisterBody(const std::string& body) {
  return testing::RegisterBody(body);
}
inline const char* kBooksType =
    "DisplayName = \"Books\"\nAddInputField(\"Keywords\")\nf = AddOutputField(\"title\")\n"
    "f = AddOutputField(\"price\")\nf.datatype = DT_MONEY\nAddSortKey \"price\", SK_ASCENDING\n"
    "UniqueKey = \"title\"\nSearchFrame = \"BookSearch\"";
inline std::string CategoryBody(const std::string& displayName) {
  return "DisplayName = \"" + displayName +
         "\"\nPriority = 1\nSearchType = \"books\"\nResultsPerEngine = 20\nTotalResults = 100";
}
inline std::string EngineBody(const std::string& displayName) {
  return "DisplayName = \"" + displayName + "\"\nHomePage = \"http://shop.test/\"\nEnabled = True";
}

// A small site: the books search type, the buybooks and reviewbooks categories, two buybooks engines and
// one review engine, each at `version`.
inline void WriteSmallSite(testing::TDataFolder& site, int version = 1) {
  site.WriteCompiledSearchType("books.cst", kBooksType, version);
  site.WriteCompiledEngine("buybooks.cca", CategoryBody("Books"), version);
  site.WriteCompiledEngine("reviewbooks.cca", CategoryBody("Book reviews"), version);
  site.WriteCompiledEngine("buybooks/bookbarn.cen", EngineBody("Book Barn"), version);
  site.WriteCompiledEngine("buybooks/linkmart.cen", EngineBody("Link Mart"), version);
  site.WriteCompiledEngine("reviewbooks/critics.cen", EngineBody("Critics"), version);
}

// A vandrel-update-site process serving `folder` on 127.0.0.1, a free port; stopped with SIGTERM.
class TSiteProcess {
 public:
  explicit TSiteProcess(const std::string& folder, const std::string& edition = "STANDARD") {
    const std::string ready = Scratch / "ready";
    LogFile = Scratch / "site.log";
    const std::string program = std::string(VANDREL_BIN_DIR) + "/vandrel-update-site";
    Pid = fork();
    if (Pid == 0) {
      FILE* log = std::fopen(LogFile.c_str(), "w");
      if (log) {
        dup2(fileno(log), 1);
        dup2(fileno(log), 2);
      }
      execl(program.c_str(), program.c_str(), "--data", folder.c_str(), "--port", "0", "--once-ready-file",
            ready.c_str(), "--edition", edition.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
      std::error_code ec;
      if (std::filesystem::exists(ready, ec)) {
        Port = std::stoi(test::ReadWholeFile(ready));
        break;
      }
      if (waitpid(Pid, nullptr, WNOHANG) == Pid) {
        Pid = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~TSiteProcess() {
    if (Pid > 0) {
      kill(Pid, SIGTERM);
      waitpid(Pid, nullptr, 0);
    }
  }
  std::string Url(const std::string& path = "/update-info/013") const {
    return "http://127.0.0.1:" + std::to_string(Port) + path;
  }
  std::string Log() const { return test::ReadWholeFile(LogFile); }

  test::TempFolder Scratch;
  std::string LogFile;
  pid_t Pid = -1;
  int Port = 0;
};

// The client side: a runner whose catalogue lives in memory over `Data`.
class TUpdateClient {
 public:
  explicit TUpdateClient(const TQuorinVersionInfo& version = {})
      : Runner(Actions, MainDispatcher::Default()), Updater(Runner, Settings, [this] { return Clock; }) {
    MainDispatcher::Default().AdoptCurrentThread();
    TQuorinApplicationParts parts;
    parts.Repository = NewEngineRepository();
    parts.Repository->SetDataFolder(Data.Path());
    parts.Repository->Refresh(nullptr, {});
    Runner.InstallParts(std::move(parts));
    if (version.Edition.empty()) {
      RegisterUpdateAction(Actions, Runner);
    } else {
      Actions.RegisterUpdateAction([version] { return std::make_unique<TQuorinUpdateAction>(version); },
                                   TQuorinUpdateOperation::StaticClass());
    }
  }

  // One update of every category from `address`, as the update window runs it.
  std::unique_ptr<TUpdateRun> Update(const std::string& address, bool all = true) {
    Settings.Address = address;
    auto run = std::make_unique<TUpdateRun>(Updater);
    run->Run(all, std::chrono::seconds(60));
    MainDispatcher::Default().RunUntil([this] { return Runner.State() == asIdle; }, std::chrono::seconds(10));
    return run;
  }

  // Reads the data folder's files into the catalogue again.
  void Reload() { Repository().Refresh(nullptr, {}); }
  TEngineRepository& Repository() { return *Runner.Repository(); }
  TCategoryStorageItem* Category(const std::string& name) {
    return Repository().Categories().FindByName(name);
  }
  TEngineStorageItem* Engine(const std::string& category, const std::string& name) {
    TEngineStorageList* list = Repository().EngineLists().EngineList(category);
    return list ? static_cast<TEngineStorageItem*>(list->FindByName(name)) : nullptr;
  }
  bool Exists(const std::string& relative) const {
    std::error_code ec;
    return std::filesystem::exists(Data.Path() + relative, ec);
  }

  testing::TDataFolder Data;
  TMemorySettings Settings;
  TDateTime Clock = 46000.5;
  TQuorinActionRepository Actions;
  TQuorinApplication Runner;
  TAppUpdater Updater;
};

// A loopback port that takes connections into its backlog and never answers: an update site that stalls.
class TSilentSite {
 public:
  TSilentSite() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        listen(fd_, 4) == 0 && getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
      Port = ntohs(address.sin_port);
  }
  ~TSilentSite() {
    if (fd_ >= 0) close(fd_);
  }
  TSilentSite(const TSilentSite&) = delete;
  TSilentSite& operator=(const TSilentSite&) = delete;

  int Port = 0;  // 0 when the port could not be opened

  std::string UpdateAddress() const {
    return "http://127.0.0.1:" + std::to_string(Port) + "/update-info/013";
  }

 private:
  int fd_ = -1;
};

}  // namespace vandrel::updatetest
