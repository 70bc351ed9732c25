// Streamable object lists, memory streams and bare property objects used between lists and back ends.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "storage/PropertyStream.h"

namespace vandrel {

// An ordered list of objects, streamed as the defined property "ObjectData". Each entry is either owned
// (added as a unique_ptr: removing, clearing or destroying the list destroys it) or only referenced.
class TPersistentList : public TPersistentEx {
  VANDREL_PERSISTENT(TPersistentList)
 public:
  TPersistentList() = default;
  TPersistentList(const TPersistentList&) = delete;
  TPersistentList& operator=(const TPersistentList&) = delete;
  ~TPersistentList() override;

  std::string Name;     // component name, written in the header of a whole object stream
  int SampleCount = 1;  // objects sampled by EstimateSize
  bool PreGrow = true;  // reserve buffer room ahead while the objects are written
  // Creates objects of classes that cannot create themselves while a stream is read.
  TCreatePersistentHook OnCreatePersistent;

  size_t Count() const { return Entries_.size(); }
  bool Empty() const { return Entries_.empty(); }
  TPersistent* Item(size_t index) const { return Entries_[index].Object; }
  template <class T>
  T* ItemAs(size_t index) const {
    return dynamic_cast<T*>(Entries_[index].Object);
  }
  TPersistent* Add(std::unique_ptr<TPersistent> object);
  void AddRef(TPersistent* object);
  // Removes the first entry of `object` (destroying it when owned); false when absent.
  bool Remove(TPersistent* object);
  void Delete(size_t index);
  // Takes an entry out without destroying it; null when the entry was only referenced.
  std::unique_ptr<TPersistent> Extract(size_t index);
  // Empties the list, handing over the owned entries in order.
  std::vector<std::unique_ptr<TPersistent>> ExtractAll();
  void Clear();
  int IndexOf(const TPersistent* object) const;
  void Sort(const std::function<bool(TPersistent*, TPersistent*)>& less);
  // Entry i becomes the former entry order[i]; `order` must be a permutation of the positions.
  void Reorder(const std::vector<size_t>& order);
  // Bytes the whole list would take in a stream, extrapolated from the first SampleCount objects.
  size_t EstimateSize() const;

  void DefineProperties(TFiler& filer) override;

 protected:
  // Called after an object joined the list (also when read from a stream).
  virtual void Added(TPersistent* object) {}

 private:
  struct TEntry {
    TPersistent* Object;
    std::unique_ptr<TPersistent> Owned;
  };
  void WriteObjects(TPropertyWriter& writer) const;
  void ReadObjects(TPropertyReader& reader);

  std::vector<TEntry> Entries_;
};

// A byte buffer published as the binary property "Stream" (written only when not empty).
class TPersistentStream : public TPersistentEx {
  VANDREL_PERSISTENT(TPersistentStream)
 public:
  TBytes Data;
  void Clear() { Data.clear(); }
  bool Empty() const { return Data.empty(); }
  void DefineProperties(TFiler& filer) override;
};

class TPersistentMemoryStream : public TPersistentStream {
  VANDREL_PERSISTENT(TPersistentMemoryStream)
};

// An object saved as a bare property list (no header); login information is one.
class TStreamingPersistent : public TPersistentEx {
  VANDREL_PERSISTENT(TStreamingPersistent)
 public:
  void SaveToStream(TBytes& out) const { WritePropertyList(out, *this); }
  void LoadFromStream(std::span<const uint8_t> bytes) { ReadPropertyList(bytes, *this); }
};

}  // namespace vandrel
