#pragma once
// focuser/0 as an Alpaca device (IFocuserV4 and the common members): what each GET and PUT
// answers, decided from the cached view of Morvane and the link's command results. No clock,
// no socket: the HTTP side adds the transaction numbers and writes the JSON.
//
// Positions: Alpaca's rise outward from 0 (all the way in) to MaxStep, Morvane's count rises
// inward from where it was reset. As in the INDI driver (busclient/Follower.h), MaxStep is
// Morvane's PositionScale and position = MaxStep - count, the count reset with the focuser all
// the way out; while Morvane's travel limits are set MaxStep is their span and position =
// upper limit - count. A count outside the range has no position; reading it is refused with
// CountOutOfRange until a move brings the count back.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "alpaca/AlpacaErrors.h"
#include "alpaca/AlpacaForm.h"
#include "alpaca/FocuserView.h"
#include "busclient/Follower.h"

namespace morvane::alpaca {

struct TDeviceConfig {
  // The user's own MaxStep (Alpaca.ini), kept instead of Morvane's PositionScale; none: Morvane's.
  std::optional<int32_t> MaxStep;
  double StepSizeUm = 28.77;  // micrometres of draw tube travel per code
  std::string Name = "Morvane Focuser";
  std::string Description = "Morvane's focuser, over Alpaca";
  std::string DriverInfo = "morvane-alpaca: an Alpaca server for the running Morvane";
  std::string DriverVersion = "0.1";
};

struct TDeviceReply {
  int Status = 200;  // 400 or 405 with Text: the request itself is wrong
  std::string Text;
  bool HasValue = false;
  nlohmann::json Value;
  int ErrorNumber = 0;
  std::string ErrorMessage;
};

// The readings outside which a module's temperature is taken for a conversion fault.
inline constexpr double LowestCelsius = -50;
inline constexpr double HighestCelsius = 50;

class TAlpacaFocuser {
 public:
  TAlpacaFocuser(TFocuserLink& link, TDeviceConfig config);

  // timeStamp: the moment of the reading, for devicestate (ISO 8601, UTC).
  TDeviceReply Get(std::string_view method, const std::string& timeStamp = {});
  // client: the request's ClientID (0 when it gave none); Connected is kept per client.
  TDeviceReply Put(std::string_view method, const TParams& form, uint32_t client = 0);

  // True while any client is connected: one client's disconnect leaves the others theirs.
  bool Connected() const;
  const TDeviceConfig& Config() const { return FConfig; }

  // The positions' range and mapping for what Morvane has now.
  TClientScale Scale(const TFocuserView& v) const;
  // Where a position stands against the scale: the reply's error, or 0 when it is in range.
  static int PositionError(const TFocuserView& v, const TClientScale& scale, std::string& message);

 private:
  TDeviceReply Value(nlohmann::json value) const;
  TDeviceReply Fail(int number, std::string message) const;
  TDeviceReply FromLink(const TLinkReply& r) const;
  TDeviceReply Temperature(const TFocuserView& v) const;
  TDeviceReply DeviceState(const TFocuserView& v, const std::string& timeStamp) const;
  TDeviceReply SetConnected(uint32_t client, bool on);
  TDeviceReply Move(const TParams& form);
  TDeviceReply SetTempComp(bool on);

  TFocuserLink& FLink;
  const TDeviceConfig FConfig;
  mutable std::mutex FClientsLock;  // a leaf
  std::set<uint32_t> FClients;      // the ClientIDs connected
  // A move of this server's has not yet been seen to end: the IsMoving read that sees its end
  // fails with the fault that stopped it, if one did.
  std::atomic<bool> FMoveOwed{false};
};

// 400 for a method that does not exist, 405 for one that exists for the other verb.
bool IsGetMember(std::string_view method);
bool IsPutMember(std::string_view method);

}  // namespace morvane::alpaca
