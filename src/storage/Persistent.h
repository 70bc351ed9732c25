// Streamable objects: class descriptions with published property tables, the class registry, collections.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "storage/DynamicValue.h"

namespace vandrel {

class TPersistent;
class TPropertyReader;
class TPropertyWriter;

// How a published property is streamed.
enum class TPropKind {
  Integer,  // 32-bit signed, smallest integer tag
  Enum,     // identifier of the value's name
  Boolean,  // False / True tags
  Set,      // member names; bit i stands for Names[i]
  String,
  Float,    // extended float
  Variant,  // dynamic value
  Object,   // nested object: its properties prefixed "Name.", or a collection
};

// One published property: its name, kind, declared default and type-erased accessors.
struct TPropInfo {
  std::string Name;
  TPropKind Kind = TPropKind::Integer;
  int64_t Default = 0;             // ordinal kinds: a value equal to it is not written
  bool AlwaysWritten = false;      // written even when equal to Default
  std::vector<std::string> Names;  // Enum and Set member names, in ordinal order
  std::function<int64_t(const TPersistent&)> GetOrdinal;
  std::function<void(TPersistent&, int64_t)> SetOrdinal;
  std::function<std::string(const TPersistent&)> GetString;
  std::function<void(TPersistent&, std::string)> SetString;
  std::function<double(const TPersistent&)> GetFloat;
  std::function<void(TPersistent&, double)> SetFloat;
  std::function<TDynamicValue(const TPersistent&)> GetVariant;
  std::function<void(TPersistent&, TDynamicValue)> SetVariant;
  std::function<TPersistent*(const TPersistent&)> GetObject;  // may return null: nothing written
};

// A streamable class: name, ancestor, constructor and its own published properties in declaration order.
class TClassInfo {
 public:
  std::string Name;
  const TClassInfo* Parent = nullptr;
  std::function<std::unique_ptr<TPersistent>()> Create;  // empty for abstract classes
  std::vector<TPropInfo> Properties;

  bool InheritsFrom(const TClassInfo& other) const;
  // Searches this class and its ancestors; letter case ignored.
  const TPropInfo* FindProperty(std::string_view name) const;
  // Every published property, those of ancestor classes first.
  std::vector<const TPropInfo*> AllProperties() const;
};

// Makes a class known to the stream readers by its name; registering a name twice keeps the first.
void RegisterClass(const TClassInfo& info);
// Letter case ignored; null when the class is not registered.
const TClassInfo* FindClass(std::string_view name);

// Called by an object while it is streamed, to write or read its unpublished ("defined") properties.
class TFiler {
 public:
  virtual ~TFiler() = default;
  virtual void DefineProperty(std::string_view name, const std::function<void(TPropertyReader&)>& read,
                              const std::function<void(TPropertyWriter&)>& write, bool hasData) = 0;
  // The value is a binary block: the writer fills `out`, the reader gets the block's bytes.
  virtual void DefineBinaryProperty(std::string_view name,
                                    const std::function<void(std::span<const uint8_t>)>& read,
                                    const std::function<void(std::vector<uint8_t>& out)>& write,
                                    bool hasData) = 0;
};

// Declares the class description of a streamable class.
#define VANDREL_PERSISTENT(Class)                           \
 public:                                                    \
  static const ::vandrel::TClassInfo& StaticClass();        \
  const ::vandrel::TClassInfo& ClassType() const override { \
    return StaticClass();                                   \
  }

// Root of everything that can be written to or read from a property stream.
class TPersistent {
 public:
  virtual ~TPersistent() = default;
  static const TClassInfo& StaticClass();
  virtual const TClassInfo& ClassType() const { return StaticClass(); }
  const std::string& ClassName() const { return ClassType().Name; }
  bool InheritsFrom(const TClassInfo& info) const { return ClassType().InheritsFrom(info); }
  // Unpublished data written after the published properties.
  virtual void DefineProperties(TFiler& filer) {}
};

// A streamable record class that a reader may create by its class name.
class TPersistentEx : public TPersistent {
  VANDREL_PERSISTENT(TPersistentEx)
};

class TCollection;

// One element of a collection; streamed as a list of its properties.
class TCollectionItem : public TPersistent {
  VANDREL_PERSISTENT(TCollectionItem)
 public:
  TCollection* Collection() const { return Collection_; }
  int Index() const;

 protected:
  // Tells the collection that this element changed.
  void Changed();

 private:
  friend class TCollection;
  TCollection* Collection_ = nullptr;
};

// An owning, ordered list of elements of one item class.
class TCollection : public TPersistent {
  VANDREL_PERSISTENT(TCollection)
 public:
  explicit TCollection(const TClassInfo& itemClass) : ItemClass_(&itemClass) {}
  TCollection(const TCollection&) = delete;
  TCollection& operator=(const TCollection&) = delete;

  const TClassInfo& ItemClass() const { return *ItemClass_; }
  size_t Count() const { return Items_.size(); }
  TCollectionItem* Item(size_t index) const { return Items_[index].get(); }
  // Appends a new element of the item class.
  TCollectionItem* Add();
  void Delete(size_t index);
  void Clear();
  int IndexOf(const TCollectionItem* item) const;
  // Copies the elements of `source` through a property stream.
  void Assign(const TCollection& source);

  // Called when an element changed (null: the whole collection).
  virtual void Update(TCollectionItem* item) {}

 private:
  const TClassInfo* ItemClass_;
  std::vector<std::unique_ptr<TCollectionItem>> Items_;
};

// A list of strings, streamed as the defined property "Strings".
class TStrings : public TPersistent {
  VANDREL_PERSISTENT(TStrings)
 public:
  std::vector<std::string> Lines;
  void DefineProperties(TFiler& filer) override;
};

// Builds the description of class C; C's accessors take C& where the table stores TPersistent&.
template <class C>
class TClassBuilder {
 public:
  TClassBuilder(std::string name, const TClassInfo& parent) {
    info_.Name = std::move(name);
    info_.Parent = &parent;
    if constexpr (std::is_default_constructible_v<C> && !std::is_abstract_v<C>)
      info_.Create = [] { return std::unique_ptr<TPersistent>(new C()); };
  }

  template <class Get, class Set>
  TClassBuilder& Integer(std::string name, Get get, Set set, int32_t def = 0) {
    return Ordinal(std::move(name), TPropKind::Integer, get, set, def, {});
  }
  TClassBuilder& Integer(std::string name, int32_t C::*field, int32_t def = 0) {
    return Integer(std::move(name), Getter(field), Setter(field), def);
  }
  template <class Get, class Set>
  TClassBuilder& Boolean(std::string name, Get get, Set set, bool def = false) {
    return Ordinal(std::move(name), TPropKind::Boolean, get, set, def ? 1 : 0, {});
  }
  TClassBuilder& Boolean(std::string name, bool C::*field, bool def = false) {
    return Boolean(std::move(name), Getter(field), Setter(field), def);
  }
  template <class E>
  TClassBuilder& Enum(std::string name, E C::*field, std::vector<std::string> names, E def = E{}) {
    return Ordinal(std::move(name), TPropKind::Enum, Getter(field), Setter(field), static_cast<int64_t>(def),
                   std::move(names));
  }
  template <class T>
  TClassBuilder& Set(std::string name, T C::*field, std::vector<std::string> names, T def = 0) {
    return Ordinal(std::move(name), TPropKind::Set, Getter(field), Setter(field), static_cast<int64_t>(def),
                   std::move(names));
  }
  template <class Get, class SetFn>
  TClassBuilder& String(std::string name, Get get, SetFn set) {
    TPropInfo& p = Add(std::move(name), TPropKind::String);
    p.GetString = [get](const TPersistent& o) {
      return std::string(std::invoke(get, static_cast<const C&>(o)));
    };
    p.SetString = [set](TPersistent& o, std::string v) {
      std::invoke(set, static_cast<C&>(o), std::move(v));
    };
    return *this;
  }
  TClassBuilder& String(std::string name, std::string C::*field) {
    return String(std::move(name), Getter(field), Setter(field));
  }
  template <class Get, class SetFn>
  TClassBuilder& Float(std::string name, Get get, SetFn set) {
    TPropInfo& p = Add(std::move(name), TPropKind::Float);
    p.GetFloat = [get](const TPersistent& o) {
      return static_cast<double>(std::invoke(get, static_cast<const C&>(o)));
    };
    p.SetFloat = [set](TPersistent& o, double v) { std::invoke(set, static_cast<C&>(o), v); };
    return *this;
  }
  TClassBuilder& Float(std::string name, double C::*field) {
    return Float(std::move(name), Getter(field), Setter(field));
  }
  template <class Get, class SetFn>
  TClassBuilder& Variant(std::string name, Get get, SetFn set) {
    TPropInfo& p = Add(std::move(name), TPropKind::Variant);
    p.GetVariant = [get](const TPersistent& o) {
      return TDynamicValue(std::invoke(get, static_cast<const C&>(o)));
    };
    p.SetVariant = [set](TPersistent& o, TDynamicValue v) {
      std::invoke(set, static_cast<C&>(o), std::move(v));
    };
    return *this;
  }
  TClassBuilder& Variant(std::string name, TDynamicValue C::*field) {
    return Variant(std::move(name), Getter(field), Setter(field));
  }
  // A nested object the instance owns; `get` returns a pointer to it (or null).
  template <class Get>
  TClassBuilder& Object(std::string name, Get get) {
    TPropInfo& p = Add(std::move(name), TPropKind::Object);
    p.GetObject = [get](const TPersistent& o) -> TPersistent* {
      return std::invoke(get, const_cast<C&>(static_cast<const C&>(o)));
    };
    return *this;
  }
  template <class T>
  TClassBuilder& Object(std::string name, T C::*field) {
    return Object(std::move(name), [field](C& c) -> TPersistent* {
      if constexpr (std::is_pointer_v<T>)
        return c.*field;
      else if constexpr (requires { (c.*field).get(); })
        return (c.*field).get();
      else
        return &(c.*field);
    });
  }

  // The property just added is written even at its default value.
  TClassBuilder& AlwaysWritten() {
    info_.Properties.back().AlwaysWritten = true;
    return *this;
  }

  TClassInfo Build() { return std::move(info_); }

 private:
  template <class T>
  static auto Getter(T C::*field) {
    return [field](const C& c) -> T { return c.*field; };
  }
  template <class T>
  static auto Setter(T C::*field) {
    return [field](C& c, T v) { c.*field = std::move(v); };
  }
  TPropInfo& Add(std::string name, TPropKind kind) {
    info_.Properties.push_back({});
    TPropInfo& p = info_.Properties.back();
    p.Name = std::move(name);
    p.Kind = kind;
    return p;
  }
  template <class Get, class SetFn>
  TClassBuilder& Ordinal(std::string name, TPropKind kind, Get get, SetFn set, int64_t def,
                         std::vector<std::string> names) {
    TPropInfo& p = Add(std::move(name), kind);
    p.Default = def;
    p.Names = std::move(names);
    p.GetOrdinal = [get](const TPersistent& o) {
      return static_cast<int64_t>(std::invoke(get, static_cast<const C&>(o)));
    };
    p.SetOrdinal = [set](TPersistent& o, int64_t v) {
      using Arg = std::remove_cvref_t<decltype(std::invoke(get, std::declval<const C&>()))>;
      std::invoke(set, static_cast<C&>(o), static_cast<Arg>(v));
    };
    return *this;
  }

  TClassInfo info_;
};

// Case-insensitive comparison of ASCII names, as class and property names are matched.
bool SameName(std::string_view a, std::string_view b);

}  // namespace vandrel
