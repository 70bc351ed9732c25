// Feeds arbitrary bytes as a rollback journal to recovery: it may refuse, but must never write outside
// the files it names or crash.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/xbase/XbEngine.h"
#include "platform/xbase/XbMemFileSystem.h"

using namespace vandrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto fs = std::make_shared<TXbMemFileSystem>();
  fs->SetContents("/j/T.dbf", std::vector<unsigned char>(100, 'x'));
  fs->SetContents("/j/DB.jnl", std::vector<unsigned char>(data, data + size));
  auto engine = CreateXbEngine(fs);
  engine->SetJournalPath("/j/DB.jnl");
  engine->Recover();
  return 0;
}
