#include <gtest/gtest.h>

#include <filesystem>

#include "TempFolder.h"
#include "search/SearchFolders.h"
#include "search/SearchOutcome.h"

namespace vandrel {
namespace {

TEST(SearchHistoryRules, PurgeCountsWholeDaysFromTodaysMidnight) {
  const TDateTime now = EncodeDate(2026, 12, 9) + EncodeTime(9, 30, 0);
  const TDateTime fifteenDaysAgo = EncodeDate(2026, 11, 24);
  EXPECT_TRUE(SearchExpired(fifteenDaysAgo, now, 15));
  EXPECT_FALSE(SearchExpired(fifteenDaysAgo + EncodeTime(10, 0, 0), now, 15));
  // The same search goes at the next day's start.
  EXPECT_TRUE(SearchExpired(fifteenDaysAgo + EncodeTime(10, 0, 0), now + 1, 15));
  EXPECT_FALSE(SearchExpired(now, now, 1));
  EXPECT_FALSE(SearchExpired(now - 1, now, 1)) << "yesterday 09:30 is not a whole day before midnight";
  EXPECT_TRUE(SearchExpired(EncodeDate(2026, 12, 8), now, 1));
}

TEST(SearchHistoryRules, ASettingBelowOneKeepsFifteenDays) {
  const TDateTime now = EncodeDate(2026, 12, 9) + EncodeTime(9, 30, 0);
  for (int32_t setting : {0, -3}) {
    EXPECT_EQ(EffectiveDaysToKeep(setting), 15);
    EXPECT_FALSE(SearchExpired(now - 0.5, now, setting)) << setting;
    EXPECT_FALSE(SearchExpired(EncodeDate(2026, 11, 25), now, setting)) << setting;
    EXPECT_TRUE(SearchExpired(EncodeDate(2026, 11, 24), now, setting)) << setting;
  }
  EXPECT_EQ(EffectiveDaysToKeep(100), 100);
}

TEST(SearchHistoryRules, OldResultFateFollowsTheEnginesThatFoundIt) {
  TSearchRunEngines run;
  run.Add("Complete", false);
  run.Add("NewOnly", true);
  run.Add("Stopped", false);
  run.Add("StoppedNewOnly", true);
  run.MarkIncomplete("stopped");
  run.MarkIncomplete("STOPPEDNEWONLY");

  struct TCase {
    std::vector<std::string> FoundBy;
    TOldResultFate Fate;
  } cases[] = {
      {{"complete"}, TOldResultFate::orfDeleted},
      {{"newonly"}, TOldResultFate::orfOutdated},
      {{"Complete", "NewOnly"}, TOldResultFate::orfOutdated},
      {{"Stopped"}, TOldResultFate::orfRemains},
      {{"Stopped", "Complete"}, TOldResultFate::orfDeleted},
      // A new-only engine that was stopped still makes a completed engine's miss an outdated entry.
      {{"StoppedNewOnly", "Complete"}, TOldResultFate::orfOutdated},
      // Engines that did not run this time checked nothing: the result stays.
      {{"Retired"}, TOldResultFate::orfRemains},
      {{}, TOldResultFate::orfRemains},
      {{"Retired", "Complete"}, TOldResultFate::orfDeleted},
  };
  for (const TCase& c : cases) {
    std::string names;
    for (const auto& n : c.FoundBy) names += n + ",";
    EXPECT_EQ(run.Fate(c.FoundBy), c.Fate) << names;
  }
  EXPECT_TRUE(run.TookPart("COMPLETE"));
  EXPECT_FALSE(run.TookPart("Retired"));
  EXPECT_FALSE(run.Completed("Stopped"));
}

TEST(SearchHistoryRules, FolderTreeFollowsTheDisk) {
  test::TempFolder dir;
  std::filesystem::create_directories(dir / "Compare/Old");
  std::filesystem::create_directories(dir / "Reviews");
  test::WriteWholeFile(dir / "notes.txt", "not a folder");

  TFolderItem root(dir.Path(), nullptr);
  root.Rescan(true);
  ASSERT_EQ(root.ChildCount(), 2u);
  TFolderItem* compare = root.FindByPath("compare\\");
  ASSERT_NE(compare, nullptr);
  EXPECT_EQ(compare->RelativePath(), "Compare/");
  EXPECT_EQ(compare->Path(), dir.Path() + "/Compare/");
  EXPECT_EQ(root.FindByPath("Compare/Old")->RelativePath(), "Compare/Old/");
  EXPECT_EQ(root.FindByPath(dir.Path() + "/Reviews"), root.FindChild("Reviews"));
  EXPECT_EQ(root.FindByPath(""), &root);
  EXPECT_EQ(root.FindByPath("Missing"), nullptr);
  EXPECT_EQ(root.FindByPath("/elsewhere/Compare"), nullptr);

  // A rescan keeps the objects of folders that are still there.
  std::filesystem::remove_all(dir / "Reviews");
  root.Rescan(false);
  EXPECT_EQ(root.ChildCount(), 1u);
  EXPECT_EQ(root.FindChild("Compare"), compare);

  TFolderItem* made = root.CreateChild("Reviews");
  ASSERT_NE(made, nullptr);
  EXPECT_TRUE(std::filesystem::is_directory(dir / "Reviews"));
  EXPECT_EQ(root.CreateChild("Reviews"), made);
  EXPECT_EQ(root.CreateChild(".."), nullptr);
  EXPECT_EQ(root.CreateChild("a/b"), nullptr);
}

}  // namespace
}  // namespace vandrel
