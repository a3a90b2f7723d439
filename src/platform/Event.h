#pragma once
// Event objects with the four wait results of the Windows wait functions. A named event is
// shared by name between all processes of the same user; an unnamed one is private to the
// process.

#include <memory>
#include <string>

namespace morvane {

enum class TWaitResult { wrSignaled, wrTimeout, wrAbandoned, wrError };

inline constexpr unsigned INFINITE = 0xFFFFFFFFu;

// Named events are shared between the processes that use the same scope; the program uses
// the empty scope. A test process takes a scope of its own, so that it shares no event with a
// program or another test running beside it. Set it before any named event is created.
void SetNamedEventScope(const std::string& scope);

// A name for an event that one object of this process uses alone: name, made unique to the
// process and to each call ("THE_CTS_EVENT.<pid>.<n>"), so that two controllers, in one
// program or in two, never share it. The events other programs share keep their plain names.
std::string InstanceEventName(const std::string& name);

class TEvent {
 public:
  // manualReset false: a released waiter resets the event (auto-reset).
  // An empty name makes a private event. Creating a named event that exists opens it.
  TEvent(bool manualReset, bool initialState, const std::string& name = {});
  ~TEvent();
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  void SetEvent();
  void ResetEvent();
  // Time-out in milliseconds; INFINITE waits for ever. wrAbandoned: a process died holding
  // the named event's internal lock; the wait went on, consumed a signal if there was one,
  // and later waits work as before.
  TWaitResult WaitFor(unsigned timeoutMs);
  // The OS error code of the last wait that gave wrError.
  int LastError() const;
  const std::string& Name() const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

}  // namespace morvane
