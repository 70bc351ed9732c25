// Fuzzes the cookie parser, the expiry date reader and the cookie store behind it.
#include <cstdint>
#include <string>
#include <string_view>

#include "http/CookieManager.h"
#include "http/CookieParser.h"
#include "http/HttpDates.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // The first line is the request address, the rest the cookie text.
  const size_t newline = input.find('\n');
  const std::string_view url =
      newline == std::string_view::npos ? "http://shop.example.org/a/b.html" : input.substr(0, newline);
  const std::string_view text = newline == std::string_view::npos ? input : input.substr(newline + 1);
  vandrel::TCookie cookie(text, url);
  (void)cookie.Text();
  (void)cookie.IsExpired();
  (void)vandrel::ParseHttpDate(text);
  vandrel::TCookieManager manager;
  manager.Receive(cookie);
  (void)manager.GetCookieString(url);
  (void)manager.GetCookieString("http://shop.example.org/a/b.html");
  (void)manager.Export();
  return 0;
}
