// The driver's compensation properties: temperature compensation as properties of its own, and
// libindi's backlash properties following Morvane's settings.

#include <indilogger.h>

#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "indi_morvane_focus/MorvaneFocuser.h"

namespace morvane {

namespace {

constexpr const char* CompensationTab = "Compensation";

// TEMP_COEFFICIENT's elements, in the vector's order, with Morvane's property for each.
struct TCoefficientElement {
  const char* Name;
  TRequestProperty Kind;
  const char* MorvaneProperty;
};
constexpr TCoefficientElement CoefficientElements[] = {
    {"COEFFICIENT", TRequestProperty::Coefficient, BusProperty::TempCoefficient},
    {"DEAD_BAND", TRequestProperty::DeadBand, BusProperty::TempDeadBand},
    {"SAMPLES", TRequestProperty::Samples, BusProperty::TempSamples},
};

}  // namespace

void TMorvaneFocuser::InitCompensation() {
  IUFillSwitch(&TempCompS[0], "INDI_ENABLED", "On", ISS_OFF);
  IUFillSwitch(&TempCompS[1], "INDI_DISABLED", "Off", ISS_ON);
  IUFillSwitchVector(&TempCompSP, TempCompS, 2, getDeviceName(), "TEMP_COMPENSATION",
                     "Temperature compensation", CompensationTab, IP_RW, ISR_1OFMANY, 0, IPS_IDLE);
  IUFillNumber(&TempCoefN[0], CoefficientElements[0].Name, "Codes per deg C", "%.3f",
               -MostCompensationCoefficient, MostCompensationCoefficient, 0.1, 0);
  IUFillNumber(&TempCoefN[1], CoefficientElements[1].Name, "Dead band (codes)", "%.0f", 1,
               MostCompensationCodes, 1, 5);
  IUFillNumber(&TempCoefN[2], CoefficientElements[2].Name, "Readings averaged", "%.0f", 1,
               MostCompensationSamples, 1, 10);
  IUFillNumberVector(&TempCoefNP, TempCoefN, 3, getDeviceName(), "TEMP_COEFFICIENT",
                     "Temperature coefficient", CompensationTab, IP_RW, 0, IPS_IDLE);
}

// Morvane's settings as read when connecting; its announcements keep them up to date after.
void TMorvaneFocuser::ShowCompensation(const TCompensationState& c) {
  TNotification n;
  n.TempCompensation = c.TempCompensation;
  n.TempCoefficient = c.TempCoefficient;
  n.TempDeadBand = c.TempDeadBand;
  n.TempSamples = c.TempSamples;
  n.BacklashMode = c.BacklashMode;
  n.BacklashCodes = c.BacklashCodes;
  FollowCompensation(n);
}

void TMorvaneFocuser::FollowCompensation(const TNotification& n) {
  const bool send = FCompensationDefined;
  if (n.TempCompensation) {
    FTempCompOn = *n.TempCompensation;
    TempCompS[0].s = FTempCompOn ? ISS_ON : ISS_OFF;
    TempCompS[1].s = FTempCompOn ? ISS_OFF : ISS_ON;
    TempCompSP.s = IPS_OK;
    if (send) IDSetSwitch(&TempCompSP, nullptr);
  }
  if (n.TempCoefficient || n.TempDeadBand || n.TempSamples) {
    if (n.TempCoefficient) TempCoefN[0].value = *n.TempCoefficient;
    if (n.TempDeadBand) TempCoefN[1].value = *n.TempDeadBand;
    if (n.TempSamples) TempCoefN[2].value = *n.TempSamples;
    TempCoefNP.s = IPS_OK;
    if (send) IDSetNumber(&TempCoefNP, nullptr);
  }
  // libindi's backlash properties: steps negative for the outward approach.
  if (n.BacklashMode || n.BacklashCodes) {
    if (n.BacklashMode) {
      FBacklashOn = *n.BacklashMode != 0;
      if (FBacklashOn) FBacklashOutward = *n.BacklashMode == 2;
    }
    if (n.BacklashCodes) FBacklashSteps = *n.BacklashCodes;
    FBacklashSteps = FBacklashOutward ? -std::abs(FBacklashSteps) : std::abs(FBacklashSteps);
    FocusBacklashS[0].s = FBacklashOn ? ISS_ON : ISS_OFF;
    FocusBacklashS[1].s = FBacklashOn ? ISS_OFF : ISS_ON;
    FocusBacklashN[0].value = FBacklashSteps;
    if (isConnected()) {
      IDSetSwitch(&FocusBacklashSP, nullptr);
      IDSetNumber(&FocusBacklashNP, nullptr);
    }
  }
}

bool TMorvaneFocuser::ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[],
                                  int n) {
  if (dev && !std::strcmp(dev, getDeviceName()) && !std::strcmp(name, TempCompSP.name)) {
    bool on = FTempCompOn;
    for (int i = 0; i < n; ++i) {
      if (states[i] != ISS_ON) continue;
      if (!std::strcmp(names[i], TempCompS[0].name)) on = true;
      if (!std::strcmp(names[i], TempCompS[1].name)) on = false;
    }
    RequestTempComp(on);
    return true;
  }
  return INDI::Focuser::ISNewSwitch(dev, name, states, names, n);
}

// The switch shows Morvane's setting: BUSY until Morvane has taken the new one, ALERT (and
// the setting as it was) when it refused.
void TMorvaneFocuser::RequestTempComp(bool on) {
  if (!FCommands || !FCompensationDefined) {
    LOG_ERROR("Not connected to Morvane.");
    TempCompSP.s = IPS_ALERT;
    IDSetSwitch(&TempCompSP, nullptr);
    return;
  }
  TempCompSP.s = IPS_BUSY;
  IDSetSwitch(&TempCompSP, nullptr);
  FCommands->Post(
      [on](TFocuserClient& c) { return c.SetBoolProperty(BusProperty::TempCompensation, on); },
      [this, on](const TBusReply& r) {
        if (!r.Ok) {
          LOGF_ERROR("Morvane did not switch temperature compensation %s: %s", on ? "on" : "off",
                     r.ErrorMessage.c_str());
        } else {
          FTempCompOn = on;
          LOGF_INFO("Temperature compensation is %s.", on ? "on" : "off");
        }
        TempCompS[0].s = FTempCompOn ? ISS_ON : ISS_OFF;
        TempCompS[1].s = FTempCompOn ? ISS_OFF : ISS_ON;
        TempCompSP.s = r.Ok ? IPS_OK : IPS_ALERT;
        IDSetSwitch(&TempCompSP, nullptr);
      });
}

// Every element a client sent is checked before any is written: one bad value refuses them all.
void TMorvaneFocuser::RequestCoefficients(const double values[], char* names[], int n) {
  if (!FCommands || !FCompensationDefined)
    return Refuse(TRequestProperty::Coefficient, "Not connected to Morvane.");
  std::vector<std::pair<const TCoefficientElement*, double>> writes;
  for (int i = 0; i < n; ++i) {
    for (const TCoefficientElement& e : CoefficientElements) {
      if (std::strcmp(names[i], e.Name) != 0) continue;
      const TFocuserRequest r = CheckRequest(e.Kind, values[i], View());
      if (!r.Ok) return Refuse(e.Kind, r.Error);
      writes.emplace_back(&e, r.Setting);
    }
  }
  TempCoefNP.s = IPS_BUSY;
  IDSetNumber(&TempCoefNP, nullptr);
  FCommands->Post(
      [writes](TFocuserClient& c) {
        TBusReply r;
        r.Ok = true;
        for (const auto& [e, value] : writes) {
          r = e->Kind == TRequestProperty::Coefficient
                  ? c.SetDoubleProperty(e->MorvaneProperty, value)
                  : c.SetIntProperty(e->MorvaneProperty, static_cast<int32_t>(value));
          if (!r.Ok) break;
        }
        return r;
      },
      [this](const TBusReply& r) {
        if (!r.Ok)
          LOGF_ERROR("Morvane did not take the temperature coefficient: %s",
                     r.ErrorMessage.c_str());
        // The values shown are Morvane's, as it announces them.
        TempCoefNP.s = r.Ok ? IPS_OK : IPS_ALERT;
        IDSetNumber(&TempCoefNP, nullptr);
      });
}

}  // namespace morvane
