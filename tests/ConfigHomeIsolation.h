// Every test process keeps the program's settings in a folder of its own: a test that runs a command without
// naming a configuration folder must not change the settings of the user who runs the suite. Tests that
// point XDG_CONFIG_HOME elsewhere themselves put this one back when they end.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include "TempFolder.h"

namespace vandrel::test {

class TConfigHomeIsolation : public ::testing::Environment {
 public:
  void SetUp() override { setenv("XDG_CONFIG_HOME", (ProcessTempDir() + "/config").c_str(), 1); }
};

// GoogleTest owns the environment; included in several files, it is still registered once.
inline ::testing::Environment* const kConfigHomeIsolation =
    ::testing::AddGlobalTestEnvironment(new TConfigHomeIsolation);

}  // namespace vandrel::test
