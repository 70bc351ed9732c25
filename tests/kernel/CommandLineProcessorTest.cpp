#include "kernel/CommandLineProcessor.h"

#include <gtest/gtest.h>

#include <vector>

namespace vandrel {
namespace {

class CommandLineProcessorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"home", "prices", "newcatprices"})
      processor_.Register(
          name, [this, name](const std::string& arg) { calls_.push_back(std::string(name) + "|" + arg); });
  }
  TCommandLineProcessor processor_;
  std::vector<std::string> calls_;
};

TEST_F(CommandLineProcessorTest, CommandWordIsMatchedWithoutCaseOrScheme) {
  struct Case {
    const char* line;
    const char* call;
  } cases[] = {
      {"prices", "prices|"},
      {"  PRICES  ", "prices|"},
      {"shop:prices cameras", "prices|cameras"},
      {"SHOP:Prices Digital Cameras", "prices|Digital Cameras"},
      {"shop:newcatprices books harry potter", "newcatprices|books harry potter"},
      {"prices\tcameras", "prices|cameras"},
  };
  for (const auto& c : cases) {
    calls_.clear();
    EXPECT_TRUE(processor_.Execute(c.line)) << c.line;
    EXPECT_EQ(calls_, std::vector<std::string>{c.call}) << c.line;
  }
}

TEST_F(CommandLineProcessorTest, UnknownOrEmptyLinesAreIgnored) {
  for (const char* line : {"", "   ", "reviews", "shop:", "pricesx cameras", "-debug+ prices", "x:y:home"})
    EXPECT_FALSE(processor_.Execute(line)) << line;
  EXPECT_TRUE(calls_.empty());
}

TEST_F(CommandLineProcessorTest, LineArrivingWhileACommandRunsIsDropped) {
  bool nested = true;
  processor_.Register("new", [&](const std::string&) {
    nested = processor_.Execute("home");  // what a forwarded line meets while a modal wizard is open
    calls_.push_back("new");
  });
  EXPECT_TRUE(processor_.Execute("new tv"));
  EXPECT_FALSE(nested);
  EXPECT_EQ(calls_, std::vector<std::string>{"new"});
  // Once the command has finished, the next one runs.
  EXPECT_TRUE(processor_.Execute("home"));
  EXPECT_EQ(calls_.back(), "home|");
}

TEST_F(CommandLineProcessorTest, ReentrancyFlagIsClearedWhenAHandlerThrows) {
  processor_.Register("boom", [](const std::string&) { throw std::runtime_error("handler failed"); });
  EXPECT_THROW(processor_.Execute("boom"), std::runtime_error);
  EXPECT_TRUE(processor_.Execute("home"));
}

TEST_F(CommandLineProcessorTest, RegisterReplacesAndClearForgets) {
  processor_.Register("PRICES", [this](const std::string&) { calls_.push_back("replaced"); });
  processor_.Execute("prices");
  EXPECT_EQ(calls_, std::vector<std::string>{"replaced"});
  processor_.Clear();
  EXPECT_FALSE(processor_.Execute("prices"));
}

TEST_F(CommandLineProcessorTest, ObserverSeesCommandAndArgument) {
  std::vector<std::string> seen;
  processor_.SetExecuteObserver(
      [&](const std::string& c, const std::string& a) { seen.push_back(c + " " + a); });
  processor_.Execute("shop:prices cameras");
  processor_.Execute("unknown thing");
  EXPECT_EQ(seen, std::vector<std::string>{"prices cameras"});
}

}  // namespace
}  // namespace vandrel
