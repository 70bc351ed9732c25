#include "kernel/AppCryptTool.h"

#include <cstdint>
#include <vector>

namespace vandrel {
namespace {

constexpr uint8_t kMask = 0xA7;
constexpr int kRotation = 3;

// The classic linear congruential generator (multiplier 134775813); Next(n) is the high part of the
// 32x32-bit product, so every value below n comes up within the generator's full period.
class TScrambleRandom {
 public:
  explicit TScrambleRandom(size_t length)
      : state_(static_cast<uint32_t>(static_cast<double>(length % 37) / 37.0 * 2147483647.0)) {}

  uint32_t Next(uint32_t range) {
    state_ = state_ * 134775813u + 1u;
    return static_cast<uint32_t>((static_cast<uint64_t>(state_) * range) >> 32);
  }

 private:
  uint32_t state_;
};

uint8_t RotateLeft(uint8_t b) {
  return static_cast<uint8_t>(b << kRotation | b >> (8 - kRotation));
}
uint8_t RotateRight(uint8_t b) {
  return static_cast<uint8_t>(b >> kRotation | b << (8 - kRotation));
}

// Calls step(source index, target position, shift) in the drawing order both directions share.
template <typename Step>
void Walk(size_t length, Step step) {
  TScrambleRandom random(length);
  std::vector<bool> used(length, false);
  const auto range = static_cast<uint32_t>(length);
  for (size_t i = 0; i < length; ++i) {
    uint32_t position;
    do position = random.Next(range);
    while (used[position]);
    used[position] = true;
    step(i, position, static_cast<uint8_t>(random.Next(255)));
  }
}

}  // namespace

std::string TAppCryptTool::Scramble(std::string_view text) {
  std::string out(text.size(), '\0');
  Walk(text.size(), [&](size_t i, uint32_t position, uint8_t shift) {
    const auto shifted = static_cast<uint8_t>(static_cast<uint8_t>(text[i]) + shift);
    out[position] = static_cast<char>(RotateLeft(shifted ^ kMask));
  });
  return out;
}

std::string TAppCryptTool::Unscramble(std::string_view text) {
  std::string out(text.size(), '\0');
  Walk(text.size(), [&](size_t i, uint32_t position, uint8_t shift) {
    const auto unmasked = static_cast<uint8_t>(RotateRight(static_cast<uint8_t>(text[position])) ^ kMask);
    out[i] = static_cast<char>(static_cast<uint8_t>(unmasked - shift));
  });
  return out;
}

}  // namespace vandrel
