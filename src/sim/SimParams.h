#pragma once
// The model behind the simulated focuser: motor, encoder, serial line and temperature module.
// Defaults describe a small geared DC focuser motor with a 512-code shaft encoder behind an
// LX-200 handset, tuned so that the controller's factory settings suit it: a run at slow
// speed stopped at once coasts on 8 to 9 codes (about 10 counted from the write of the stop
// command, which takes 4 ms on the wire), so stopping 12 short leaves a few codes to nudge,
// and a 10 to 15 ms drive pulse moves the shaft by 0.7 to 1.5 codes.

#include <cstdint>
#include <string>

namespace morvane::sim {

enum class TModuleMode {
  Present,  // answers every request
  Absent,   // not on the line: nothing answers and nothing is stored
  Silent,   // on the line and acting on requests (a calibration write is stored), never answers
  Garbled,  // answers with ten wrong bytes (as at a wrong baud rate)
  Slow,     // answers correctly, but only after ModuleSlowDelayUs
  Short     // answers with the first ModuleShortLength characters only
};

struct TSimParams {
  // Encoder codes per turn of the encoder shaft; one code is one full quadrature cycle.
  int CodesPerRev = 512;

  // Shaft speeds in codes per second once spun up. The handset's slow rate turns the shaft
  // a little over half a turn per second; fast is four times that. The direct drive through
  // RTS/DTR runs the motor from the same supply as the slow rate, so one stop factor suits
  // both drive modes.
  double SlowSpeed = 300.0;
  double FastSpeed = 1200.0;
  double DirectSpeed = 300.0;
  // The handset's rate at power-up (":FS#"/":FF#" change it).
  bool StartFast = false;
  // The focuser hub cuts a handset-driven motor whenever the host clears RTS: that is what
  // ends a timed nudge pulse and holds a run during a pause in command mode, where the
  // handset alone would drive on until ":FQ#".
  bool ClearRtsStopsCommandDrive = true;

  // Time constant in seconds of the approach to full speed under drive (rotor and gear-train
  // inertia against the motor's torque-speed line).
  double SpinUpTime = 0.050;
  // Coasting without drive: viscous decay with this time constant in seconds plus a constant
  // friction deceleration in codes/s^2. The friction ends every coast in finite time, and
  // makes the coast grow faster than linearly with speed: a short pulse coasts a fraction of
  // a code, a full-speed run 8 to 9 codes. Both must be > 0.
  double CoastTime = 0.050;
  double CoastFriction = 1750.0;
  // Stiction: a shaft at rest starts to turn only after this much continuous drive in seconds
  // (winding current build-up and breakaway torque). A shaft without drive stands still.
  double BreakawayTime = 0.001;
  // Play in codes between the motor and the encoder shaft that a reversal takes up before
  // the count moves. The encoder sits on the motor shaft in the usual build, hence 0.
  double Backlash = 0.0;
  // Play in codes between the encoder shaft and the draw tube (the gear train beyond the
  // encoder): the tube stands at a different place for the same count depending on the last
  // direction. 0: the tube follows the shaft exactly.
  double TubePlay = 0.0;
  // Mechanical end stops, in turns of the encoder shaft either way from code 0.
  // At a stop the shaft stalls; driven away it breaks loose again.
  double TravelRevs = 40.0;
  // Where the shaft stands at start, in codes from the first code's start (within the end
  // stops): the middle of the quarter cycle where both lines are low, or where a run before
  // left it.
  double StartShaft = 0.125;

  // Reader model. False: every modem-line change is queued with a snapshot of the levels, so
  // a reader that keeps up sees every edge. True: as real hardware, changes arriving while no
  // wait is pending merge into one event and the status read gives the live levels.
  bool MergeEdges = false;
  // Bound on queued modem events a reader has not taken (about 16 MB).
  uint32_t EdgeQueueLimit = 1u << 20;

  // Where the modem lines are seen. 0: a UART on the mainboard or a PCI card, whose interrupt
  // comes within microseconds of a change, so its line counters count every encoder edge.
  // Otherwise a USB adapter that sends the line levels once per this many microseconds (its
  // latency timer, 1000 to 16000): a line that changes twice in one interval is not seen to
  // change, however quick the reader. Waits and status reads see the levels last sent.
  int AdapterLatencyUs = 0;
  // False: the port keeps no line counters (as a pseudo-terminal or some drivers), and a
  // reader must take the levels after each event.
  bool ModemCounters = true;
  // The reader's own lateness: a wait returns this many microseconds after its event, as when
  // the thread waits for a processor; changes meanwhile reach the counters.
  int ReaderDelayUs = 0;

  // Bound on trace entries kept (about 64 MB): a running motor adds a few thousand a second,
  // so a long session would otherwise grow without end. When full, the older half goes.
  uint32_t TraceLimit = 1u << 20;

  // One character on the wire at 9600 baud, 8N1: 10 bits. 0 delivers bytes instantly.
  int CharTimeUs = 1042;
  // UART transmit FIFO: a write returns once all but this many of its bytes are sent.
  int TxFifo = 16;

  // Temperature-compensation module.
  TModuleMode ModuleMode = TModuleMode::Present;
  // The five characters after "MRV01": major (2), minor (1), build (2).
  std::string ModuleFirmware = "12345";
  int32_t ModuleCal = 250;
  // Degrees Celsius at start, and the slow drift of a cooling night, degrees per hour.
  double Temperature = 12.5;
  double TemperatureDrift = -0.5;
  // From the end of a request to the first reply character: the module's firmware latency.
  int ModuleLatencyUs = 3000;
  // Extra delay of TModuleMode::Slow, beyond the controller's 1 s reply wait.
  int ModuleSlowDelayUs = 1'500'000;
  // Characters sent by TModuleMode::Short.
  int ModuleShortLength = 6;
};

}  // namespace morvane::sim
