#include <gtest/gtest.h>
#include "script/BaseCompiler.h"
namespace vandrel {
TEST(ScriptSmoke, Runs) {
  TFuncEvaluator ev;
  EXPECT_TRUE(ev.Evaluate("1 + 2 * 3"));
  EXPECT_EQ(ev.Number, 7);
}
}  // namespace vandrel
