#include "BenchParams.h"

#include <strings.h>
#include <cstdlib>

namespace morvane::bench {

#define MORVANE_FIELD(name, help)                                                                   \
  TParamField {                                                                                     \
#name, help,                                                                                    \
        [](const sim::TSimParams&                                                                   \
               p) { return double(p.name); },                                                       \
                                           [](sim::TSimParams & p,                                  \
                                              double                                                \
                                                  v) { p.name = static_cast<decltype(p.name)>(v); } \
  }

const std::vector<TParamField>& ParamFields() {
  static const std::vector<TParamField> fields = {
      MORVANE_FIELD(CodesPerRev, "encoder codes per turn"),
      MORVANE_FIELD(SlowSpeed, "codes/s after :FS#"),
      MORVANE_FIELD(FastSpeed, "codes/s after :FF#"),
      MORVANE_FIELD(DirectSpeed, "codes/s driven by RTS/DTR"),
      MORVANE_FIELD(StartFast, "1: the handset starts at the fast rate"),
      MORVANE_FIELD(ClearRtsStopsCommandDrive, "1: clearing RTS cuts a handset-driven motor"),
      MORVANE_FIELD(SpinUpTime, "s, time constant of the approach to full speed"),
      MORVANE_FIELD(CoastTime, "s, viscous time constant of a coast"),
      MORVANE_FIELD(CoastFriction, "codes/s^2, friction deceleration of a coast"),
      MORVANE_FIELD(BreakawayTime, "s of drive before a shaft at rest starts to turn"),
      MORVANE_FIELD(Backlash, "codes of play taken up at a reversal"),
      MORVANE_FIELD(TravelRevs, "turns to the end stops either way"),
      MORVANE_FIELD(MergeEdges, "1: changes faster than the reader merge (real UART)"),
      MORVANE_FIELD(EdgeQueueLimit, "queued modem events at most"),
      MORVANE_FIELD(CharTimeUs, "us per character on the wire"),
      MORVANE_FIELD(TxFifo, "bytes of transmit FIFO"),
      MORVANE_FIELD(ModuleLatencyUs, "us from request to reply"),
  };
  return fields;
}

#undef MORVANE_FIELD

bool ApplyParam(sim::TSimParams& params, const std::string& assignment, std::string& error) {
  const auto eq = assignment.find('=');
  if (eq == std::string::npos) {
    error = "expected Name=Value: " + assignment;
    return false;
  }
  const std::string name = assignment.substr(0, eq);
  const std::string value = assignment.substr(eq + 1);
  char* end = nullptr;
  const double v = std::strtod(value.c_str(), &end);
  if (value.empty() || *end) {
    error = "not a number: " + value;
    return false;
  }
  for (const auto& f : ParamFields())
    if (!strcasecmp(f.Name, name.c_str())) {
      f.Set(params, v);
      return true;
    }
  error = "unknown parameter: " + name;
  return false;
}

}  // namespace morvane::bench
