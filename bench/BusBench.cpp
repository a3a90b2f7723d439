// What other programs see of Morvane, in real time, with the real main window offscreen on the
// simulated focuser: the round trip of a "MORVANE_MESSAGE" query and of reading Position over
// the focuser interface, and (when INDI's server is there) how soon and how often an INDI
// client hears of the position through indi_morvane_focus during a 250-code move.
//
//   morvane_bus_bench [--json] [--queries N] [--skip-indi]

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "busclient/FocuserClient.h"
#include "host/QtControllerHost.h"
#include "indi_morvane_focus/FocuserRequest.h"
#include "platform/Event.h"
#include "platform/Signals.h"
#include "platform/Timing.h"
#include "sim/SimFocuser.h"
#include "support/FreePort.h"
#include "support/PrivateBus.h"
#include "support/ToolProcess.h"
#include "ui/MainWindowRig.h"
#include "ui/fMorvane.h"

using namespace morvane;

namespace {

struct TOptions {
  bool Json = false;
  int Queries = 2000;
  bool Indi = true;
};

// The GUI thread serves until work, run on a thread of its own, is done.
template <typename F>
auto WhileServing(F work) {
  auto done = std::async(std::launch::async, std::move(work));
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready) loop.quit();
  });
  poll.start(1);
  loop.exec();
  return done.get();
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5));
  return v[i];
}

// Round trips of (1, 0) -> (2, n) and of a Position read, in microseconds.
void MeasureRoundTrips(int n, std::vector<double>& message, std::vector<double>& property) {
  WhileServing([&] {
    TFocuserClient client;
    client.Watch(true);
    const std::string me = client.UniqueName();
    for (int i = 0; i < n; ++i) {
      const int64_t start = MonotonicMicros();
      client.SendMessage(mmReportPosition, 0);
      for (;;) {
        const auto got = client.Next(2000);
        if (!got) break;
        if (got->IsMessage && got->WParam == mmPosition && got->Sender != me) {
          message.push_back(static_cast<double>(got->ReceivedUs - start));
          break;
        }
      }
    }
    for (int i = 0; i < n; ++i) {
      int32_t position = 0;
      const int64_t start = MonotonicMicros();
      if (client.GetPosition(position).Ok)
        property.push_back(static_cast<double>(MonotonicMicros() - start));
    }
    return 0;
  });
}

struct TSeen {
  int64_t Us;
  int32_t Position;
};

// A plain INDI client on the server's socket: every absolute position the driver sends, with
// the time it arrived, until stop.
std::vector<TSeen> ListenToIndi(int port, std::atomic<bool>& ready, std::atomic<bool>& stop) {
  std::vector<TSeen> seen;
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ready = true;
    return seen;
  }
  const std::string hello = "<getProperties version='1.7'/>\n";
  if (write(s, hello.data(), hello.size()) < 0) return seen;
  timeval tv{0, 20000};
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  std::string buffer;
  char chunk[8192];
  ready = true;
  while (!stop) {
    const ssize_t n = read(s, chunk, sizeof chunk);
    if (n <= 0) continue;
    const int64_t now = MonotonicMicros();
    buffer.append(chunk, static_cast<size_t>(n));
    for (;;) {
      const size_t open = buffer.find("name=\"ABS_FOCUS_POSITION\"");
      if (open == std::string::npos) break;
      const size_t element = buffer.find("FOCUS_ABSOLUTE_POSITION", open);
      const size_t value = element == std::string::npos ? element : buffer.find('>', element);
      const size_t end = value == std::string::npos ? value : buffer.find('<', value);
      if (end == std::string::npos) break;
      // A fresh Morvane has the default scale and no limits.
      const int indiPosition = std::atoi(buffer.substr(value + 1, end - value - 1).c_str());
      seen.push_back({now, static_cast<int32_t>(CountAt(indiPosition, TClientScale{}))});
      buffer.erase(0, end);
    }
    if (buffer.size() > 65536) buffer.erase(0, buffer.size() - 4096);
  }
  close(s);
  return seen;
}

struct TIndiFigures {
  bool Measured = false;
  std::string Why;
  double LagP50 = 0, LagP99 = 0, UpdatesPerSecond = 0;
  size_t PeakPerSecond = 0;  // most updates in any one second (the run's fast part)
  size_t Updates = 0;
};

TIndiFigures MeasureIndi(TMainForm& form, sim::TSimFocuser& simulator,
                         const std::filesystem::path& dir) {
  TIndiFigures f;
  if (access("/usr/bin/indiserver", X_OK) != 0 || access(INDI_DRIVER, X_OK) != 0) {
    f.Why = "indiserver or the driver is missing";
    return f;
  }
  const int port = test::FreePort();
  std::filesystem::create_directories(dir / "indi");
  test::TToolProcess server(
      "/usr/bin/indiserver",
      {"-p", std::to_string(port), "-u", (dir / "indi" / "sock").string(), INDI_DRIVER},
      {"HOME=" + (dir / "indi").string()});
  const std::string device = "Morvane Focuser";
  bool connected = false;
  for (int i = 0; i < 50 && !connected; ++i) {
    connected = WhileServing([&] {
      test::RunTool("/usr/bin/indi_setprop",
                    {"-p", std::to_string(port), device + ".CONNECTION.CONNECT=On"});
      return test::RunTool("/usr/bin/indi_eval", {"-p", std::to_string(port), "-t", "1", "-w",
                                                  "\"" + device + ".CONNECTION.CONNECT\"==1"})
                 .Status == 0;
    });
  }
  if (!connected) {
    f.Why = "the driver did not connect";
    return f;
  }
  std::atomic<bool> ready{false}, stop{false};
  auto listener = std::async(std::launch::async, [&] { return ListenToIndi(port, ready, stop); });
  while (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  WhileServing([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    return 0;
  });
  simulator.ClearTrace();
  const int64_t start = MonotonicMicros();
  const int32_t from = form.Controller().CTSCount();
  WhileServing([&] {
    TFocuserClient client;
    client.Watch(false);
    client.CallInt("MoveBy", 250);
    bool busy = false;
    while (MonotonicMicros() - start < 20'000'000) {
      const auto n = client.Next(100);
      if (n && n->Idle) {
        if (!*n->Idle)
          busy = true;
        else if (busy)
          break;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the last update on its way
    return 0;
  });
  stop = true;
  std::vector<TSeen> seen = listener.get();
  // The edges that made each count during the move, in time order: a count is reached again
  // when the nudges drive back over it.
  std::map<int32_t, std::vector<int64_t>> reached;
  for (const auto& e : simulator.Trace())
    if (e.Kind == sim::TTraceKind::Edge && e.Us >= start) reached[e.Position].push_back(e.Us);
  std::vector<double> lags;
  std::vector<int64_t> times;
  int64_t first = 0, last = 0;
  size_t during = 0;
  int32_t previous = from;
  for (const auto& s : seen) {
    // A state change sends the position again; only new positions count.
    if (s.Us < start || s.Position == previous) continue;
    previous = s.Position;
    const auto r = reached.find(s.Position);
    if (r == reached.end()) continue;
    // The latest edge to this count before the client heard of it.
    const auto after = std::upper_bound(r->second.begin(), r->second.end(), s.Us);
    if (after == r->second.begin()) continue;
    lags.push_back((s.Us - *(after - 1)) / 1000.0);
    times.push_back(s.Us);
    if (!first) first = s.Us;
    last = s.Us;
    ++during;
  }
  f.Measured = !lags.empty();
  if (!f.Measured) f.Why = "no positions reached the client";
  f.LagP50 = Percentile(lags, 0.5);
  f.LagP99 = Percentile(lags, 0.99);
  f.Updates = during;
  f.UpdatesPerSecond = last > first ? (during - 1) / ((last - first) / 1e6) : 0;
  for (size_t i = 0; i < times.size(); ++i) {
    const auto end =
        std::upper_bound(times.begin() + static_cast<long>(i), times.end(), times[i] + 999'999);
    f.PeakPerSecond = std::max(f.PeakPerSecond, static_cast<size_t>(end - times.begin()) - i);
  }
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  TOptions o;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--json"))
      o.Json = true;
    else if (!std::strcmp(argv[i], "--skip-indi"))
      o.Indi = false;
    else if (!std::strcmp(argv[i], "--queries") && i + 1 < argc)
      o.Queries = std::max(10, std::atoi(argv[++i]));
    else {
      std::fprintf(stderr, "usage: morvane_bus_bench [--json] [--queries N] [--skip-indi]\n");
      return 2;
    }
  }
  test::TPrivateBus bus;  // nothing else on it
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  SetNamedEventScope("bench" + std::to_string(getpid()));
  TStartupObjects startup;
  QApplication app(argc, argv);
  std::vector<double> message, property;
  TIndiFigures indi;
  {
    test::TMainWindowRig rig;
    MeasureRoundTrips(o.Queries, message, property);
    if (o.Indi) indi = MeasureIndi(*rig.Form, *rig.Simulator, rig.Dir);
  }

  const double p50 = Percentile(message, 0.5), p99 = Percentile(message, 0.99);
  const double g50 = Percentile(property, 0.5), g99 = Percentile(property, 0.99);
  if (o.Json) {
    std::printf(
        "{\"message_round_trip_us_p50\": %.0f, \"message_round_trip_us_p99\": %.0f, "
        "\"position_get_us_p50\": %.0f, \"position_get_us_p99\": %.0f, \"queries\": %zu",
        p50, p99, g50, g99, message.size());
    if (indi.Measured) {
      std::printf(
          ", \"indi_position_lag_ms_p50\": %.1f, \"indi_position_lag_ms_p99\": %.1f, "
          "\"indi_updates_per_second\": %.1f, \"indi_updates_peak_per_second\": %zu",
          indi.LagP50, indi.LagP99, indi.UpdatesPerSecond, indi.PeakPerSecond);
    }
    std::printf("}\n");
  } else {
    std::printf("MORVANE_MESSAGE (1, 0) -> (2, n): p50 %.0f us, p99 %.0f us over %zu queries\n",
                p50, p99, message.size());
    std::printf("Position over org.morvane.Focuser1: p50 %.0f us, p99 %.0f us\n", g50, g99);
    if (indi.Measured) {
      std::printf(
          "INDI client, encoder edge to position: p50 %.1f ms, p99 %.1f ms; %.1f updates/s (%zu "
          "in all, at most %zu in one second) during a 250-code move\n",
          indi.LagP50, indi.LagP99, indi.UpdatesPerSecond, indi.Updates, indi.PeakPerSecond);
    } else if (o.Indi) {
      std::printf("INDI: not measured (%s)\n", indi.Why.c_str());
    }
  }
  return 0;
}
