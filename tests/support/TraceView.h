#pragma once
// Reading the simulated focuser's trace as a test wants it: the commands and line changes in
// order, and the times between them.

#include <string>
#include <vector>

#include "sim/SimFocuser.h"

namespace morvane::test {

// One step the controller took on the line: a write ("W:FQ#") or a line change ("RTS+",
// "DTR-").
struct TStep {
  std::string Text;
  int64_t Us;
};

inline std::vector<TStep> Steps(const std::vector<sim::TTraceEntry>& trace) {
  std::vector<TStep> steps;
  for (const auto& e : trace) {
    if (e.Kind == sim::TTraceKind::Write) steps.push_back({"W" + e.Bytes, e.Us});
    if (e.Kind == sim::TTraceKind::Line)
      steps.push_back({std::string(e.Line == 'R' ? "RTS" : "DTR") + (e.Level ? "+" : "-"), e.Us});
  }
  return steps;
}

inline std::vector<std::string> Texts(const std::vector<TStep>& steps) {
  std::vector<std::string> out;
  for (const auto& s : steps) out.push_back(s.Text);
  return out;
}

// The writes alone, without the keep-alive.
inline std::vector<std::string> Writes(const std::vector<sim::TTraceEntry>& trace) {
  std::vector<std::string> out;
  for (const auto& e : trace)
    if (e.Kind == sim::TTraceKind::Write && e.Bytes != "5") out.push_back(e.Bytes);
  return out;
}

inline size_t CountOf(const std::vector<std::string>& v, const std::string& s) {
  size_t n = 0;
  for (const auto& x : v) n += x == s;
  return n;
}

}  // namespace morvane::test
