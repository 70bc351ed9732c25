#include "integration/ExplorerIntegration.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "TempFolder.h"
#include "platform/RegistryFileStore.h"

namespace vandrel {
namespace {
namespace fs = std::filesystem;
using test::ReadWholeFile;
using test::WriteWholeFile;

const std::string kOurs = "x-scheme-handler/shop=vandrel-shopper-url.desktop";

TEST(MimeAppsEditTest, OnlyOurLineIsAddedAndRemovedEveryOtherByteStays) {
  const std::string cases[] = {
      "",
      "[Default Applications]\ntext/html=firefox.desktop\n",
      "# mine\n[Added Associations]\ntext/html=a.desktop;\n\n[Default Applications]\ntext/html=b.desktop\n\n"
      "[Removed Associations]\nimage/png=c.desktop\n",
      "[Default Applications]\r\ntext/html=b.desktop",  // CR LF and no final line end
      "[Default Applications]\nx-scheme-handler/shop=other.desktop\n",
  };
  for (const std::string& before : cases) {
    const std::string added = AddMimeDefault(before, kOurs);
    EXPECT_TRUE(HasMimeDefault(added, kOurs)) << before;
    EXPECT_EQ(AddMimeDefault(added, kOurs), added) << "adding twice changes nothing";
    const std::string removed = RemoveMimeDefault(added, kOurs);
    EXPECT_FALSE(HasMimeDefault(removed, kOurs));
    EXPECT_EQ(AddMimeDefault(removed, kOurs), added) << "remove then add is the same file";
    // What stays after removal is the original text, with at most a line end or group header we needed.
    if (before.find("[Default Applications]") != std::string::npos && !before.empty() &&
        before.back() == '\n') {
      EXPECT_EQ(removed, before);
    }
  }
}

TEST(MimeAppsEditTest, OurLineGoesLastInItsGroupSoAnEarlierHandlerComesBack) {
  const std::string before =
      "[Default Applications]\nx-scheme-handler/shop=other.desktop\ntext/html=b.desktop\n\n[Added "
      "Associations]\n"
      "x-scheme-handler/shop=vandrel-shopper-url.desktop;\n";
  const std::string added = AddMimeDefault(before, kOurs);
  EXPECT_EQ(added, "[Default Applications]\nx-scheme-handler/shop=other.desktop\ntext/html=b.desktop\n" +
                       kOurs +
                       "\n\n[Added Associations]\nx-scheme-handler/shop=vandrel-shopper-url.desktop;\n");
  EXPECT_EQ(RemoveMimeDefault(added, kOurs), before)
      << "the same line in another group is not ours to remove";
  EXPECT_FALSE(HasMimeDefault(before, kOurs));
}

TEST(MimeAppsEditTest, ExecQuotingKeepsAPathOneWord) {
  EXPECT_EQ(DesktopExecQuote("/opt/v s/VandrelShopper"), "\"/opt/v s/VandrelShopper\"");
  EXPECT_EQ(DesktopExecQuote("/a\"b$c`d\\e%f"), "\"/a\\\\\"b\\\\$c\\\\`d\\\\\\\\e%%f\"");
  EXPECT_EQ(DesktopExecQuote("/a\nb"), "");
}

TEST(ShopAddressTest, ABrowsersEncodedAddressBecomesTheCommandLine) {
  EXPECT_EQ(ShopAddressToCommand("shop:new%20harry%20potter"), "shop:new harry potter");
  EXPECT_EQ(ShopAddressToCommand("SHOP:newprices%2Fa%25b"), "SHOP:newprices/a%b");
  EXPECT_EQ(ShopAddressToCommand("shop:new%0Aprices%00x%7"), "shop:new prices x%7");
  EXPECT_EQ(ShopAddressToCommand("shop:new plain words"), "shop:new plain words");
  EXPECT_EQ(ShopAddressToCommand("prices%20x"), "prices%20x") << "only shop addresses are decoded";
}

class ExplorerIntegrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store = std::make_shared<TRegistryFileStore>(dir / "config/VandrelSoft");
    places.ApplicationsFolder = dir / "data/applications/";
    places.MimeAppsList = dir / "config/mimeapps.list";
    inputs.ProgramPath = "/opt/vandrel/bin/VandrelShopper";
    inputs.RootFolder = "/home/u/.local/share/VandrelShopper/";
    inputs.IEVersion = 5;
  }

  // Every key of a part of the store with its values, in a form that compares and prints well.
  std::map<std::string, std::string> Dump(TRegRoot root) {
    std::map<std::string, std::string> out;
    std::function<void(const std::string&)> walk = [&](const std::string& path) {
      for (const auto& name : store->SubKeyNames(root, path)) {
        const std::string sub = path.empty() ? name : path + "\\" + name;
        std::string values;
        for (const auto& value : store->ValueNames(root, sub)) {
          auto v = store->ReadValue(root, sub, value);
          values += "[" + value + "]=";
          if (v->Type == TRegDataType::rdBinary) {
            for (unsigned char c : v->Data) values += std::to_string(c) + ",";
          } else {
            values += v->Data;
          }
          values += ";";
        }
        out[sub] = values;
        walk(sub);
      }
    };
    walk("");
    return out;
  }

  test::TempFolder dir;
  std::shared_ptr<TRegistryFileStore> store;
  TDesktopPlaces places;
  TIntegrationInputs inputs;
};

TEST_F(ExplorerIntegrationTest, TheStoreGetsExactlyTheListedKeysAndValues) {
  TIETools tools(store, places);
  TIntegrationOutcome outcome = UpdateExplorerIntegration(false, inputs, tools);
  EXPECT_TRUE(outcome.Removed && outcome.Written) << outcome.Failure;

  const std::string bar = "CLSID\\{A475B9C7-D5CF-40F1-9D5A-FCFD921DBBF8}";
  const std::map<std::string, std::string> classes = {
      {"shop", "[]=Shopping Url Protocol;[URL Protocol]=;"},
      {"shop\\shell", ""},
      {"shop\\shell\\open", ""},
      {"shop\\shell\\open\\command", "[]=\"/opt/vandrel/bin/VandrelShopper\" \"%1\";"},
      {"CLSID", ""},
      {bar, "[]=Vandrel Shopper;"},
      {bar + "\\Instance", "[CLSID]={4D5C8C2A-D075-11D0-B416-00C04FB90376};"},
      {bar + "\\InProcServer32", "[]=/usr/lib\\SHDOCVW.DLL;[ThreadingModel]=Apartment;"},
      {bar + "\\Instance\\InitPropertyBag",
       "[Url]=file:///home/u/.local/share/VandrelShopper/Web/ShopBar.htm;"},
      {bar + "\\Implemented Categories", ""},
      {bar + "\\Implemented Categories\\{00021494-0000-0000-C000-000000000046}", ""},
  };
  EXPECT_EQ(Dump(TRegRoot::rrClassesRoot), classes);

  const std::string ie = "Software\\Microsoft\\Internet Explorer";
  const std::map<std::string, std::string> user = {
      {"Software", ""},
      {"Software\\Microsoft", ""},
      {ie, ""},
      {ie + "\\MenuExt", ""},
      {ie + "\\MenuExt\\Find Using Vandrel Shopper",
       "[]=/home/u/.local/share/VandrelShopper/Web/Find.htm;[Flags]=0,0,0,0,;"},
  };
  EXPECT_EQ(Dump(TRegRoot::rrCurrentUser), user);

  const std::string ext = "SOFTWARE\\Microsoft\\Internet Explorer\\Extensions\\";
  const std::map<std::string, std::string> machine = {
      {"SOFTWARE", ""},
      {"SOFTWARE\\Microsoft", ""},
      {"SOFTWARE\\Microsoft\\Internet Explorer", ""},
      {"SOFTWARE\\Microsoft\\Internet Explorer\\Extensions", ""},
      {ext + "{4B981DDB-ED12-4772-ABF4-76E3C14982E0}",
       "[MenuCustomize]=Tools;[MenuText]=Shop Using Vandrel Shopper;[MenuStatusBar]=Launch Vandrel Shopper;"
       "[CLSID]={1FBA04EE-3024-11d2-8F1F-0000F87ABD16};[Exec]=/opt/vandrel/bin/VandrelShopper;"},
      {ext + "{7149E60F-754A-47EB-8916-F60021678D84}",
       "[ButtonText]=Shop;[Icon]=/home/u/.local/share/VandrelShopper/Web/IEToolbarIcon.ico;"
       "[HotIcon]=/home/u/.local/share/VandrelShopper/Web/IEToolbarHotIcon.ico;"
       "[ToolTip]=Shop Using Vandrel Shopper;[Default Visible]=Yes;"
       "[CLSID]={E0DD6CAB-2D10-11D2-8F1A-0000F87ABD16};[BandCLSID]={A475B9C7-D5CF-40F1-9D5A-FCFD921DBBF8};"},
      {"SOFTWARE\\Microsoft\\Internet Explorer\\Explorer Bars", ""},
      {"SOFTWARE\\Microsoft\\Internet Explorer\\Explorer Bars\\{A475B9C7-D5CF-40F1-9D5A-FCFD921DBBF8}",
       "[BarSize]=80,0,0,0,0,0,0,0,;"},
  };
  EXPECT_EQ(Dump(TRegRoot::rrLocalMachine), machine);

  EXPECT_TRUE(fs::exists(places.ApplicationsFolder + "vandrel-shopper-url.desktop"));
  EXPECT_TRUE(fs::exists(places.ApplicationsFolder + "vandrel-shopper.desktop"));
  EXPECT_EQ(ReadWholeFile(places.MimeAppsList), "[Default Applications]\n" + kOurs + "\n");
}

TEST_F(ExplorerIntegrationTest, UpdatingTwiceLeavesTheSameEntriesAndRemovalLeavesNone) {
  fs::create_directories(dir / "config");
  WriteWholeFile(places.MimeAppsList,
                 "[Default Applications]\ntext/html=b.desktop\n\n[Added Associations]\n");
  TIETools tools(store, places);
  UpdateExplorerIntegration(false, inputs, tools);
  auto dumpAll = [&] {
    return std::vector{Dump(TRegRoot::rrCurrentUser), Dump(TRegRoot::rrLocalMachine),
                       Dump(TRegRoot::rrClassesRoot)};
  };
  const auto once = dumpAll();
  const std::string list = ReadWholeFile(places.MimeAppsList);
  const std::string launcher = ReadWholeFile(places.ApplicationsFolder + "vandrel-shopper.desktop");
  UpdateExplorerIntegration(false, inputs, tools);
  EXPECT_EQ(dumpAll(), once);
  EXPECT_EQ(ReadWholeFile(places.MimeAppsList), list);
  EXPECT_EQ(ReadWholeFile(places.ApplicationsFolder + "vandrel-shopper.desktop"), launcher);

  TIntegrationOutcome outcome = UpdateExplorerIntegration(true, inputs, tools);
  EXPECT_TRUE(outcome.Removed);
  for (const auto& entry : IntegrationStatus(tools)) EXPECT_FALSE(entry.Present) << entry.Where;
  EXPECT_EQ(ReadWholeFile(places.MimeAppsList),
            "[Default Applications]\ntext/html=b.desktop\n\n[Added Associations]\n");
}

TEST_F(ExplorerIntegrationTest, PreferencesAndBrowserVersionChooseWhatIsWrittenBack) {
  TIETools tools(store, places);
  UpdateExplorerIntegration(false, inputs, tools);
  inputs.IEVersion = 4;
  inputs.UseQuickLaunch = false;
  inputs.UseContextMenu = false;
  UpdateExplorerIntegration(false, inputs, tools);
  std::map<std::string, bool> present;
  for (const auto& entry : IntegrationStatus(tools)) present[entry.Kind + " " + entry.Where] = entry.Present;
  int shown = 0;
  for (const auto& [where, isThere] : present) {
    // Only the protocol, always written, stays: its two keys, its desktop file and its line.
    const bool protocol = where.find("shop") != std::string::npos &&
                          where.find("Explorer") == std::string::npos &&
                          where.find("MenuExt") == std::string::npos &&
                          where.find("vandrel-shopper.desktop") == std::string::npos;
    EXPECT_EQ(isThere, protocol) << where;
    shown += isThere;
  }
  EXPECT_EQ(shown, 4);
}

TEST_F(ExplorerIntegrationTest, AShortcutFileAlreadyThereIsNotRewritten) {
  fs::create_directories(places.ApplicationsFolder);
  TIETools tools(store, places);
  const std::string path = places.ApplicationsFolder + "vandrel-shopper.desktop";
  WriteWholeFile(path, "kept");
  EXPECT_FALSE(tools.UpdateQuickLaunchShortcut(TIETools::TShortcutMode::smCreate, "vandrel-shopper.desktop",
                                               inputs.ProgramPath));
  EXPECT_EQ(ReadWholeFile(path), "kept");
  EXPECT_TRUE(
      tools.UpdateQuickLaunchShortcut(TIETools::TShortcutMode::smDelete, "vandrel-shopper.desktop", ""));
  EXPECT_FALSE(fs::exists(path));
  EXPECT_FALSE(
      tools.UpdateQuickLaunchShortcut(TIETools::TShortcutMode::smDelete, "vandrel-shopper.desktop", ""));
}

TEST_F(ExplorerIntegrationTest, NoShortcutIsWrittenWhileItsFolderIsUnknown) {
  places.ApplicationsFolder.clear();
  TIETools tools(store, places);
  const fs::path before = fs::current_path();
  fs::current_path(dir.Path());
  EXPECT_FALSE(tools.UpdateQuickLaunchShortcut(TIETools::TShortcutMode::smCreate, "vandrel-shopper.desktop",
                                               inputs.ProgramPath));
  EXPECT_FALSE(fs::exists(dir / "vandrel-shopper.desktop"));
  fs::current_path(before);
  // The protocol's desktop file cannot be written either; that is a failed write, reported as such, and
  // the store keys written before it stay.
  TIntegrationOutcome outcome = UpdateExplorerIntegration(false, inputs, tools);
  EXPECT_TRUE(outcome.Removed);
  EXPECT_FALSE(outcome.Written);
  EXPECT_TRUE(store->KeyExists(TRegRoot::rrClassesRoot, "shop\\shell\\open\\command"));
  EXPECT_FALSE(store->KeyExists(
      TRegRoot::rrCurrentUser, "Software\\Microsoft\\Internet Explorer\\MenuExt\\Find Using Vandrel Shopper"))
      << "the step stops at its first failure";
}

TEST_F(ExplorerIntegrationTest, ALinkedMimeAppsListStaysALink) {
  fs::create_directories(dir / "dotfiles");
  fs::create_directories(dir / "config");
  WriteWholeFile(dir / "dotfiles/mimeapps.list", "[Default Applications]\n");
  fs::create_symlink(dir / "dotfiles/mimeapps.list", places.MimeAppsList);
  TIETools tools(store, places);
  EXPECT_TRUE(UpdateExplorerIntegration(false, inputs, tools).Written);
  EXPECT_TRUE(fs::is_symlink(places.MimeAppsList));
  EXPECT_EQ(ReadWholeFile(dir / "dotfiles/mimeapps.list"), "[Default Applications]\n" + kOurs + "\n");
}

}  // namespace
}  // namespace vandrel
