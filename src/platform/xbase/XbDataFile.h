// The shared state of one table on disk: header, records, memo blocks and tags. Every handle on the same
// physical file uses one of these; it holds the exclusive lock for as long as it lives.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/xbase/XbFormat.h"
#include "platform/xbase/XbPagedFile.h"
#include "platform/xbase/XbTag.h"

namespace vandrel {

class TXbDataFile {
 public:
  TXbDataFile(std::string path, std::string memoPath, std::unique_ptr<TXbPagedFile> dbf,
              std::unique_ptr<TXbPagedFile> fpt);

  // Reads header and memo header and rebuilds every tag; `why` names what is damaged.
  bool Load(std::string& why);

  const std::string& Path() const { return path_; }
  const std::string& MemoPath() const { return memoPath_; }
  const TXbHeader& Header() const { return header_; }
  uint32_t Count() const { return count_; }
  uint64_t Generation() const { return generation_; }
  void BumpGeneration() { ++generation_; }
  TXbPagedFile& Dbf() { return *dbf_; }
  TXbPagedFile* Fpt() { return fpt_.get(); }
  bool IsDirty() const { return dbf_->IsDirty() || (fpt_ && fpt_->IsDirty()); }

  std::string BlankRecord() const { return std::string(header_.RecordLength, ' '); }
  bool ReadRecord(uint32_t recno, std::string& record);
  // Rewrites record `recno` and keeps the tags in step.
  bool WriteRecord(uint32_t recno, const std::string& oldRecord, const std::string& record);
  bool AppendRecord(const std::string& record, uint32_t& recno);

  // Reads the memo a block number points to. False (with `why`) when the block is damaged.
  bool ReadMemo(uint32_t block, std::string& data, std::string& why);
  // Stores a memo and gives its block number (0 for empty data); reuses the old block when it fits.
  bool WriteMemo(uint32_t oldBlock, std::string_view data, uint32_t type, uint32_t& block, std::string& why);
  // The block size for a rewritten memo file: the old one unless its header is unusable.
  // The memo file holds blocks, but its header cannot be read: none of them can be found.
  bool MemoHeaderDamaged() const { return memoBroken_ && fpt_ && fpt_->Size() > kFptHeaderSize; }
  uint32_t MemoBlockSize() const { return memoBroken_ || memo_.BlockSize == 0 ? 64 : memo_.BlockSize; }

  std::vector<std::unique_ptr<TXbTag>>& Tags() { return tags_; }
  int FindTag(const std::string& name) const;
  void RebuildTags();

 private:
  bool WriteHeaderPrefix();
  bool MemoUsable(std::string& why) const;

  std::string path_;
  std::string memoPath_;
  std::unique_ptr<TXbPagedFile> dbf_;
  std::unique_ptr<TXbPagedFile> fpt_;  // null for tables without memo fields
  TXbHeader header_;
  uint32_t count_ = 0;  // records, from the header, cut to what the file really holds
  TXbMemoHeader memo_;
  bool memoBroken_ = false;
  std::vector<std::unique_ptr<TXbTag>> tags_;
  uint64_t generation_ = 0;  // bumped whenever records may have changed under the handles
};

// The current date for headers: years since 1900, month, day.
void XbToday(int& year, int& month, int& day);

}  // namespace vandrel
