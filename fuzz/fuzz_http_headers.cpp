// Fuzzes the response-header reader: status line, header fields, dates, cookies and header look-ups.
#include <cstdint>
#include <string>

#include "FuzzHttpFeed.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vandrel::TFuzzHttp http;
  http.SetURL("http://shop.example.org/a/b.html");
  http.UseCookies = true;
  http.MaxFileSize = 1 << 20;
  http.Storage = vandrel::hsMemory;
  http.OnReceiveCookie = [](const vandrel::TCookie& cookie) { (void)cookie.Text(); };
  if (!http.Feed(std::string(reinterpret_cast<const char*>(data), size))) return 0;
  try {
    http.ReadHeaders();
    (void)http.GetHeaderValue("Subject");
    (void)http.GetHeaderValue("Content-Type");
    http.ReadBody();
  } catch (const std::exception&) {
  }
  return 0;
}
