// The temperature module's logic on its own: framing, replies in each mode, fields.

#include "sim/SimModule.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace morvane::sim {
namespace {

std::optional<std::string> Frame(TSimModule& m, const std::string& bytes) {
  std::optional<std::string> last;
  for (char c : bytes)
    if (auto f = m.Receive(c)) last = f;
  return last;
}

std::string ReplyTo(TSimModule& m, const std::string& request, double t = 0) {
  auto r = m.Answer(request, t);
  return r ? r->Text : std::string("<none>");
}

TEST(SimModule, FindsTenCharacterRequestsEndedByCr) {
  TSimParams p;
  TSimModule m(p, 0);
  EXPECT_EQ(Frame(m, "MRV02?????\r"), "MRV02?????");
  // Keep-alives and commands before it on the same line do not matter.
  EXPECT_EQ(Frame(m, "5:FQ#MRV08?????\r"), "MRV08?????");
  // Without CR nothing is complete.
  EXPECT_EQ(Frame(m, "MRV02?????"), std::nullopt);
  EXPECT_EQ(Frame(m, "\r"), "MRV02?????");
  // Too long (a negative calibration written with "%5.5d") or too short: ignored.
  EXPECT_EQ(Frame(m, "MRV06-00235\r"), std::nullopt);
  EXPECT_EQ(Frame(m, "MRV02????\r"), std::nullopt);
  EXPECT_EQ(Frame(m, "\r"), std::nullopt);
}

TEST(SimModule, PresentModuleAnswersEveryRequest) {
  TSimParams p;
  TSimModule m(p, 0);
  EXPECT_EQ(ReplyTo(m, "MRV00?????"), "MRV0112345");
  EXPECT_EQ(ReplyTo(m, "MRV02?????"), "MRV03YES!!");
  EXPECT_EQ(ReplyTo(m, "MRV04?????"), "MRV0500250");
  EXPECT_EQ(ReplyTo(m, "MRV0600235"), "MRV0700235");
  EXPECT_EQ(m.Cal(), 235);
  EXPECT_EQ(ReplyTo(m, "MRV04?????"), "MRV0500235");
  EXPECT_EQ(ReplyTo(m, "MRV08?????"), "MRV09012.5");
  // Unknown codes and malformed data get no answer.
  EXPECT_EQ(ReplyTo(m, "MRV10?????"), "<none>");
  EXPECT_EQ(ReplyTo(m, "MRV0612a45"), "<none>");
  EXPECT_EQ(m.Cal(), 235);
  EXPECT_EQ(m.Answer("MRV02?????", 0)->Delay, p.ModuleLatencyUs / 1e6);
}

TEST(SimModule, FieldsReadAsDecimalNumbers) {
  EXPECT_EQ(TSimModule::TemperatureField(21.3), "021.3");
  EXPECT_EQ(TSimModule::TemperatureField(-5.24), "-05.2");
  EXPECT_EQ(TSimModule::TemperatureField(-12.44), "-12.4");
  EXPECT_EQ(TSimModule::TemperatureField(-150), "-99.9");
  EXPECT_EQ(TSimModule::TemperatureField(0), "000.0");
  EXPECT_NEAR(std::strtod(TSimModule::TemperatureField(-7.5).c_str(), nullptr), -7.5, 1e-9);
  EXPECT_EQ(TSimModule::CalField(235), "00235");
  EXPECT_EQ(TSimModule::CalField(-12), "-0012");
  EXPECT_EQ(TSimModule::CalField(123456), "99999");
}

TEST(SimModule, NegativeCalibrationOfFourDigitsIsAccepted) {
  TSimParams p;
  TSimModule m(p, 0);
  EXPECT_EQ(ReplyTo(m, "MRV06-0012"), "MRV07-0012");
  EXPECT_EQ(m.Cal(), -12);
}

TEST(SimModule, TemperatureDriftsFromWhereItWasSet) {
  TSimParams p;
  p.TemperatureDrift = -3.6;  // 0.001 degree per second
  TSimModule m(p, 0);
  m.SetTemperature(20.0, 100);
  EXPECT_DOUBLE_EQ(m.Temperature(100), 20.0);
  EXPECT_NEAR(m.Temperature(1100), 19.0, 1e-9);
  EXPECT_EQ(ReplyTo(m, "MRV08?????", 1100), "MRV09019.0");
}

TEST(SimModule, EachModeAnswersItsOwnWay) {
  TSimParams p;
  TSimModule m(p, 0);
  m.SetMode(TModuleMode::Absent);
  EXPECT_EQ(ReplyTo(m, "MRV02?????"), "<none>");
  EXPECT_EQ(ReplyTo(m, "MRV0600111"), "<none>");
  EXPECT_EQ(m.Cal(), 250);

  m.SetMode(TModuleMode::Silent);
  EXPECT_EQ(ReplyTo(m, "MRV0600111"), "<none>");
  EXPECT_EQ(m.Cal(), 111);

  m.SetMode(TModuleMode::Garbled);
  const std::string garbled = ReplyTo(m, "MRV02?????");
  EXPECT_EQ(garbled.size(), 10u);
  EXPECT_EQ(garbled.find("MRV"), std::string::npos);
  EXPECT_EQ(garbled.find('\0'), std::string::npos);
  EXPECT_EQ(garbled.find('\r'), std::string::npos);

  m.SetMode(TModuleMode::Slow);
  auto slow = m.Answer("MRV02?????", 0);
  ASSERT_TRUE(slow);
  EXPECT_EQ(slow->Text, "MRV03YES!!");
  EXPECT_GT(slow->Delay, 1.0);

  m.SetMode(TModuleMode::Short);
  EXPECT_EQ(ReplyTo(m, "MRV02?????"), "MRV03Y");
}

TEST(SimModule, ForcedReplyIsSentOnceWhateverTheMode) {
  TSimParams p;
  TSimModule m(p, 0);
  m.SetNextReply("MRV0700236");
  EXPECT_EQ(ReplyTo(m, "MRV0600235"), "MRV0700236");
  // The module still did the write.
  EXPECT_EQ(m.Cal(), 235);
  EXPECT_EQ(ReplyTo(m, "MRV0600235"), "MRV0700235");
  m.SetMode(TModuleMode::Absent);
  // Without a code it answers whatever comes next.
  m.SetNextReply("MRV0");
  EXPECT_EQ(ReplyTo(m, "MRV02?????"), "MRV0");
  EXPECT_EQ(ReplyTo(m, "MRV02?????"), "<none>");
}

TEST(SimModule, ForcedReplyWaitsForTheRequestItsCodeBelongsTo) {
  TSimParams p;
  TSimModule m(p, 0);
  m.SetNextReply("MRV0900023");
  // The availability probe before the reading keeps its own answer.
  EXPECT_EQ(ReplyTo(m, "MRV02?????"), "MRV03YES!!");
  EXPECT_EQ(ReplyTo(m, "MRV08?????"), "MRV0900023");
  // An even code answers the request of that code: a foreign reply to it.
  m.SetNextReply("MRV08+21.5");
  EXPECT_EQ(ReplyTo(m, "MRV02?????"), "MRV03YES!!");
  EXPECT_EQ(ReplyTo(m, "MRV08?????"), "MRV08+21.5");
  m.SetNextReply("garbage");
  EXPECT_EQ(ReplyTo(m, "MRV02?????"), "garbage");
}

}  // namespace
}  // namespace morvane::sim
