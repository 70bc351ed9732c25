// The command line on a database that cannot be written (a read-only mount) and on a disk that fills up
// (a small tmpfs), both in private user and mount namespaces, against the demo store site.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "cli/DemoHistoryFixture.h"

namespace vandrel {
namespace {

namespace fs = std::filesystem;

using clitest::Records;
using clitest::RunCliUnder;
using clitest::RunCommand;
using clitest::TCliRun;
using clitest::TJsonRecord;

// Status of a launcher that could not set its mount up; the program never ran.
constexpr int kNoMount = 125;

// Runs the program with `dir` bind-mounted read-only over itself, after checking that it really refuses
// a write.
std::vector<std::string> ReadOnlyMount(const std::string& dir) {
  return {"unshare",
          "-rm",
          "sh",
          "-c",
          "{ mount --bind \"$0\" \"$0\" && mount -o remount,bind,ro \"$0\" && "
          "! touch \"$0/.probe\" 2>/dev/null; } || exit 125; exec \"$@\"",
          dir};
}

// A tmpfs of `kib` KiB on `dir`, in namespaces held open by a sleeping process, so that several runs of
// the program see the same small disk.
class TSmallDisk {
 public:
  TSmallDisk(const std::string& dir, int kib) {
    const std::string ready = test::ProcessTempDir() + "/small-disk-" + std::to_string(getpid()) + ".ready";
    fs::remove(ready);
    pid_ = fork();
    if (pid_ == 0) {
      execlp("unshare", "unshare", "-rm", "sh", "-c",
             "mount -t tmpfs -o size=\"$2\"k tmpfs \"$0\" && touch \"$1\" && exec sleep 900", dir.c_str(),
             ready.c_str(), std::to_string(kib).c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 800 && !Ready; ++i) {
      Ready = fs::exists(ready);
      if (!Ready) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    fs::remove(ready);
  }
  ~TSmallDisk() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  TSmallDisk(const TSmallDisk&) = delete;
  TSmallDisk& operator=(const TSmallDisk&) = delete;

  // Words that run a command inside the disk's namespaces.
  std::vector<std::string> Launcher() const {
    return {"nsenter", "-t", std::to_string(pid_), "-U", "-m", "--preserve-credentials", "--"};
  }
  TCliRun Shell(const std::string& script, const std::string& dir) const {
    std::vector<std::string> argv = Launcher();
    argv.insert(argv.end(), {"sh", "-c", script, dir});
    return RunCommand(argv);
  }

  bool Ready = false;

 private:
  pid_t pid_ = -1;
};

class DiskRefusalIntegration : public clitest::TDemoHistoryTest {
 protected:
  std::vector<std::string> Common() const {
    return {
        "--root", Root, "--data", test::CompiledDataDir(), "--define", "DemoStoreAddress=" + Site->Address()};
  }
  TCliRun Run(const std::vector<std::string>& launcher, std::vector<std::string> args) const {
    const std::vector<std::string> common = Common();
    args.insert(args.end(), common.begin(), common.end());
    return RunCliUnder(launcher, args);
  }
  // Every stored search shows as many results as it claims; returns the searches listed.
  std::vector<TJsonRecord> CheckHistory(const std::vector<std::string>& launcher, const std::string& when) {
    const TCliRun list = Run(launcher, {"history", "list", "--json"});
    EXPECT_EQ(list.Status, 0) << when << ": " << list.Err;
    const std::vector<TJsonRecord> searches = Records(list);
    for (const TJsonRecord& search : searches) {
      const std::string number = std::to_string(search.Number.at("Number"));
      const TCliRun show = Run(launcher, {"history", "show", number, "--json"});
      EXPECT_EQ(show.Status, 0) << when << ", search " << number << ": " << show.Err;
      EXPECT_EQ(static_cast<long>(Records(show).size()), search.Number.at("Results"))
          << when << ", search " << number;
    }
    return searches;
  }
};

TEST_F(DiskRefusalIntegration, AReadOnlyDatabaseListsAndShowsButRefusesEveryCommandThatWrites) {
  const TCliRun search = Search({"--category", "buybooks", "--set", "Title=glass"});
  ASSERT_EQ(search.Status, 0) << search.Err;
  const size_t found = Records(search).size();
  ASSERT_GT(found, 0u);
  const std::vector<std::string> readOnly = ReadOnlyMount(Root);

  const TCliRun list = Run(readOnly, {"history", "list", "--json"});
  ASSERT_NE(list.Status, kNoMount) << "the read-only mount could not be set up: " << list.Err;
  ASSERT_EQ(list.Status, 0) << list.Err;
  const std::vector<TJsonRecord> searches = Records(list);
  ASSERT_EQ(searches.size(), 1u) << list.Out;
  EXPECT_EQ(searches[0].Number.at("Results"), static_cast<long>(found));
  const TCliRun show = Run(readOnly, {"history", "show", "1", "--json"});
  EXPECT_EQ(show.Status, 0) << show.Err;
  EXPECT_EQ(Records(show).size(), found);
  EXPECT_EQ(show.Err, "") << "reading must not try to write";
  const TCliRun table = Run(readOnly, {"history", "show", "1"});
  EXPECT_EQ(table.Status, 0) << table.Err;
  EXPECT_NE(table.Out.find(std::to_string(found) + " result(s)"), std::string::npos) << table.Out;

  const std::vector<std::vector<std::string>> writers = {
      {"search", "--category", "buybooks", "--set", "Title=harbour"},
      {"history", "rerun", "1"},
      {"history", "delete", "1"},
      {"history", "check", "1", "1"},
      {"history", "show", "1", "--group-by", "store"},
      {"history", "show", "1", "--sort", "title"},
      {"db", "compact"},
  };
  for (const auto& args : writers) {
    std::vector<std::string> words = args;
    // "db" takes the root folder alone.
    const TCliRun refused =
        args[0] == "db" ? RunCliUnder(readOnly, {"db", "compact", "--root", Root}) : Run(readOnly, words);
    EXPECT_EQ(refused.Status, 1) << args[0] << " " << args[1] << ": " << refused.Err;
    EXPECT_NE(refused.Err.find("is read-only"), std::string::npos)
        << args[0] << " " << args[1] << ": " << refused.Err;
  }
  // Writable again, everything is as it was.
  const std::vector<TJsonRecord> after = CheckHistory({}, "after the read-only runs");
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].Number.at("Results"), static_cast<long>(found));
}

TEST_F(DiskRefusalIntegration, AFullDiskFailsTheSearchAloudAndNeverStoresACountWithoutItsRows) {
  fs::create_directories(Root + "/UserData");
  TSmallDisk disk(Root + "/UserData", 6 * 1024);
  ASSERT_TRUE(disk.Ready) << "the tmpfs could not be mounted";
  const std::vector<std::string> onDisk = disk.Launcher();
  const TCliRun first = Run(onDisk, {"search", "--json", "--category", "buybooks", "--set", "Title=glass"});
  ASSERT_EQ(first.Status, 0) << first.Err;
  ASSERT_GT(Records(first).size(), 0u);

  // From a disk with no room at all to one with room for a little: the search itself, its results'
  // journal or their data fail to be written, or the search succeeds. Each failure says why, and what is
  // stored agrees with itself.
  int failed = 0;
  for (const int slackKib : {0, 4, 8, 12, 16, 64}) {
    const std::string when = std::to_string(slackKib) + " KiB free";
    const TCliRun fill = disk.Shell("cat /dev/zero > \"$0/filler\" 2>/dev/null; truncate -s -" +
                                        std::to_string(slackKib) + "K \"$0/filler\"",
                                    Root + "/UserData");
    ASSERT_EQ(fill.Status, 0) << when << ": " << fill.Err;
    const TCliRun search =
        Run(onDisk, {"search", "--json", "--category", "buybooks", "--set", "Title=harbour"});
    if (search.Status != 0) {
      ++failed;
      EXPECT_EQ(search.Status, 1) << when << ": " << search.Err;
      EXPECT_NE(search.Err.find("No space left on device"), std::string::npos) << when << ": " << search.Err;
    }
    // Read while the disk is still full, then again with the room given back.
    CheckHistory(onDisk, when + ", disk full");
    ASSERT_EQ(disk.Shell("rm -f \"$0/filler\"", Root + "/UserData").Status, 0);
    CheckHistory(onDisk, when + ", room given back");
  }
  EXPECT_GT(failed, 0) << "no search ran out of room";
}

}  // namespace
}  // namespace vandrel
