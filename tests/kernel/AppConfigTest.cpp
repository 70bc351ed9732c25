#include "kernel/AppConfig.h"

#include <gtest/gtest.h>

#include <cstring>

#include "TempFolder.h"
#include "kernel/AppCryptTool.h"
#include "platform/RegistryFileStore.h"

namespace vandrel {
namespace {

using test::TempFolder;

constexpr std::string_view kRoot = "Software\\VandrelSoft\\Vandrel Shopper\\";

TRegRoot RootOf(const TConfigSection& section) {
  return section.Scope() == TConfigScope::csUser ? TRegRoot::rrCurrentUser : TRegRoot::rrLocalMachine;
}

class AppConfigTest : public ::testing::Test {
 protected:
  TempFolder dir;
  std::shared_ptr<TRegistryFileStore> store = std::make_shared<TRegistryFileStore>(dir.Path());
  TAppConfig config{store};

  std::optional<TRegValue> Stored(const TConfigSection& section, const char* name) {
    return store->ReadValue(RootOf(section), section.Key(), name);
  }
};

// A fresh store answers every setting with its declared default, through the generic accessors and the
// named ones alike, and reading creates nothing.
TEST_F(AppConfigTest, AFreshStoreReadsDefaultsAndCreatesNothing) {
  for (const auto& section : config.Sections()) {
    for (const auto& p : section->Properties()) {
      SCOPED_TRACE(section->PublishedName() + "." + p.Name);
      switch (p.Type) {
        case TConfigType::ctBoolean:
          EXPECT_EQ(section->GetBoolean(p.Index), p.Default != 0);
          break;
        case TConfigType::ctInteger:
          EXPECT_EQ(section->GetInteger(p.Index), p.Default);
          EXPECT_GE(p.Default, p.Min);
          EXPECT_LE(p.Default, p.Max);
          break;
        case TConfigType::ctString:
          EXPECT_EQ(section->GetString(p.Index), "");
          break;
        case TConfigType::ctDateTime:
          EXPECT_EQ(section->GetDateTime(p.Index), 0.0);
          break;
        case TConfigType::ctSecret:
          EXPECT_EQ(section->GetSecret(p.Index), "");
          break;
      }
    }
  }
  EXPECT_EQ(config.Views().ReviewsResultSize(), TViewsSection::kUnsizedPane);
  EXPECT_EQ(config.Preferences().MaxTransfers(), config.Preferences().GetInteger(0));
  EXPECT_TRUE(store->SubKeyNames(TRegRoot::rrCurrentUser, "").empty());
  EXPECT_TRUE(store->SubKeyNames(TRegRoot::rrLocalMachine, "").empty());
}

// Every setting: a value other than the default is stored under its own name with its type, and writing
// the default (empty text, 0.0 date) removes it again.
TEST_F(AppConfigTest, EverySettingStoresItsValueAndDeletesItsDefault) {
  for (const auto& section : config.Sections()) {
    for (const auto& p : section->Properties()) {
      SCOPED_TRACE(section->PublishedName() + "." + p.Name);
      const int i = p.Index;
      switch (p.Type) {
        case TConfigType::ctBoolean:
          section->SetBoolean(i, p.Default == 0);
          EXPECT_EQ(section->GetBoolean(i), p.Default == 0);
          EXPECT_EQ(Stored(*section, p.Name), TRegValue::Int(p.Default == 0 ? 1 : 0));
          section->SetBoolean(i, p.Default != 0);
          EXPECT_EQ(section->GetBoolean(i), p.Default != 0);
          break;
        case TConfigType::ctInteger:
          section->SetInteger(i, 12345);
          EXPECT_EQ(section->GetInteger(i), 12345);
          EXPECT_EQ(Stored(*section, p.Name), TRegValue::Int(12345));
          section->SetInteger(i, p.Default);
          EXPECT_EQ(section->GetInteger(i), p.Default);
          break;
        case TConfigType::ctString:
          section->SetString(i, "some text");
          EXPECT_EQ(section->GetString(i), "some text");
          EXPECT_EQ(Stored(*section, p.Name), TRegValue::String("some text"));
          section->SetString(i, "");
          break;
        case TConfigType::ctDateTime: {
          section->SetDateTime(i, 1.0);
          EXPECT_EQ(section->GetDateTime(i), 1.0);
          // The IEEE double's 8 bytes, least significant first.
          EXPECT_EQ(Stored(*section, p.Name), TRegValue::Binary(std::string("\0\0\0\0\0\0\xf0\x3f", 8)));
          section->SetDateTime(i, 0.0);
          break;
        }
        case TConfigType::ctSecret:
          section->SetSecret(i, "hunter2");
          EXPECT_EQ(section->GetSecret(i), "hunter2");
          ASSERT_TRUE(Stored(*section, p.Name));
          EXPECT_EQ(Stored(*section, p.Name)->Type, TRegDataType::rdBinary);
          EXPECT_NE(Stored(*section, p.Name)->Data, "hunter2");  // never in plain text
          section->SetSecret(i, "");
          EXPECT_EQ(section->GetSecret(i), "");
          break;
      }
      EXPECT_EQ(Stored(*section, p.Name), std::nullopt);
    }
    EXPECT_TRUE(store->ValueNames(RootOf(*section), section->Key()).empty());
  }
}

TEST_F(AppConfigTest, MaxTransfersAtItsDefaultLeavesNoValue) {
  config.Preferences().SetMaxTransfers(9);
  config.Preferences().SetMaxTransfers(8);
  EXPECT_EQ(Stored(config.Preferences(), "MaxTransfers"), std::nullopt);
  EXPECT_EQ(config.Preferences().MaxTransfers(), 8);
  EXPECT_EQ(test::ReadWholeFile(store->FilePath(TRegRoot::rrCurrentUser)).find("MaxTransfers"),
            std::string::npos);
}

TEST_F(AppConfigTest, SectionsLiveUnderTheirKeysAndScopes) {
  EXPECT_EQ(config.GlobalSystem().Key(), "\\Software\\VandrelSoft\\Vandrel Shopper\\System");
  EXPECT_EQ(config.System().Key(), "\\Software\\VandrelSoft\\Vandrel Shopper\\System");
  EXPECT_EQ(config.GlobalSystem().PublishedName(), "GlobalSystem");
  // Same key name, different parts of the store: the two never see each other's values.
  config.GlobalSystem().SetRootFolder("/opt/vandrel");
  config.System().SetGUID("{1234}");
  EXPECT_EQ(store->ReadValue(TRegRoot::rrLocalMachine, std::string(kRoot) + "System", "RootFolder"),
            TRegValue::String("/opt/vandrel"));
  EXPECT_EQ(store->ReadValue(TRegRoot::rrCurrentUser, std::string(kRoot) + "System", "GUID"),
            TRegValue::String("{1234}"));
  EXPECT_EQ(store->ReadValue(TRegRoot::rrCurrentUser, std::string(kRoot) + "System", "RootFolder"),
            std::nullopt);
  config.Network().SetProxyPort(3128);
  config.Preferences().SetTimeout(30);
  EXPECT_TRUE(store->KeyExists(TRegRoot::rrLocalMachine, std::string(kRoot) + "Network"));
  EXPECT_TRUE(store->KeyExists(TRegRoot::rrCurrentUser, std::string(kRoot) + "Preferences"));
  EXPECT_FALSE(store->KeyExists(TRegRoot::rrLocalMachine, std::string(kRoot) + "Preferences"));
  // The sparse index: the ticker topic is setting 18.
  EXPECT_EQ(config.Preferences().FindProperty(18)->Name, std::string("ScrollingTickerTopicIndex"));
  EXPECT_EQ(config.Preferences().FindProperty(15), nullptr);
}

TEST_F(AppConfigTest, ValuesOfTheWrongTypeOrIndexReadAsDefaults) {
  ASSERT_TRUE(store->CreateKey(TRegRoot::rrCurrentUser, std::string(kRoot) + "Preferences"));
  const std::string key = std::string(kRoot) + "Preferences";
  store->WriteValue(TRegRoot::rrCurrentUser, key, "MaxTransfers", TRegValue::String("12"));
  store->WriteValue(TRegRoot::rrCurrentUser, key, "SingleClickOpen", TRegValue::String("1"));
  store->WriteValue(TRegRoot::rrCurrentUser, key, "NavigatorExeName", TRegValue::Int(3));
  EXPECT_EQ(config.Preferences().MaxTransfers(), 8);
  EXPECT_FALSE(config.Preferences().SingleClickOpen());
  EXPECT_EQ(config.Preferences().NavigatorExeName(), "");
  store->CreateKey(TRegRoot::rrLocalMachine, std::string(kRoot) + "System");
  store->WriteValue(TRegRoot::rrLocalMachine, std::string(kRoot) + "System", "LastChannelUpdate",
                    TRegValue::Binary("1234"));  // not 8 bytes
  EXPECT_EQ(config.GlobalSystem().LastChannelUpdate(), 0.0);
  // 4 bytes of binary data are the other form of a Boolean or integer.
  store->WriteValue(TRegRoot::rrCurrentUser, key, "Timeout",
                    TRegValue::Binary(std::string("\x2c\x01\0\0", 4)));
  store->WriteValue(TRegRoot::rrCurrentUser, key, "AdvancedUser",
                    TRegValue::Binary(std::string("\0\0\0\1", 4)));
  EXPECT_EQ(config.Preferences().Timeout(), 300);
  EXPECT_TRUE(config.Preferences().AdvancedUser());
  // An index of another type, or none at all, reads as that type's default and writes nothing.
  EXPECT_EQ(config.Preferences().GetInteger(3), 0);
  config.Preferences().SetString(0, "x");
  config.Preferences().SetInteger(99, 5);
  EXPECT_EQ(config.Preferences().MaxTransfers(), 8);
}

TEST_F(AppConfigTest, KeysAreCreatedOnlyUnderTheProgramsOwnRoot) {
  TAppConfig other(store, "\\Software\\Elsewhere");
  EXPECT_FALSE(other.MayCreateKeys());
  EXPECT_TRUE(config.MayCreateKeys());
  other.Preferences().SetMaxTransfers(3);  // no key: the write is lost
  EXPECT_EQ(other.Preferences().MaxTransfers(), 8);
  EXPECT_FALSE(store->KeyExists(TRegRoot::rrCurrentUser, "Software\\Elsewhere"));
  ASSERT_TRUE(store->CreateKey(TRegRoot::rrCurrentUser, "Software\\Elsewhere\\Preferences"));
  other.Preferences().SetMaxTransfers(3);
  EXPECT_EQ(other.Preferences().MaxTransfers(), 3);
  EXPECT_EQ(config.Preferences().MaxTransfers(), 8);
}

TEST_F(AppConfigTest, RootFolderGainsASeparatorAndFollowsItsWrites) {
  EXPECT_EQ(config.RootFolder(), "");  // never "/", which would be the file system's root
  config.SetRootFolder("/home/u/.local/share/VandrelShopper");
  EXPECT_EQ(config.RootFolder(), "/home/u/.local/share/VandrelShopper/");
  config.GlobalSystem().SetRootFolder("/srv/vs/");
  EXPECT_EQ(config.RootFolder(), "/srv/vs/");
}

TEST(AppConfigUnreadableStore, EverythingFallsBackToDefaultsWithoutThrowing) {
  TempFolder dir;
  test::WriteWholeFile(dir / "file", "x");
  // The store's folder would have to live below a regular file: nothing can be read or written.
  TAppConfig config(std::make_shared<TRegistryFileStore>(dir / "file/store"));
  config.Preferences().SetMaxTransfers(20);
  config.Network().SetProxyPassword("secret");
  EXPECT_EQ(config.Preferences().MaxTransfers(), 8);
  EXPECT_EQ(config.Network().ProxyPassword(), "");
}

TEST(AppConfigComputed, UserNameAndBrowserVersion) {
  TempFolder dir;
  TAppConfig config(std::make_shared<TRegistryFileStore>(dir.Path()));
  EXPECT_FALSE(config.UserName().empty());
  EXPECT_EQ(config.IEVersion(), 5);  // the embedded view is always there
  EXPECT_EQ(IEVersionFromFileVersion(false, 6, 0), -1);
  EXPECT_EQ(IEVersionFromFileVersion(true, 4, 70), -1);
  EXPECT_EQ(IEVersionFromFileVersion(true, 4, 71), 4);
  EXPECT_EQ(IEVersionFromFileVersion(true, 5, 0), 5);
  EXPECT_EQ(IEVersionFromFileVersion(true, 11, 0), 5);
}

TEST(AppCryptTool, RoundTripsEveryLengthAndEveryByte) {
  for (size_t length = 0; length <= 600; ++length) {
    std::string text(length, '\0');
    for (size_t i = 0; i < length; ++i) text[i] = static_cast<char>((i * 131 + length) % 256);
    const std::string scrambled = TAppCryptTool::Scramble(text);
    ASSERT_EQ(scrambled.size(), length);
    ASSERT_EQ(TAppCryptTool::Unscramble(scrambled), text) << "length " << length;
    if (length >= 4) {
      ASSERT_NE(scrambled, text) << "length " << length;
    }
  }
  for (int b = 0; b < 256; ++b)
    for (size_t length : {1, 2, 3, 37, 38}) {
      const std::string text(length, static_cast<char>(b));
      ASSERT_EQ(TAppCryptTool::Unscramble(TAppCryptTool::Scramble(text)), text) << b << " x" << length;
    }
}

}  // namespace
}  // namespace vandrel
