#include <cstdio>
#include <stdexcept>

#include "controller/ModuleReply.h"
#include "controller/Objects.h"
#include "platform/ProductTimings.h"
#include "platform/Signals.h"

namespace morvane {

namespace {
constexpr int ReplyLength = 10;
const char* const AvailRequest = "MRV02?????";
const char* const AvailReply = "MRV03YES!!";
}  // namespace

// The exchange that follows an availability probe: a short pause, a clean line, the request,
// and the ten-character reply (empty when it did not come).
static std::string ModuleExchange(TFocusControl& c, const std::string& request) {
  Sleep(ProductTimings().ModuleGapMs);
  c.PurgePort();
  c.SendModuleCommand(request);
  return c.ReadReply(ReplyLength);
}

void TFocusControl::SendModuleCommand(const std::string& Command) {
  WriteString(Command + "\r");
  if (EchoCommands.load()) EchoCommand(Command, 1);
}

std::string TFocusControl::GetTCFirmwareVersion() {
  const std::lock_guard line(FLineLock);
  SendModuleCommand("MRV00?????");
  std::string reply = ReadReply(ReplyLength);
  if (reply.find("MRV01") != std::string::npos && reply.size() >= ReplyLength)
    FirmwareText = reply.substr(5, 2) + "." + reply.substr(7, 1) + "." + reply.substr(8, 2);
  else
    FirmwareText = "??";
  return FirmwareText;
}

bool TFocusControl::GetTCAvail() {
  const std::lock_guard line(FLineLock);
  const bool before = FLastTCAvail;
  Sleep(ProductTimings().ModuleProbeGapMs);
  PurgePort();
  SendModuleCommand(AvailRequest);
  FLastTCAvail = ReadReply(ReplyLength) == AvailReply;
  if (!FLastTCAvail) {
    Sleep(ProductTimings().ModuleRetryGapMs);
    PurgePort();
    SendModuleCommand(AvailRequest);
    FLastTCAvail = ReadReply(ReplyLength) == AvailReply;
  }
  if (FLastTCAvail != before) DoAvailChange();
  if (!FLastTCAvail) ClearTemperatureSamples();
  return FLastTCAvail;
}

int32_t TFocusControl::GetTCCal() {
  const std::lock_guard line(FLineLock);
  if (!GetTCAvail()) return FLastTCCal;
  const std::string reply = ModuleExchange(*this, "MRV04?????");
  if (const auto cal = CalibrationOfReply(reply, "MRV05")) FLastTCCal = *cal;
  return FLastTCCal;
}

void TFocusControl::SetTCCal(int32_t Value) {
  const std::lock_guard line(FLineLock);
  if (!GetTCAvail()) return;
  const int32_t saved = FLastTCCal;
  char request[32];
  std::snprintf(request, sizeof request, "MRV06%5.5d", Value);
  const std::string reply = ModuleExchange(*this, request);
  if (const auto cal = CalibrationOfReply(reply, "MRV07")) FLastTCCal = *cal;
  if (FLastTCCal != Value) {
    FLastTCCal = saved;
    throw std::runtime_error("Set Cal value failed!");
  }
}

double TFocusControl::GetTemperature() {
  const std::lock_guard line(FLineLock);
  if (!GetTCAvail()) return NoTemperature;
  const double result = TemperatureOfReply(ModuleExchange(*this, "MRV08?????"));
  AddTemperatureSample(result);
  return result;
}

double TFocusControl::ReadTemperature() {
  const std::lock_guard line(FLineLock);
  if (!GetTCAvail()) return NoTemperature;
  const double result = TemperatureOfReplyOrNone(ModuleExchange(*this, "MRV08?????"));
  AddTemperatureSample(result);
  return result;
}

}  // namespace morvane
