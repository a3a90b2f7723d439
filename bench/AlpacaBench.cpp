// morvane-alpaca against the real Morvane on the simulated focuser, on a private bus and
// loopback: the round trip of GET position, the time from sending Move to reading IsMoving
// true, and how many GETs are served while a 1000-code move runs, with that move's duration
// beside the same move without the requests; and the round trip of a Halt, each on a new
// connection in mid-move, while N slow clients (100) each send a byte a second and reconnect
// whenever they are dropped.
//
//   morvane_alpaca_bench [--json] [--requests N] [--slow N]

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "busclient/FocuserClient.h"
#include "platform/Timing.h"
#include "support/FreePort.h"
#include "support/PrivateBus.h"
#include "support/ToolProcess.h"

using namespace morvane;

namespace {

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

bool Moving(httplib::Client& c) {
  const auto r = c.Get("/api/v1/focuser/0/ismoving");
  return r && r->body.find("\"Value\":true") != std::string::npos;
}

// Moves to the target and returns the time until IsMoving reads false, in ms.
double MoveMs(httplib::Client& c, int target) {
  const int64_t start = MonotonicMicros();
  c.Put("/api/v1/focuser/0/move", "Position=" + std::to_string(target),
        "application/x-www-form-urlencoded");
  while (Moving(c)) Sleep(5);
  return static_cast<double>(MonotonicMicros() - start) / 1000.0;
}

// Time for the slow clients' first bytes to arrive, so that each halt meets them under way.
constexpr int SlowStartMs = 3000;

int OpenSlow(int port) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  return s;
}

// Clients that send a request a byte a second, each reconnecting when the server drops it.
class TSlowClients {
 public:
  TSlowClients(int port, int count) : FPort(port) {
    for (int i = 0; i < count; ++i) FSocks.push_back(OpenSlow(port));
    FThread = std::thread([this] { Run(); });
  }
  ~TSlowClients() {
    FStop = true;
    FThread.join();
    for (const int s : FSocks) close(s);
  }

 private:
  static constexpr int ByteIntervalMs = 1000;
  void Run() {
    static constexpr char Request[] = "PUT /api/v1/focuser/0/move HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    size_t at = 0;
    while (!FStop) {
      for (int& s : FSocks) {
        char c;
        const ssize_t got = recv(s, &c, 1, MSG_DONTWAIT);
        bool dropped = got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
        if (!dropped)
          dropped =
              send(s, Request + at % (sizeof Request - 1), 1, MSG_NOSIGNAL | MSG_DONTWAIT) < 0 &&
              errno != EAGAIN && errno != EWOULDBLOCK;
        // Dropped by the server: come back, as a client that means harm would.
        if (dropped) {
          close(s);
          s = OpenSlow(FPort);
        }
      }
      ++at;
      for (int waited = 0; waited < ByteIntervalMs && !FStop; waited += 50) Sleep(50);
    }
  }
  const int FPort;
  std::vector<int> FSocks;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};

}  // namespace

int main(int argc, char** argv) {
  bool json = false;
  int requests = 2000;
  int slowClients = 100;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--json")) {
      json = true;
    } else if (!std::strcmp(argv[i], "--requests") && i + 1 < argc) {
      requests = std::max(10, std::atoi(argv[++i]));
    } else if (!std::strcmp(argv[i], "--slow") && i + 1 < argc) {
      slowClients = std::max(0, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: morvane_alpaca_bench [--json] [--requests N] [--slow N]\n");
      return 2;
    }
  }
  test::TPrivateBus bus;
  const auto dir =
      std::filesystem::temp_directory_path() / ("morvane-alpaca-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir / "config" / "Morvane");
  std::ofstream(dir / "Morvane.ini", std::ios::binary)
      << "[Device/Ports]\r\nComPort=1\r\nCommands=0\r\nVoice=2\r\n"
      << "[Position]\r\nSavePosition=0\r\n";
  std::ofstream(dir / "config" / "Morvane" / "Alpaca.ini") << "[Alpaca]\nMaxStep=5000\n";
  std::filesystem::copy_file(MORVANE_PROGRAM, dir / "morvane");
  const int port = test::FreePort();
  int result = 1;
  {
    test::TToolProcess morvane((dir / "morvane").string(), {"--simulate"},
                               {"QT_QPA_PLATFORM=offscreen", "MORVANE_ALSA_DEVICE=null"});
    TFocuserClient client;
    TFocuserState state;
    for (int i = 0; i < 200 && !(client.GetState(state).Ok && state.PortOpen); ++i) Sleep(100);
    test::TToolProcess server(
        MORVANE_ALPACA,
        {"--port", std::to_string(port), "--discovery-port", std::to_string(test::FreePort())},
        {"XDG_CONFIG_HOME=" + (dir / "config").string()});
    httplib::Client c("127.0.0.1", port);
    c.set_keep_alive(true);
    c.set_tcp_nodelay(true);
    for (int i = 0; i < 100 && !c.Get("/management/apiversions"); ++i) Sleep(100);
    const auto connected =
        c.Put("/api/v1/focuser/0/connected", "Connected=true", "application/x-www-form-urlencoded");
    if (!connected || connected->body.find("\"ErrorNumber\":0") == std::string::npos) {
      std::fprintf(stderr, "morvane-alpaca did not connect to Morvane\n");
    } else {
      std::vector<double> get;
      for (int i = 0; i < requests; ++i) {
        const int64_t t = MonotonicMicros();
        c.Get("/api/v1/focuser/0/position");
        get.push_back(static_cast<double>(MonotonicMicros() - t) / 1000.0);
      }
      // Positions are MaxStep (5000) minus the count: near count 0, as the bus moves below.
      MoveMs(c, 4900);
      std::vector<double> toMoving;
      for (int i = 0; i < 10; ++i) {
        const int64_t t = MonotonicMicros();
        c.Put("/api/v1/focuser/0/move", "Position=" + std::to_string(i % 2 ? 4900 : 4700),
              "application/x-www-form-urlencoded");
        const bool moving = Moving(c);
        toMoving.push_back(moving ? static_cast<double>(MonotonicMicros() - t) / 1000.0 : 1e9);
        while (Moving(c)) Sleep(5);
      }
      // The same call straight on the bus, for comparison.
      std::vector<double> busMove;
      for (int i = 0; i < 10; ++i) {
        const int64_t t = MonotonicMicros();
        client.CallInt("MoveTo", i % 2 ? 100 : 300);
        busMove.push_back(static_cast<double>(MonotonicMicros() - t) / 1000.0);
        Sleep(100);
        while (Moving(c)) Sleep(5);
      }
      const double quietMs = MoveMs(c, 3900);
      MoveMs(c, 4900);
      std::atomic<bool> stop{false};
      std::atomic<long> served{0};
      std::vector<std::thread> pollers;
      for (int k = 0; k < 4; ++k)
        pollers.emplace_back([&] {
          httplib::Client p("127.0.0.1", port);
          p.set_keep_alive(true);
          p.set_tcp_nodelay(true);
          while (!stop)
            if (p.Get("/api/v1/focuser/0/position")) ++served;
        });
      const int64_t t = MonotonicMicros();
      const double loadedMs = MoveMs(c, 3900);
      const double rate =
          static_cast<double>(served) * 1e6 / static_cast<double>(MonotonicMicros() - t);
      stop = true;
      for (auto& p : pollers) p.join();
      // Halts in mid-move behind the slow clients, each on a connection of its own as curl
      // sends one; timed from the request to its reply.
      std::vector<double> halt;
      {
        TSlowClients slow(port, slowClients);
        Sleep(SlowStartMs);
        for (int i = 0; i < 10; ++i) {
          MoveMs(c, 4900);
          c.Put("/api/v1/focuser/0/move", "Position=3900", "application/x-www-form-urlencoded");
          httplib::Client h("127.0.0.1", port);
          h.set_tcp_nodelay(true);
          const int64_t t = MonotonicMicros();
          const auto r = h.Put("/api/v1/focuser/0/halt", "", "application/x-www-form-urlencoded");
          halt.push_back(r && r->status == 200 ? static_cast<double>(MonotonicMicros() - t) / 1000.0
                                               : 1e9);
          while (Moving(c)) Sleep(5);
        }
      }
      const char* format =
          json ? "{\"get_position_p50_ms\":%.3f,\"get_position_p99_ms\":%.3f,"
                 "\"move_to_ismoving_p50_ms\":%.2f,\"move_to_ismoving_max_ms\":%.2f,"
                 "\"bus_moveto_p50_ms\":%.2f,"
                 "\"gets_per_s_during_move\":%.0f,\"move_1000_quiet_ms\":%.0f,"
                 "\"move_1000_loaded_ms\":%.0f,\"slow_clients\":%d,"
                 "\"halt_behind_slow_p50_ms\":%.2f,\"halt_behind_slow_max_ms\":%.2f}\n"
               : "GET position: p50 %.3f ms, p99 %.3f ms\n"
                 "Move to IsMoving true: p50 %.2f ms, max %.2f ms\n"
                 "MoveTo on the bus alone: p50 %.2f ms\n"
                 "GETs served during a move (4 clients): %.0f/s\n"
                 "1000-code move: %.0f ms quiet, %.0f ms under the GETs\n"
                 "Halt behind %d slow clients: p50 %.2f ms, max %.2f ms\n";
      std::printf(format, Percentile(get, 0.5), Percentile(get, 0.99), Percentile(toMoving, 0.5),
                  *std::max_element(toMoving.begin(), toMoving.end()), Percentile(busMove, 0.5),
                  rate, quietMs, loadedMs, slowClients, Percentile(halt, 0.5),
                  *std::max_element(halt.begin(), halt.end()));
      result = 0;
    }
    server.Signal(SIGTERM);
    server.Wait(5000);
    morvane.Signal(SIGTERM);
    morvane.Wait(10000);
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return result;
}
