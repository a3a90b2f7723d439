// What the gate reads of a request before a worker takes it, as a table.
#include <gtest/gtest.h>

#include "alpaca/RequestHead.h"

using namespace morvane::alpaca;

namespace {

TEST(RequestGateTest, AWholeRequestIsItsHeadAndItsLengthsBody) {
  struct TRow {
    const char* Buffered;
    size_t Need;
    bool Halt;
  };
  const TRow rows[] = {
      {"", 0, false},
      {"PUT /api/v1/focuser/0/halt HTTP/1.1\r\nHost: x\r\n", 0, false},
      {"PUT /api/v1/focuser/0/halt HTTP/1.1\r\nHost: x\r\n\r\n", 48, true},
      {"PUT /api/v1/focuser/0/halt?a=1 HTTP/1.1\n\n", 41, true},
      {"PUT /api/v1/focuser/0/halting HTTP/1.1\r\n\r\n", 42, false},
      {"GET /api/v1/focuser/0/halt HTTP/1.1\r\n\r\n", 39, false},
      {"PUT /api/v1/focuser/0/move HTTP/1.1\r\ncontent-LENGTH: 10\r\n\r\nPosit", 69, false},
      {"PUT /api/v1/focuser/0/move HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\n", 67, false},
      // A body beyond the bound: the head alone, for the library to refuse.
      {"PUT /x HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n", 57, false},
  };
  for (const TRow& row : rows) {
    const THeadScan scan = ScanRequest(row.Buffered, 16384);
    EXPECT_EQ(scan.Need, row.Need) << row.Buffered;
    if (scan.Need) {
      EXPECT_EQ(scan.Halt, row.Halt) << row.Buffered;
    }
  }
}

}  // namespace
