// The ticker: its comma list, the description reader, the bundled script, element widths, the timer's
// steps, dragging, hovering links on the endless strip, and topic rotation.
#include <gtest/gtest.h>

#include <fstream>

#include "TempFolder.h"
#include "data/DemoSite.h"
#include "presentation/TickerModel.h"
#include "presentation/TickerScript.h"

namespace vandrel {
namespace {

using S = std::vector<std::string>;

TEST(TickerCommaTextTest, SeparatorsQuotesAndDoubledQuotes) {
  EXPECT_EQ(SplitCommaText("a,b c\r\n\td"), (S{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitCommaText("  \"Text = 'two words'\" , end"), (S{"Text = 'two words'", "end"}));
  EXPECT_EQ(SplitCommaText("\"say \"\"hi\"\"\",x"), (S{"say \"hi\"", "x"}));
  EXPECT_EQ(SplitCommaText("a,,b"), (S{"a", "", "b"}));
  EXPECT_EQ(SplitCommaText("a,"), (S{"a", ""}));
  EXPECT_EQ(SplitCommaText("\"unterminated, still one"), (S{"unterminated, still one"}));
  EXPECT_TRUE(SplitCommaText(" \t ").empty());
}

const char kDescription[] =
    "object Ticker: TScrollingTicker\r\n"
    "  Beveled = True\r\n"
    "  Elements = <\r\n"
    "    item\r\n"
    "      Style = esTopic\r\n"
    "      Text = 'It''s news'\r\n"
    "    end\r\n"
    "    item\r\n"
    "      Style = esHyperLink\r\n"
    "      Text = 'Read ' +\r\n"
    "        'more'#33\r\n"
    "      HyperLink = 'http://127.0.0.1:9/more'\r\n"
    "      FontStyles = [fsBold, fsUnderline]\r\n"
    "      Color = clYellow\r\n"
    "    end\r\n"
    "    item\r\n"
    "      Style = esImage\r\n"
    "      Image = eiDot\r\n"
    "      Color = 255\r\n"
    "    end>\r\n"
    "end";

TEST(TickerDescriptionTest, ReadsPropertiesElementsAndTheirValueForms) {
  TTickerDescription d;
  std::string error;
  ASSERT_TRUE(ReadTickerDescription(kDescription, d, &error)) << error;
  EXPECT_TRUE(d.Beveled);
  ASSERT_EQ(d.Elements.size(), 3u);
  EXPECT_EQ(d.Elements[0].Style, TTickerElementStyle::esTopic);
  EXPECT_EQ(d.Elements[0].Text, "It's news");
  EXPECT_EQ(d.Elements[0].Color, 0xFFFFFFu) << "white unless set";
  EXPECT_EQ(d.Elements[1].Text, "Read more!");
  EXPECT_EQ(d.Elements[1].HyperLink, "http://127.0.0.1:9/more");
  EXPECT_EQ(d.Elements[1].FontStyles, fsBold | fsUnderline);
  EXPECT_EQ(d.Elements[1].Color, 0x00FFFFu);
  EXPECT_EQ(d.Elements[2].Image, TTickerElementImage::eiDot);
  EXPECT_EQ(d.Elements[2].Color, 255u);
}

TEST(TickerDescriptionTest, AnythingUnreadableFailsAndLeavesTheTickerAsItWas) {
  const char* bad[] = {
      "",
      "object T: TButton\r\nend",
      "object T: TScrollingTicker\r\n Colour = 1\r\nend",
      "object T: TScrollingTicker\r\n Elements = < item Style = esBlink end >\r\nend",
      "object T: TScrollingTicker\r\n Elements = < item Text = 'open\r\n end >\r\nend",
      "object T: TScrollingTicker\r\n Elements = < item Color = 99999999 end >\r\nend",
      "object T: TScrollingTicker\r\n Elements = < item end\r\nend",
      "object T: TScrollingTicker\r\n Beveled = True\r\n",
      "object T: TScrollingTicker\r\nend\r\nend",
  };
  for (const char* text : bad) {
    SCOPED_TRACE(text);
    TTickerDescription d;
    d.Elements.push_back({});
    std::string error;
    EXPECT_FALSE(ReadTickerDescription(text, d, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(d.Elements.size(), 1u);
  }
}

TEST(TickerScriptTest, TheBundledScriptLoadsWithTopicsAndABrokenScriptFails) {
  TTickerDescription d;
  std::string error;
  ASSERT_TRUE(
      LoadTickerScript(test::CompiledDataDir() + "/" + kTickerScriptName, "ScrollingTicker", d, &error))
      << error;
  int topics = 0;
  for (const TTickerElement& e : d.Elements) topics += e.Style == TTickerElementStyle::esTopic;
  EXPECT_GE(topics, 3);
  EXPECT_GE(d.Elements.size(), 10u);

  test::TempFolder folder;
  const std::string broken = folder.Path() + "/ticker.scs";
  {
    std::ofstream(broken)
        << "Procedure Register\n  TickerData = 'Elements = < item Style = esNothing end >'\nEndProcedure\n";
  }
  EXPECT_FALSE(LoadTickerScript(broken, "T", d, &error));
  {
    std::ofstream(broken)
        << "Procedure Register\n  If 1 = 1\n  TickerData = 'Beveled = True'\nEndProcedure\n";
  }
  EXPECT_FALSE(LoadTickerScript(broken, "T", d, &error)) << "a compile error";
  { std::ofstream(broken) << "Procedure Register\n  TickerData = NoSuchThing(1)\nEndProcedure\n"; }
  EXPECT_FALSE(LoadTickerScript(broken, "T", d, &error)) << "an error while Register runs";
  EXPECT_FALSE(LoadTickerScript(folder.Path() + "/missing.ccs", "T", d, &error));
  EXPECT_GE(d.Elements.size(), 10u) << "a failed load keeps what was read before";
}

// Every character is 6 pixels wide, bold ones 7.
class TFixedMeasure : public ITickerTextMeasure {
 public:
  int TextWidth(const std::string& text, uint8_t styles) override {
    return static_cast<int>(text.size()) * ((styles & fsBold) ? 7 : 6);
  }
};

class TickerModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto element = [](TTickerElementStyle style, std::string text, std::string link = {}) {
      TTickerElement e;
      e.Style = style;
      e.Text = std::move(text);
      e.HyperLink = std::move(link);
      return e;
    };
    std::vector<TTickerElement> elements = {
        element(TTickerElementStyle::esTopic, "One"),                    // 21 + 24 + 32 = 77
        element(TTickerElementStyle::esText, "news text"),               // 54
        element(TTickerElementStyle::esImage, ""),                       // 12 + 16 = 28
        element(TTickerElementStyle::esHyperLink, "link", "http://x/"),  // 24
        element(TTickerElementStyle::esTopic, "Two"),                    // 77
    };
    Ticker.SetElements(elements);
    Ticker.Measure(Measure);
  }
  TFixedMeasure Measure;
  TTickerModel Ticker;
};

TEST_F(TickerModelTest, WidthsAndPositionsOnTheStrip) {
  EXPECT_EQ(Ticker.Widths(), (std::vector<int>{77, 54, 28, 24, 77}));
  EXPECT_EQ(Ticker.Lefts(), (std::vector<int>{0, 77, 131, 159, 183}));
  EXPECT_EQ(Ticker.StripWidth(), 260);
}

TEST_F(TickerModelTest, StartPauseThenOnePixelPerTickAndTheStripWraps) {
  Ticker.SetEnabled(true);
  for (int t = 0; t < kTickerStartPauseMs / kTickerIntervalMs; ++t) {
    EXPECT_TRUE(Ticker.InStartPause());
    EXPECT_TRUE(Ticker.Tick());
    EXPECT_EQ(Ticker.Offset(), 0);
  }
  EXPECT_FALSE(Ticker.InStartPause());
  Ticker.Tick();
  Ticker.Tick();
  EXPECT_EQ(Ticker.Offset(), 2);
  Ticker.TogglePause();
  EXPECT_EQ(Ticker.PauseHint(), "Start ticker");
  EXPECT_TRUE(Ticker.Tick()) << "paused: repaints for the hover only";
  EXPECT_EQ(Ticker.Offset(), 2);
  Ticker.TogglePause();
  Ticker.SetOffset(259);
  Ticker.Tick();
  EXPECT_EQ(Ticker.Offset(), 0) << "the strip's width wraps to the start";
  Ticker.SetOffset(-260);
  EXPECT_EQ(Ticker.Offset(), 0);
  Ticker.SetOffset(-10);
  EXPECT_EQ(Ticker.StartX(), 250);
  Ticker.SetEnabled(false);
  EXPECT_EQ(Ticker.Offset(), 0);
  EXPECT_TRUE(Ticker.InStartPause());
}

TEST_F(TickerModelTest, DraggingFollowsThePointerPastTheThresholdAndOpensNoLink) {
  Ticker.SetEnabled(true);
  Ticker.SetOffset(100);
  Ticker.Press(50);
  Ticker.Move(53, 4);
  EXPECT_EQ(Ticker.Offset(), 100) << "under the drag threshold";
  EXPECT_FALSE(Ticker.Dragged());
  EXPECT_TRUE(Ticker.Release()) << "a click";

  Ticker.Press(50);
  Ticker.Move(60, 4);
  EXPECT_TRUE(Ticker.Dragged());
  EXPECT_EQ(Ticker.Offset(), 90) << "the content follows the pointer";
  EXPECT_FALSE(Ticker.Forward()) << "moving right runs backward";
  EXPECT_FALSE(Ticker.Tick()) << "no step while dragging";
  Ticker.SetPointer(true, 2 + 159 - 90);
  EXPECT_EQ(Ticker.Hovered(), -1) << "no hover while dragged";
  EXPECT_FALSE(Ticker.Release());
  EXPECT_FALSE(Ticker.InStartPause());
  Ticker.Tick();
  EXPECT_EQ(Ticker.Offset(), 89) << "goes on in the drag's direction";
}

TEST_F(TickerModelTest, HoverFindsLinksAcrossTheLoopAndTopicsRotate) {
  Ticker.SetOffset(150);
  // Client x 2 is strip x 150 (the image); the link starts at strip x 159.
  EXPECT_EQ(Ticker.ElementAt(2), 2);
  Ticker.SetPointer(true, 2 + 9);
  EXPECT_EQ(Ticker.Hovered(), 3);
  EXPECT_EQ(Ticker.ClickedLink(), "http://x/");
  Ticker.SetPointer(true, 2 + 9 + 260);  // the next copy of the strip
  EXPECT_EQ(Ticker.Hovered(), 3);
  Ticker.SetPointer(true, 2 + 120);  // strip x 270 -> 10, the first topic: not a link
  EXPECT_EQ(Ticker.ElementAt(2 + 120), 0);
  EXPECT_EQ(Ticker.Hovered(), -1);
  Ticker.SetPointer(false, 11);
  EXPECT_EQ(Ticker.ClickedLink(), "");

  EXPECT_EQ(Ticker.RotateTopic(1), 2);
  EXPECT_EQ(Ticker.Offset(), 183);
  EXPECT_EQ(Ticker.RotateTopic(7), 1) << "past the last topic: offset kept, next show starts at the second";
  EXPECT_EQ(Ticker.Offset(), 183);
  EXPECT_EQ(Ticker.RotateTopic(0), 1);
  EXPECT_EQ(Ticker.Offset(), 0);
}

}  // namespace
}  // namespace vandrel
