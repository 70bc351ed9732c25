// The demo store site: its routes over the loopback HTTP server.
#pragma once

#include <memory>
#include <string_view>

#include "cli/DemoStoreCatalog.h"
#include "platform/net/HttpServer.h"

namespace vandrel::cli {

// One part of the site: the first route whose prefix starts the request's path answers it.
struct TDemoRoute {
  std::string_view PathPrefix;
  TDemoResponse (*Answer)(std::string_view target);  // pure: the same target always gives the same bytes
};

// Answers a GET or HEAD of the demo site. Safe from any thread.
THttpServerResponse AnswerDemoRequest(const THttpServerRequest& request);

std::unique_ptr<THttpServer> NewDemoStoreServer();

}  // namespace vandrel::cli
