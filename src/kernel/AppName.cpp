#include "kernel/AppName.h"

#include <cstring>

namespace vandrel {
namespace {

std::string& Name() {
  static std::string name;
  return name;
}

}  // namespace

void RegisterAppName(std::string name) {
  Name() = std::move(name);
}

const std::string& AppName() {
  return Name();
}

std::string ExpandAppName(std::string_view text) {
  if (Name().empty()) return std::string(text);
  const size_t placeholder = std::strlen(kAppNamePlaceholder);
  std::string out;
  size_t from = 0;
  for (size_t at; (at = text.find(kAppNamePlaceholder, from)) != std::string_view::npos;
       from = at + placeholder) {
    out.append(text.substr(from, at - from));
    out += Name();
  }
  out.append(text.substr(from));
  return out;
}

}  // namespace vandrel
