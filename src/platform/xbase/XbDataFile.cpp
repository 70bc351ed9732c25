#include "platform/xbase/XbDataFile.h"

#include <algorithm>
#include <cctype>
#include <ctime>

namespace vandrel {

void XbToday(int& year, int& month, int& day) {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  year = tm.tm_year;
  month = tm.tm_mon + 1;
  day = tm.tm_mday;
}

TXbDataFile::TXbDataFile(std::string path, std::string memoPath, std::unique_ptr<TXbPagedFile> dbf,
                         std::unique_ptr<TXbPagedFile> fpt)
    : path_(std::move(path)), memoPath_(std::move(memoPath)), dbf_(std::move(dbf)), fpt_(std::move(fpt)) {}

bool TXbDataFile::Load(std::string& why) {
  ++generation_;
  if (!dbf_->Load()) {
    why = "cannot read the data file";
    return false;
  }
  std::string prefix;
  if (dbf_->Size() < kDbfPrefix || !dbf_->Read(0, prefix, kDbfPrefix)) {
    why = "file shorter than a header";
    return false;
  }
  size_t length = DbfHeaderLength(prefix);
  std::string bytes;
  if (length > dbf_->Size() || !dbf_->Read(0, bytes, std::max(length, kDbfPrefix))) {
    why = "header longer than the file";
    return false;
  }
  TXbHeader header;
  if (!ParseDbfHeader(bytes, header, why)) return false;
  header_ = header;
  // Whole records only: a file cut short loses its torn tail, never the records before it.
  uint64_t room = (dbf_->Size() - header_.HeaderLength) / header_.RecordLength;
  count_ = static_cast<uint32_t>(std::min<uint64_t>(header_.RecordCount, room));
  memoBroken_ = false;
  if (header_.HasMemo()) {
    std::string m;
    if (!fpt_ || !fpt_->Load() || fpt_->Size() < kFptHeaderSize || !fpt_->Read(0, m, 8) ||
        !ParseFptHeader(m, memo_)) {
      memoBroken_ = true;
    }
  }
  RebuildTags();
  return true;
}

bool TXbDataFile::ReadRecord(uint32_t recno, std::string& record) {
  if (recno == 0 || recno > count_) return false;
  uint64_t at = header_.HeaderLength + static_cast<uint64_t>(recno - 1) * header_.RecordLength;
  return dbf_->Read(at, record, header_.RecordLength);
}

bool TXbDataFile::WriteRecord(uint32_t recno, const std::string& oldRecord, const std::string& record) {
  uint64_t at = header_.HeaderLength + static_cast<uint64_t>(recno - 1) * header_.RecordLength;
  if (!dbf_->Write(at, record)) return false;
  for (auto& tag : tags_) tag->Update(oldRecord, record, recno);
  return true;
}

bool TXbDataFile::WriteHeaderPrefix() {
  std::string prefix;
  if (!dbf_->Read(0, prefix, kDbfPrefix)) return false;
  int y, m, d;
  XbToday(y, m, d);
  PatchDbfHeader(prefix, count_, y, m, d);
  return dbf_->Write(0, prefix);
}

bool TXbDataFile::AppendRecord(const std::string& record, uint32_t& recno) {
  recno = count_ + 1;
  uint64_t at = header_.HeaderLength + static_cast<uint64_t>(count_) * header_.RecordLength;
  std::string bytes = record;
  bytes.push_back(static_cast<char>(kDbfEof));
  if (!dbf_->Write(at, bytes)) return false;
  ++count_;
  if (!WriteHeaderPrefix()) return false;
  for (auto& tag : tags_) tag->Insert(record, recno);
  return true;
}

bool TXbDataFile::MemoUsable(std::string& why) const {
  if (!fpt_ || memoBroken_) {
    why = "the memo file is missing or its header is damaged";
    return false;
  }
  return true;
}

bool TXbDataFile::ReadMemo(uint32_t block, std::string& data, std::string& why) {
  data.clear();
  if (block == 0) return true;
  if (!MemoUsable(why)) return false;
  uint64_t at = static_cast<uint64_t>(block) * memo_.BlockSize;
  unsigned char head[kFptBlockHeader];
  if (at < kFptHeaderSize || at > fpt_->Size() || fpt_->Size() - at < kFptBlockHeader ||
      !fpt_->Read(at, head, kFptBlockHeader)) {
    why = "memo block outside the memo file";
    return false;
  }
  uint32_t length = ReadBe32(head + 4);
  if (length > fpt_->Size() - at - kFptBlockHeader) {
    why = "memo length runs past the end of the memo file";
    return false;
  }
  if (!fpt_->Read(at + kFptBlockHeader, data, length)) {
    data.clear();
    why = "cannot read the memo file";
    return false;
  }
  return true;
}

bool TXbDataFile::WriteMemo(uint32_t oldBlock, std::string_view data, uint32_t type, uint32_t& block,
                            std::string& why) {
  block = 0;
  if (data.empty()) return true;
  if (!MemoUsable(why)) return false;
  const uint64_t size = memo_.BlockSize;
  if (data.size() > 0xFFFFFFFFull - kFptBlockHeader) {
    why = "memo too long";
    return false;
  }
  uint64_t need = (data.size() + kFptBlockHeader + size - 1) / size;
  if (oldBlock != 0) {
    std::string old, ignored;
    if (ReadMemo(oldBlock, old, ignored)) {
      uint64_t had = (old.size() + kFptBlockHeader + size - 1) / size;
      // Reuse only blocks wholly inside the file and below the free pointer, so nothing else lives there.
      if (had >= need && oldBlock + had <= memo_.NextFree) {
        block = oldBlock;
      }
    }
  }
  if (block == 0) {
    uint64_t end = (fpt_->Size() + size - 1) / size;
    uint64_t first = (kFptHeaderSize + size - 1) / size;
    // New blocks go at the real end: a damaged free pointer far beyond it would otherwise grow the file
    // by gigabytes or leave no room at all.
    uint64_t next = std::max<uint64_t>(end, first);
    if (next + need > 0xFFFFFFFFull) {
      why = "memo file full";
      return false;
    }
    block = static_cast<uint32_t>(next);
    memo_.NextFree = static_cast<uint32_t>(next + need);
    unsigned char head[4];
    WriteBe32(head, memo_.NextFree);
    if (!fpt_->Write(0, head, 4)) return false;
  }
  std::string bytes(kFptBlockHeader, '\0');
  WriteBe32(reinterpret_cast<unsigned char*>(bytes.data()), type);
  WriteBe32(reinterpret_cast<unsigned char*>(bytes.data()) + 4, static_cast<uint32_t>(data.size()));
  bytes.append(data);
  bytes.resize(static_cast<size_t>(need * size), '\0');
  if (!fpt_->Write(static_cast<uint64_t>(block) * size, bytes)) {
    why = "cannot write the memo file";
    return false;
  }
  return true;
}

int TXbDataFile::FindTag(const std::string& name) const {
  for (size_t i = 0; i < tags_.size(); ++i) {
    const auto& n = tags_[i]->Definition().Name;
    if (n.size() == name.size() && std::equal(n.begin(), n.end(), name.begin(), [](char a, char b) {
          return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
        })) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

void TXbDataFile::RebuildTags() {
  for (auto& tag : tags_) tag->Clear();
  if (tags_.empty()) return;
  // Collected and sorted once: far cheaper than inserting a large table's keys one by one.
  std::vector<std::vector<TXbTag::Entry>> built(tags_.size());
  for (auto& b : built) b.reserve(count_);
  std::string record, key;
  for (uint32_t r = 1; r <= count_; ++r) {
    if (!ReadRecord(r, record)) break;
    for (size_t i = 0; i < tags_.size(); ++i) {
      if (tags_[i]->KeyOf(record, key)) built[i].emplace_back(key, r);
    }
  }
  for (size_t i = 0; i < tags_.size(); ++i) tags_[i]->Assign(std::move(built[i]));
}

}  // namespace vandrel
