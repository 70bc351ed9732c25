// The update site's information files (".vui"): which search types, categories, engines, shared scripts
// and program builds are current; and the "ZS" wrapper that any delivered file may carry.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vandrel {

// ---------------------------------------------------------------------------------------------------
// The compressed-stream wrapper: the bytes "ZS", 1, 0, then a zlib stream running to the end of the data.

inline constexpr std::string_view kZsSignature{"ZS\x01\x00", 4};
// No delivered file may inflate to more than this; a bigger one is refused as damaged or hostile.
inline constexpr uint64_t kMaxInflatedSize = 64ull * 1024 * 1024;

enum class TZsResult {
  NotWrapped,  // no signature: the data is used as it stands
  Inflated,
  BadStream,  // damaged zlib stream, or bytes after its end
  TooLarge,   // would inflate beyond the limit
};

bool HasZsSignature(std::string_view data);
// Inflates what follows the signature into `out` (replacing it). NotWrapped leaves `out` untouched.
TZsResult ZsDecompress(std::string_view data, std::string& out, uint64_t limit = kMaxInflatedSize);
// The plain bytes of `data`: inflated when wrapped, else a copy. False when wrapped but unusable.
bool ZsUnwrap(std::string_view data, std::string& out, uint64_t limit = kMaxInflatedSize);
// Wraps `plain` (the update site's side; the program itself never compresses).
std::string ZsCompress(std::string_view plain, int level = 6);
const char* ZsResultText(TZsResult result);

// ---------------------------------------------------------------------------------------------------
// Entries of the information files.

// An integer field: decimal, or hexadecimal after "$"; `fallback` when empty or unreadable.
int32_t ReadVuiInteger(std::string_view field, int32_t fallback);
// A value split at every "|"; n separators give n+1 fields.
std::vector<std::string> SplitVuiFields(std::string_view value);

struct TVUIFileVersion {
  std::string Name;
  int32_t MinCompilerVersion = 0;  // the entry applies only to a compiler at least this new
  int32_t Version = 0;             // compared with the installed file's header FileVersion
};

struct TVUICategoryVersion : TVUIFileVersion {
  bool FetchEngines = false;  // ask for the category's engine file when it has no stored engines
  bool SkipIfAbsent = true;   // a category that is not installed is not installed by an update
};

struct TVersionVUISoftwareUpdate {
  int32_t FirstBuild = 0;
  int32_t LastBuild = 0;
  bool Flag = false;  // held and written back; nothing acts on it
  std::string Text1, Text2;
  std::vector<std::string> Addresses;  // up to the first empty field; the first is the one used
};

// Entries in file order. Lookups compare names exactly (letter case counts).
template <class T>
class TVUIList {
 public:
  size_t Count() const { return Items_.size(); }
  const T& Items(size_t index) const { return Items_[index]; }
  int IndexOf(std::string_view name) const {
    for (size_t i = 0; i < Items_.size(); ++i)
      if (Items_[i].Name == name) return static_cast<int>(i);
    return -1;
  }
  const T* Find(std::string_view name) const {
    const int i = IndexOf(name);
    return i < 0 ? nullptr : &Items_[static_cast<size_t>(i)];
  }
  void Add(T item) { Items_.push_back(std::move(item)); }
  void Clear() { Items_.clear(); }
  auto begin() const { return Items_.begin(); }
  auto end() const { return Items_.end(); }

 private:
  std::vector<T> Items_;
};

using TVUIFileVersionList = TVUIList<TVUIFileVersion>;
using TVUICategoryVersionList = TVUIList<TVUICategoryVersion>;

class TVersionVUISoftwareUpdateList {
 public:
  size_t Count() const { return Items_.size(); }
  const TVersionVUISoftwareUpdate& Items(size_t index) const { return Items_[index]; }
  // The first entry in file order whose build range holds `build`.
  const TVersionVUISoftwareUpdate* FindByBuild(int32_t build) const;
  void Add(TVersionVUISoftwareUpdate item) { Items_.push_back(std::move(item)); }
  void Clear() { Items_.clear(); }
  auto begin() const { return Items_.begin(); }
  auto end() const { return Items_.end(); }

 private:
  std::vector<TVersionVUISoftwareUpdate> Items_;
};

// ---------------------------------------------------------------------------------------------------

// A sectioned text held in memory. Lines end at CR, LF or CR LF; empty lines and lines starting with ";"
// are dropped; "[name]" starts a section; lines before the first section are dropped; nothing is
// trimmed. Section names and keys are compared without regard to case.
class TVUI {
 public:
  struct TSection {
    std::string Name;
    std::vector<std::string> Lines;
  };

  virtual ~TVUI() = default;

  // Unwraps, splits into sections, then fills the derived lists anew. False (and everything empty) when
  // the data carries the signature but does not inflate.
  bool LoadFromBytes(std::string_view bytes);
  // The derived class rewrites every section from its fields, then the text is written plain.
  std::string SaveToBytes();

  // The first section of that name, or null.
  const TSection* FindSection(std::string_view name) const;
  // Each line's key, with the value of the first line of the section that has that key.
  std::vector<std::pair<std::string, std::string>> SectionEntries(std::string_view name) const;
  const std::vector<TSection>& Sections() const { return Sections_; }

 protected:
  virtual void ReadSections() = 0;
  virtual void WriteSections() = 0;
  void ClearSections() { Sections_.clear(); }
  void AddSection(std::string name, std::vector<std::string> lines);

 private:
  std::vector<TSection> Sections_;
};

// The program's version file: where to update from, and what is current.
class TVersionVUI : public TVUI {
 public:
  std::string UpdateSite;
  bool UpdateDisabled = false;
  int32_t UpdateFrequency = -1;  // read and held; nothing acts on it
  TVersionVUISoftwareUpdateList SoftwareUpdates;
  TVUIFileVersionList CustomScriptVersions;
  TVUIFileVersionList SearchTypeVersions;
  TVUICategoryVersionList CategoryVersions;

 protected:
  void ReadSections() override;
  void WriteSections() override;
};

// A category's engine-version file.
class TCategoryVUI : public TVUI {
 public:
  TVUIFileVersionList EngineVersions;

 protected:
  void ReadSections() override;
  void WriteSections() override;
};

}  // namespace vandrel
