#include "alpaca/AlpacaServer.h"

#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "alpaca/HostCheck.h"
#include "alpaca/SetupPage.h"

namespace morvane::alpaca {

namespace {

constexpr char DevicePrefix[] = "/api/v1/";

void Text(httplib::Response& res, int status, const std::string& text) {
  res.status = status;
  res.set_content(text + "\n", "text/plain; charset=utf-8");
}

std::string Query(const httplib::Request& req) {
  const size_t q = req.target.find('?');
  return q == std::string::npos ? std::string() : req.target.substr(q + 1);
}

std::string HostName() {
  char name[256] = "";
  if (gethostname(name, sizeof name - 1) != 0 || !name[0]) return "this computer";
  return name;
}

}  // namespace

std::string TimeStampNow() {
  timeval now{};
  gettimeofday(&now, nullptr);
  tm utc{};
  gmtime_r(&now.tv_sec, &utc);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(now.tv_usec / 1000));
  return text;
}

TAlpacaServer::TAlpacaServer(TAlpacaFocuser& device, TFocuserLink& link, TServerInfo info,
                             TServerLimits limits)
    : FDevice(device), FLink(link), FInfo(std::move(info)), FHttp(limits) {
  FHttp.Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
    if (req.path.rfind(DevicePrefix, 0) == 0) {
      Device(req, res, false);
    } else if (req.path.rfind("/management/", 0) == 0) {
      Management(req, res);
    } else if (req.path == "/setup" || req.path == "/setup/" ||
               req.path == "/setup/v1/focuser/0/setup") {
      Setup(req, res);
    } else {
      Text(res, 404, "No such page: " + req.path);
    }
  });
  FHttp.Put(".*", [this](const httplib::Request& req, httplib::Response& res) {
    if (req.path.rfind(DevicePrefix, 0) == 0) {
      Device(req, res, true);
    } else {
      Text(res, 404, "No such resource: " + req.path);
    }
  });
  FHttp.SetFront(
      [this](const httplib::Request& req, httplib::Response& res) { return Front(req, res); });
  // Faults found by the library (a malformed request line, a body too large) and unknown
  // verbs get a plain text body as well.
  FHttp.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.body.empty())
      Text(res, res.status, "HTTP " + std::to_string(res.status) + ": request refused");
  });
  FHttp.set_exception_handler([](const httplib::Request&, httplib::Response& res,
                                 std::exception_ptr) { Text(res, 500, "Internal error"); });
}

bool TAlpacaServer::Bind(std::string& error) {
  if (FHttp.Bind(FInfo.Settings.Listen, FInfo.Settings.Port)) return true;
  error =
      "cannot listen on " + FInfo.Settings.Listen + " port " + std::to_string(FInfo.Settings.Port);
  return false;
}

void TAlpacaServer::Run() {
  FHttp.listen_after_bind();
}

void TAlpacaServer::Stop() {
  FHttp.Shutdown();
}

httplib::Server::HandlerResponse TAlpacaServer::Front(const httplib::Request& req,
                                                      httplib::Response& res) {
  const std::string refused = RefusedOrigin(
      req.get_header_value("Host"), req.get_header_value("Origin"), req.has_header("Host"),
      IsLoopbackListen(FInfo.Settings.Listen), FInfo.Settings.Port);
  if (!refused.empty()) {
    Text(res, 403, refused);
    return httplib::Server::HandlerResponse::Handled;
  }
  return httplib::Server::HandlerResponse::Unhandled;
}

bool TAlpacaServer::Ids(const TParams& params, bool put, uint32_t& client,
                        uint32_t& clientTransaction, httplib::Response& res) {
  client = clientTransaction = 0;
  for (const char* name : {"ClientID", "ClientTransactionID"}) {
    // GET names are matched in any case, PUT names only exactly (a mis-cased one is ignored).
    const std::string* text = FindParam(params, name, put);
    if (!text) continue;
    const auto id = ParseId(*text);
    if (!id) {
      Text(res, 400, std::string(name) + " '" + *text + "' is not a number from 0 to 4294967295");
      return false;
    }
    (name[6] == 'T' ? clientTransaction : client) = *id;
  }
  return true;
}

void TAlpacaServer::Json(httplib::Response& res, uint32_t clientTransaction,
                         const TDeviceReply& reply) {
  nlohmann::ordered_json j;
  if (reply.HasValue) j["Value"] = reply.Value;
  j["ClientTransactionID"] = clientTransaction;
  j["ServerTransactionID"] = ++FServerTransaction;
  j["ErrorNumber"] = reply.ErrorNumber;
  j["ErrorMessage"] = reply.ErrorMessage;
  res.status = 200;
  res.set_content(j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                  "application/json");
}

void TAlpacaServer::Device(const httplib::Request& req, httplib::Response& res, bool put) {
  // /api/v1/<type>/<number>/<method>, all lower case and matched exactly.
  const std::string rest = req.path.substr(sizeof DevicePrefix - 1);
  const size_t a = rest.find('/');
  const size_t b = a == std::string::npos ? a : rest.find('/', a + 1);
  if (b == std::string::npos || rest.find('/', b + 1) != std::string::npos)
    return Text(res, 400, "Expected /api/v1/focuser/0/<method>");
  const std::string type = rest.substr(0, a);
  const std::string number = rest.substr(a + 1, b - a - 1);
  const std::string method = rest.substr(b + 1);
  if (type != "focuser") return Text(res, 400, "No device type '" + type + "' here");
  if (number != "0") return Text(res, 400, "No focuser number '" + number + "' here: only 0");
  TParams params;
  if (!DecodeForm(put ? std::string_view(req.body) : std::string_view(Query(req)), params))
    return Text(res, 400, "The parameters are not well formed");
  uint32_t client = 0;
  uint32_t clientTransaction = 0;
  if (!Ids(params, put, client, clientTransaction, res)) return;
  // A request whose body was still arriving at the stop starts nothing.
  if (FHttp.Stopping()) return Text(res, 503, "The server is stopping");
  const TDeviceReply reply =
      put ? FDevice.Put(method, params, client) : FDevice.Get(method, TimeStampNow());
  if (reply.Status != 200) return Text(res, reply.Status, reply.Text);
  Json(res, clientTransaction, reply);
}

void TAlpacaServer::Management(const httplib::Request& req, httplib::Response& res) {
  TParams params;
  if (!DecodeForm(Query(req), params)) return Text(res, 400, "The parameters are not well formed");
  uint32_t client = 0;
  uint32_t clientTransaction = 0;
  if (!Ids(params, false, client, clientTransaction, res)) return;
  TDeviceReply reply;
  reply.HasValue = true;
  if (req.path == "/management/apiversions") {
    reply.Value = nlohmann::json::array({1});
  } else if (req.path == "/management/v1/description") {
    reply.Value = {{"ServerName", "Morvane Alpaca server"},
                   {"Manufacturer", "Morvane"},
                   {"ManufacturerVersion", FInfo.Version},
                   {"Location", HostName()}};
  } else if (req.path == "/management/v1/configureddevices") {
    reply.Value = nlohmann::json::array({{{"DeviceName", FDevice.Config().Name},
                                          {"DeviceType", "Focuser"},
                                          {"DeviceNumber", 0},
                                          {"UniqueID", FInfo.Settings.UniqueID}}});
  } else {
    return Text(res, 400, "No management member '" + req.path + "'");
  }
  Json(res, clientTransaction, reply);
}

void TAlpacaServer::Setup(const httplib::Request&, httplib::Response& res) {
  TSetupFacts facts;
  facts.View = FLink.View();
  facts.Connected = FDevice.Connected();
  facts.Config = FDevice.Config();
  facts.Settings = FInfo.Settings;
  facts.SettingsPath = FInfo.SettingsPath;
  res.set_content(SetupPage(facts), "text/html; charset=utf-8");
}

}  // namespace morvane::alpaca
