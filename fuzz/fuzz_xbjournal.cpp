// Feeds rollback journals to recovery: raw bytes (which rarely pass the checksums), and well-framed
// journals built from the input, cut at any point, so recovery itself is explored. It may refuse, but must
// never crash, touch a file the journal does not name, or leave the journal behind after a success.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/xbase/XbEngine.h"
#include "platform/xbase/XbMemFileSystem.h"
#include "platform/xbase/XbPagedFile.h"

using namespace vandrel;

namespace {

const char* const kPaths[] = {"/j/T.dbf", "/j/T.fpt", "/j/T(1).dbf", "/j/T.dbf.bak", "/j/gone.dbf"};
constexpr size_t kPathCount = sizeof kPaths / sizeof kPaths[0];

struct Reader {
  const uint8_t* P;
  const uint8_t* End;
  bool More() const { return P < End; }
  uint32_t Byte() { return P < End ? *P++ : 0; }
  uint32_t Word() { return Byte() << 8 | Byte(); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  auto fs = std::make_shared<TXbMemFileSystem>();
  fs->SetContents("/j/T.dbf", std::vector<unsigned char>(100, 'x'));
  if (data[0] & 2) fs->SetContents("/j/T(1).dbf", std::vector<unsigned char>(40, 'y'));
  if (data[0] & 4) fs->SetContents("/j/T.dbf.bak", std::vector<unsigned char>(60, 'z'));

  std::string bytes;
  if (data[0] & 1) {
    bytes.assign(reinterpret_cast<const char*>(data + 2), size - 2);
  } else {
    TXbJournal journal(data[1]);
    Reader in{data + 2, data + size};
    while (in.More()) {
      switch (in.Byte() % 3) {
        case 0:
          journal.AddFile(in.Byte() % 4, in.Word(), kPaths[in.Byte() % kPathCount]);
          break;
        case 1: {
          uint32_t id = in.Byte() % 4;
          uint32_t offset = in.Word();
          std::vector<unsigned char> page(in.Byte(), static_cast<unsigned char>(in.Byte()));
          journal.AddPage(id, offset, page.data(), page.size());
          break;
        }
        default: {
          std::string target = kPaths[in.Byte() % kPathCount];
          std::string replacement = kPaths[in.Byte() % kPathCount];
          journal.AddSwap(target, replacement, kPaths[in.Byte() % kPathCount]);
          break;
        }
      }
    }
    bytes = journal.Bytes();
    // A torn tail: the cut is taken from the top bits of the first byte.
    if (data[0] & 0xF8) bytes.resize(bytes.size() * (data[0] >> 3) / 32);
  }
  fs->SetContents("/j/DB.jnl", std::vector<unsigned char>(bytes.begin(), bytes.end()));

  auto engine = CreateXbEngine(fs);
  engine->SetJournalPath("/j/DB.jnl");
  bool ok = engine->Recover();
  for (const auto& p : fs->List()) {
    bool known = p == "/j/DB.jnl";
    for (const char* k : kPaths) known = known || p == k;
    if (!known) std::abort();
    if (fs->Contents(p).size() > 70000) std::abort();  // nothing beyond an old length the journal gave
  }
  if (ok && fs->Exists("/j/DB.jnl")) std::abort();
  if (ok) engine->Open("/j/T.dbf");
  return 0;
}
