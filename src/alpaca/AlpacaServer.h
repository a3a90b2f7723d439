#pragma once
// The HTTP side: Alpaca's device API for focuser/0, its management API and the setup pages,
// on a bounded cpp-httplib server. Replies carry the transaction numbers; every request's
// parameters are checked as the protocol says before the device sees them.

#include <atomic>
#include <cstdint>
#include <string>

#include "alpaca/AlpacaFocuser.h"
#include "alpaca/AlpacaSettings.h"
#include "alpaca/BoundedServer.h"

namespace morvane::alpaca {

struct TServerInfo {
  TAlpacaSettings Settings;
  std::string SettingsPath;
  std::string Version = "0.1.0";
};

class TAlpacaServer {
 public:
  TAlpacaServer(TAlpacaFocuser& device, TFocuserLink& link, TServerInfo info,
                TServerLimits limits = {});

  // Binds to the address and port; false with error when it cannot.
  bool Bind(std::string& error);
  // Serves until Stop (from another thread or a signal's handler thread).
  void Run();
  void Stop();

 private:
  void Device(const httplib::Request& req, httplib::Response& res, bool put);
  void Management(const httplib::Request& req, httplib::Response& res);
  void Setup(const httplib::Request& req, httplib::Response& res);
  // Host and Origin, before the library reads a body.
  httplib::Server::HandlerResponse Front(const httplib::Request& req, httplib::Response& res);
  // Reads ClientID and ClientTransactionID; false (400 written) when one is malformed.
  bool Ids(const TParams& params, bool put, uint32_t& client, uint32_t& clientTransaction,
           httplib::Response& res);
  void Json(httplib::Response& res, uint32_t clientTransaction, const TDeviceReply& reply);

  TAlpacaFocuser& FDevice;
  TFocuserLink& FLink;
  const TServerInfo FInfo;
  TBoundedServer FHttp;
  std::atomic<uint32_t> FServerTransaction{0};
};

// An ISO 8601 UTC time stamp of now, to the millisecond.
std::string TimeStampNow();

}  // namespace morvane::alpaca
