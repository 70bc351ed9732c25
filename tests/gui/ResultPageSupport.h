// What the result page tests share: waiting with the event loop running, the page's result rows by rank,
// and the command line's "history show" to hold them against.
#pragma once

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QTest>
#include <map>
#include <string>
#include <vector>

#include "cli/CliTestSupport.h"
#include "data/DemoSite.h"
#include "platform/TextUtils.h"
#include "storage/ResultStorage.h"
#include "ui/ResultFrame.h"
#include "ui/ResultListModel.h"

namespace vandrel::test {

// Waits with the event loop running; Qt Test's own waiting macros return without telling GoogleTest.
template <class F>
bool WaitFor(F done, int ms) {
  QDeadlineTimer deadline(ms);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QTest::qWait(20);
  }
  return true;
}

// Result rows shown: rank -> the model's row.
inline std::map<int, int> RowsByRank(TResultFrm& page) {
  std::map<int, int> rows;
  for (int row = 0; row < page.Model().rowCount(); ++row)
    if (auto* r = page.Controller().ResultAt(static_cast<size_t>(row))) rows[r->Index()] = row;
  return rows;
}

inline int ColumnOf(TResultFrm& page, const std::string& field) {
  const auto& columns = page.Controller().View().Columns();
  for (size_t i = 0; i < columns.size(); ++i)
    if (SameText(columns[i].FieldName, field)) return static_cast<int>(i);
  ADD_FAILURE() << "no column " << field;
  return -1;
}

// `history show NUMBER --json` with `extra`; `root` must not be open in this process, which holds the
// database while its kernel is open.
inline std::vector<clitest::TJsonRecord> HistoryShow(const std::string& root, int number,
                                                     const std::vector<std::string>& extra = {}) {
  std::vector<std::string> arguments = {"history", "show",   std::to_string(number), "--json", "--root",
                                        root,      "--data", CompiledDataDir()};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  const clitest::TCliRun show = clitest::RunCli(arguments);
  std::vector<clitest::TJsonRecord> records;
  EXPECT_EQ(show.Status, 0) << show.Err;
  EXPECT_TRUE(clitest::TJsonReader(show.Out).ReadArray(records)) << show.Out;
  return records;
}

// One result row as the page shows it, in the terms "history show" prints.
struct TShownResult {
  long Occurrences = 0;
  std::string Price;  // the summary line: the price, as the store gave it
  std::string Title;
};

// The page's result rows by rank; `titleField` names the type's first text field.
inline std::map<int, TShownResult> ShownResults(TResultFrm& page, const std::string& titleField) {
  std::map<int, TShownResult> shown;
  const int title = ColumnOf(page, titleField);
  for (const auto& [rank, row] : RowsByRank(page)) {
    TResultStorageItem* result = page.Controller().ResultAt(static_cast<size_t>(row));
    shown[rank] = {result->Occurences, page.Controller().View().Row(static_cast<size_t>(row)).Preview,
                   page.Model().index(row, title).data().toString().toStdString()};
  }
  return shown;
}

// Every printed result is on the page with the same occurrences, price and title, and nothing else is.
inline void ExpectShownAsPrinted(const std::map<int, TShownResult>& shown,
                                 const std::vector<clitest::TJsonRecord>& printed,
                                 const std::string& titleField) {
  ASSERT_FALSE(printed.empty());
  EXPECT_EQ(shown.size(), printed.size());
  for (const clitest::TJsonRecord& record : printed) {
    const int rank = static_cast<int>(record.Number.at("Rank"));
    auto it = shown.find(rank);
    ASSERT_NE(it, shown.end()) << "rank " << rank << " is not on the page";
    EXPECT_EQ(it->second.Occurrences, record.Number.at("Occurrences")) << rank;
    EXPECT_EQ(it->second.Price, record.Text.at("price")) << rank;
    EXPECT_EQ(it->second.Title, record.Text.at(titleField)) << rank;
  }
}

}  // namespace vandrel::test
