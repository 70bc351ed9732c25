// The browser pane's address box, buttons and delayed navigation, against a recorded browser view.
#include "presentation/BrowserPaneController.h"

#include <gtest/gtest.h>

#include "TempFolder.h"
#include "platform/RegistryFileStore.h"
#include "presentation/FakeBrowserView.h"
#include "presentation/FakeDesktopPorts.h"

namespace vandrel {
namespace {

TEST(BrowserAddress, CtrlEnterCompletesOnlyWhatIsMissing) {
  EXPECT_EQ(CompleteAddress("example"), "http://www.example.com");
  EXPECT_EQ(CompleteAddress("http://www.example.com"), "http://www.example.com");
  EXPECT_EQ(CompleteAddress("HTTP://WWW.EXAMPLE.COM"), "HTTP://WWW.EXAMPLE.COM");
  EXPECT_EQ(CompleteAddress("http://www.example.org"), "http://www.example.org.com");
  EXPECT_EQ(CompleteAddress("http://example"), "http://www.example.com");
  EXPECT_EQ(CompleteAddress("www.example"), "http://www.example.com");
  // A secure address keeps its scheme instead of getting a second one.
  EXPECT_EQ(CompleteAddress("https://shop"), "https://www.shop.com");
  EXPECT_EQ(CompleteAddress(""), "http://www..com");
}

TEST(BrowserAddress, LocalFilesShowAsPaths) {
  EXPECT_EQ(DisplayAddress("file:///home/ann/My%20Shop/a.htm"), "/home/ann/My Shop/a.htm");
  EXPECT_EQ(DisplayAddress("FILE:///tmp/x"), "/tmp/x");
  EXPECT_EQ(DisplayAddress("http://127.0.0.1:8080/a%20b"), "http://127.0.0.1:8080/a%20b");
}

class BrowserPaneTest : public ::testing::Test {
 protected:
  test::TFakeBrowserView view_;
  test::TManualScheduler scheduler_;
  TBrowserPaneController pane_{view_, scheduler_};
};

TEST_F(BrowserPaneTest, EnterPutsTheAddressOnTopOfAtMost24) {
  std::vector<std::string> opened;
  pane_.OnUrlSelected = [&](const std::string& url) { opened.push_back(url); };
  for (int i = 1; i <= 30; ++i) {
    pane_.SetAddressText("http://127.0.0.1/" + std::to_string(i));
    pane_.Enter(false);
  }
  ASSERT_EQ(pane_.Addresses().size(), 24u);
  EXPECT_EQ(pane_.Addresses().front(), "http://127.0.0.1/30");
  EXPECT_EQ(pane_.Addresses().back(), "http://127.0.0.1/7");
  // Typing the fifth entry again moves it to the top without a copy.
  pane_.SetAddressText("http://127.0.0.1/26");
  pane_.Enter(false);
  EXPECT_EQ(pane_.Addresses().size(), 24u);
  EXPECT_EQ(pane_.Addresses()[0], "http://127.0.0.1/26");
  EXPECT_EQ(pane_.Addresses()[1], "http://127.0.0.1/30");
  EXPECT_EQ(pane_.Addresses()[4], "http://127.0.0.1/27");
  EXPECT_EQ(std::count(pane_.Addresses().begin(), pane_.Addresses().end(), "http://127.0.0.1/26"), 1);
  EXPECT_EQ(view_.Navigated.back(), "http://127.0.0.1/26");
  EXPECT_EQ(opened.size(), 31u);

  pane_.SetAddressText("shop");
  EXPECT_EQ(pane_.Enter(true), "http://www.shop.com");
  EXPECT_EQ(pane_.Addresses()[0], "http://www.shop.com");
  pane_.SetAddressText("   ");
  EXPECT_EQ(pane_.Enter(false), "");
  EXPECT_EQ(view_.Navigated.back(), "http://www.shop.com");
}

TEST_F(BrowserPaneTest, TypedAddressesFromTheStoreStayWithin24AndReadBack) {
  test::TempFolder folder;
  TRegistryFileStore store(folder.Path());
  ASSERT_TRUE(store.CreateKey(TRegRoot::rrCurrentUser, kTypedUrlsKey));
  for (int i = 1; i <= 25; ++i)
    store.WriteValue(TRegRoot::rrCurrentUser, kTypedUrlsKey, "url" + std::to_string(i),
                     TRegValue::String(i == 3 ? "" : "http://127.0.0.1/" + std::to_string(i)));
  store.WriteValue(TRegRoot::rrCurrentUser, kTypedUrlsKey, "Url4", TRegValue::Int(4));  // not text
  pane_.LoadTypedUrls(store);
  ASSERT_EQ(pane_.Addresses().size(), 23u);
  EXPECT_EQ(pane_.Addresses()[0], "http://127.0.0.1/1");
  EXPECT_EQ(pane_.Addresses()[2], "http://127.0.0.1/5");
  // A second source fills up to the limit and adds nothing twice.
  pane_.AppendAddresses({"http://127.0.0.1/1", "http://127.0.0.1/a", "http://127.0.0.1/b"});
  ASSERT_EQ(pane_.Addresses().size(), 24u);
  EXPECT_EQ(pane_.Addresses().back(), "http://127.0.0.1/a");

  pane_.SetAddressText("http://127.0.0.1/new");
  pane_.Enter(false);
  pane_.SaveTypedUrls(store);
  TBrowserPaneController again(view_, scheduler_);
  again.LoadTypedUrls(store);
  EXPECT_EQ(again.Addresses(), pane_.Addresses());
}

TEST_F(BrowserPaneTest, EscapeAndPageChangesShowTheCurrentAddress) {
  int cancelled = 0;
  pane_.OnEditCancel = [&] { ++cancelled; };
  view_.Show("http://127.0.0.1:9/store/item?id=1");
  EXPECT_EQ(pane_.AddressText(), "http://127.0.0.1:9/store/item?id=1");
  pane_.SetAddressText("half-typed");
  pane_.Escape();
  EXPECT_EQ(pane_.AddressText(), "http://127.0.0.1:9/store/item?id=1");
  EXPECT_EQ(cancelled, 1);
  view_.Show("file:///srv/a%20b.htm");
  EXPECT_EQ(pane_.AddressText(), "/srv/a b.htm");
}

TEST_F(BrowserPaneTest, ButtonsFollowTheBrowserAndZoomTellsTheOwner) {
  EXPECT_FALSE(pane_.BackEnabled());
  view_.History(true, false);
  EXPECT_TRUE(pane_.BackEnabled());
  EXPECT_FALSE(pane_.ForwardEnabled());
  view_.History(false, true);
  EXPECT_FALSE(pane_.BackEnabled());
  EXPECT_TRUE(pane_.ForwardEnabled());

  std::vector<bool> zooms;
  pane_.OnZoom = [&](bool down) { zooms.push_back(down); };
  pane_.ToggleZoom();
  pane_.SetZoomDown(false);  // the result frame's own change is not reported back
  pane_.ToggleZoom();
  EXPECT_EQ(zooms, (std::vector<bool>{true, true}));

  std::string status;
  pane_.OnStatusText = [&](const std::string& text) { status = text; };
  view_.Status("Done");
  EXPECT_EQ(status, "Done");
}

TEST_F(BrowserPaneTest, EditingCommandsGoWhereTheFocusIs) {
  view_.Available = false;
  EXPECT_FALSE(pane_.EditAvailable(TBrowserCommand::bcCopy, TPaneFocus::pfBrowser));
  view_.Available = true;
  EXPECT_TRUE(pane_.EditAvailable(TBrowserCommand::bcCopy, TPaneFocus::pfBrowser));
  EXPECT_FALSE(pane_.EditAvailable(TBrowserCommand::bcCopy, TPaneFocus::pfOther));
  EXPECT_FALSE(pane_.EditAvailable(TBrowserCommand::bcCopy, TPaneFocus::pfAddressBox));  // no text
  EXPECT_TRUE(pane_.EditAvailable(TBrowserCommand::bcPaste, TPaneFocus::pfAddressBox));
  pane_.SetAddressText("x");
  EXPECT_TRUE(pane_.EditAvailable(TBrowserCommand::bcCut, TPaneFocus::pfAddressBox));
  EXPECT_FALSE(pane_.EditAvailable(TBrowserCommand::bcPrint, TPaneFocus::pfAddressBox));
}

TEST_F(BrowserPaneTest, OnlyTheLastOfQuickNavigationsOpens) {
  pane_.NavigateLater("http://127.0.0.1/1");
  scheduler_.Advance(300);
  pane_.NavigateLater("http://127.0.0.1/2");
  scheduler_.Advance(300);
  pane_.NavigateLater("http://127.0.0.1/3");
  EXPECT_TRUE(view_.Navigated.empty());
  scheduler_.Advance(499);
  EXPECT_TRUE(pane_.NavigationPending());
  scheduler_.Advance(1);
  EXPECT_EQ(view_.Navigated, std::vector<std::string>{"http://127.0.0.1/3"});
  EXPECT_FALSE(pane_.NavigationPending());
  EXPECT_EQ(scheduler_.Pending(), 0u);
}

TEST(BrowserPaneLifetime, APendingNavigationDiesWithThePane) {
  test::TFakeBrowserView view;
  test::TManualScheduler scheduler;
  {
    TBrowserPaneController pane(view, scheduler);
    pane.NavigateLater("http://127.0.0.1/");
  }
  scheduler.Advance(1000);
  EXPECT_TRUE(view.Navigated.empty());
  view.Show("http://127.0.0.1/");  // no observer left behind
}

}  // namespace
}  // namespace vandrel
