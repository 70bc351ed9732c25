// One field read or written under the mutex that guards it, for the many small accessors of shared state.
#pragma once

#include <mutex>
#include <utility>

namespace vandrel {

template <class T>
T ReadLocked(std::mutex& lock, const T& field) {
  std::lock_guard<std::mutex> g(lock);
  return field;
}

template <class T, class V>
void WriteLocked(std::mutex& lock, T& field, V&& value) {
  std::lock_guard<std::mutex> g(lock);
  field = std::forward<V>(value);
}

}  // namespace vandrel
