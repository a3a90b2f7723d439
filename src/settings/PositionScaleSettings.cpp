#include "settings/PositionScaleSettings.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "platform/BusContract.h"
#include "settings/Profile.h"

namespace morvane {

int32_t ReadPositionScale(const std::string& iniPath) {
  const std::optional<std::string> text =
      ReadProfileFile(iniPath).ReadString("FocusControl", "PositionScale");
  if (!text) return DefaultPositionScale;
  int64_t v = 0;
  const char* last = text->data() + text->size();
  const auto [end, ec] = std::from_chars(text->data(), last, v);
  if (ec != std::errc() || end != last || text->empty()) return DefaultPositionScale;
  return static_cast<int32_t>(std::clamp<int64_t>(v, LeastPositionScale, MostPositionScale));
}

}  // namespace morvane
