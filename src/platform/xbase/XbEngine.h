// The xBase engine: FoxPro 2.x tables with memo files and in-memory tags, crash-safe through a rollback
// journal. The database kernel reaches files only through these two interfaces.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xbase/XbFileSystem.h"
#include "platform/xbase/XbFormat.h"

namespace vandrel {

// Engine error codes. VALUES: the kernel stores them as its last error; keep them stable.
enum TXbError : int {
  xbeNone = 0,
  xbeRead = -10,      // a read failed
  xbeWrite = -20,     // a write or sync failed
  xbeCreate = -21,    // a file could not be created
  xbeExists = -22,    // creating would replace a table that still holds data
  xbeField = -30,     // no such field, or the field's type does not allow the access
  xbeOverflow = -31,  // the value does not fit the field
  xbeMemo = -40,      // a memo block is damaged
  xbeNoRecord = -50,  // no current record
  xbeTag = -51,       // no such tag, or its expression cannot be evaluated
  xbeMissing = -61,   // the file does not exist
  xbeLocked = -62,    // another process (or another open of this one) holds the file
  xbeEmpty = -63,     // the file is empty
  xbeDamaged = -64,   // the header cannot be read
  xbeBatch = -70,     // not allowed while a batch is open
  xbeJournal = -71,   // an interrupted commit could not be rolled back
  xbeReadOnly = -72,  // the files cannot be written (a read-only mount, no write permission)
};

struct TXbTagDef {
  std::string Name;
  std::string Expression;  // field, STR(f, w, d), DESCEND(...), joined with "+"
  std::string Filter;      // "" or ".NOT. DELETED()"
  bool Unique = false;     // a record whose key already exists is left out
};

// One open table: its own cursor and record buffer over a file shared with every other handle on it.
// Closing is destroying; a changed record is written first.
class IXbTable {
 public:
  virtual ~IXbTable() = default;

  virtual int FieldCount() const = 0;
  virtual const TXbFieldDef& Field(int j) const = 0;  // 0-based
  virtual uint32_t RecordCount() = 0;
  virtual uint32_t RecNo() const = 0;  // 0 when there is no current record
  virtual bool Eof() const = 0;

  // Tags live with the file; creating one that exists with the same definition keeps it.
  virtual bool CreateTags(const std::vector<TXbTagDef>& tags) = 0;
  virtual bool SelectTag(const std::string& name) = 0;  // "" selects record order

  // Navigation writes a changed record first. Records marked deleted are skipped.
  virtual bool Top() = 0;
  virtual bool Skip() = 0;
  // Exact prefix seek on the selected tag; SeekNext moves on to the next record with the same prefix.
  virtual bool Seek(std::string_view key) = 0;
  virtual bool SeekNext(std::string_view key) = 0;

  virtual bool AppendStart() = 0;
  virtual bool Append() = 0;
  virtual bool Delete() = 0;
  virtual bool Flush() = 0;

  // The raw bytes of a field in the record buffer.
  virtual std::string_view Raw(int j) const = 0;
  // Character fields left-aligned, numbers right-aligned, both blank-padded.
  virtual bool Assign(int j, std::string_view text) = 0;
  // Raw bytes, blank-padded to the field width.
  virtual bool AssignRaw(int j, std::string_view bytes) = 0;
  virtual double Double(int j) const = 0;
  virtual bool AssignDouble(int j, double value) = 0;
  virtual std::string Memo(int j) = 0;
  virtual bool AssignMemo(int j, std::string_view data, bool binary) = 0;

  // Removes the records marked deleted; with `compactMemo` also rewrites the memo file with only the
  // blocks in use. New files are built beside the old ones and swapped in by a commit of their own.
  virtual bool Pack(bool compactMemo) = 0;
  // Memo compaction alone: 0, -2 data file unreadable, -4 read or write failed, -5 swap failed.
  virtual int CompactMemo() = 0;
};

class IXbEngine {
 public:
  virtual ~IXbEngine() = default;

  // Where the rollback journal lives; set before the first table opens.
  virtual void SetJournalPath(const std::string& path) = 0;
  // Set before the first table opens. Tables are opened for reading under shared locks, so writers in
  // other processes are kept out but readers are not; every change, creation and rebuild is refused
  // with xbeReadOnly, and so is an open that would first have to roll back an interrupted commit.
  virtual void SetReadOnly(bool on) = 0;
  virtual bool ReadOnly() const = 0;
  // Rolls back an interrupted commit. Also done before any open when a journal is found.
  virtual bool Recover() = 0;
  virtual void SetMemoBlockSize(uint32_t size) = 0;  // for memo files created afterwards

  virtual std::unique_ptr<IXbTable> Open(const std::string& path) = 0;
  // Creates a table where none exists or the file is empty; a file whose header cannot be read is moved
  // aside under a numbered name first. A readable table is never replaced.
  virtual std::unique_ptr<IXbTable> Create(const std::string& path,
                                           const std::vector<TXbFieldDef>& fields) = 0;

  // Groups changes: nothing reaches the files until the outermost CommitBatch. Without a batch each
  // change commits on its own.
  virtual void BeginBatch() = 0;
  virtual bool CommitBatch() = 0;
  virtual void RollbackBatch() = 0;
  virtual bool InBatch() const = 0;

  virtual int ErrorCode() const = 0;
  virtual const std::string& ErrorText() const = 0;
  virtual void ClearError() = 0;
};

std::unique_ptr<IXbEngine> CreateXbEngine(std::shared_ptr<IXbFileSystem> fs = nullptr);

}  // namespace vandrel
