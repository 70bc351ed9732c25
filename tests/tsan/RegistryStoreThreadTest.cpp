#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "TempFolder.h"
#include "kernel/AppConfig.h"
#include "platform/RegistryFileStore.h"

namespace vandrel {
namespace {

// Settings are read from worker threads (time-outs, proxy settings) while the main thread writes them.
TEST(RegistryStoreThreads, ThreadsSharingAStoreOrTheFolderKeepEveryValue) {
  test::TempFolder dir;
  auto shared = std::make_shared<TRegistryFileStore>(dir.Path());
  ASSERT_TRUE(shared->CreateKey(TRegRoot::rrCurrentUser, "K"));
  constexpr int kThreads = 4, kPerThread = 15;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      // Half the writers go through their own store object, as another process would.
      auto own = std::make_shared<TRegistryFileStore>(dir.Path());
      IRegistryStore& store = t % 2 == 0 ? static_cast<IRegistryStore&>(*shared) : *own;
      for (int i = 0; i < kPerThread; ++i) {
        store.WriteValue(TRegRoot::rrCurrentUser, "K", "t" + std::to_string(t) + "-" + std::to_string(i),
                         TRegValue::Int(i));
        store.ReadValue(TRegRoot::rrCurrentUser, "K", "t0-0");
      }
    });
  TAppConfig config(shared);
  for (int i = 0; i < 20; ++i) {
    config.Preferences().SetTimeout(10 + i);
    EXPECT_EQ(config.Preferences().Timeout(), 10 + i);
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(shared->ValueNames(TRegRoot::rrCurrentUser, "K").size(),
            static_cast<size_t>(kThreads * kPerThread));
}

}  // namespace
}  // namespace vandrel
