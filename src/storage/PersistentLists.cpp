#include "storage/PersistentLists.h"

#include <algorithm>
#include <stdexcept>

namespace vandrel {

namespace {
constexpr size_t kGrowStep = 4096;
}

const TClassInfo& TPersistentList::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TPersistentList>("TPersistentList", TPersistentEx::StaticClass()).Build();
  return info;
}

TPersistentList::~TPersistentList() = default;

TPersistent* TPersistentList::Add(std::unique_ptr<TPersistent> object) {
  TPersistent* raw = object.get();
  Entries_.push_back({raw, std::move(object)});
  Added(raw);
  return raw;
}

void TPersistentList::AddRef(TPersistent* object) {
  Entries_.push_back({object, nullptr});
  Added(object);
}

bool TPersistentList::Remove(TPersistent* object) {
  int index = IndexOf(object);
  if (index < 0) return false;
  Delete(static_cast<size_t>(index));
  return true;
}

void TPersistentList::Delete(size_t index) {
  if (index >= Entries_.size()) return;
  // Destroy after the entry is gone, so that the object's destructor sees a consistent list.
  std::unique_ptr<TPersistent> owned = std::move(Entries_[index].Owned);
  Entries_.erase(Entries_.begin() + static_cast<ptrdiff_t>(index));
}

std::unique_ptr<TPersistent> TPersistentList::Extract(size_t index) {
  if (index >= Entries_.size()) return nullptr;
  std::unique_ptr<TPersistent> owned = std::move(Entries_[index].Owned);
  Entries_.erase(Entries_.begin() + static_cast<ptrdiff_t>(index));
  return owned;
}

std::vector<std::unique_ptr<TPersistent>> TPersistentList::ExtractAll() {
  std::vector<std::unique_ptr<TPersistent>> owned;
  for (auto& entry : Entries_)
    if (entry.Owned) owned.push_back(std::move(entry.Owned));
  Entries_.clear();
  return owned;
}

void TPersistentList::Clear() {
  std::vector<TEntry> entries;
  entries.swap(Entries_);
}

int TPersistentList::IndexOf(const TPersistent* object) const {
  for (size_t i = 0; i < Entries_.size(); ++i)
    if (Entries_[i].Object == object) return static_cast<int>(i);
  return -1;
}

void TPersistentList::Sort(const std::function<bool(TPersistent*, TPersistent*)>& less) {
  std::stable_sort(Entries_.begin(), Entries_.end(),
                   [&less](const TEntry& a, const TEntry& b) { return less(a.Object, b.Object); });
}

void TPersistentList::Reorder(const std::vector<size_t>& order) {
  if (order.size() != Entries_.size()) throw std::logic_error("Reorder: not a permutation");
  std::vector<TEntry> entries;
  entries.reserve(Entries_.size());
  for (size_t from : order) entries.push_back(std::move(Entries_.at(from)));
  Entries_ = std::move(entries);
}

size_t TPersistentList::EstimateSize() const {
  if (SampleCount <= 0 || Entries_.size() < static_cast<size_t>(SampleCount)) return 0;
  TBytes scratch;
  TPropertyWriter writer(scratch);
  for (int i = 0; i < SampleCount; ++i) WriteListedObject(writer, *Entries_[static_cast<size_t>(i)].Object);
  return scratch.size() / static_cast<size_t>(SampleCount) * Entries_.size();
}

void TPersistentList::WriteObjects(TPropertyWriter& writer) const {
  TBytes& buffer = writer.Buffer();
  // Room is reserved, never resized into the content: a stored blob ends at its final end of list.
  if (PreGrow) buffer.reserve(buffer.size() + kGrowStep);
  const size_t start = buffer.size();
  for (size_t i = 0; i < Entries_.size(); ++i) {
    if (PreGrow && i > 0 && buffer.capacity() - buffer.size() < kGrowStep) {
      size_t average = (buffer.size() - start) / i + 1;
      size_t wanted = average * (Entries_.size() - i);
      size_t free = buffer.capacity() - buffer.size();
      if (wanted > free) {
        size_t grow = (wanted - free + kGrowStep - 1) / kGrowStep * kGrowStep;
        buffer.reserve(buffer.capacity() + grow);
      }
    }
    WriteListedObject(writer, *Entries_[i].Object);
  }
  writer.WriteListEnd();
}

void TPersistentList::ReadObjects(TPropertyReader& reader) {
  Clear();
  reader.EnterNested();
  while (!reader.EndOfList()) Add(ReadListedObject(reader, OnCreatePersistent));
  reader.ReadListEnd();
  reader.LeaveNested();
}

void TPersistentList::DefineProperties(TFiler& filer) {
  filer.DefineProperty(
      "ObjectData", [this](TPropertyReader& reader) { ReadObjects(reader); },
      [this](TPropertyWriter& writer) { WriteObjects(writer); }, !Entries_.empty());
}

const TClassInfo& TPersistentStream::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TPersistentStream>("TPersistentStream", TPersistentEx::StaticClass()).Build();
  return info;
}

void TPersistentStream::DefineProperties(TFiler& filer) {
  filer.DefineBinaryProperty(
      "Stream",
      [this](std::span<const uint8_t> block) {
        // The block holds the buffer's own 32-bit length and then the buffer.
        if (block.size() < 4) throw EReadError("Stream read error");
        size_t length = block[0] | (block[1] << 8) | (block[2] << 16) | (static_cast<size_t>(block[3]) << 24);
        if (length > block.size() - 4) throw EReadError("Stream read error");
        Data.assign(block.begin() + 4, block.begin() + 4 + static_cast<ptrdiff_t>(length));
      },
      [this](std::vector<uint8_t>& out) {
        uint32_t length = static_cast<uint32_t>(Data.size());
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(length >> (8 * i)));
        out.insert(out.end(), Data.begin(), Data.end());
      },
      !Data.empty());
}

const TClassInfo& TPersistentMemoryStream::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TPersistentMemoryStream>("TPersistentMemoryStream", TPersistentStream::StaticClass())
          .Build();
  return info;
}

const TClassInfo& TStreamingPersistent::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TStreamingPersistent>("TStreamingPersistent", TPersistentEx::StaticClass()).Build();
  return info;
}

}  // namespace vandrel
