// The five focus commands on the line and on the RTS/DTR lines, with the direction swap.
#include "support/ControllerFixture.h"

namespace morvane::test {
namespace {

class CommandSetTest : public ControllerFixture {
 protected:
  void SetUp() override {
    ControllerFixture::SetUp();
    ASSERT_TRUE(Controller->OpenPort());
    Sim->ClearTrace();
  }
  std::vector<std::string> Sent() { return Texts(Steps(Sim->Trace())); }
};

TEST_F(CommandSetTest, FocusCommandRefusesAnythingButTheFive) {
  Controller->FocusCommand(":fq#");
  Controller->FocusCommand(":FQ");
  Controller->FocusCommand("");
  EXPECT_EQ(Host.Messages(),
            (std::vector<std::string>{"Illegal FocusCommand", "Illegal FocusCommand",
                                      "Illegal FocusCommand"}));
  EXPECT_TRUE(Sent().empty());
  Controller->FocusCommand(":FF#");
  EXPECT_EQ(Sent(), std::vector<std::string>{"W:FF#"});
  EXPECT_EQ(Host.Messages().size(), 3u);
}

TEST_F(CommandSetTest, SerialModeWritesTheStringsWithTheSwap) {
  Controller->StartMove(true, 1);
  EXPECT_TRUE(Controller->LastDirection());
  Controller->StartMove(false, 0);
  EXPECT_FALSE(Controller->LastDirection());
  Controller->SetReverseDir(true);
  Controller->StartMove(true, 0);
  EXPECT_TRUE(Controller->LastDirection()) << "the direction is recorded before the swap";
  for (const char* c : {":FQ#", ":FS#", ":FF#"}) Controller->SendFocusCommand(c);
  EXPECT_EQ(Sent(), (std::vector<std::string>{"W:FQ#", "W:F-#", "W:FQ#", "W:F+#", "W:FQ#", "W:F+#",
                                              "W:FQ#", "W:FS#", "W:FF#"}));
}

TEST_F(CommandSetTest, StopMotorWritesTwoStopsEachAfterItsPurge) {
  Controller->StopMotor();
  std::vector<std::string> seen;
  for (const auto& e : Sim->Trace()) {
    if (e.Kind == sim::TTraceKind::Purge) seen.push_back("purge");
    if (e.Kind == sim::TTraceKind::Write) seen.push_back(e.Bytes);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"purge", ":FQ#", "purge", ":FQ#"}));
}

TEST_F(CommandSetTest, LineModeStopThenOutWithItsWaits) {
  Controller->SetUseRTS_DTR(true);
  Controller->StartMove(false, 0);
  auto steps = Steps(Sim->Trace());
  ASSERT_EQ(Texts(steps), (std::vector<std::string>{"RTS-", "DTR-", "RTS+"}));
  EXPECT_GE(steps[1].Us - steps[0].Us, 9500);  // 10 ms before DTR is cleared
  EXPECT_GE(steps[2].Us - steps[1].Us, 4500);  // 5 ms before RTS powers the motor
  EXPECT_TRUE(Writes(Sim->Trace()).empty());
}

TEST_F(CommandSetTest, LineModeInSetsDtrBeforeRts) {
  Controller->SetUseRTS_DTR(true);
  Controller->SendFocusCommand(":F-#");
  auto steps = Steps(Sim->Trace());
  ASSERT_EQ(Texts(steps), (std::vector<std::string>{"DTR+", "RTS+"}));
  EXPECT_GE(steps[1].Us - steps[0].Us, 4500);
  Sim->ClearTrace();
  Controller->SetReverseDir(true);
  Controller->SendFocusCommand(":F+#");  // swapped to the count-increasing drive
  EXPECT_EQ(Texts(Steps(Sim->Trace())), (std::vector<std::string>{"DTR+", "RTS+"}));
}

TEST_F(CommandSetTest, LineModeStopDuringNudgeLeavesDtr) {
  Controller->SetUseRTS_DTR(true);
  Controller->SendFocusCommand(":F-#");
  Controller->NudgeIdle.store(false);
  Sim->ClearTrace();
  Controller->SendFocusCommand(":FQ#");
  EXPECT_EQ(Sent(), std::vector<std::string>{"RTS-"});
  // The other direction, started with DTR still set, leaves DTR set.
  Sim->ClearTrace();
  Controller->SendFocusCommand(":F+#");
  EXPECT_EQ(Sent(), std::vector<std::string>{"RTS+"});
  Controller->NudgeIdle.store(true);
}

TEST_F(CommandSetTest, LineModeIgnoresSpeedCommandsAndUnknownStrings) {
  Controller->SetUseRTS_DTR(true);
  for (const char* c : {":FS#", ":FF#", "junk"}) Controller->SendFocusCommand(c);
  EXPECT_TRUE(Sent().empty());
}

TEST_F(CommandSetTest, ClearRtsAndSetLineActInEitherMode) {
  Controller->ClearRTS();
  Controller->SetLine(SETDTR);
  Controller->SetLine(CLRDTR);
  EXPECT_EQ(Sent(), (std::vector<std::string>{"RTS-", "DTR+", "DTR-"}));
}

TEST_F(CommandSetTest, CommandsOnAClosedPortHaveNoEffect) {
  Controller->ClosePort();
  Sim->ClearTrace();
  Controller->StartMove(true, 0);
  Controller->SetUseRTS_DTR(true);
  Controller->StopMotor();
  Controller->ClearRTS();
  EXPECT_TRUE(Sent().empty());
}

}  // namespace
}  // namespace morvane::test
