// What the gate reads of a request before a worker takes it, and whom a request may come from,
// as tables.
#include <gtest/gtest.h>

#include "alpaca/HostCheck.h"
#include "alpaca/RequestHead.h"

using namespace morvane::alpaca;

namespace {

TEST(RequestGateTest, AWholeRequestIsItsHeadAndItsLengthsBody) {
  struct TRow {
    const char* Buffered;
    size_t Need;
    bool Halt;
    bool Whole = true;
  };
  const TRow rows[] = {
      {"", 0, false},
      {"PUT /api/v1/focuser/0/halt HTTP/1.1\r\nHost: x\r\n", 0, false},
      {"PUT /api/v1/focuser/0/halt HTTP/1.1\r\nHost: x\r\n\r\n", 48, true},
      {"PUT /api/v1/focuser/0/halt?a=1 HTTP/1.1\n\n", 41, true},
      {"PUT /api/v1/focuser/0/halting HTTP/1.1\r\n\r\n", 42, false},
      {"GET /api/v1/focuser/0/halt HTTP/1.1\r\n\r\n", 39, false},
      {"PUT /api/v1/focuser/0/move HTTP/1.1\r\ncontent-LENGTH: 10\r\n\r\nPosit", 69, false},
      {"PUT /api/v1/focuser/0/move HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\n", 67, false,
       false},
      // A body beyond the bound: the head alone, for the library to refuse.
      {"PUT /x HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n", 57, false, false},
  };
  for (const TRow& row : rows) {
    const THeadScan scan = ScanRequest(row.Buffered, 16384);
    EXPECT_EQ(scan.Need, row.Need) << row.Buffered;
    if (scan.Need) {
      EXPECT_EQ(scan.Halt, row.Halt) << row.Buffered;
      EXPECT_EQ(scan.Whole, row.Whole) << row.Buffered;
    }
  }
}

TEST(RequestGateTest, OnLoopbackOnlyLoopbacksNamesAndNoOtherOrigin) {
  struct TRow {
    const char* Host;
    const char* Origin;
    bool Loopback;
    bool Served;
  };
  const TRow rows[] = {
      {"127.0.0.1", "", true, true},
      {"127.0.0.1:11111", "", true, true},
      {"localhost", "", true, true},
      {"localhost:11111", "http://localhost:11111", true, true},
      {"[::1]:11111", "", true, true},
      {"127.0.0.1:11112", "", true, false},
      {"attacker.test", "", true, false},
      {"localhost.attacker.test", "", true, false},
      {"127.0.0.1:11111", "http://attacker.test", true, false},
      {"127.0.0.1:11111", "http://127.0.0.1:11112", true, false},
      {"192.168.1.20:11111", "", false, true},
      {"192.168.1.20:11111", "http://attacker.test", false, false},
  };
  for (const TRow& row : rows)
    EXPECT_EQ(RefusedOrigin(row.Host, row.Origin, true, row.Loopback, 11111).empty(), row.Served)
        << row.Host << " " << row.Origin;
  EXPECT_TRUE(RefusedOrigin("", "", false, true, 11111).empty()) << "HTTP/1.0 without Host";
  EXPECT_TRUE(IsLoopbackListen("127.0.0.1"));
  EXPECT_FALSE(IsLoopbackListen("0.0.0.0"));
}

}  // namespace
