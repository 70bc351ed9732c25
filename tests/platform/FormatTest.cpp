#include "platform/Format.h"

#include <gtest/gtest.h>

namespace vandrel {
namespace {

TEST(Format, IndexedAndSequentialArguments) {
  EXPECT_EQ(Format("%0:s has %1:d results", {"books", 12}), "books has 12 results");
  EXPECT_EQ(Format("%1:s-%0:s-%s", {"a", "b"}), "b-a-b");  // after an index, counting goes on from it
  EXPECT_EQ(Format("%d%%", {50}), "50%");
  EXPECT_EQ(Format("[%5d|%-5s]", {42, "ab"}), "[   42|ab   ]");
  EXPECT_EQ(Format("%.3d", {7}), "007");
  EXPECT_EQ(Format("%x", {255}), "FF");
}

TEST(Format, FloatsIgnoreTheLocaleAndKeepTheirDigits) {
  EXPECT_EQ(Format("%.2f", {3.14159}), "3.14");
  EXPECT_EQ(Format("%f", {2.0}), "2.00");
  EXPECT_EQ(Format("%.0f", {2.5}), "2");
  EXPECT_EQ(Format("%n", {1234567.891}), "1,234,567.89");
  EXPECT_EQ(Format("%.2f", {-0.001}), "0.00");
  EXPECT_EQ(Format("%d", {-15}), "-15");
}

TEST(Format, GeneralFormatIsTheShortestOfFixedAndScientific) {
  EXPECT_EQ(FormatGeneral(2.5), "2.5");
  EXPECT_EQ(FormatGeneral(3), "3");
  EXPECT_EQ(FormatGeneral(0.1 + 0.2), "0.3");
  EXPECT_EQ(FormatGeneral(-12.75), "-12.75");
  EXPECT_EQ(FormatGeneral(1e20), "1E20");
  EXPECT_EQ(FormatGeneral(123456789012345.0), "123456789012345");
  EXPECT_EQ(FormatGeneral(1234567890123456.0), "1.23456789012346E15");
  EXPECT_EQ(FormatGeneral(0.000001), "1E-6");
  EXPECT_EQ(FormatGeneral(0.0001), "0.0001");
  EXPECT_EQ(Format("%g", {0.0}), "0");
}

TEST(Format, OutsideFormatsNeverCrashOrReadPastTheArguments) {
  // A script's format string is data: bad directives come back as written.
  EXPECT_EQ(Format("%s %s %s", {"one"}), "one %s %s");
  EXPECT_EQ(Format("%d", {"text"}), "%d");
  EXPECT_EQ(Format("%s", {5}), "%s");
  EXPECT_EQ(Format("100%", {}), "100%");
  EXPECT_EQ(Format("%9:s", {"a"}), "%9:s");
  EXPECT_EQ(Format("%q", {1}), "%q");
  EXPECT_EQ(Format("%999999999999d", {1}).size(), 100000u);
}

}  // namespace
}  // namespace vandrel
