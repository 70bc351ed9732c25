// Fuzzes the chunked body reader behind a fixed header block.
#include <cstdint>
#include <string>

#include "FuzzHttpFeed.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vandrel::TFuzzHttp http;
  http.Storage = vandrel::hsMemory;
  http.MaxFileSize = 1 << 20;
  std::string input = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  input.append(reinterpret_cast<const char*>(data), size);
  if (!http.Feed(std::move(input))) return 0;
  try {
    http.ReadHeaders();
    http.ReadBody();
  } catch (const std::exception&) {
  }
  return 0;
}
