#pragma once
// The simulated focuser: motor, quadrature encoder, LX-200 handset and temperature module
// behind one serial port, running in real time. It is what the program drives without
// hardware, and the bench for tests and benchmarks.
//
// The motor turns toward rising codes under ":F-#" or with RTS set and DTR set, the other way
// under ":F+#" or with RTS set and DTR clear; ":FQ#" stops the command drive, ":FS#"/":FF#"
// pick its speed. RTS on takes precedence over the command drive, and clearing RTS also cuts
// the command drive unless the parameters say otherwise. Physics runs in one thread
// that computes the time of every next encoder edge and sleeps until then, and sleeps for
// good while the motor rests without drive.
//
// Lifetime: the TSimFocuser must outlive every port it opened; a port's destructor closes it.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/SerialPort.h"
#include "sim/SimHandset.h"
#include "sim/SimModule.h"
#include "sim/SimMotor.h"
#include "sim/SimParams.h"
#include "sim/SimTrace.h"

namespace morvane::sim {

class TSimPort;

class TSimFocuser {
 public:
  // The shaft at rest somewhere new, told on the physics thread (without the simulator's
  // lock), and once more at the end if it moved since: for keeping it across runs.
  using TRestHandler = std::function<void(double shaft)>;
  explicit TSimFocuser(const TSimParams& params = {}, TRestHandler onRest = {});
  // Stops and joins the physics thread, then tells where the shaft ended. No port may outlive
  // it.
  ~TSimFocuser();
  TSimFocuser(const TSimFocuser&) = delete;
  TSimFocuser& operator=(const TSimFocuser&) = delete;

  // The port to the device; nullptr while another is open or the device is unplugged.
  std::unique_ptr<TSerialPort> Open();
  // n -> Open() for any port number n >= 1.
  TPortOpener Opener();

  std::vector<TTraceEntry> Trace() const;
  void ClearTrace();

  // What a single-resolution reader counts from 0 (a CTS edge with DSR low: rising +1,
  // falling -1): the count a controller that loses no edge shows.
  int32_t Position() const;
  // The same for a reader that counts both CTS edges (double resolution).
  int32_t DualPosition() const;
  // The encoder shaft's angle in codes, also while the encoder is dead; starts at
  // TSimParams::StartShaft.
  double ShaftPosition() const;
  // Where the draw tube stands, in codes of the shaft (TubePlay away from it at most).
  double TubePosition() const;
  // Motor speed in codes per second, positive toward rising codes.
  double Speed() const;
  bool Moving() const;
  // Current levels of the encoder lines.
  bool CTS() const;
  bool DSR() const;
  // Current levels of the drive lines.
  bool RTS() const;
  bool DTR() const;

  void SetModuleMode(TModuleMode mode);
  // Degrees Celsius now; the temperature drifts from there as the parameters say.
  void SetTemperature(double celsius);
  double ModuleTemperature() const;
  int32_t ModuleCal() const;
  void SetModuleCal(int32_t value);
  // The module answers the next request this text belongs to with exactly it (any length),
  // whatever its mode, with the usual timing, and still acts on the request. A text that
  // starts with "MRV" and a code goes to the request of that code (a reply's code less one):
  // "MRV0700236" answers the next calibration write, not the availability probe before it.
  // Any other text answers the next request.
  void SetNextModuleReply(const std::string& reply);
  // Puts bytes into the open port's input buffer at once (NUL bytes dropped when the line
  // settings ask for it). Without an open port they are lost.
  void InjectInput(const std::string& bytes);

  void SetMergeEdges(bool on);
  // Pulls the cable: the open port fails every later operation with peDeviceGone (a
  // blocked wait too, a blocked read Failed), the lines drop and the motor loses its drive;
  // no port opens until Replug.
  void Unplug();
  void Replug();
  // The encoder stops producing edges while the shaft turns; revived, it goes on from where
  // it stopped.
  // Pulling the encoder's cable is the same to the port: its lines stop where they were.
  void SetDeadEncoder(bool dead);
  // The motor jams at the shaft angle atCodes (codes, as ShaftPosition), met as an end stop
  // from the side the shaft is on now; Unjam frees it.
  void Jam(double atCodes);
  void Unjam();
  // The port misses the next changes of one encoder line ('C' CTS, 'S' DSR; negative: every
  // change until KeepEdges): it reads the line's level but neither counts the change nor
  // reports it, as a port whose interrupt came too late for a short pulse or a cable that
  // picks up noise. The shaft and the reference count go on as ever.
  void DropEdges(char line, int changes);
  void KeepEdges();
  // The reader's own lateness from now on (TSimParams::ReaderDelayUs): each wait returns this
  // long after its event, as a counting thread kept from the processor by a busy machine.
  void SetReaderDelay(int us);

  // Turns the shaft by hand with the motor at rest: codes full cycles (negative toward falling
  // codes), line changes evenly spaced so that CTS changes edgeRateHz times per second. Blocks
  // until done; edges are timed against absolute deadlines.
  void Turn(int codes, double edgeRateHz);
  // Sets the encoder lines directly with the motor at rest; a change of both lines is made
  // DSR first, so the CTS event already shows the new DSR. A CTS change wakes a waiter.
  void SetEncoderLines(bool cts, bool dsr);

  const TSimParams& Params() const { return FParams; }

 private:
  friend class TSimPort;
  using TClock = std::chrono::steady_clock;
  using TLock = std::unique_lock<std::mutex>;

  struct TModemEvent {
    uint32_t Bit;  // EV_CTS or EV_DSR
    bool Cts, Dsr;
    TModemCounts Counts;
  };
  struct TTimedByte {
    double T;
    char C;
  };

  // Clock: seconds since construction for the physics, microseconds for the trace.
  double Now() const;
  TClock::time_point ToTimePoint(double t) const;
  static int64_t ToUs(TClock::time_point tp);
  void AddTrace(TTraceKind kind, char line = 0, bool level = false, uint32_t value = 0,
                std::string bytes = {});

  // Physics thread and the timeline it works through; all under FLock.
  void Run();
  // Works off everything due up to now in time order: bytes reaching the device, bytes
  // reaching the input buffer, encoder edges.
  void CatchUp(double now);
  double NextDeadline(double now) const;
  void ReceiveFromLine(double t, char c);
  void ApplyDrive(double t);
  void AdvanceMotor(double t);
  // Brings the encoder lines to the shaft's quarter cycle, one edge per quarter.
  void SyncEncoder();
  // The lines, the port's view of them and the reference counts for a shaft placed at x
  // before anything ran, as if it had turned there from the start.
  void StartEncoderAt(double x);
  void StepEncoder(int64_t quarter);
  void SetEncoderLevel(char line, bool level);
  // A line change where the port sees it: counted and reported to a waiter.
  void SeeLineChange(uint32_t bit);
  // A USB adapter's status reports due up to t, each with the levels of its moment.
  void AdapterReport(double t);
  bool Adapter() const { return FParams.AdapterLatencyUs > 0; }
  double AdapterInterval() const { return FParams.AdapterLatencyUs * 1e-6; }
  double QuarterLow() const;
  double QuarterHigh() const;
  void DeliverInput(const std::string& bytes);
  void DropUnsentOutput(double now);
  void DropLines();

  // Port side, called by TSimPort with its session number; all take FLock.
  bool Alive(uint64_t session) const;
  // Why session's operations fail: a port unplugged or closed.
  TPortError Dead(uint64_t session) const;
  TPortResult PortGetCommState(uint64_t session, TLineSettings& settings);
  TPortResult PortSetCommState(uint64_t session, const TLineSettings& settings);
  TPortResult PortSetCommMask(uint64_t session, uint32_t mask);
  TPortResult PortWaitCommEvent(uint64_t session, uint32_t& eventMask);
  TPortResult PortGetCommModemStatus(uint64_t session, uint32_t& modemStatus);
  TPortResult PortGetCommCounts(uint64_t session, TModemCounts& counts, uint32_t& modemStatus);
  TPortResult PortEscapeCommFunction(uint64_t session, uint8_t func);
  TPortResult PortGetCommTimeouts(uint64_t session, TCommTimeouts& timeouts);
  TPortResult PortSetCommTimeouts(uint64_t session, const TCommTimeouts& timeouts);
  TPortResult PortPurgeComm(uint64_t session, uint32_t flags);
  TIoResult PortWrite(uint64_t session, const char* data, size_t len, int waitMs);
  TIoResult PortRead(uint64_t session, char* dest, size_t count, size_t& got, int waitMs);
  void PortClose(uint64_t session);
  void EndSession();

  const TSimParams FParams;
  const TRestHandler FOnRest;
  double FToldShaft = 0;  // the shaft where FOnRest last had it
  const TClock::time_point FEpoch;
  const double FCharTime;  // seconds per character on the wire
  TSimTrace FTrace;

  mutable std::mutex FLock;
  std::condition_variable FWake;    // the physics thread: new work or a new deadline
  std::condition_variable FPortCv;  // port callers: events, input, aborts, close
  bool FStop = false;

  // Device.
  TSimMotor FMotor;
  TSimHandset FHandset;
  TSimModule FModule;
  int FCommandDir = 0;
  bool FFast;
  bool FRts = false, FDtr = false;
  bool FCts = false, FDsr = false;
  int64_t FQuarter = 0;  // the encoder's quarter cycle: shaft angle * 4 - FOffset, floored
  double FOffset = 0;    // shaft angle at which the encoder's quarter 0 begins
  bool FDeadEncoder = false;
  int FDropCts = 0, FDropDsr = 0;  // changes the port is still to miss (negative: all)
  int FReaderDelayUs;
  // The port's view of the encoder lines: the levels last seen (live on a UART, last sent by
  // an adapter) and its counters of their changes.
  bool FSeenCts = false, FSeenDsr = false;
  TModemCounts FCounts;
  double FLastEdgeAt = 0;    // when a line last changed
  int64_t FAdapterTick = 0;  // the adapter's last status report, in intervals since the start
  int32_t FCount = 0;
  int32_t FDualCount = 0;  // both CTS edges counted
  bool FUnplugged = false;
  uint64_t FUnpluggedSession = 0;    // the session the last unplug ended
  std::deque<TTimedByte> FToDevice;  // written bytes with their arrival at the device
  std::deque<TTimedByte> FToPort;    // module replies with their arrival at the port
  double FTxFreeAt = 0;              // when the wire to the device is free again
  double FRxFreeAt = 0;              // when the wire from the module is free again

  // Port (one session at a time; settings and time-outs persist across sessions).
  uint64_t FSession = 0;  // the open session's number; 0 when none
  uint64_t FLastSession = 0;
  TLineSettings FSettings;
  TCommTimeouts FTimeouts;
  uint32_t FMask = 0;
  uint64_t FMaskChanges = 0;
  bool FWaiting = false;
  bool FMerge;
  std::deque<TModemEvent> FEvents;  // queued mode
  uint32_t FPending = 0;            // merged mode
  std::optional<TModemEvent> FSnapshot;
  std::deque<char> FInput;
  uint64_t FRxAborts = 0, FTxAborts = 0;

  std::thread FThread;  // last: starts once everything above exists
};

}  // namespace morvane::sim
