#pragma once
// indi_morvane_focus: Morvane as a focuser of INDI clients (KStars/Ekos and others). Morvane
// owns the serial port; the driver is a client of the running Morvane on the user's session
// bus ("org.morvane.Focuser1") and follows its position as Morvane announces it.

#include <indifocuser.h>

#include <cstdint>
#include <memory>

#include "busclient/FocuserClient.h"

namespace morvane {

class TMorvaneFocuser : public INDI::Focuser {
 public:
  TMorvaneFocuser();
  ~TMorvaneFocuser() override;

  const char* getDefaultName() override;
  bool initProperties() override;
  bool updateProperties() override;
  bool ISNewNumber(const char* dev, const char* name, double values[], char* names[],
                   int n) override;

 protected:
  bool Connect() override;
  bool Disconnect() override;
  IPState MoveAbsFocuser(uint32_t targetTicks) override;
  IPState MoveRelFocuser(FocusDirection dir, uint32_t ticks) override;
  IPState MoveFocuser(FocusDirection dir, int speed, uint16_t duration) override;
  bool AbortFocuser() override;
  bool SetFocuserMaxPosition(uint32_t ticks) override;

 private:
  // Morvane's temperature module is read this often while idle; its exchanges hold the line.
  static constexpr int TemperaturePeriodMs = 15000;
  // A move lands on its target within this many codes.
  static constexpr int32_t LandingTolerance = 1;

  static void OnBus(int fd, void* self);
  static void OnTemperatureTimer(void* self);
  static void OnRunTimer(void* self);

  void ReadBus();
  void Apply(const TNotification& n);
  void MoveEnded();
  // Starts a move to a count; the state the absolute position takes.
  IPState StartMove(int64_t target);
  bool Busy() const { return FMoving || FRunning || !FState.Idle; }
  void ShowTemperatureAvailable(bool available);
  void ReadTemperature();
  void StopRun();
  void Lost(const char* why);

  std::unique_ptr<TFocuserClient> FClient;
  TFocuserState FState;
  int FBusCallback = -1;
  int FTemperatureTimer = -1;
  int FRunTimer = -1;
  bool FMoving = false;   // a move this driver asked for runs
  bool FSawBusy = false;  // Morvane has said the move runs
  bool FAborted = false;  // this driver stopped it
  bool FRunning = false;  // a timed coarse run
  int64_t FTarget = 0;
  bool FTemperatureShown = false;
  bool FTemperatureFailed = false;

  INumber TemperatureN[1];
  INumberVectorProperty TemperatureNP;
};

}  // namespace morvane
