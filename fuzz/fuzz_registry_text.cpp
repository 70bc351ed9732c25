// Feeds arbitrary bytes to the settings store's file reader; whatever parses must save and parse back the
// same.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/RegistryTree.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const auto tree = vandrel::ParseRegistry(text)) {
    const std::string saved = vandrel::SerializeRegistry(*tree, "fuzz");
    const auto again = vandrel::ParseRegistry(saved);
    if (!again || vandrel::SerializeRegistry(*again, "fuzz") != saved) std::abort();
  }
  return 0;
}
