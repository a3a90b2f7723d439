#pragma once
// The twelve staged settings, one item per control of the setup dialog that will show them.
// Every store is normalised the way the control does it, so an item never holds a value its
// control could not show.

namespace morvane {

// A radio group's selection: an index from 0 to LastIndex, or -1 for none.
class TChoiceItem {
 public:
  TChoiceItem(int lastIndex, int itemIndex);
  int ItemIndex() const { return FItemIndex; }
  // Clamps to -1..LastIndex.
  void SetItemIndex(int index);
  int LastIndex() const { return FLastIndex; }

 private:
  int FLastIndex;
  int FItemIndex;
};

// A numeric spin edit: decimal (Decimals 3) or whole-number (Decimals 0).
class TSpinItem {
 public:
  TSpinItem(double minValue, double maxValue, int decimals, double value);
  double Value() const { return FValue; }
  // Clamps to MinValue..MaxValue, then rounds to Decimals places; a NaN becomes MinValue, as
  // a text that does not read as a number does in the control.
  void SetValue(double value);
  // The value of a whole-number item as an integer.
  int AsInteger() const;
  double MinValue() const { return FMinValue; }
  double MaxValue() const { return FMaxValue; }
  int Decimals() const { return FDecimals; }

 private:
  double FMinValue;
  double FMaxValue;
  int FDecimals;
  double FValue;
};

class TCheckItem {
 public:
  explicit TCheckItem(bool checked) : FChecked(checked) {}
  bool Checked() const { return FChecked; }
  void SetChecked(bool checked) { FChecked = checked; }

 private:
  bool FChecked;
};

// Initial values are those the dialog's controls hold before any load.
struct TStagedSettings {
  TChoiceItem ComPortRG{19, 0};                      // index 0..19 for COM1..COM20
  TChoiceItem CommandRG{1, 0};                       // 0 "LX-200 Commands", 1 "Direct to Focuser"
  TChoiceItem VoiceRG{2, 0};                         // 0 "Female Voice", 1 "Male Voice", 2 "None"
  TSpinItem NudgeTimeSE{0.005, 0.1, 3, 0.018};       // seconds
  TSpinItem CloseNudgeTimeSE{0.005, 0.1, 3, 0.013};  // seconds
  TSpinItem NudgeDelaySE{0.05, 0.3, 3, 0.1};         // seconds
  TSpinItem StopFactorSE{1, 50, 0, 8};               // codes
  TSpinItem CodesPerRevSE{256, 1024, 0, 512};
  TSpinItem TravelPerRevSE{0.2, 1.0, 3, 0.58};  // inches
  TCheckItem ReverseDirCB{false};
  TCheckItem DualSenseCB{false};
  TCheckItem SavePosCB{true};
};

}  // namespace morvane
