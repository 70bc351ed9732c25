#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "TempFolder.h"
#include "platform/RegistryFileStore.h"
#include "platform/RegistryTree.h"
#include "platform/TextUtils.h"

namespace vandrel {
namespace {

using test::ReadWholeFile;
using test::TempFolder;
using test::WriteWholeFile;
constexpr TRegRoot kUser = TRegRoot::rrCurrentUser;
constexpr TRegRoot kMachine = TRegRoot::rrLocalMachine;

std::string AllBytes() {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  return bytes;
}

// Runs `body` in a child process and answers its exit status.
template <typename F>
int InChild(F body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class RegistryFileStoreTest : public ::testing::Test {
 protected:
  TempFolder dir;
  std::shared_ptr<TRegistryFileStore> store = std::make_shared<TRegistryFileStore>(dir.Path());
};

TEST_F(RegistryFileStoreTest, ValuesOfEveryTypeSurviveTheFileByteForByte) {
  ASSERT_TRUE(store->CreateKey(kUser, "\\Software\\Test\\"));
  const std::string name = "we\"ird\\name\n";
  ASSERT_TRUE(store->WriteValue(kUser, "Software\\Test", "Text", TRegValue::String(AllBytes())));
  ASSERT_TRUE(store->WriteValue(kUser, "Software\\Test", "Bytes", TRegValue::Binary(AllBytes())));
  ASSERT_TRUE(store->WriteValue(kUser, "Software\\Test", "Empty", TRegValue::Binary("")));
  ASSERT_TRUE(store->WriteValue(kUser, "Software\\Test", "Negative", TRegValue::Int(-2)));
  ASSERT_TRUE(store->WriteValue(kUser, "Software\\Test", name, TRegValue::String("caf\xc3\xa9")));
  ASSERT_TRUE(store->WriteValue(kUser, "Software\\Test", "", TRegValue::String("default")));

  TRegistryFileStore other(dir.Path());  // a fresh reader, as another process would be
  EXPECT_EQ(other.ReadValue(kUser, "Software\\Test", "text"), TRegValue::String(AllBytes()));
  EXPECT_EQ(other.ReadValue(kUser, "Software\\Test", "BYTES"), TRegValue::Binary(AllBytes()));
  EXPECT_EQ(other.ReadValue(kUser, "Software\\Test", "Empty"), TRegValue::Binary(""));
  EXPECT_EQ(other.ReadValue(kUser, "Software\\Test", "Negative"), TRegValue::Int(-2));
  EXPECT_EQ(other.ReadValue(kUser, "Software\\Test", name), TRegValue::String("caf\xc3\xa9"));
  EXPECT_EQ(other.ReadValue(kUser, "Software\\Test", ""), TRegValue::String("default"));
  EXPECT_EQ(other.ValueNames(kUser, "Software\\Test"),
            (std::vector<std::string>{"Text", "Bytes", "Empty", "Negative", name, ""}));

  const std::string file = ReadWholeFile(store->FilePath(kUser));
  EXPECT_NE(file.find("@=\"default\"\n"), std::string::npos);
  EXPECT_NE(file.find("\"Negative\"=dword:fffffffe\n"), std::string::npos);
  EXPECT_NE(file.find("\"we\\\"ird\\\\name\\n\""), std::string::npos);
  EXPECT_TRUE(IsValidUtf8(file));
}

TEST_F(RegistryFileStoreTest, NamesMatchWithoutCaseAndKeepTheCaseTheyWereCreatedWith) {
  // The configuration creates "Software\..." first; the browser integration later writes "\SOFTWARE\...".
  ASSERT_TRUE(store->CreateKey(kMachine, "Software\\x"));
  ASSERT_TRUE(store->CreateKey(kMachine, "SOFTWARE\\X\\Child"));
  ASSERT_TRUE(store->WriteValue(kMachine, "SOFTWARE\\X", "MaxTransfers", TRegValue::Int(9)));
  ASSERT_TRUE(store->WriteValue(kMachine, "software\\x", "MAXTRANSFERS", TRegValue::Int(10)));

  EXPECT_EQ(store->SubKeyNames(kMachine, ""), std::vector<std::string>{"Software"});
  EXPECT_EQ(store->SubKeyNames(kMachine, "SOFTWARE"), std::vector<std::string>{"x"});
  EXPECT_EQ(store->ValueNames(kMachine, "Software\\x"), std::vector<std::string>{"MaxTransfers"});
  EXPECT_EQ(store->ReadValue(kMachine, "Software\\x", "maxtransfers"), TRegValue::Int(10));
  const std::string file = ReadWholeFile(store->FilePath(kMachine));
  EXPECT_NE(file.find("[Software\\x\\Child]"), std::string::npos);
  EXPECT_EQ(file.find("SOFTWARE"), std::string::npos);
  // The other parts of the store are separate.
  EXPECT_FALSE(store->KeyExists(kUser, "Software"));
}

TEST_F(RegistryFileStoreTest, KeyOperations) {
  ASSERT_TRUE(store->CreateKey(kUser, "A\\B\\C"));
  ASSERT_TRUE(store->CreateKey(kUser, "A\\D"));
  EXPECT_TRUE(store->HasSubKeys(kUser, "A"));
  EXPECT_FALSE(store->HasSubKeys(kUser, "A\\D"));
  EXPECT_FALSE(store->WriteValue(kUser, "A\\Missing", "v", TRegValue::Int(1)));  // writes need the key
  EXPECT_FALSE(store->CreateKey(kUser, "A\\bad\x01name"));
  EXPECT_FALSE(store->DeleteValue(kUser, "A", "never written"));

  ASSERT_TRUE(store->WriteValue(kUser, "A\\B\\C", "v", TRegValue::String("deep")));
  ASSERT_TRUE(store->CopyKey(kUser, "a\\b", kMachine, "Copy\\Of\\B"));
  EXPECT_EQ(store->ReadValue(kMachine, "Copy\\Of\\B\\C", "v"), TRegValue::String("deep"));
  ASSERT_TRUE(store->CopyKey(kUser, "A", kUser, "A\\D\\Nested"));  // into its own subtree
  EXPECT_EQ(store->ReadValue(kUser, "A\\D\\Nested\\B\\C", "v"), TRegValue::String("deep"));
  EXPECT_FALSE(store->CopyKey(kUser, "Nowhere", kUser, "X"));
  std::string deep;
  for (size_t i = 0; i < kMaxRegKeyDepth; ++i) deep += "\\k";
  EXPECT_TRUE(store->CreateKey(kUser, deep));
  EXPECT_FALSE(store->CreateKey(kUser, deep + "\\tooDeep"));
  EXPECT_FALSE(store->CopyKey(kUser, "A", kUser, deep.substr(0, deep.size() - 4)));

  EXPECT_TRUE(store->DeleteKey(kUser, "a\\B"));
  EXPECT_FALSE(store->KeyExists(kUser, "A\\B\\C"));
  EXPECT_FALSE(store->DeleteKey(kUser, "A\\B"));
  EXPECT_FALSE(store->DeleteKey(kUser, "\\"));  // the root stays
  EXPECT_TRUE(store->KeyExists(kUser, "A\\D"));
}

TEST_F(RegistryFileStoreTest, KeyHandleGivesDefaultsForMissingOrMistypedValues) {
  TRegistryKey key(store, kUser);
  EXPECT_FALSE(key.OpenKey("Soft\\Key", false));
  ASSERT_TRUE(key.OpenKey("Soft\\Key", true));
  ASSERT_TRUE(key.WriteInteger("ProxyEnable", 1));
  ASSERT_TRUE(key.WriteString("Server", "proxy.lan:8080"));
  const uint8_t flags[4] = {0, 0, 0, 0};
  ASSERT_TRUE(key.WriteBinaryData("Flags", flags, sizeof flags));
  key.CloseKey();

  TRegistryKey reader(store, kUser);
  ASSERT_TRUE(reader.OpenKeyReadOnly("soft\\key"));
  EXPECT_EQ(reader.GetDataType("ProxyEnable"), TRegDataType::rdInteger);
  EXPECT_EQ(reader.GetDataType("Flags"), TRegDataType::rdBinary);
  EXPECT_EQ(reader.GetDataType("Missing"), TRegDataType::rdNone);
  EXPECT_EQ(reader.ReadInteger("Server", 77), 77);
  EXPECT_EQ(reader.ReadString("ProxyEnable", "dflt"), "dflt");
  EXPECT_EQ(reader.ReadString("Missing"), "");
  uint8_t small[2];
  uint8_t big[8];
  EXPECT_EQ(reader.ReadBinaryData("Flags", small, sizeof small), -1);
  EXPECT_EQ(reader.ReadBinaryData("Flags", big, sizeof big), 4);
  EXPECT_EQ(reader.ReadBinaryData("Server", big, sizeof big), -1);
  EXPECT_FALSE(reader.WriteInteger("ProxyEnable", 0));  // read-only
  EXPECT_FALSE(reader.DeleteValue("ProxyEnable"));
  EXPECT_EQ(reader.ReadInteger("ProxyEnable"), 1);
  EXPECT_TRUE(reader.HasSubKeys() == false);
}

TEST_F(RegistryFileStoreTest, ReadersSeeWritesOfOtherStoreObjectsAtOnce) {
  TRegistryFileStore other(dir.Path());
  ASSERT_TRUE(store->CreateKey(kUser, "K"));
  EXPECT_EQ(other.ReadValue(kUser, "K", "v"), std::nullopt);
  ASSERT_TRUE(store->WriteValue(kUser, "K", "v", TRegValue::Int(1)));
  EXPECT_EQ(other.ReadValue(kUser, "K", "v"), TRegValue::Int(1));
  ASSERT_TRUE(other.WriteValue(kUser, "K", "v", TRegValue::Int(2)));
  EXPECT_EQ(store->ReadValue(kUser, "K", "v"), TRegValue::Int(2));
}

TEST_F(RegistryFileStoreTest, FilesArePrivateToTheUser) {
  ASSERT_TRUE(store->CreateKey(kUser, "K"));
  struct stat st {};
  ASSERT_EQ(stat(store->FilePath(kUser).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(stat(dir.Path().c_str(), &st), 0);
  TempFolder parent;
  TRegistryFileStore nested(parent / "a/b");
  ASSERT_TRUE(nested.CreateKey(kUser, "K"));
  ASSERT_EQ(stat((parent / "a/b").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(RegistryFileStoreTest, DamagedFilesAreSetAsideAndReadAsEmpty) {
  ASSERT_TRUE(store->CreateKey(kUser, "Software\\App"));
  ASSERT_TRUE(store->WriteValue(kUser, "Software\\App", "v", TRegValue::Int(5)));
  const std::string good = ReadWholeFile(store->FilePath(kUser));
  const std::string damaged[] = {
      good.substr(0, good.size() / 2),     // cut in the middle
      good.substr(0, good.find("; end")),  // cut at a line boundary
      "\x7f"
      "ELF garbage\n",
      "",
  };
  int n = 0;
  for (const auto& text : damaged) {
    ++n;
    WriteWholeFile(store->FilePath(kUser), text);
    TRegistryFileStore fresh(dir.Path());
    EXPECT_EQ(fresh.ReadValue(kUser, "Software\\App", "v"), std::nullopt) << n;
    EXPECT_FALSE(fresh.KeyExists(kUser, "Software"));
    const std::string aside = dir / ("user.reg.damaged-" + std::to_string(n));
    EXPECT_TRUE(std::filesystem::exists(aside)) << n;
    EXPECT_EQ(ReadWholeFile(aside), text);
    // The cached copy of the good file must not hide the damage either.
    EXPECT_EQ(store->ReadValue(kUser, "Software\\App", "v"), std::nullopt);
    // Writing starts a new, good file.
    ASSERT_TRUE(fresh.CreateKey(kUser, "Software\\App"));
    ASSERT_TRUE(fresh.WriteValue(kUser, "Software\\App", "v", TRegValue::Int(6)));
    EXPECT_EQ(TRegistryFileStore(dir.Path()).ReadValue(kUser, "Software\\App", "v"), TRegValue::Int(6));
  }
}

TEST_F(RegistryFileStoreTest, ADamagedFileThatCannotBeSetAsideIsNeitherReadNorOverwritten) {
  if (geteuid() == 0) GTEST_SKIP() << "root ignores folder permissions";
  WriteWholeFile(store->FilePath(kUser), "garbage");
  chmod(dir.Path().c_str(), 0500);
  EXPECT_FALSE(store->KeyExists(kUser, "Software"));
  EXPECT_FALSE(store->CreateKey(kUser, "Software"));
  chmod(dir.Path().c_str(), 0700);
  EXPECT_EQ(ReadWholeFile(store->FilePath(kUser)), "garbage");
}

TEST(RegistryText, EveryPrefixOfASavedFileIsEitherCompleteOrRejected) {
  TRegNode root;
  TRegNode* key = CreateRegKey(root, {"Software", "VandrelSoft", "Vandrel Shopper", "Preferences"});
  SetRegValue(*key, "MaxTransfers", TRegValue::Int(9));
  SetRegValue(*key, "Path", TRegValue::String("C:\\Program Files\\\"x\"\n"));
  SetRegValue(*key, "Blob", TRegValue::Binary(AllBytes()));
  CreateRegKey(root, {"Software", "Empty"});
  const std::string text = SerializeRegistry(root, "comment");
  const auto whole = ParseRegistry(text);
  ASSERT_TRUE(whole);
  EXPECT_EQ(SerializeRegistry(*whole, "comment"), text);
  for (size_t len = 0; len + 1 < text.size(); ++len)  // all but the final newline
    ASSERT_FALSE(ParseRegistry(text.substr(0, len))) << "prefix of " << len << " bytes";
  EXPECT_TRUE(ParseRegistry(text.substr(0, text.size() - 1)));
}

TEST(RegistryText, GarbageNeverCrashesTheParser) {
  std::mt19937 random(11);
  const std::string seed = "VandrelSoft Registry Store 1\n[K]\n\"v\"=hex:0\n@=\"\\x4\n; end\n";
  for (int round = 0; round < 3000; ++round) {
    std::string text = seed;
    for (int edits = random() % 6; edits >= 0; --edits)
      text[random() % text.size()] = static_cast<char>(random());
    ParseRegistry(text);  // must only answer, never crash or read out of bounds
  }
  EXPECT_FALSE(
      ParseRegistry("VandrelSoft Registry Store 1\n\"v\"=dword:00000001\n; end\n"));  // value before a key
  EXPECT_FALSE(ParseRegistry("VandrelSoft Registry Store 1\n[K]\n\"v\"=dword:1\n; end\n"));
  EXPECT_FALSE(ParseRegistry("VandrelSoft Registry Store 1\n[K]\n\"v\"=\"\\q\"\n; end\n"));
  EXPECT_FALSE(ParseRegistry("VandrelSoft Registry Store 1\n; end\n[K]\n"));
  EXPECT_TRUE(ParseRegistry("VandrelSoft Registry Store 1\r\n[K]\r\n\"v\"=hex:\r\n; end\r\n"));
}

TEST_F(RegistryFileStoreTest, AWriterDyingBeforeTheRenameLeavesTheOldFile) {
  ASSERT_TRUE(store->CreateKey(kUser, "K"));
  ASSERT_TRUE(store->WriteValue(kUser, "K", "v", TRegValue::String("old")));
  const std::string before = ReadWholeFile(store->FilePath(kUser));

  const int status = InChild([&] {
    TRegistryFileStore dying(dir.Path());
    dying.SetBeforeReplaceHook([] { _exit(42); });
    dying.WriteValue(kUser, "K", "v", TRegValue::String("new"));
    return 0;
  });
  ASSERT_EQ(status, 42);
  EXPECT_EQ(ReadWholeFile(store->FilePath(kUser)), before);
  EXPECT_EQ(TRegistryFileStore(dir.Path()).ReadValue(kUser, "K", "v"), TRegValue::String("old"));
  // Its lock died with it, and its leftover temporary file does not get in the way.
  ASSERT_TRUE(store->WriteValue(kUser, "K", "v", TRegValue::String("next")));
  EXPECT_EQ(TRegistryFileStore(dir.Path()).ReadValue(kUser, "K", "v"), TRegValue::String("next"));
}

TEST_F(RegistryFileStoreTest, WritersInTwoProcessesKeepEachOthersValues) {
  ASSERT_TRUE(store->CreateKey(kUser, "Shared"));
  constexpr int kPerWriter = 40;
  pid_t pids[2];
  for (int w = 0; w < 2; ++w) {
    pids[w] = fork();
    if (pids[w] == 0) {
      TRegistryFileStore writer(dir.Path());
      bool ok = true;
      for (int i = 0; i < kPerWriter; ++i)
        ok = writer.WriteValue(kUser, "Shared", "w" + std::to_string(w) + "-" + std::to_string(i),
                               TRegValue::Int(i)) &&
             ok;
      _exit(ok ? 0 : 1);
    }
  }
  for (pid_t pid : pids) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(store->ValueNames(kUser, "Shared").size(), 2u * kPerWriter);
  EXPECT_EQ(store->ReadValue(kUser, "Shared", "w1-39"), TRegValue::Int(39));
}

TEST(RegistryFolder, DefaultFollowsXdgConfigHome) {
  const char* saved = std::getenv("XDG_CONFIG_HOME");
  const std::string restore = saved ? saved : "";
  setenv("XDG_CONFIG_HOME", "/tmp/xdg-test", 1);
  EXPECT_EQ(DefaultRegistryFolder(), "/tmp/xdg-test/VandrelSoft/");
  setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
  EXPECT_TRUE(DefaultRegistryFolder().ends_with("/.config/VandrelSoft/"));
  if (saved)
    setenv("XDG_CONFIG_HOME", restore.c_str(), 1);
  else
    unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace vandrel
