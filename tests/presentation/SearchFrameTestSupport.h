// Form settings kept in memory, for the search form and wizard tests.
#pragma once

#include "presentation/SearchFrames.h"

namespace vandrel::test {

class TMemorySearchSettings : public ISearchFormSettings {
 public:
  int ResultsPerEngine(bool reviews) const override { return reviews ? Reviews : Compare; }
  void SetResultsPerEngine(bool reviews, int value) override { (reviews ? Reviews : Compare) = value; }
  bool PromptAndOrInformation() const override { return AndOr; }
  void SetPromptAndOrInformation(bool value) override { AndOr = value; }

  int Compare = 10;
  int Reviews = 10;
  bool AndOr = true;
};

}  // namespace vandrel::test
