#pragma once
// How much of a request has arrived, read from the bytes buffered so far: the connection is
// given a worker only once its whole request is in, so that a slow sender holds none. Plain
// code, no socket.

#include <cstddef>
#include <string_view>

namespace morvane::alpaca {

struct THeadScan {
  // The bytes of the first request (head and a Content-Length body); 0 while it is still
  // coming. A chunked body, or one larger than the bound, is left to the worker to read.
  size_t Need = 0;
  // Need is the whole request: no chunks, no body beyond the bound. A request without
  // Content-Length then has an empty body, rather than one read until the connection closes.
  bool Whole = false;
  bool Halt = false;  // PUT of focuser/0's halt: served ahead of everything else
};

THeadScan ScanRequest(std::string_view buffer, size_t maxRequestBytes);

}  // namespace morvane::alpaca
