// Feeds arbitrary data and memo files to the xBase readers: open, walk, read every field and memo, index,
// compact. Nothing may crash or read out of bounds, whatever the bytes claim.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/xbase/XbEngine.h"
#include "platform/xbase/XbMemFileSystem.h"

using namespace vandrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  // The first two bytes say where the data file ends and the memo file begins.
  size_t split = std::min<size_t>(size - 2, (static_cast<size_t>(data[0]) << 8 | data[1]) * 4);
  const uint8_t* body = data + 2;
  std::vector<unsigned char> dbf(body, body + split);
  std::vector<unsigned char> fpt(body + split, data + size);

  TXbHeader header;
  std::string why;
  ParseDbfHeader(std::string(dbf.begin(), dbf.end()), header, why);
  TXbMemoHeader memo;
  ParseFptHeader(std::string(fpt.begin(), fpt.end()), memo);

  auto fs = std::make_shared<TXbMemFileSystem>();
  fs->SetContents("/f/T.dbf", dbf);
  fs->SetContents("/f/T.fpt", fpt);
  auto engine = CreateXbEngine(fs);
  engine->SetJournalPath("/f/DB.jnl");
  auto t = engine->Open("/f/T.dbf");
  if (!t) return 0;
  std::vector<TXbTagDef> tags;
  tags.push_back({"A", t->Field(0).Name, ".NOT. DELETED()", true});
  if (t->FieldCount() > 1) {
    tags.push_back(
        {"B", "STR(" + t->Field(1).Name + ", 6, 2) + DESCEND(" + t->Field(0).Name + ")", "", false});
  }
  t->CreateTags(tags);
  t->SelectTag("A");
  int n = 0;
  for (bool ok = t->Top(); ok && n < 2000; ok = t->Skip(), ++n) {
    for (int j = 0; j < t->FieldCount(); ++j) {
      t->Raw(j);
      if (t->Field(j).Type == 'M') {
        t->Memo(j);
      } else if (t->Field(j).Type == 'N') {
        t->Double(j);
      }
    }
  }
  if (t->Top()) {
    // Writing memos over whatever the memo header and pointers claim.
    for (int j = 0; j < t->FieldCount(); ++j) {
      if (t->Field(j).Type == 'M') t->AssignMemo(j, std::string(static_cast<size_t>(j * 40 + 1), 'w'), j % 2);
    }
    t->Flush();
  }
  if (t->Top()) {
    std::string key(t->Raw(0));
    t->Seek(key);
    t->SeekNext(key);
    t->Delete();
  }
  t->AppendStart();
  t->Append();
  t->Pack(true);
  t->CompactMemo();
  // What was written must read back after a restart.
  t.reset();
  engine = CreateXbEngine(fs);
  engine->SetJournalPath("/f/DB.jnl");
  if (auto again = engine->Open("/f/T.dbf")) {
    for (bool ok = again->Top(); ok; ok = again->Skip()) {
      for (int j = 0; j < again->FieldCount(); ++j) {
        if (again->Field(j).Type == 'M') again->Memo(j);
      }
    }
  }
  return 0;
}
