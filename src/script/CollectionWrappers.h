// Script access to collections, their records and string lists (members, indexing, For Each).
#pragma once

#include "script/Collections.h"
#include "script/Variables.h"

namespace vandrel {

// Text of a key or an argument: strings as they are, numbers in the general format.
std::string HostText(const THostValue& v);

// "count", "casesensitive", "sorted", "records", "add"(key[, value]), "find"(key); `c[key]`,
// `c[key].field`; the bare name reads the default key's record when the collection has a default key.
class TZnCollectionWrapper : public TWrapperOf<TZnCollectionWrapper, TZnCollection, TBaseCollectionWrapper> {
 public:
  TZnCollectionWrapper(std::string name, std::shared_ptr<TZnCollection> coll, TBaseCompiler* compiler);

  THostValue GetProperty(const std::string& name) override;
  THostValue GetIndexed(const THostValue& key, const std::string& member) override;
  void SetProperty(const std::string& name, const THostValue& value) override;
  void SetIndexed(const THostValue& key, const std::string& member, const THostValue& value,
                  const THostValue& memberArg) override;
  void SetIndexedObject(const THostValue& key, const std::string& member, const TObjectRef& object,
                        const THostValue& memberArg) override;
  TVariablePtr Select(int index) override;

  TZnCollection& Collection() { return *target_; }
};

// One record: "key" (read only), "defaultvalue" or the bare name, any other name is a field.
class TZnCollectionRecordWrapper : public TWrapperOf<TZnCollectionRecordWrapper, TZnCollectionRecord> {
 public:
  TZnCollectionRecordWrapper(std::string name, TZnCollectionRecordPtr rec, TBaseCompiler* compiler);

  THostValue GetProperty(const std::string& name) override;
  void SetProperty(const std::string& name, const THostValue& value) override;
  void SetPropertyObject(const std::string& name, const TObjectRef& object) override;

  static THostValue ReadMember(TZnCollectionRecord& rec, const std::string& member);
  static TBaseEvalItem& WriteTarget(TZnCollectionRecord& rec, const std::string& member);
};

// The records view of a collection: "count", `records[key]` (the record as an Object), `records[key].f`.
class TZnCollectionRecordsWrapper
    : public TWrapperOf<TZnCollectionRecordsWrapper, TZnCollection, TBaseCollectionWrapper> {
 public:
  TZnCollectionRecordsWrapper(std::string name, std::shared_ptr<TZnCollection> coll, TBaseCompiler* compiler);

  THostValue GetProperty(const std::string& name) override;
  THostValue GetIndexed(const THostValue& key, const std::string& member) override;
  void SetIndexed(const THostValue& key, const std::string& member, const THostValue& value,
                  const THostValue& memberArg) override;
  TVariablePtr Select(int index) override;
};

// "count", "casesensitive", "sorted", "add"(s) (0-based index), "split"(s, sep), "find"/"indexof"(s)
// (1-based), "clear"; `list[i]` is 1-based.
class TZnStringListWrapper : public TWrapperOf<TZnStringListWrapper, TZnStringList, TBaseCollectionWrapper> {
 public:
  TZnStringListWrapper(std::string name, std::shared_ptr<TZnStringList> list, TBaseCompiler* compiler);

  THostValue GetProperty(const std::string& name) override;
  THostValue GetIndexed(const THostValue& key, const std::string& member) override;
  void SetProperty(const std::string& name, const THostValue& value) override;
  void SetIndexed(const THostValue& key, const std::string& member, const THostValue& value,
                  const THostValue& memberArg) override;
  TVariablePtr Select(int index) override;

  TZnStringList& List() { return *target_; }
};

}  // namespace vandrel
