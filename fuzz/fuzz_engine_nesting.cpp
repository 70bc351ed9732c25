// Fuzzes the engine compiler with nested and deeply recursive sources: the input names a prefix, a middle
// and a suffix, and the prefix and suffix are repeated up to sixteen thousand times around the middle, so
// that deep If/While/For nesting, bracket towers and recursive procedures are cheap for the fuzzer to reach.
// Run it with -rss_limit_mb=512: compiling must stay linear in the size of the text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engines/EngineCompiler.h"

using namespace vandrel;

namespace {

// Byte 0: bit 7 wraps the text in "Procedure Init" so it runs, bits 0-6 times 128 is the repeat count.
// The rest: prefix, middle and suffix separated by byte 1 (a missing part is empty).
std::string BuildSource(const uint8_t* data, size_t size) {
  if (size == 0) return {};
  const bool wrap = (data[0] & 0x80) != 0;
  const size_t repeat = static_cast<size_t>(data[0] & 0x7F) * 128;
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string_view parts[3];
  for (int i = 0; i < 3; ++i) {
    size_t cut = i < 2 ? rest.find('\x01') : std::string_view::npos;
    parts[i] = rest.substr(0, cut);
    rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
  }
  std::string source;
  source.reserve((parts[0].size() + parts[2].size()) * repeat + parts[1].size() + 64);
  if (wrap) source += "Procedure Init\n";
  for (size_t i = 0; i < repeat; ++i) source += parts[0];
  source += parts[1];
  for (size_t i = 0; i < repeat; ++i) source += parts[2];
  if (wrap) source += "\nEndProcedure\n";
  return source;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string source = BuildSource(data, size);
  TEngineCompiler engine;
  engine.LoadFromStream(source);
  if (engine.Compile() != 0) return 0;
  // A looping or recursing engine must end at its budget like any engine during a search.
  engine.RunTimeLimit = 20;
  for (const char* proc : {"Register", "Init", "BeforeDownload", "AfterDownload", "AfterParse"})
    engine.ExecuteProcedure(proc);
  // What compiled must survive its own compiled file.
  TEngineCompiler again;
  again.LoadFromStream(engine.SaveToBytes());
  again.Compile();
  return 0;
}
