#include "cli/DemoStoreServer.h"

namespace vandrel::cli {
namespace {

// Searched in order; the store pages take whatever no earlier route claims.
constexpr TDemoRoute kRoutes[] = {
    {"/", DemoStoreResponse},
};

}  // namespace

THttpServerResponse AnswerDemoRequest(const THttpServerRequest& request) {
  std::string_view target = request.Target;
  // A proxy-style absolute address names the same page.
  if (const size_t scheme = target.find("://"); scheme != target.npos && target.substr(0, 4) == "http") {
    const size_t path = target.find('/', scheme + 3);
    target = path == target.npos ? std::string_view("/") : target.substr(path);
  }
  for (const TDemoRoute& route : kRoutes) {
    if (target.substr(0, route.PathPrefix.size()) != route.PathPrefix) continue;
    TDemoResponse page = route.Answer(target);
    THttpServerResponse response;
    response.Status = page.Status;
    response.ContentType = std::move(page.ContentType);
    response.Body = std::move(page.Body);
    response.Location = std::move(page.Location);
    return response;
  }
  return HttpErrorResponse(404);
}

std::unique_ptr<THttpServer> NewDemoStoreServer() {
  THttpServerLimits limits;
  limits.ServerName = "vandrel-demo-stores";
  limits.MaxConnections = 16;
  limits.IoTimeoutSeconds = 10;
  return std::make_unique<THttpServer>(AnswerDemoRequest, limits);
}

}  // namespace vandrel::cli
