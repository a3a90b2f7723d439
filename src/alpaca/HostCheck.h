#pragma once
// Whom a request may come from, by its Host and Origin: a server on loopback answers only the
// names of loopback, so that a web page cannot reach it under a name of its own that resolves
// to 127.0.0.1; a request sent by a web page of another origin is refused wherever the server
// listens (Alpaca clients send no Origin). Plain code.

#include <string>
#include <string_view>

namespace morvane::alpaca {

// True for an address on loopback: 127.x.x.x, localhost, ::1.
bool IsLoopbackListen(std::string_view listen);

// Empty when the request may be served, else why not. host and origin: the headers' values,
// empty when absent; port: the server's.
std::string RefusedOrigin(std::string_view host, std::string_view origin, bool hasHost,
                          bool loopback, int port);

}  // namespace morvane::alpaca
