#include "alpaca/HostCheck.h"

namespace morvane::alpaca {

bool IsLoopbackListen(std::string_view listen) {
  return listen.substr(0, 4) == "127." || listen == "localhost" || listen == "::1";
}

namespace {

bool LoopbackHost(std::string_view host, int port) {
  const std::string portText = std::to_string(port);
  for (const std::string_view name : {"127.0.0.1", "localhost", "[::1]"}) {
    if (host.substr(0, name.size()) != name) continue;
    const std::string_view rest = host.substr(name.size());
    if (rest.empty() || (rest[0] == ':' && rest.substr(1) == portText)) return true;
  }
  return false;
}

}  // namespace

std::string RefusedOrigin(std::string_view host, std::string_view origin, bool hasHost,
                          bool loopback, int port) {
  // A request without Host (HTTP/1.0) comes from no browser: browsers always send it.
  if (hasHost && loopback && !LoopbackHost(host, port))
    return "Host '" + std::string(host) + "' is not this server: use 127.0.0.1 or localhost";
  if (!origin.empty() && origin != "http://" + std::string(host))
    return "Requests from the web page " + std::string(origin) + " are not served";
  return {};
}

}  // namespace morvane::alpaca
