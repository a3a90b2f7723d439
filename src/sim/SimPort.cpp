#include "sim/SimPort.h"

#include "sim/SimFocuser.h"

namespace morvane::sim {

TSimPort::~TSimPort() {
  Close();
}

TPortResult TSimPort::GetCommState(TLineSettings& settings) {
  return FDevice.PortGetCommState(FSession, settings);
}

TPortResult TSimPort::SetCommState(const TLineSettings& settings) {
  return FDevice.PortSetCommState(FSession, settings);
}

TPortResult TSimPort::SetCommMask(uint32_t mask) {
  return FDevice.PortSetCommMask(FSession, mask);
}

TPortResult TSimPort::WaitCommEvent(uint32_t& eventMask) {
  return FDevice.PortWaitCommEvent(FSession, eventMask);
}

TPortResult TSimPort::GetCommModemStatus(uint32_t& modemStatus) {
  return FDevice.PortGetCommModemStatus(FSession, modemStatus);
}

TPortResult TSimPort::GetCommCounts(TModemCounts& counts, uint32_t& modemStatus) {
  return FDevice.PortGetCommCounts(FSession, counts, modemStatus);
}

TPortResult TSimPort::EscapeCommFunction(uint8_t func) {
  return FDevice.PortEscapeCommFunction(FSession, func);
}

TPortResult TSimPort::GetCommTimeouts(TCommTimeouts& timeouts) {
  return FDevice.PortGetCommTimeouts(FSession, timeouts);
}

TPortResult TSimPort::SetCommTimeouts(const TCommTimeouts& timeouts) {
  return FDevice.PortSetCommTimeouts(FSession, timeouts);
}

TPortResult TSimPort::PurgeComm(uint32_t flags) {
  return FDevice.PortPurgeComm(FSession, flags);
}

TIoResult TSimPort::Write(const char* data, size_t len, int waitMs) {
  return FDevice.PortWrite(FSession, data, len, waitMs);
}

TIoResult TSimPort::Read(char* dest, size_t count, size_t& got, int waitMs) {
  return FDevice.PortRead(FSession, dest, count, got, waitMs);
}

void TSimPort::Close() {
  FDevice.PortClose(FSession);
}

}  // namespace morvane::sim
