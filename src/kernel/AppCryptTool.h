// The reversible scrambler that keeps secret settings (proxy credentials) out of plain sight in the store.
#pragma once

#include <string>
#include <string_view>

namespace vandrel {

// Not encryption: it only keeps a password from being read at a glance. The permutation and the byte
// shifts come from a generator seeded by the text's length, so Unscramble(Scramble(t)) == t for every
// text. The generator is private to each call; no process-wide random state is touched.
class TAppCryptTool {
 public:
  static std::string Scramble(std::string_view text);
  static std::string Unscramble(std::string_view text);
};

}  // namespace vandrel
