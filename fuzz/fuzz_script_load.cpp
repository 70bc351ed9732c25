// Fuzzes the compiled script file loader: arbitrary bytes behind a valid file marker.
#include <cstddef>
#include <cstdint>
#include <string>

#include "script/BaseCompiler.h"

using namespace vandrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The fuzzer writes plain text; scrambling it makes every input reach the compiled-file path.
  std::string plain = "FF01\r\n" + std::string(reinterpret_cast<const char*>(data), size);
  TBaseCompiler c;
  c.ResetVariables();
  c.LoadFromStream(ScrambleBytes(plain));
  if (c.Compile() == 0) c.SaveToBytes();
  // The raw bytes too, as a file would arrive.
  TBaseCompiler raw;
  raw.LoadFromStream(std::string(reinterpret_cast<const char*>(data), size));
  raw.Compile();
  return 0;
}
