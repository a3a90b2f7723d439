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

  bool GetCommState(TLineSettings& settings) override;
  bool SetCommState(const TLineSettings& settings) override;
  bool SetCommMask(uint32_t mask) override;
  bool WaitCommEvent(uint32_t& eventMask) override;
  bool GetCommModemStatus(uint32_t& modemStatus) override;
  bool GetCommCounts(TModemCounts& counts, uint32_t& modemStatus) override;
  bool EscapeCommFunction(uint8_t func) override;
  bool GetCommTimeouts(TCommTimeouts& timeouts) override;
  bool SetCommTimeouts(const TCommTimeouts& timeouts) override;
  bool PurgeComm(uint32_t flags) override;
  TIoResult Write(const char* data, size_t len, int waitMs) override;
  TIoResult Read(char* dest, size_t count, size_t& got, int waitMs) override;
  void Close() override;

 private:
  TSimFocuser& FDevice;
  const uint64_t FSession;
};

}  // namespace morvane::sim
