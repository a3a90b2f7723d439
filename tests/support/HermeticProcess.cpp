// Linked into every test program. Before the first test the process gets a session bus of its
// own that starts nothing, so that no test finds or starts an installed Morvane or reaches
// the user's, and the product's settle waits, which give real hardware time to come to rest,
// are shortened: the simulator rests at once, and hundreds of opens and closes add up.
#include "platform/ProductTimings.h"
#include "support/PrivateBus.h"

namespace {

const morvane::TProductTimings TestTimings = [] {
  morvane::TProductTimings t;
  t.PortSettleMs = 20;
  t.CloseStopSettleMs = 20;
  return t;
}();

struct THermeticProcess {
  THermeticProcess() { morvane::SetProductTimings(&TestTimings); }
  morvane::test::TPrivateBus Bus;
};

THermeticProcess Process;

}  // namespace
