#pragma once
// indi_morvane_focus: Morvane as a focuser of INDI clients (KStars/Ekos and others). Morvane
// owns the serial port; the driver is a client of the running Morvane on the user's session
// bus ("org.morvane.Focuser1") and follows its state as Morvane announces it
// (busclient/Follower.h). FOCUS_MAX is Morvane's PositionScale, or the span of its travel limits
// while they are set; INDI's position is the scale's top count minus Morvane's count.

#include <indifocuser.h>

#include <chrono>
#include <cstdint>
#include <memory>

#include "busclient/FocuserClient.h"
#include "busclient/Follower.h"
#include "indi_morvane_focus/BusWorker.h"
#include "indi_morvane_focus/FocuserRequest.h"

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
  bool ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[],
                   int n) override;

 protected:
  bool Connect() override;
  bool Disconnect() override;
  bool AbortFocuser() override;
  IPState MoveAbsFocuser(uint32_t targetTicks) override;
  // FOCUS_BACKLASH_TOGGLE and FOCUS_BACKLASH_STEPS, mapped to Morvane's backlash compensation:
  // on, the final approach is inward (outward for negative steps, where a client may send
  // them), |steps| codes long.
  bool SetFocuserBacklash(int32_t steps) override;
  bool SetFocuserBacklashEnabled(bool enabled) override;
  bool SyncFocuser(uint32_t ticks) override;
  bool ReverseFocuser(bool enabled) override;

 private:
  using TClock = std::chrono::steady_clock;
  // Morvane's temperature module is read this often while idle; its exchanges hold the line.
  static constexpr int TemperaturePeriodMs = 15000;
  // A move lands on its target within this many codes.
  static constexpr int32_t LandingTolerance = 1;
  // A move whose position has not changed for this long has stalled (no move of Morvane's
  // stands still for longer), and a timed run not ended this long after its time has hung:
  // either is stopped and reported.
  static constexpr auto StallLimit = std::chrono::seconds(10);
  // Readings of the module this far from a night's range are faults, not temperatures.
  static constexpr double LowestCelsius = -50;
  static constexpr double HighestCelsius = 60;
  // Longest wait for an answer of Morvane; the first reading of the module takes up to 2 s.
  static constexpr int CommandTimeoutMs = 3000;
  static constexpr int ReadingTimeoutMs = 5000;

  void SendBacklash();
  int32_t FBacklashSteps = 0;
  bool FBacklashOn = false;

  // Temperature compensation as the driver's own properties (MorvaneCompensation.cpp):
  // TEMP_COMPENSATION (INDI_ENABLED, INDI_DISABLED) and TEMP_COEFFICIENT (COEFFICIENT in codes
  // per degree, DEAD_BAND in codes, SAMPLES), defined while connected to a Morvane that has
  // them, showing Morvane's values as it announces them, whoever changed them. Morvane keeps
  // them: they are not in the driver's configuration.
  void InitCompensation();
  void ShowCompensation(const TCompensationState& c);
  void FollowCompensation(const TNotification& n);
  void RequestTempComp(bool on);
  void RequestCoefficients(const double values[], char* names[], int n);
  bool FHasCompensation = false;  // Morvane answered with its compensation settings
  bool FCompensationDefined = false;
  bool FTempCompOn = false;
  bool FBacklashOutward = false;
  ISwitch TempCompS[2];
  ISwitchVectorProperty TempCompSP;
  INumber TempCoefN[3];
  INumberVectorProperty TempCoefNP;

  static void OnBus(int fd, void* self);
  static void OnResults(int fd, void* self);
  static void OnTemperatureTimer(void* self);
  static void OnWatchdog(void* self);

  void ReadBus();
  void TakeResults(TBusWorker* worker);
  void Apply(const TNotification& n);
  void ShowPosition();
  void MoveEnded(TMoveEnd end);
  void RunEnded();
  void Watchdog();
  // The one way a client's number acts: checked, then a move, a run or a new maximum.
  void Request(TRequestProperty property, double value);
  TRequestView View() const;
  void Refuse(TRequestProperty property, const std::string& why);
  INumberVectorProperty& PropertyOf(TRequestProperty property);
  void StartMove(int64_t target, TRequestProperty from);
  void StartRun(bool in, uint32_t milliseconds);
  void SetFocusMax(uint32_t focusMax);
  // FOCUS_MAX and the positions' range as Morvane's scale or limits have them.
  void ShowScale();
  TClientScale Scale() const;
  void Command(const char* what, TBusWorker::TCall call);
  bool Busy() const { return FMove.Pending() || FRunning || !State().Idle || State().Running; }
  const TFocuserState& State() const { return FFollower.State(); }
  void DefineTemperature();
  void ReadTemperature();
  void TemperatureRead(const TBusReply& r, double celsius);
  void TemperatureFault(const std::string& why);
  void Lost(const char* why);
  void TellUnverified();
  void ShowReverse();

  std::unique_ptr<TFocuserClient> FClient;  // the watch: Morvane's announcements
  std::unique_ptr<TBusWorker> FCommands;    // moves, runs and stops, in order
  std::unique_ptr<TBusWorker> FReadings;    // the module's readings, which may be slow
  TFocuserFollower FFollower;
  int FBusCallback = -1;
  int FCommandsCallback = -1;
  int FReadingsCallback = -1;
  int FTemperatureTimer = -1;
  int FWatchdogTimer = -1;

  TMoveTracker FMove{LandingTolerance};  // a move this driver asked for
  bool FAborted = false;                 // this driver stopped its run
  // FOCUS_MAX was set (by a client, or the configuration) while not connected: Morvane's
  // PositionScale takes it on connecting.
  bool FFocusMaxGiven = false;
  TClock::time_point FLastProgress;
  bool FRunning = false;  // a coarse run this driver asked for
  bool FSawRun = false;   // Morvane has said it runs
  uint32_t FRunMs = 0;    // 0: until Abort
  TClock::time_point FRunStart;

  bool FTemperatureDefined = false;  // once the module has answered, until disconnected
  bool FReadingPending = false;
  bool FTemperatureFaulted = false;  // the last reading failed: said once

  INumber TemperatureN[1];
  INumberVectorProperty TemperatureNP;
};

}  // namespace morvane
