#include "alpaca/SetupPage.h"

#include <cstdio>

namespace morvane::alpaca {

std::string HtmlEscape(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

namespace {

void Row(std::string& page, const std::string& name, const std::string& value) {
  page += "<tr><th>" + HtmlEscape(name) + "</th><td>" + HtmlEscape(value) + "</td></tr>\n";
}

std::string StateText(const TSetupFacts& f, std::string& temperature) {
  const TFocuserView& v = f.View;
  temperature = "-";
  if (!v.MorvaneRunning) return "Morvane is not running";
  if (v.Module == TModule::mdAbsent) temperature = "no temperature module";
  if (v.HasTemperature) {
    char t[32];
    std::snprintf(t, sizeof t,
                  "%.1f \xC2\xB0"
                  "C",
                  v.Celsius);
    temperature = t;
  }
  if (!v.PortOpen) return "Morvane's port COM " + std::to_string(v.ComPort) + " is closed";
  return v.Moving() ? "moving" : "idle";
}

}  // namespace

std::string SetupPage(const TSetupFacts& f) {
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta http-equiv=\"refresh\" content=\"5\">"
      "<title>Morvane Focuser - Alpaca</title>\n<style>"
      "body{background:#000;color:#b00000;font-family:sans-serif;margin:2em}"
      "h1,h2{color:#d00000;font-weight:normal}th{text-align:left;padding-right:2em;"
      "font-weight:normal;color:#900000}td{color:#c00000}a{color:#d00000}"
      "</style></head><body>\n<h1>Morvane Focuser</h1>\n"
      "<p>Alpaca device focuser/0, a client of the running Morvane's D-Bus interface.</p>\n"
      "<h2>State</h2>\n<table>\n";
  std::string temperature;
  Row(page, "Morvane", StateText(f, temperature));
  Row(page, "Morvane's port",
      f.View.MorvaneRunning
          ? "COM " + std::to_string(f.View.ComPort) + (f.View.PortOpen ? " (open)" : " (closed)")
          : "-");
  Row(page, "Connected (Alpaca)", f.Connected ? "yes" : "no");
  const TFocuserView& v = f.View;
  const TClientScale scale = ClientScale(v.LimitsSet, v.LowerLimit, v.UpperLimit,
                                         f.Config.MaxStep.value_or(v.PositionScale));
  const int64_t position = ClientPosition(v.Position, scale);
  Row(page, "Position",
      v.MorvaneRunning && PositionInRange(position, scale) ? std::to_string(position) : "-");
  Row(page, "Morvane's count", f.View.MorvaneRunning ? std::to_string(f.View.Position) : "-");
  Row(page, "Temperature", temperature);
  Row(page, "Temperature compensation (TempComp)",
      !f.View.MorvaneRunning       ? "-"
      : f.View.TempCompAvailable() ? (f.View.TempComp ? "on" : "off")
      : f.View.HasCompensation     ? "not available: no temperature module"
                                   : "not available in this Morvane");
  page += "</table>\n<h2>Settings</h2>\n<table>\n";
  Row(page, "MaxStep",
      std::to_string(scale.Max) + (scale.FromLimits   ? " (Morvane's travel limits)"
                                   : f.Config.MaxStep ? " (Alpaca.ini)"
                                                      : " (Morvane's PositionScale)"));
  char step[32];
  std::snprintf(step, sizeof step, "%.3f \xC2\xB5m", f.Config.StepSizeUm);
  Row(page, "StepSize", step);
  Row(page, "Listens on", f.Settings.Listen + " port " + std::to_string(f.Settings.Port));
  Row(page, "Discovery", "UDP port " + std::to_string(f.Settings.DiscoveryPort));
  Row(page, "UniqueID", f.Settings.UniqueID);
  Row(page, "Settings file", f.SettingsPath);
  Row(page, "Morvane's settings (step size)", f.Settings.MorvaneSettings);
  page +=
      "</table>\n<h2>Position</h2>\n<p>Positions run from 0 (all the way in) to MaxStep (" +
      std::to_string(scale.Max) +
      ", all the way out): position = MaxStep - Morvane's count, as in the INDI driver, since "
      "Morvane's count rises inward. Reset the count in Morvane with the focuser all the way out. "
      "MaxStep is Morvane's PositionScale, the same as INDI's FOCUS_MAX, unless Alpaca.ini "
      "keeps one of its own; while Morvane's travel limits are set, MaxStep is their span and "
      "position = upper limit - count. "
      "While the count lies outside that range, reading Position gives error 0x503 with the "
      "count in its message; Move still works, and a target beyond either end is taken as that "
      "end.</p>\n"
      "<p>TempComp is Morvane's temperature compensation, the same setting as in its window, "
      "morvanectl and INDI; TempCompAvailable is true while Morvane's temperature module "
      "answers. Move works with TempComp on; Morvane makes no compensation move while a move "
      "runs.</p>\n"
      "<p>Alpaca has no authentication: anyone who can reach this port can move the focuser. "
      "Listen on a trusted network only, behind a firewall.</p>\n"
      "<p>The settings are changed in the settings file (then restart morvane-alpaca) or "
      "with its --listen, --port and --discovery-port options.</p>\n</body></html>\n";
  return page;
}

}  // namespace morvane::alpaca
