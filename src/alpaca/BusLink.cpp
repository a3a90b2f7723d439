#include "alpaca/BusLink.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>

#include "platform/BusContract.h"
#include "platform/Timing.h"

namespace morvane::alpaca {

namespace {

TLinkReply ToLink(const TBusReply& r) {
  TLinkReply l;
  if (r.Ok) return l;
  l.Message = r.ErrorMessage.empty() ? r.ErrorName : r.ErrorMessage;
  if (r.NoService()) {
    l.Result = TLinkResult::lrNoService;
  } else if (r.ErrorName == BusyError) {
    l.Result = TLinkResult::lrBusy;
  } else if (r.ErrorName == PortClosedError) {
    l.Result = TLinkResult::lrPortClosed;
  } else if (r.ErrorName == OutsideLimitsError) {
    l.Result = TLinkResult::lrOutsideLimits;
  } else {
    l.Result = TLinkResult::lrFailed;
  }
  return l;
}

}  // namespace

TBusLink::TBusLink() : FWake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  FBus = std::thread(&TBusLink::RunBus, this);
  FTemperature = std::thread(&TBusLink::RunTemperature, this);
}

TBusLink::~TBusLink() {
  {
    std::lock_guard lock(FMutex);
    FQuit = true;
  }
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(FWake, &one, sizeof one);
  FTemperatureCv.notify_all();
  FBus.join();
  FTemperature.join();
  close(FWake);
}

TFocuserView TBusLink::View() {
  std::lock_guard lock(FMutex);
  return FView;
}

TLinkReply TBusLink::Submit(TKind kind, int32_t count) {
  auto command = std::make_shared<TCommand>();
  command->Kind = kind;
  command->Count = count;
  std::future<TLinkReply> done = command->Done.get_future();
  {
    std::lock_guard lock(FMutex);
    if (FQuit) return {TLinkResult::lrFailed, "the server is stopping"};
    FCommands.push_back(command);
  }
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(FWake, &one, sizeof one);
  // The bus call's own time-out is shorter: the reply always comes.
  return done.get();
}

TLinkReply TBusLink::MoveTo(int32_t count) {
  return Submit(TKind::kMove, count);
}

TLinkReply TBusLink::Stop() {
  return Submit(TKind::kStop, 0);
}

TLinkReply TBusLink::SetTempComp(bool on) {
  return Submit(TKind::kTempComp, on ? 1 : 0);
}

void TBusLink::RefreshTemperature() {
  std::unique_lock lock(FMutex);
  if (!FView.MorvaneRunning || !FView.PortOpen || FView.Moving()) return;
  const uint64_t before = FReadings;
  FNextReadUs = 0;
  FTemperatureCv.notify_all();
  // A module that is not there takes up to two seconds to be found missing.
  FTemperatureCv.wait_for(lock, std::chrono::milliseconds(3000),
                          [&] { return FReadings != before || FQuit; });
}

bool TBusLink::AwaitMorvane(int ms) {
  std::unique_lock lock(FMutex);
  if (FView.MorvaneRunning) return true;
  FLookNow = true;
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(FWake, &one, sizeof one);
  // The bus thread tells the temperature thread when it has found Morvane.
  return FTemperatureCv.wait_for(lock, std::chrono::milliseconds(ms), [&] {
    return FView.MorvaneRunning || FQuit;
  }) && FView.MorvaneRunning;
}

// Morvane has gone: nothing of its state is known any longer.
void TBusLink::Lost() {
  std::lock_guard lock(FMutex);
  FView = TFocuserView{};
  FFollower.Reset({});
  FMove.Forget();
}

void TBusLink::ShowState() {
  const TFocuserState& s = FFollower.State();
  FView.Position = s.Position;
  FView.Idle = s.Idle;
  FView.PortOpen = s.PortOpen;
  FView.ComPort = s.ComPort;
  FView.Running = s.Running;
  FView.LastFault = s.LastFault;
  FView.PortDevice = s.PortDevice;
  FView.PortProblem = s.PortProblem;
  FView.PositionScale = s.PositionScale;
  FView.LimitsSet = s.LimitsSet;
  FView.LowerLimit = s.LowerLimit;
  FView.UpperLimit = s.UpperLimit;
  FView.MovePending = FMove.Pending();
}

void TBusLink::Apply(const TNotification& n) {
  std::lock_guard lock(FMutex);
  if (FFollower.Apply(n).Gone) {
    FView = TFocuserView{};
    FMove.Forget();
    return;
  }
  if (n.Idle) FMove.OnIdle(*n.Idle, FFollower.State());
  ShowState();
  if (n.TempCompensation) FView.TempComp = *n.TempCompensation;
  if (n.TemperatureAvailable && *n.TemperatureAvailable && FView.Module != TModule::mdPresent) {
    FView.Module = TModule::mdPresent;
    FNextReadUs = 0;
    FTemperatureCv.notify_all();
  }
}

void TBusLink::Execute(TFocuserClient& client, TCommand& command) {
  if (command.Kind == TKind::kStop) {
    command.Done.set_value(ToLink(client.Call(BusMethod::Stop)));
    return;
  }
  if (command.Kind == TKind::kTempComp) {
    const bool on = command.Count != 0;
    const TLinkReply r = ToLink(client.SetBoolProperty(BusProperty::TempCompensation, on));
    // Read back at once as set; Morvane's announcement follows.
    if (r.Result == TLinkResult::lrOk) {
      std::lock_guard lock(FMutex);
      FView.TempComp = on;
    }
    command.Done.set_value(r);
    return;
  }
  const TLinkReply r = ToLink(client.CallInt(BusMethod::MoveTo, command.Count));
  if (r.Result == TLinkResult::lrOk) {
    std::lock_guard lock(FMutex);
    // At the count already nothing moves, and Morvane signals nothing.
    const TFocuserState& s = FFollower.State();
    if (FMove.Issue(command.Count, s.Position, s.Idle)) FMoveStartUs = MonotonicMicros();
    ShowState();
  }
  command.Done.set_value(r);
}

void TBusLink::RunBus() {
  std::unique_ptr<TFocuserClient> client;
  int64_t nextAttemptUs = 0;
  for (;;) {
    std::deque<std::shared_ptr<TCommand>> commands;
    {
      std::lock_guard lock(FMutex);
      if (FQuit) break;
      commands.swap(FCommands);
      if (FLookNow) nextAttemptUs = 0;
      FLookNow = false;
    }
    const int64_t now = MonotonicMicros();
    if (client && !client->Open()) {
      client.reset();
      Lost();
    }
    bool running = View().MorvaneRunning;
    if (!running && now >= nextAttemptUs) {
      // Morvane's arrival is also signalled, but a late start or a bus that was not there
      // is caught by trying again now and then.
      nextAttemptUs = now + 500'000;
      if (!client) {
        client = std::make_unique<TFocuserClient>();
        client->CallTimeoutMs = 2000;
        if (!client->Connected() || !client->Watch(false)) client.reset();
      }
      TFocuserState state;
      std::optional<TCompensationState> compensation;  // none from an older Morvane
      if (client && client->GetState(state, compensation).Ok) {
        // Notifications queued before the state was read are older than it.
        while (client->Next(0)) {
        }
        std::lock_guard lock(FMutex);
        FView = TFocuserView{};
        FView.MorvaneRunning = running = true;
        FFollower.Reset(state);
        FMove.Forget();
        ShowState();
        if (state.TemperatureAvailable) FView.Module = TModule::mdPresent;
        FView.HasCompensation = compensation.has_value();
        FView.TempComp = compensation && compensation->TempCompensation;
        FNextReadUs = 0;
        FTemperatureCv.notify_all();
      }
    }
    for (auto& c : commands) {
      if (client) {
        Execute(*client, *c);
      } else {
        c->Done.set_value({TLinkResult::lrNoService, "the session bus cannot be reached"});
      }
    }
    {
      std::lock_guard lock(FMutex);
      if (FMove.Pending() && MonotonicMicros() - FMoveStartUs > MoveStartWaitMs * 1000) {
        FMove.OnQuiet(FFollower.State());
        ShowState();
      }
    }
    pollfd fds[2] = {{FWake, POLLIN, 0}, {client ? client->Fd() : -1, POLLIN, 0}};
    poll(fds, client ? 2 : 1, 100);
    uint64_t count;
    [[maybe_unused]] const ssize_t n = read(FWake, &count, sizeof count);
    if (client) {
      while (auto note = client->Next(0)) {
        if (note->ServiceOwned && *note->ServiceOwned) {
          nextAttemptUs = 0;  // read the new Morvane's state at once
          Lost();
          continue;
        }
        Apply(*note);
      }
    }
  }
  std::lock_guard lock(FMutex);
  for (auto& c : FCommands) c->Done.set_value({TLinkResult::lrFailed, "the server is stopping"});
  FCommands.clear();
}

void TBusLink::RunTemperature() {
  std::unique_ptr<TFocuserClient> client;
  std::unique_lock lock(FMutex);
  while (!FQuit) {
    FTemperatureCv.wait_for(lock, std::chrono::milliseconds(250));
    if (FQuit) break;
    const int64_t now = MonotonicMicros();
    if (!FView.MorvaneRunning || !FView.PortOpen || FView.Moving() || now < FNextReadUs) continue;
    lock.unlock();
    if (!client || !client->Open()) {
      client = std::make_unique<TFocuserClient>();
      client->CallTimeoutMs = 4000;
    }
    double celsius = 0;
    const TBusReply r = client->ReadTemperature(celsius);
    lock.lock();
    FNextReadUs = MonotonicMicros() + int64_t{TemperatureIntervalMs} * 1000;
    if (r.Ok) {
      FView.Module = TModule::mdPresent;
      FView.HasTemperature = true;
      FView.Celsius = celsius;
      FView.TemperatureError.clear();
    } else if (r.ErrorName == NotAvailableError) {
      FView.Module = TModule::mdAbsent;
      FView.HasTemperature = false;
    } else if (r.ErrorName == BusyError) {
      FNextReadUs = MonotonicMicros() + 500'000;  // a move began meanwhile
    } else {
      FView.TemperatureError = r.ErrorMessage.empty() ? r.ErrorName : r.ErrorMessage;
    }
    ++FReadings;
    FTemperatureCv.notify_all();
  }
}

}  // namespace morvane::alpaca
