#include "settings/StagedSettings.h"

#include <algorithm>
#include <cmath>

#include "settings/ValueText.h"

namespace morvane {

TChoiceItem::TChoiceItem(int lastIndex, int itemIndex) : FLastIndex(lastIndex), FItemIndex(-1) {
  SetItemIndex(itemIndex);
}

void TChoiceItem::SetItemIndex(int index) {
  FItemIndex = std::clamp(index, -1, FLastIndex);
}

TSpinItem::TSpinItem(double minValue, double maxValue, int decimals, double value)
    : FMinValue(minValue), FMaxValue(maxValue), FDecimals(decimals), FValue(minValue) {
  SetValue(value);
}

void TSpinItem::SetValue(double value) {
  if (std::isnan(value)) value = FMinValue;
  FValue = RoundToDecimals(std::clamp(value, FMinValue, FMaxValue), FDecimals);
}

int TSpinItem::AsInteger() const {
  return static_cast<int>(std::lround(FValue));
}

}  // namespace morvane
