// The update site's formats: the "ZS" wrapper, information files and updater blobs.
#include "update/UpdateInfoFiles.h"

#include <gtest/gtest.h>

#include "update/QuorinUpdateActions.h"
#include "update/UpdaterBlobs.h"

namespace vandrel {
namespace {

std::string Int32(int32_t v) {
  std::string out;
  for (int i = 0; i < 4; ++i) out += static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
  return out;
}

TEST(ZsWrapper, InflatesWrappedDataAndPassesPlainDataThrough) {
  const std::string plain = "[VUI]\r\nUpdateDisabled=1\r\n";
  std::string out = "untouched";
  EXPECT_EQ(ZsDecompress(plain, out), TZsResult::NotWrapped);
  EXPECT_EQ(out, "untouched");
  EXPECT_EQ(ZsDecompress(ZsCompress(plain), out), TZsResult::Inflated);
  EXPECT_EQ(out, plain);
  EXPECT_EQ(ZsDecompress(ZsCompress(""), out), TZsResult::Inflated);
  EXPECT_EQ(out, "");

  const std::string wrapped = ZsCompress(std::string(100000, 'q'));
  EXPECT_EQ(ZsDecompress(wrapped.substr(0, wrapped.size() - 3), out), TZsResult::BadStream);  // cut short
  EXPECT_EQ(ZsDecompress(wrapped + "junk", out), TZsResult::BadStream);
  std::string flipped = wrapped;
  flipped[flipped.size() - 1] ^= 1;  // Adler-32 no longer matches
  EXPECT_EQ(ZsDecompress(flipped, out), TZsResult::BadStream);
  EXPECT_EQ(ZsDecompress(std::string("ZS\x01\x00", 4), out), TZsResult::BadStream);
  EXPECT_EQ(ZsDecompress(wrapped, out, 99999), TZsResult::TooLarge);
  EXPECT_EQ(ZsDecompress(wrapped, out, 100000), TZsResult::Inflated);
  EXPECT_EQ(out.size(), 100000u);
}

// Large texts inflate in several blocks: every byte comes back, and the size limit holds to the byte.
TEST(ZsWrapper, LargeTextsInflateWholeAndTheLimitIsExact) {
  std::string plain;
  uint32_t seed = 1;
  while (plain.size() < 3 * 1024 * 1024 + 17) {
    seed = seed * 1103515245u + 12345u;
    plain += "Procedure Register ";
    plain += static_cast<char>('a' + (seed >> 16) % 26);
  }
  const std::string wrapped = ZsCompress(plain);
  std::string out;
  ASSERT_EQ(ZsDecompress(wrapped, out), TZsResult::Inflated);
  EXPECT_TRUE(out == plain);
  EXPECT_EQ(ZsDecompress(wrapped, out, plain.size()), TZsResult::Inflated);
  EXPECT_EQ(out.size(), plain.size());
  out = "kept";
  EXPECT_EQ(ZsDecompress(wrapped, out, plain.size() - 1), TZsResult::TooLarge);
  EXPECT_EQ(out, "kept");
  EXPECT_EQ(ZsDecompress(wrapped.substr(0, wrapped.size() / 2), out), TZsResult::BadStream);
  EXPECT_EQ(out, "kept");
}

// Texts that end exactly where an output block does, or one byte past it, come back whole, also when
// the limit is their exact size.
TEST(ZsWrapper, TextsEndingOnABlockBoundaryInflateWhole) {
  for (size_t size : {size_t{16384}, size_t{16385}, size_t{49152}, size_t{49151}, size_t{1} << 20}) {
    std::string plain(size, 'q');
    for (size_t i = 0; i < size; i += 97) plain[i] = static_cast<char>('a' + i % 26);
    const std::string wrapped = ZsCompress(plain);
    std::string out;
    ASSERT_EQ(ZsDecompress(wrapped, out, size), TZsResult::Inflated) << size;
    EXPECT_TRUE(out == plain) << size;
    EXPECT_EQ(ZsDecompress(wrapped, out, size - 1), TZsResult::TooLarge) << size;
  }
}

TEST(VersionVUI, ReadsTheSectionsWrappedOrPlain) {
  const std::string text = "[VUI]\nUpdateDisabled=1\n";
  for (const std::string& bytes : {text, ZsCompress(text)}) {
    TVersionVUI vui;
    ASSERT_TRUE(vui.LoadFromBytes(bytes));
    EXPECT_TRUE(vui.UpdateDisabled);
    EXPECT_EQ(vui.UpdateFrequency, -1);
    EXPECT_EQ(vui.UpdateSite, "");
  }
  TVersionVUI damaged;
  EXPECT_FALSE(damaged.LoadFromBytes(std::string("ZS\x01\x00", 4) + "garbage"));
}

TEST(VersionVUI, EntriesFollowTheFieldRules) {
  TVersionVUI vui;
  ASSERT_TRUE(
      vui.LoadFromBytes("ignored=before any section\r\n"
                        "[vui]\r\nUpdateFrequency=0x1F\r\nUpdateSite=http://a/\rUpdateSite=http://b/\n"
                        "; a comment\r\n\r\n"
                        "[SearchTypeVersions]\r\nbooks=5000\r\nmusic=$10|$ff\r\nmovies=|x\r\n"
                        "[CategoryVersions]\r\nbuybooks=1\r\nbuymusic=0|0|4000|12\r\n"
                        "[SoftwareUpdates]\r\n900-957=1|a|b|x||y\r\n957=1|a|b|z\r\n1-2-3=0\r\n"
                        "[CustomScriptVersions]\r\nAb=1\r\nAB=2\r\n"
                        "[SearchTypeVersions]\r\nsecond=1|1\r\n"));
  EXPECT_EQ(vui.UpdateFrequency, 31);
  EXPECT_EQ(vui.UpdateSite, "http://a/");  // the first line with a key wins

  ASSERT_EQ(vui.SearchTypeVersions.Count(), 3u);  // the repeated section is never read
  EXPECT_EQ(vui.SearchTypeVersions.Items(0).MinCompilerVersion, 5000);
  EXPECT_EQ(vui.SearchTypeVersions.Items(0).Version, 0);
  EXPECT_EQ(vui.SearchTypeVersions.Find("music")->MinCompilerVersion, 16);
  EXPECT_EQ(vui.SearchTypeVersions.Find("music")->Version, 255);
  EXPECT_EQ(vui.SearchTypeVersions.Find("movies")->Version, 0);
  EXPECT_EQ(vui.SearchTypeVersions.IndexOf("Books"), -1);  // lookups are exact

  const TVUICategoryVersion& books = vui.CategoryVersions.Items(0);
  EXPECT_TRUE(books.FetchEngines);
  EXPECT_TRUE(books.SkipIfAbsent);
  EXPECT_EQ(books.MinCompilerVersion, 0);
  EXPECT_EQ(books.Version, 0);
  const TVUICategoryVersion& music = vui.CategoryVersions.Items(1);
  EXPECT_FALSE(music.FetchEngines);
  EXPECT_FALSE(music.SkipIfAbsent);
  EXPECT_EQ(music.MinCompilerVersion, 4000);
  EXPECT_EQ(music.Version, 12);

  ASSERT_EQ(vui.SoftwareUpdates.Count(), 3u);
  EXPECT_EQ(vui.SoftwareUpdates.Items(0).FirstBuild, 900);
  EXPECT_EQ(vui.SoftwareUpdates.Items(0).LastBuild, 957);
  EXPECT_EQ(vui.SoftwareUpdates.Items(0).Addresses, std::vector<std::string>{"x"});
  EXPECT_EQ(vui.SoftwareUpdates.Items(1).FirstBuild, 0);
  EXPECT_EQ(vui.SoftwareUpdates.Items(1).LastBuild, 0);
  EXPECT_EQ(vui.SoftwareUpdates.Items(2).LastBuild, 0);
  EXPECT_EQ(vui.SoftwareUpdates.FindByBuild(957), &vui.SoftwareUpdates.Items(0));
  EXPECT_EQ(vui.SoftwareUpdates.FindByBuild(0), &vui.SoftwareUpdates.Items(1));
  EXPECT_EQ(vui.SoftwareUpdates.FindByBuild(958), nullptr);

  ASSERT_EQ(vui.CustomScriptVersions.Count(), 2u);  // keys differing only in case: the first value twice
  EXPECT_EQ(vui.CustomScriptVersions.Items(0).MinCompilerVersion, 1);
  EXPECT_EQ(vui.CustomScriptVersions.Items(1).MinCompilerVersion, 1);
}

TEST(VersionVUI, WritesWhatItReadsBack) {
  TVersionVUI vui;
  vui.UpdateSite = "http://site/";
  vui.UpdateDisabled = true;
  vui.SoftwareUpdates.Add({900, 957, true, "a", "b", {"x", "y"}});
  vui.SearchTypeVersions.Add({"books", 5000, 7});
  TVUICategoryVersion category;
  category.Name = "buybooks";
  category.FetchEngines = true;
  category.SkipIfAbsent = false;
  category.Version = 3;
  vui.CategoryVersions.Add(category);
  const std::string text = vui.SaveToBytes();
  EXPECT_NE(text.find("[SoftwareUpdates]\r\n900-957=1|a|b|x|y\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("buybooks=1|0|0|3"), std::string::npos) << text;

  TVersionVUI back;
  ASSERT_TRUE(back.LoadFromBytes(text));
  EXPECT_EQ(back.UpdateSite, "http://site/");
  EXPECT_TRUE(back.UpdateDisabled);
  EXPECT_EQ(back.SearchTypeVersions.Find("books")->Version, 7);
  EXPECT_FALSE(back.CategoryVersions.Find("buybooks")->SkipIfAbsent);
  EXPECT_EQ(back.SoftwareUpdates.Items(0).Addresses.size(), 2u);
}

TEST(VuiFields, IntegersAreDecimalOrDollarHexWithinThirtyTwoBits) {
  EXPECT_EQ(ReadVuiInteger("42", 7), 42);
  EXPECT_EQ(ReadVuiInteger("-3", 7), -3);
  EXPECT_EQ(ReadVuiInteger("$FFFFFFFF", 7), -1);
  EXPECT_EQ(ReadVuiInteger("", 7), 7);
  EXPECT_EQ(ReadVuiInteger(" 1", 7), 7);
  EXPECT_EQ(ReadVuiInteger("0x10", 7), 7);  // only the VUI section reads "0x"
  EXPECT_EQ(ReadVuiInteger("99999999999", 7), 7);
  EXPECT_EQ(ReadVuiInteger("--1", 7), 7);
  EXPECT_EQ(SplitVuiFields("a||b|").size(), 4u);
}

TEST(UpdaterBlob, KeepsOnlyEntriesWithDataAndAppends) {
  const std::string twoEntries = Int32(2) + Int32(1) + "a" + Int32(0) + Int32(1) + "b" + Int32(3) + "xyz";
  TUpdaterBlob blob;
  ASSERT_EQ(blob.LoadFromBytes(twoEntries), TBlobReadResult::Ok);
  ASSERT_EQ(blob.Count(), 1u);
  EXPECT_EQ(blob.Items(0).Name, "b");
  EXPECT_EQ(blob.Items(0).Data, "xyz");

  TUpdaterBlob second;
  second.Add("c", "1");
  ASSERT_EQ(blob.LoadFromBytes(second.SaveToBytes()), TBlobReadResult::Ok);
  ASSERT_EQ(blob.Count(), 2u);
  EXPECT_EQ(blob.IndexOf("b"), 0);
  EXPECT_EQ(blob.IndexOf("c"), 1);
  EXPECT_EQ(blob.IndexOf("C"), -1);
  EXPECT_EQ(blob.LoadFromBytes(""), TBlobReadResult::Ok);
  EXPECT_EQ(blob.LoadFromBytes(Int32(-5)), TBlobReadResult::Ok);
  EXPECT_EQ(blob.Count(), 2u);
  blob.Clear();
  EXPECT_EQ(blob.Count(), 0u);
}

TEST(UpdaterBlob, LengthsAreCheckedAgainstWhatRemains) {
  const std::string good = Int32(2) + Int32(1) + "a" + Int32(2) + "xy" + Int32(1) + "b" + Int32(1) + "z";
  // Every cut inside the stream is refused, keeping the entries read before it.
  for (size_t cut = 1; cut < good.size(); ++cut) {
    TUpdaterBlob blob;
    EXPECT_NE(blob.LoadFromBytes(good.substr(0, cut)), TBlobReadResult::Ok) << cut;
    EXPECT_EQ(blob.Count(), cut >= 15 ? 1u : 0u) << cut;
  }
  TUpdaterBlob blob;
  EXPECT_EQ(blob.LoadFromBytes(Int32(1) + Int32(-1) + Int32(1) + "x"), TBlobReadResult::BadLength);
  EXPECT_EQ(blob.LoadFromBytes(Int32(1) + Int32(1) + "a" + Int32(0x7FFFFFFF) + "x"),
            TBlobReadResult::Truncated);
  EXPECT_EQ(blob.LoadFromBytes(Int32(0x7FFFFFFF) + Int32(1) + "a" + Int32(1) + "x"),
            TBlobReadResult::Truncated);
  EXPECT_EQ(blob.Count(), 1u);
}

TEST(UpdateNames, OnlyPlainFileNamesPass) {
  for (const char* good : {"books.zst", "a b.zen", "..hidden", "x..y"})
    EXPECT_TRUE(IsSafeUpdateName(good)) << good;
  for (const std::string& bad : std::vector<std::string>{"", ".", "..", "../x", "/etc/passwd", "a/b", "a\\b",
                                                         std::string("a\0b", 3), "a\nb"})
    EXPECT_FALSE(IsSafeUpdateName(bad)) << bad;
  EXPECT_TRUE(IsSafeUpdateName("buybooks/bookbarn.cen", true));
  EXPECT_FALSE(IsSafeUpdateName("a/b/c", true));
  EXPECT_FALSE(IsSafeUpdateName("../x", true));
  EXPECT_FALSE(IsSafeUpdateName("/x", true));
  EXPECT_FALSE(IsSafeUpdateName("x/", true));
}

}  // namespace
}  // namespace vandrel
