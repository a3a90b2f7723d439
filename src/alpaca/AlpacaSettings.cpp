#include "alpaca/AlpacaSettings.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

#include "alpaca/AlpacaForm.h"
#include "settings/Profile.h"
#include "settings/SettingsPath.h"

namespace morvane::alpaca {

namespace {

constexpr char Section[] = "Alpaca";

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

int IntKey(const TProfileText& p, const char* key, int fallback, int low, int high) {
  const auto text = p.ReadString(Section, key);
  if (!text) return fallback;
  const auto v = ParseInt32(*text);
  return v && *v >= low && *v <= high ? *v : fallback;
}

double NumberKey(const TProfileText& p, const char* section, const char* key, double fallback) {
  const auto text = p.ReadString(section, key);
  if (!text || text->empty()) return fallback;
  char* end = nullptr;
  const double v = std::strtod(text->c_str(), &end);
  return end && *end == '\0' && v > 0 ? v : fallback;
}

}  // namespace

std::string AlpacaSettingsPath() {
  // Morvane's rule for an installed program, with this file's name.
  std::string path = SettingsPathFor("", false, Env("XDG_CONFIG_HOME"), Env("HOME"));
  path = path.substr(0, path.rfind('/') + 1) + "Alpaca.ini";
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  return path;
}

std::string NewUniqueId() {
  unsigned char b[16];
  std::ifstream random("/dev/urandom", std::ios::binary);
  if (!random.read(reinterpret_cast<char*>(b), sizeof b)) {
    std::random_device device;
    for (auto& c : b) c = static_cast<unsigned char>(device());
  }
  b[6] = static_cast<unsigned char>((b[6] & 0x0f) | 0x40);
  b[8] = static_cast<unsigned char>((b[8] & 0x3f) | 0x80);
  char text[37];
  std::snprintf(text, sizeof text,
                "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14],
                b[15]);
  return text;
}

TAlpacaSettings LoadAlpacaSettings(const std::string& path, std::string& warning) {
  const TProfileText p = ReadProfileFile(path);
  TAlpacaSettings s;
  if (const auto v = p.ReadString(Section, "Listen"); v && !v->empty()) s.Listen = *v;
  s.Port = IntKey(p, "Port", s.Port, 1, 65535);
  s.DiscoveryPort = IntKey(p, "DiscoveryPort", s.DiscoveryPort, 1, 65535);
  s.MaxStep = IntKey(p, "MaxStep", 0, 1, 1'000'000'000);
  s.MaxStepKept = s.MaxStep != 0;
  if (!s.MaxStepKept) s.MaxStep = TAlpacaSettings().MaxStep;
  if (const auto v = p.ReadString(Section, "MorvaneSettings"); v && !v->empty()) {
    s.MorvaneSettings = *v;
  } else {
    // Installed beside Morvane, this is Morvane's own file.
    const std::string dir = ProgramDirectory();
    const bool writable = access(dir.c_str(), W_OK) == 0 && InstalledDataDirectory(dir).empty();
    s.MorvaneSettings = SettingsPathFor(dir, writable, Env("XDG_CONFIG_HOME"), Env("HOME"));
  }
  const auto id = p.ReadString(Section, "UniqueID");
  if (id && id->size() == 36) {
    s.UniqueID = *id;
  } else {
    // Clients know the device by it: made once, then kept.
    s.UniqueID = NewUniqueId();
    if (!WriteProfileString(path, Section, "UniqueID", s.UniqueID))
      warning = "cannot keep the device's UniqueID in " + path + ": it will change next time";
  }
  return s;
}

double StepSizeUm(const std::string& morvaneSettings) {
  const TProfileText p = ReadProfileFile(morvaneSettings);
  const double travel = NumberKey(p, "FocusControl", "TravelPerRev", 0.58);  // inches
  const double codes = NumberKey(p, "FocusControl", "CodesPerRev", 512);
  // To a tenth of a nanometre: the inch's conversion leaves no noise in what clients show.
  return std::round(travel * 25400.0 / codes * 1e4) / 1e4;
}

}  // namespace morvane::alpaca
