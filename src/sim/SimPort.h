#pragma once
// The serial port of a simulated focuser: every operation goes to the device under its
// session number, so a port closed (or unplugged) stays dead even after another has opened.

#include "platform/SerialPort.h"

namespace morvane::sim {

class TSimFocuser;

class TSimPort : public TSerialPort {
 public:
  TSimPort(TSimFocuser& device, uint64_t session) : FDevice(device), FSession(session) {}
  ~TSimPort() override;
  TSimPort(const TSimPort&) = delete;
  TSimPort& operator=(const TSimPort&) = delete;

  TPortResult GetCommState(TLineSettings& settings) override;
  TPortResult SetCommState(const TLineSettings& settings) override;
  TPortResult SetCommMask(uint32_t mask) override;
  TPortResult WaitCommEvent(uint32_t& eventMask) override;
  TPortResult GetCommModemStatus(uint32_t& modemStatus) override;
  TPortResult GetCommCounts(TModemCounts& counts, uint32_t& modemStatus) override;
  TPortResult EscapeCommFunction(uint8_t func) override;
  TPortResult GetCommTimeouts(TCommTimeouts& timeouts) override;
  TPortResult SetCommTimeouts(const TCommTimeouts& timeouts) override;
  TPortResult PurgeComm(uint32_t flags) override;
  TIoResult Write(const char* data, size_t len, int waitMs) override;
  TIoResult Read(char* dest, size_t count, size_t& got, int waitMs) override;
  void Close() override;

 private:
  TSimFocuser& FDevice;
  const uint64_t FSession;
};

}  // namespace morvane::sim
