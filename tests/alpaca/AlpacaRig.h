#pragma once
// The real Morvane on its simulated focuser (offscreen, its own settings) and the real
// morvane-alpaca beside it on the test's private bus, on free loopback ports; a small Alpaca
// client over cpp-httplib.

#include <gtest/gtest.h>
#include <httplib.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "busclient/FocuserClient.h"
#include "platform/Timing.h"
#include "support/FreePort.h"
#include "support/ToolProcess.h"

namespace morvane::test {

template <typename F>
bool WaitUntil(F done, int ms) {
  const int64_t end = MonotonicMicros() + int64_t{ms} * 1000;
  while (!done()) {
    if (MonotonicMicros() > end) return false;
    Sleep(20);
  }
  return true;
}

struct TReply {
  int Status = 0;
  std::string Body;
  nlohmann::json Json;  // null unless the body is JSON
  int Error() const { return Json.is_object() ? Json.value("ErrorNumber", -1) : -1; }
  const nlohmann::json& Value() const { return Json["Value"]; }
};

class TAlpacaClient {
 public:
  explicit TAlpacaClient(int port) : FHttp("127.0.0.1", port) {
    FHttp.set_read_timeout(10, 0);
    FHttp.set_keep_alive(true);
  }
  TReply Get(const std::string& target) { return From(FHttp.Get(Path(target))); }
  TReply Put(const std::string& target, const std::string& form) {
    return From(FHttp.Put(Path(target), form, "application/x-www-form-urlencoded"));
  }
  // The device's value, asserting a clean reply.
  nlohmann::json Value(const std::string& member) {
    const TReply r = Get(member);
    EXPECT_EQ(r.Error(), 0) << member << ": " << r.Body;
    return r.Json.is_object() ? r.Json["Value"] : nlohmann::json();
  }
  bool WaitIdle(int ms = 30000) {
    return WaitUntil(
        [&] { return Get("ismoving").Body.find("\"Value\":false") != std::string::npos; }, ms);
  }

 private:
  static std::string Path(const std::string& t) {
    return t[0] == '/' ? t : "/api/v1/focuser/0/" + t;
  }
  static TReply From(const httplib::Result& r) {
    TReply reply;
    if (!r) return reply;
    reply.Status = r->status;
    reply.Body = r->body;
    if (r->get_header_value("Content-Type") == "application/json")
      reply.Json = nlohmann::json::parse(r->body, nullptr, false);
    return reply;
  }
  httplib::Client FHttp;
};

class TAlpacaRig {
 public:
  static constexpr int MaxStep = 1500;

  TAlpacaRig()
      : Dir(std::filesystem::temp_directory_path() /
            ("morvane-alpaca-" + std::to_string(getpid()))),
        Port(FreePort()),
        DiscoveryPort(FreeUdpPort()) {
    std::filesystem::create_directories(Dir / "config" / "Morvane");
    std::ofstream(Dir / "Morvane.ini", std::ios::binary)
        << "[Device/Ports]\r\nComPort=1\r\nCommands=0\r\nVoice=2\r\n"
        << "[FocusControl]\r\nNudgeTime=0.015\r\nCloseNudgeTime=0.01\r\nNudgeDelay=0.08\r\n"
        << "StopFactor=12\r\nCodesPerRev=512\r\nTravelPerRev=0.58\r\n"
        << "[Position]\r\nSavePosition=0\r\nLeft=10\r\nTop=10\r\n";
    std::ofstream(Dir / "config" / "Morvane" / "Alpaca.ini")
        << "[Alpaca]\nMaxStep=" << MaxStep << "\nMorvaneSettings=" << (Dir / "Morvane.ini").string()
        << "\n";
    std::filesystem::copy_file(MORVANE_PROGRAM, Dir / "morvane",
                               std::filesystem::copy_options::overwrite_existing);
    StartMorvane();
    Server = std::make_unique<TToolProcess>(
        MORVANE_ALPACA,
        std::vector<std::string>{"--port", std::to_string(Port), "--discovery-port",
                                 std::to_string(DiscoveryPort)},
        std::vector<std::string>{"XDG_CONFIG_HOME=" + (Dir / "config").string()});
    WaitUntil([&] { return TAlpacaClient(Port).Get("/management/apiversions").Status == 200; },
              10000);
  }
  ~TAlpacaRig() {
    Server.reset();
    Morvane.reset();
    std::error_code ignored;
    std::filesystem::remove_all(Dir, ignored);
  }

  void StartMorvane() {
    Morvane = std::make_unique<TToolProcess>(
        (Dir / "morvane").string(), std::vector<std::string>{"--simulate"},
        std::vector<std::string>{"QT_QPA_PLATFORM=offscreen", "MORVANE_ALSA_DEVICE=null"});
    TFocuserClient bus;
    TFocuserState state;
    ASSERT_TRUE(WaitUntil([&] { return bus.GetState(state).Ok && state.PortOpen; }, 20000))
        << "Morvane did not come up on the bus";
  }
  void StopMorvane() {
    Morvane->Signal(SIGTERM);
    Morvane->Wait(10000);
  }

  std::filesystem::path Dir;
  int Port;
  int DiscoveryPort;
  std::unique_ptr<TToolProcess> Morvane;
  std::unique_ptr<TToolProcess> Server;
};

}  // namespace morvane::test
