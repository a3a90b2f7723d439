#pragma once
// The Alpaca server's side of Morvane's D-Bus interface: one thread owns the bus connection,
// keeps the cached state from PropertiesChanged and carries the moves; a second one reads the
// temperature module now and then while the focuser is idle (the reading holds the serial
// line and is refused while moving), on its own connection so that a slow module never holds
// up a move. Morvane leaving or coming back is followed without a restart.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

#include "alpaca/FocuserView.h"
#include "busclient/FocuserClient.h"
#include "busclient/Follower.h"

namespace morvane::alpaca {

class TBusLink : public TFocuserLink {
 public:
  TBusLink();
  ~TBusLink() override;
  TBusLink(const TBusLink&) = delete;
  TBusLink& operator=(const TBusLink&) = delete;

  TFocuserView View() override;
  TLinkReply MoveTo(int32_t count) override;
  TLinkReply Stop() override;
  TLinkReply SetTempComp(bool on) override;
  void RefreshTemperature() override;
  bool AwaitMorvane(int ms) override;

  // How often the module is read while idle.
  static constexpr int TemperatureIntervalMs = 10000;
  // A move whose start Morvane has not signalled within this time is taken as never begun.
  static constexpr int MoveStartWaitMs = 3000;

 private:
  enum class TKind { kStop, kMove, kTempComp };
  struct TCommand {
    TKind Kind = TKind::kStop;
    int32_t Count = 0;  // a move's count; TempComp: 1 on, 0 off
    std::promise<TLinkReply> Done;
  };

  void RunBus();
  void RunTemperature();
  TLinkReply Submit(TKind kind, int32_t count);
  void Execute(TFocuserClient& client, TCommand& command);
  void Apply(const TNotification& n);
  void Lost();
  // FView's part that the follower and the move tracker hold; under FMutex.
  void ShowState();

  std::mutex FMutex;
  TFocuserView FView;
  TFocuserFollower FFollower;
  TMoveTracker FMove;  // a move of this server's
  int64_t FMoveStartUs = 0;
  std::deque<std::shared_ptr<TCommand>> FCommands;
  int FWake = -1;  // eventfd: a command is waiting
  bool FQuit = false;
  bool FLookNow = false;  // look for Morvane at once

  // Temperature thread's schedule.
  std::condition_variable FTemperatureCv;
  int64_t FNextReadUs = 0;
  uint64_t FReadings = 0;  // readings attempted, for RefreshTemperature's wait

  std::thread FBus;
  std::thread FTemperature;
};

}  // namespace morvane::alpaca
