// The made-up stores of the demo site and the result pages they answer with.
#pragma once

#include <string>
#include <string_view>

namespace vandrel::cli {

struct TDemoResponse {
  int Status = 200;
  std::string ContentType = "text/html; charset=utf-8";
  std::string Body;
  std::string Location{};  // sent as the Location header when not empty (redirections)
};

// Answers a request target ("/store/search?q=words&page=2"). Pure and deterministic: the same target always
// gives the same bytes, which is what lets tests compare pages.
TDemoResponse DemoStoreResponse(std::string_view target);

}  // namespace vandrel::cli
