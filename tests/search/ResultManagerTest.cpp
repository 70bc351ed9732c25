#include "search/ResultManager.h"

#include <gtest/gtest.h>

#include "search/SearchTestUtil.h"

namespace vandrel {
namespace {

using testing::FieldInt;
using testing::FieldText;
using testing::GadgetType;
using testing::TTypeFromSource;

// A master list over the gadget type, with records made by hand in one engine's list.
struct MasterFixture {
  explicit MasterFixture(bool keyed = true) : Type(GadgetType(keyed)) {
    EXPECT_TRUE(Type.Ok) << Type.LastError();
    Instance = std::make_unique<TSearchTypeInstance>(&Type.Reader);
    Instance->Variables.SetInteger("ResultsPerEngine", 10);
    Engines.SetInstance(Instance.get());
    Manager.SetInstance(Instance.get());
  }
  TResultRecord& Record(const std::string& engine, const std::string& title, double price,
                        const std::string& url) {
    TEngineResults& list = Engines.FindOrAdd(engine);
    auto r = std::make_unique<TResultRecord>(Instance.get(), "");
    r->FindField("title")->SetString(title);
    r->FindField("price")->SetFloat(price);
    r->FindField("url")->SetString(url);
    r->Rank = static_cast<int32_t>(list.Count()) + 1;
    TResultRecord& ref = *r;
    list.Add(std::move(r));
    return ref;
  }
  TResultRecord& Stored(const std::string& title, double price, const std::string& url, int rank) {
    auto r = std::make_unique<TResultRecord>(Instance.get(), "");
    r->FindField("title")->SetString(title);
    r->FindField("price")->SetFloat(price);
    r->FindField("url")->SetString(url);
    r->MasterRank = rank;
    TResultRecord& ref = *r;
    Manager.StoredRecords().Add(std::move(r));
    return ref;
  }

  TTypeFromSource Type;
  std::unique_ptr<TSearchTypeInstance> Instance;
  TEngineResultList Engines;
  TResultManager Manager;
};

TEST(ResultManager, AddressesDifferingOnlyByWwwSlashOrDefaultPageMakeOneMaster) {
  MasterFixture f;
  f.Manager.Reset();
  TMasterResult* a = f.Manager.Merge(f.Record("alpha", "Lamp", 30, "http://www.shop.test/p/1"));
  ASSERT_TRUE(a);
  EXPECT_EQ(FieldInt(a->Records.At(0), "occ"), 1);  // each record is evaluated with the occurrence it brings
  EXPECT_EQ(f.Manager.NewResults(), std::vector<TMasterResult*>{a});
  EXPECT_TRUE(f.Manager.UpdatedResults().empty());
  f.Manager.NewResults().clear();

  TResultRecord& cheaper = f.Record("beta", "Lamp", 25, "http://shop.test/p/1/");
  EXPECT_EQ(f.Manager.Merge(cheaper), a);
  EXPECT_EQ(FieldInt(cheaper, "occ"), 2);
  EXPECT_EQ(f.Manager.Merge(f.Record("gamma", "Lamp", 40, "http://shop.test/p/1/index.html")), a);
  EXPECT_EQ(f.Manager.Masters().Count(), 1u);
  EXPECT_EQ(a->State, msFoundAgain);
  EXPECT_EQ(a->Occurrences(), 3u);
  EXPECT_EQ(a->Representative, &cheaper);
  EXPECT_EQ(cheaper.MasterRank, 1);
  EXPECT_EQ(cheaper.Master, a);
  EXPECT_EQ(FieldInt(a->Records.At(2), "occ"), 3);
  // The representative was re-evaluated against the third record: rank 1 of beta, 3 occurrences.
  EXPECT_EQ(FieldInt(cheaper, "score"), 74);
  EXPECT_EQ(a->FoundBy(f.Engines), (std::vector<std::string>{"alpha", "beta", "gamma"}));
  // Found again twice since the last report, listed once.
  EXPECT_EQ(f.Manager.UpdatedResults(), std::vector<TMasterResult*>{a});
  EXPECT_TRUE(f.Manager.NewResults().empty());
}

TEST(ResultManager, KeysDifferingOnlyInLetterCaseAreOneKey) {
  MasterFixture f;
  f.Manager.Reset();
  TMasterResult* a = f.Manager.Merge(f.Record("alpha", "Lamp", 30, "http://shop.test/P/1"));
  EXPECT_EQ(f.Manager.Merge(f.Record("beta", "Lamp", 30, "http://SHOP.test/p/1")), a);
  EXPECT_EQ(a->Occurrences(), 2u);
  // On a tie the first representative stays.
  EXPECT_EQ(a->Representative, &a->Records.At(0));
}

TEST(ResultManager, WithoutAUniqueKeyNothingMerges) {
  MasterFixture f(false);
  f.Manager.Reset();
  TMasterResult* a = f.Manager.Merge(f.Record("alpha", "Lamp", 30, "http://shop.test/p/1"));
  TMasterResult* b = f.Manager.Merge(f.Record("beta", "Lamp", 30, "http://shop.test/p/1"));
  ASSERT_TRUE(a && b);
  EXPECT_NE(a, b);
  EXPECT_EQ(b->Rank, 2);
  EXPECT_EQ(f.Manager.NewResults().size(), 2u);
}

TEST(ResultManager, RejectedRecordsLeaveNoTrace) {
  MasterFixture f;
  f.Stored("Desk", 80, "http://shop.test/desk", 4);
  f.Manager.Reset();
  // A new key whose first record fails the filter makes no master.
  EXPECT_EQ(f.Manager.Merge(f.Record("alpha", "Free lamp", 0, "http://shop.test/p/9")), nullptr);
  EXPECT_EQ(f.Manager.Masters().Count(), 1u);
  EXPECT_TRUE(f.Manager.NewResults().empty());
  // A rejected record on a stored master keeps the stored copy and leaves it old.
  EXPECT_EQ(f.Manager.Merge(f.Record("alpha", "Desk", 0, "http://www.shop.test/desk/")), nullptr);
  TMasterResult& desk = f.Manager.Masters().At(0);
  EXPECT_EQ(desk.State, msOld);
  ASSERT_TRUE(desk.Representative);
  EXPECT_EQ(FieldText(*desk.Representative, "title"), "Desk");
  EXPECT_TRUE(f.Manager.UpdatedResults().empty());
  // Found again by an accepted record of an existing master: a rejected one does not count either.
  TMasterResult* lamp = f.Manager.Merge(f.Record("alpha", "Lamp", 30, "http://shop.test/p/1"));
  f.Manager.NewResults().clear();
  EXPECT_EQ(f.Manager.Merge(f.Record("beta", "Lamp", 0, "http://shop.test/p/1")), nullptr);
  EXPECT_EQ(lamp->State, msNew);
  EXPECT_EQ(lamp->Occurrences(), 1u);
  EXPECT_TRUE(f.Manager.UpdatedResults().empty());
}

TEST(ResultManager, StoredResultsAreSeededFoundAgainOrCollectedAsOld) {
  MasterFixture f;
  f.Stored("Lamp", 30, "http://shop.test/p/1", 2);
  f.Stored("Chair", 50, "http://shop.test/p/2", 1);
  f.Manager.Reset();
  ASSERT_EQ(f.Manager.Masters().Count(), 2u);
  TMasterResult& lamp = f.Manager.Masters().At(0);
  EXPECT_EQ(lamp.State, msOld);
  EXPECT_EQ(lamp.Rank, 2);
  EXPECT_EQ(lamp.Occurrences(), 1u);
  EXPECT_NE(lamp.Representative, &f.Manager.StoredRecords().At(0));  // a copy

  TResultRecord& again = f.Record("alpha", "Lamp", 35, "http://www.shop.test/p/1");
  EXPECT_EQ(f.Manager.Merge(again), &lamp);
  EXPECT_EQ(lamp.State, msFoundAgain);
  EXPECT_EQ(lamp.Occurrences(), 1u);  // the stored copy was replaced, though it was cheaper
  EXPECT_EQ(lamp.Representative, &again);
  EXPECT_EQ(FieldInt(again, "occ"), 1);
  EXPECT_EQ(again.MasterRank, 2);
  EXPECT_EQ(f.Manager.UpdatedResults(), std::vector<TMasterResult*>{&lamp});

  TMasterResult* fresh = f.Manager.Merge(f.Record("alpha", "Stool", 20, "http://shop.test/p/3"));
  EXPECT_EQ(fresh->Rank, 3);  // seeded masters count
  EXPECT_EQ(f.Manager.NewResults(), std::vector<TMasterResult*>{fresh});

  f.Manager.CollectOld();
  ASSERT_EQ(f.Manager.OldResults().size(), 1u);
  EXPECT_EQ(FieldText(*f.Manager.OldResults()[0]->Representative, "title"), "Chair");
  EXPECT_TRUE(f.Manager.OldResults()[0]->FoundBy(f.Engines).empty());

  // Old masters go last, the others by price.
  auto sorted = f.Manager.SortedMasters();
  ASSERT_EQ(sorted.size(), 3u);
  EXPECT_EQ(sorted[0], fresh);
  EXPECT_EQ(sorted[1], &lamp);
  EXPECT_EQ(sorted[2]->State, msOld);

  // A second reset starts over from the stored records.
  f.Manager.Reset();
  EXPECT_EQ(f.Manager.Masters().Count(), 2u);
  EXPECT_TRUE(f.Manager.OldResults().empty());
  EXPECT_EQ(f.Manager.Masters().At(0).State, msOld);
}

TEST(ResultManager, StoredResultsWithoutARankRankByPositionAndCoincidingKeysShareOneMaster) {
  MasterFixture f;
  f.Stored("Lamp", 30, "http://shop.test/p/1", 0);
  f.Stored("Lamp again", 31, "http://www.shop.test/p/1", 0);  // reduces to the same key
  f.Stored("Chair", 50, "http://shop.test/p/2", 0);
  f.Manager.Reset();
  ASSERT_EQ(f.Manager.Masters().Count(), 2u);
  TMasterResult& lamp = f.Manager.Masters().At(0);
  TMasterResult& chair = f.Manager.Masters().At(1);
  EXPECT_EQ(lamp.Rank, 1);
  EXPECT_EQ(chair.Rank, 3);  // its stored position, not its place among the masters
  // Every stored record names the master it went to, so none is linked to another's master.
  EXPECT_EQ(f.Manager.SeedMaster(0), &lamp);
  EXPECT_EQ(f.Manager.SeedMaster(1), &lamp);
  EXPECT_EQ(f.Manager.SeedMaster(2), &chair);
  EXPECT_EQ(f.Manager.SeedMaster(3), nullptr);
  EXPECT_EQ(FieldText(*chair.Representative, "title"), "Chair");
}

}  // namespace
}  // namespace vandrel
