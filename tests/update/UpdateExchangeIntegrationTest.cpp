// The update exchange on the wire, against a recording origin server that answers what each test
// scripts: the exact requests, and answers that must be refused without touching installed definitions.
#include <gtest/gtest.h>

#include <map>
#include <mutex>

#include "http/TestOriginServer.h"
#include "search/DefinitionFiles.h"
#include "search/DefinitionReaders.h"
#include "update/UpdateTestWorld.h"

namespace vandrel::updatetest {
namespace {

using test::TestOriginServer;
using test::TOriginConnection;

std::string Blob(const std::vector<std::pair<std::string, std::string>>& entries) {
  TUpdaterBlob blob;
  for (const auto& [name, data] : entries) blob.Add(name, data);
  return blob.SaveToBytes();
}

std::string HttpAnswer(const std::string& body, const std::string& type = "application/octet-stream") {
  return "HTTP/1.1 200 OK\r\nContent-Type: " + type + "\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

// Answers each request body with the raw answer scripted for it; anything else gets a 404.
class TScriptedSite {
 public:
  TScriptedSite() {
    Server.Route("/update-info/013", [this](TOriginConnection& c) {
      std::string raw;
      {
        std::lock_guard<std::mutex> guard(Lock);
        auto it = Answers.find(c.Request().Body);
        raw = it == Answers.end() ? "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n" : it->second;
      }
      c.Send(raw);
    });
  }
  void Answer(const std::string& body, const std::string& raw) {
    std::lock_guard<std::mutex> guard(Lock);
    Answers[body] = raw;
  }
  std::string Url() const { return Server.Url("/update-info/013"); }
  std::vector<std::string> Bodies() const {
    std::vector<std::string> bodies;
    for (const auto& r : Server.Requests()) bodies.push_back(r.Body);
    return bodies;
  }

  TestOriginServer Server;
  std::mutex Lock;
  std::map<std::string, std::string> Answers;
};

// A client with books (version 1) and buybooks with one engine installed.
class UpdateExchangeIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Client.Data.WriteCompiledSearchType("books.cst", kBooksType, 1));
    ASSERT_TRUE(Client.Data.WriteCompiledEngine("buybooks.cca", CategoryBody("Books"), 1));
    ASSERT_TRUE(Client.Data.WriteCompiledEngine("buybooks/bookbarn.cen", EngineBody("Book Barn"), 1));
    Client.Reload();
    BooksBytes = test::ReadWholeFile(Client.Data.Path() + "books.cst");
    ASSERT_NE(Client.Repository().SearchTypes().FindByName("books"), nullptr);
  }

  // The version file saying books is at `version`, and the buybooks engine list as installed.
  std::string FirstAnswer(int version, const std::string& extraTypes = {}) {
    const std::string vui = "[SearchTypeVersions]\r\nbooks=0|" + std::to_string(version) + "\r\n" +
                            extraTypes + "[CategoryVersions]\r\nbuybooks=0|0|0|1\r\n";
    return HttpAnswer(
        Blob({{"standard.vui", ZsCompress(vui)}, {"buybooks.vui", "[EngineVersions]\r\nbookbarn=0|1\r\n"}}));
  }

  // Nothing of books changed on disk or in the catalogue, and the installed file still loads.
  void ExpectBooksUntouched() {
    EXPECT_EQ(test::ReadWholeFile(Client.Data.Path() + "books.cst"), BooksBytes);
    EXPECT_EQ(Client.Repository().SearchTypes().FindByName("books")->Version, 1);
    TSearchTypeSummary summary;
    std::string error;
    EXPECT_TRUE(ReadSearchTypeDefinition(Client.Data.Path() + "books.cst", "books", nullptr, summary, error))
        << error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(Client.Data.Path()))
      EXPECT_FALSE(entry.path().filename().string().ends_with("-update"))
          << "temporary file left behind: " << entry.path();
  }

  TUpdateClient Client;
  TScriptedSite Site;
  std::string BooksBytes;
};

TEST_F(UpdateExchangeIntegration, TheRequestsCarryExactlyTheWantedNames) {
  TUpdateClient client({"0.95", "0957", "ENG", "DAZUZIREDA"});
  auto operation = std::make_unique<TQuorinUpdateOperation>();
  operation->UpdaterAddress = Site.Url();
  operation->CatNames.Lines = {"BuyBooks", "ReviewBooks"};
  operation->CompilerVersion = kUpdateCompilerVersion;
  client.Runner.Enqueue(std::move(operation));
  ASSERT_EQ(client.Runner.Run(), arOk);
  ASSERT_TRUE(MainDispatcher::Default().RunUntil([&] { return client.Runner.State() == asIdle; },
                                                 std::chrono::seconds(20)));
  const auto requests = Site.Server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const test::TRecordedRequest& r = requests[0];
  EXPECT_EQ(r.Method, "POST");
  EXPECT_EQ(r.PathAndQuery(), "/update-info/013");
  EXPECT_EQ(r.Body, "dazuzireda.vui;BuyBooks.vui;ReviewBooks.vui");
  EXPECT_EQ(r.Header("Content-Length"), "43");
  // The client protocol's own type for a post stream; the update adds no line of its own.
  EXPECT_EQ(r.Header("Content-Type"), "multipart/form-data");
  EXPECT_EQ(r.Header("Cookie"), "");
  EXPECT_EQ(r.Raw.substr(r.Raw.size() - r.Body.size()), r.Body);
}

TEST_F(UpdateExchangeIntegration, AChangedSearchTypeIsAskedForAndInstalledWhateverTheContentType) {
  Site.Answer("standard.vui;buybooks.vui", FirstAnswer(7));
  ASSERT_TRUE(Client.Data.WriteCompiledSearchType("../books-v7.cst", kBooksType, 7));
  const std::string v7 = test::ReadWholeFile(Client.Data.Path() + "../books-v7.cst");
  std::filesystem::remove(Client.Data.Path() + "../books-v7.cst");
  // A blob is binary even when the site calls it HTML.
  Site.Answer("books.zst", HttpAnswer(Blob({{"books.zst", ZsCompress(v7)}}), "text/html; charset=utf-8"));
  auto run = Client.Update(Site.Url());
  EXPECT_EQ(run->ErrorText(), "");
  EXPECT_EQ(Site.Bodies(), (std::vector<std::string>{"standard.vui;buybooks.vui", "books.zst"}));
  EXPECT_EQ(test::ReadWholeFile(Client.Data.Path() + "books.cst"), v7);
  EXPECT_EQ(Client.Repository().SearchTypes().FindByName("books")->Version, 7);
  EXPECT_EQ(run->LastStep(), TUpdateStep::Install);
}

TEST_F(UpdateExchangeIntegration, DamagedAnswersAreRefusedAndNothingIsInstalled) {
  Site.Answer("standard.vui;buybooks.vui", FirstAnswer(2));
  std::string bigZeros(kMaxInflatedSize + 1, '\0');
  const std::string bomb = ZsCompress(bigZeros);
  bigZeros.clear();
  std::string badLengths = Blob({{"books.zst", "x"}});
  badLengths[4] = '\x7f';  // a name length far beyond the answer
  std::string noise(5000, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 2654435761u) >> 13);
  const std::string truncated = HttpAnswer(Blob({{"books.zst", noise}}));

  struct TCase {
    const char* What;
    std::string Raw;
    bool WholeUpdateFails;  // else only the file is refused
  };
  const std::vector<TCase> cases = {
      {"a length beyond the answer", HttpAnswer(badLengths), true},
      {"a truncated answer", truncated.substr(0, truncated.size() - 2000), true},
      {"an empty answer", HttpAnswer(""), true},
      {"a damaged zlib stream", HttpAnswer(Blob({{"books.zst", std::string("ZS\x01\x00", 4) + "not zlib"}})),
       false},
      {"a stream that inflates beyond the limit", HttpAnswer(Blob({{"books.zst", bomb}})), false},
      {"a definition that does not load",
       HttpAnswer(Blob({{"books.zst", ZsCompress(BooksBytes.substr(0, 40))}})), false},
      {"a source where a compiled file belongs", HttpAnswer(Blob({{"books.zst", RegisterBody(kBooksType)}})),
       false},
      {"an answer without the file", HttpAnswer(Blob({{"other.zst", "x"}})), false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    Site.Answer("books.zst", c.Raw);
    auto run = Client.Update(Site.Url());
    if (c.WholeUpdateFails) {
      EXPECT_NE(run->ErrorText(), "");
    } else {
      EXPECT_EQ(run->ErrorText(), "");
      EXPECT_EQ(run->Refused().size(), 1u);
    }
    EXPECT_EQ(run->Report().Count(), 0u);
    ExpectBooksUntouched();
  }
}

TEST_F(UpdateExchangeIntegration, NamesThatArePathsAreRefused) {
  // The site names a search type "../evil" and sends a category package that writes outside its folder.
  Site.Answer("standard.vui;buybooks.vui",
              HttpAnswer(Blob({{"standard.vui",
                                "[SearchTypeVersions]\r\nbooks=0|1\r\n../evil=0|9\r\n"
                                "[CategoryVersions]\r\nbuybooks=0|0|0|2\r\n"},
                               {"buybooks.vui", "[EngineVersions]\r\nbookbarn=0|1\r\n"}})));
  const std::string category = test::ReadWholeFile(Client.Data.Path() + "buybooks.cca");
  Site.Answer(
      "buybooks.zca",
      HttpAnswer(Blob({{"buybooks.zca", Blob({{"buybooks.cca", category}, {"../escaped.cca", category}})}})));
  auto run = Client.Update(Site.Url());
  EXPECT_EQ(run->ErrorText(), "");
  ASSERT_EQ(run->Refused().size(), 2u);
  EXPECT_EQ(run->Refused()[0], "../evil: not a plain file name");
  EXPECT_NE(run->Refused()[1].find("path"), std::string::npos) << run->Refused()[1];
  // Only the category was asked for; nothing landed beside the data folder.
  EXPECT_EQ(Site.Bodies().back(), "buybooks.zca");
  std::error_code ec;
  EXPECT_FALSE(std::filesystem::exists(Client.Data.Path() + "../escaped.cca", ec));
  EXPECT_FALSE(std::filesystem::exists(Client.Data.Path() + "../evil.cst", ec));
  EXPECT_EQ(Client.Category("buybooks")->Version, 1);
  ExpectBooksUntouched();
}

// A package entry named like another entry's staging file would overwrite it between the check and the
// rename: the package is refused whole.
TEST_F(UpdateExchangeIntegration, APackageNamingAStagingFileIsRefused) {
  Site.Answer("standard.vui;buybooks.vui",
              HttpAnswer(Blob({{"standard.vui",
                                "[SearchTypeVersions]\r\nbooks=0|1\r\n"
                                "[CategoryVersions]\r\nbuybooks=0|0|0|2\r\n"},
                               {"buybooks.vui", "[EngineVersions]\r\nbookbarn=0|1\r\n"}})));
  const std::string category = test::ReadWholeFile(Client.Data.Path() + "buybooks.cca");
  const std::string engine = test::ReadWholeFile(Client.Data.Path() + "buybooks/bookbarn.cen");
  Site.Answer("buybooks.zca",
              HttpAnswer(Blob({{"buybooks.zca", Blob({{"buybooks.cca", category},
                                                      {"buybooks/bookbarn.cen", engine},
                                                      {"buybooks/bookbarn.cen-update", "x"}})}})));
  auto run = Client.Update(Site.Url());
  EXPECT_EQ(run->ErrorText(), "");
  ASSERT_EQ(run->Refused().size(), 1u);
  EXPECT_NE(run->Refused()[0].find("temporary file"), std::string::npos) << run->Refused()[0];
  EXPECT_EQ(test::ReadWholeFile(Client.Data.Path() + "buybooks/bookbarn.cen"), engine);
  EXPECT_EQ(Client.Category("buybooks")->Version, 1);
  ExpectBooksUntouched();
}

TEST_F(UpdateExchangeIntegration, AFirstAnswerWithoutTheVersionFileChangesNothing) {
  Site.Answer(
      "standard.vui;buybooks.vui",
      HttpAnswer(Blob({{"buybooks.vui", "[EngineVersions]\r\n"}, {"standard.vui", "[SearchTypeVersions]"}})));
  auto run = Client.Update(Site.Url());
  EXPECT_NE(run->ErrorText(), "");
  EXPECT_EQ(run->Status(), "No changes detected.");  // as the window shows a failed update
  EXPECT_EQ(Site.Bodies().size(), 1u);
  EXPECT_NE(Client.Engine("buybooks", "bookbarn"), nullptr);
  ExpectBooksUntouched();
  EXPECT_EQ(Client.Settings.LastChannel, Client.Clock);  // a failed update still counts as a check
}

TEST_F(UpdateExchangeIntegration, RequestsThatCannotBeSentEndTheUpdate) {
  TestOriginServer closed;
  const std::string refused = closed.Url("/update-info/013");
  closed.Stop();
  for (const std::string& address : {std::string("ftp://127.0.0.1/update"), refused}) {
    SCOPED_TRACE(address);
    const auto started = std::chrono::steady_clock::now();
    auto run = Client.Update(address);
    EXPECT_NE(run->ErrorText(), "");
    EXPECT_FALSE(run->Canceled());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    EXPECT_EQ(Client.Runner.State(), asIdle);
  }
  ExpectBooksUntouched();
}

TEST_F(UpdateExchangeIntegration, ACanceledUpdateRecordsNothing) {
  Site.Server.Route("/stall", [](TOriginConnection& c) { c.Stall(std::chrono::seconds(20)); });
  Client.Settings.Address = Site.Server.Url("/stall");
  TUpdateRun run(Client.Updater);
  run.OnStep = [&run](TUpdateStep step, const std::string&) {
    if (step == TUpdateStep::CheckVersions) MainDispatcher::Default().Post([&run] { run.Cancel(); });
  };
  const auto started = std::chrono::steady_clock::now();
  run.Run(true, std::chrono::seconds(30));
  EXPECT_TRUE(run.Canceled());
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15));
  EXPECT_EQ(Client.Settings.LastChannelWrites, 0);
  MainDispatcher::Default().RunUntil([&] { return Client.Runner.State() == asIdle; },
                                     std::chrono::seconds(10));
  ExpectBooksUntouched();
}

}  // namespace
}  // namespace vandrel::updatetest
