// Updater blobs: the update site's answer format, a count followed by length-prefixed names and data.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vandrel {

// One named file of a blob. Its data may be plain, "ZS"-wrapped, or itself a blob (a category package).
struct TFileInfo {
  std::string Name;
  std::string Data;
};

using TFileInfoList = std::vector<TFileInfo>;

// ORDER/VALUES: reported by number in diagnostics; never renumber.
enum class TBlobReadResult {
  Ok = 0,
  Truncated = 1,  // the bytes end inside the count or an entry
  BadLength = 2,  // a name length below zero or beyond the bytes that remain
};

// Integers are signed 32-bit little-endian: count N, then per entry name length L, name, data length D
// and D data bytes. Entries with D <= 0 carry no data and are not kept.
class TUpdaterBlob {
 public:
  // Appends the entries of `bytes` to those already held. Every length is checked against the bytes that
  // remain before anything is allocated; on a failure the entries read before it stay.
  TBlobReadResult LoadFromBytes(std::string_view bytes);
  // The blob as the site sends it.
  std::string SaveToBytes() const;

  size_t Count() const { return Items_.size(); }
  const TFileInfo& Items(size_t index) const { return Items_[index]; }
  // The first entry whose name equals `name` exactly, or -1.
  int IndexOf(std::string_view name) const;
  void Add(std::string name, std::string data);
  void Clear() { Items_.clear(); }

 private:
  TFileInfoList Items_;
};

const char* BlobReadResultText(TBlobReadResult result);

// A file name the update site chose: a plain name, never a path ("..", ".", absolute names, separators,
// control bytes and NUL are refused). `allowFolder` admits exactly one "folder/name" level.
bool IsSafeUpdateName(std::string_view name, bool allowFolder = false);

}  // namespace vandrel
