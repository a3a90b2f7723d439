// Echoed commands go out to other programs on "KS_MESSAGE", after the direction swap.
#include <cstdlib>

#include "support/BusListener.h"
#include "support/ControllerFixture.h"

namespace morvane::test {
namespace {

class EchoTest : public ControllerFixture {
 protected:
  void SetUp() override {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!address || !*address) GTEST_SKIP() << "no session bus (run under dbus-run-session)";
    ASSERT_TRUE(TBusListener::Instance().Ok());
    ControllerFixture::SetUp();
    ASSERT_TRUE(Controller->OpenPort());
  }
  std::optional<TReceived> Next() { return TBusListener::Instance().Next("", 3000); }
};

TEST_F(EchoTest, NothingIsEchoedWhileTheSwitchIsOff) {
  Controller->SendFocusCommand(":FQ#");
  EXPECT_FALSE(TBusListener::Instance().Next("", 300).has_value());
}

TEST_F(EchoTest, CommandsAreEchoedAfterTheSwapInEitherMode) {
  Controller->EchoCommands.store(true);
  Controller->SetReverseDir(true);
  Controller->SetUseRTS_DTR(true);
  Controller->SendFocusCommand(":F-#");
  Controller->SendFocusCommand(":FS#");  // changes no line, still echoed
  Controller->SetUseRTS_DTR(false);
  Controller->SendModuleCommand("MRV02?????");
  const char* expected[] = {":F+#", ":FS#", "MRV02?????"};
  for (const char* text : expected) {
    auto got = Next();
    ASSERT_TRUE(got.has_value()) << text;
    EXPECT_EQ(got->Member, "KS_MESSAGE");
    EXPECT_EQ(got->Path, MorvaneObjectPath);
    EXPECT_EQ(got->Text, text);
    EXPECT_EQ(got->LParam, 1);
  }
}

}  // namespace
}  // namespace morvane::test
