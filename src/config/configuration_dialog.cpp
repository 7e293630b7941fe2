// The configuration dialog's behaviour, the same on every platform: the window is reached only
// through DialogWindow.
#include "config/configuration_dialog.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "config/configuration_dialog_template.h"
#include "config/settings_file.h"
#include "config/settings_table.h"
#include "state/card_session_record.h"

namespace torvexan {

namespace {

constexpr int kEditTextSize = 128;          // an edit's text is read up to 127 characters
constexpr int32_t kLastAnimationTick = 30;  // the counter runs 0..30: 3.1 s per cycle
constexpr int32_t kOneDotUpTo = 10;
constexpr int32_t kTwoDotsUpTo = 20;
constexpr const char* kFirmwareName = "Quorvanta Motion Card";
constexpr const char* kOpenCaption = "Quorvanta Motion Card Configuration";
constexpr const char* kSaveFailedCaption = "Settings not saved";
constexpr const char* kCheckCaption = "Check the values before saving";
constexpr const char* kNoUsbSerial = "(none on this card)";

// The edits as the user knows them, for telling which field holds what.
struct EditName {
  int control;
  const char* name;
};
constexpr EditName kEditNames[] = {
    {kXPullOffEdit, "Home Setup, Axis X"},
    {kYPullOffEdit, "Home Setup, Axis Y"},
    {kZPullOffEdit, "Home Setup, Axis Z"},
    {kAPullOffEdit, "Home Setup, Axis 4"},
    {kBPullOffEdit, "Home Setup, Axis 5"},
    {kCalibrationEdit, "Spindle, Calibration"},
    {kOutputPinEdit, "Laser Cutter, Output Pin"},
    {kZDeepthEdit, "Laser Cutter, Z Deepth"},
    {kFeedRateEdit, "initialization, Feedrate"},
    {kSpindleSpeedEdit, "initialization, Spindle Speed"},
};

const char* EditNameOf(int control) {
  for (const EditName& e : kEditNames) {
    if (e.control == control) return e.name;
  }
  return "a field";
}

// What the dialog model takes from each control of the template: id, kind, text and whether it
// starts disabled.
#define TORVEXAN_MODEL_KIND_PUSH DialogControlKind::kPushButton, false
#define TORVEXAN_MODEL_KIND_CHECK DialogControlKind::kCheckBox, false
#define TORVEXAN_MODEL_KIND_CHECK_SHOWN DialogControlKind::kCheckBox, true
#define TORVEXAN_MODEL_KIND_EDIT DialogControlKind::kEdit, false
#define TORVEXAN_MODEL_KIND_TEXT DialogControlKind::kStatic, false
#define TORVEXAN_MODEL_KIND_LIST DialogControlKind::kDropDownList, false
#define TORVEXAN_MODEL_KIND_GROUP DialogControlKind::kGroupBox, false
#define TORVEXAN_MODEL_KIND_LABEL DialogControlKind::kStatic, false
#define TORVEXAN_MODEL_CONTROL(id, kind, windowClass, text, x, y, width, height, style) \
  DialogControlDef{id, text, TORVEXAN_MODEL_KIND_##kind},

constexpr DialogControlDef kControls[] = {TORVEXAN_CONFIG_DIALOG_CONTROLS(TORVEXAN_MODEL_CONTROL)};

constexpr DialogTemplate kTemplate{TORVEXAN_CONFIG_DIALOG_ID, TORVEXAN_CONFIG_DIALOG_CAPTION,
                                   kControls, static_cast<int>(std::size(kControls))};

// atof of an edit's text; the C library reads it, as typed.
double ReadDouble(DialogWindow& w, int id) {
  char text[kEditTextSize];
  w.GetText(id, text, sizeof text);
  return std::strtod(text, nullptr);
}

// atoi of an edit's text, without atoi's undefined result for numbers out of range: those
// stop at the nearest 32-bit value.
int32_t ReadInt(DialogWindow& w, int id) {
  char text[kEditTextSize];
  w.GetText(id, text, sizeof text);
  const long long value = std::strtoll(text, nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

bool IsWholeNumberSetting(SettingType type) {
  return type == SettingType::kInt || type == SettingType::kUnsigned;
}

// A value as its edit shows it: "%.3f", or "%d" for whole numbers.
std::string Shown(SettingType type, double value) {
  char text[kEditTextSize];
  if (IsWholeNumberSetting(type)) {
    std::snprintf(text, sizeof text, "%d", static_cast<int>(static_cast<int32_t>(value)));
  } else {
    std::snprintf(text, sizeof text, "%.3f", value);
  }
  return text;
}

void WriteFixed(DialogWindow& w, int id, double value) {
  w.SetText(id, Shown(SettingType::kReal, value).c_str());
}

void WriteInt(DialogWindow& w, int id, int32_t value) {
  w.SetText(id, Shown(SettingType::kInt, value).c_str());
}

// Whether the whole text, but for spaces around it, is one number of the setting's kind.
bool IsNumber(const char* text, SettingType type) {
  while (std::isspace(static_cast<unsigned char>(*text))) ++text;
  char* end = nullptr;
  if (IsWholeNumberSetting(type)) {
    std::strtoll(text, &end, 10);
  } else {
    std::strtod(text, &end);
  }
  if (end == text) return false;
  while (std::isspace(static_cast<unsigned char>(*end))) ++end;
  return *end == '\0';
}

class ConfigurationDialog final : public DialogHandler {
 public:
  ConfigurationDialog(PluginSettings& settings, const std::unique_ptr<CardSession>& session,
                      int32_t& ticks, MessageBox* messageBox)
      : settings_(settings), session_(session), ticks_(ticks), messageBox_(messageBox) {}

  // Fill every control from the record and the session, start the connect timer.
  void OnInit(DialogWindow& w) override {
    ShowInputs(w);
    for (const AxisPair& pair : kAxisPairs) w.AddListItem(kAxisMapList, pair.text);
    ShowSettings(w);
    for (int id : kInputBoxes) w.Enable(id, false);
    for (int id : kMpgAxisBoxes) w.Enable(id, false);
    for (int id : {kMpgX10Box, kMpgX100Box, kEStopBox}) w.Enable(id, false);
    w.SetText(kFirmwareText, kFirmwareName);
    w.SetCaption(kOpenCaption);
    w.SetText(kSerialText, session_->serialText);
    w.StartTimer(kConnectTimerId, kConnectTimerPeriodMs);
  }

  // Advance the animation, show the link state and the inputs.
  void OnTimer(DialogWindow& w, uintptr_t id) override {
    if (id != kConnectTimerId) return;
    if (!session_) {
      Close(w);
      return;
    }
    ++ticks_;
    if (ticks_ > kLastAnimationTick) ticks_ = 0;
    if (session_->online) {
      const CardModel& model = CardModelOf(session_->cardType);
      w.SetText(kStatusText, model.connectedText);
      w.SetCaption(model.dialogCaption);
      ShowSerial(w, model);
    } else {
      w.SetText(kStatusText, ticks_ <= kOneDotUpTo    ? "Connecting ."
                             : ticks_ <= kTwoDotsUpTo ? "Connecting .."
                                                      : "Connecting ...");
    }
    ShowInputs(w);
  }

  void OnCommand(DialogWindow& w, int id, int notification) override {
    if (id == kSaveButton && notification == kNotifyClicked) {
      // Text that is not a number, or a value out of range, is not stored as typed: the user
      // hears what will be stored instead, and may go back to the dialog to put it right.
      const std::string changes = ChangesOnStore(w);
      if (!changes.empty() && !w.Ask(changes.c_str(), kCheckCaption)) return;
      // The timer keeps ticking under the question: a plug-in stopped meanwhile has ended the
      // dialog, and nothing is stored.
      if (!session_) return;
      StoreControls(w);
      // The user pressed SAVE and must hear when the profile did not take it.
      const SettingsSaveResult saved = SaveSettings(settings_);
      if (!saved.ok && messageBox_ != nullptr) {
        messageBox_->Show(SettingsSaveReport(saved).c_str(), kSaveFailedCaption);
      }
      Close(w);
    } else if (id == kCancelButton) {
      Close(w);
    }
  }

  void OnClose(DialogWindow& w) override { Close(w); }

 private:
  // Check each box of the inputs view whose input is set in the card's input word.
  void ShowInputs(DialogWindow& w) {
    const CardSession& s = *session_;
    const uint32_t bits = s.inputBits;
    for (int i = 0; i < 8; ++i) w.SetCheck(kInputBoxes[i], (bits >> i) & 1u);
    for (int i = 0; i < 5; ++i) w.SetCheck(kMpgAxisBoxes[i], (bits & s.mpgAxisMask[i]) != 0);
    w.SetCheck(kMpgX10Box, (bits & s.mpgX10Mask) != 0);
    w.SetCheck(kMpgX100Box, (bits & s.mpgX100Mask) != 0);
    w.SetCheck(kEStopBox, (bits & s.estopMask) != 0);
  }

  // Each setting's control shows the record's value.
  void ShowSettings(DialogWindow& w) {
    for (const SettingRow& row : SettingsTable()) {
      if (row.control == 0) continue;
      switch (row.type) {
        case SettingType::kFlag:
        case SettingType::kFlagOne:
          w.SetCheck(row.control, row.get(settings_) != 0);
          break;
        case SettingType::kReal:
        case SettingType::kFloat:
          WriteFixed(w, row.control, row.get(settings_));
          break;
        case SettingType::kInt:
        case SettingType::kUnsigned:
          WriteInt(w, row.control, static_cast<int32_t>(row.get(settings_)));
          break;
        case SettingType::kAxesMap:
          w.SelectListItem(row.control, AxisPairIndex(settings_.AxisMap));
          break;
      }
    }
  }

  // A control's value as its setting's type reads it: atof, atoi, checked or not, the code of
  // the chosen list text.
  static double ReadControl(DialogWindow& w, const SettingRow& row) {
    switch (row.type) {
      case SettingType::kFlag:
      case SettingType::kFlagOne:
        return w.IsChecked(row.control) ? 1 : 0;
      case SettingType::kReal:
      case SettingType::kFloat:
        return ReadDouble(w, row.control);
      case SettingType::kInt:
      case SettingType::kUnsigned:
        return ReadInt(w, row.control);
      case SettingType::kAxesMap:
        break;
    }
    char text[kEditTextSize];
    w.GetSelectedListText(row.control, text, sizeof text);
    return AxesMapCodeOfText(text);
  }

  // The card's identity once it is connected: an Ethernet card's hardware address, a USB card's
  // serial-number string, or a word that the USB card has none. Written only when it changes,
  // so the text does not flicker.
  void ShowSerial(DialogWindow& w, const CardModel& model) {
    const CardSession& s = *session_;
    const std::string serial(s.serialText, strnlen(s.serialText, sizeof s.serialText));
    const bool usb = model.connectBy == LinkPath::kUsb;
    const std::string shown = usb && serial.empty() ? kNoUsbSerial : serial;
    char current[kEditTextSize];
    w.GetText(kSerialText, current, sizeof current);
    if (shown != current) w.SetText(kSerialText, shown.c_str());
  }

  // One line per edit whose text SAVE would not store as it stands: what was typed, what will
  // be stored. Empty when every edit holds what it shows.
  std::string ChangesOnStore(DialogWindow& w) {
    std::string lines;
    for (const SettingRow& row : SettingsTable()) {
      if (row.control == 0 || row.type == SettingType::kAxesMap || row.type == SettingType::kFlag ||
          row.type == SettingType::kFlagOne) {
        continue;
      }
      char typed[kEditTextSize];
      w.GetText(row.control, typed, sizeof typed);
      const double read = ReadControl(w, row);
      const std::string stored = Shown(row.type, BringIntoRange(row, read));
      char line[3 * kEditTextSize];
      if (!IsNumber(typed, row.type)) {
        std::snprintf(line, sizeof line, "%s: \"%s\" is not %s; %s will be stored.\n",
                      EditNameOf(row.control), typed,
                      IsWholeNumberSetting(row.type) ? "a whole number" : "a number",
                      stored.c_str());
      } else if (Shown(row.type, read) != stored) {
        std::snprintf(line, sizeof line, "%s: %s is out of range; %s will be stored.\n",
                      EditNameOf(row.control), typed, stored.c_str());
      } else {
        continue;
      }
      lines += line;
    }
    if (lines.empty()) return lines;
    return "These fields will not be stored as typed:\n\n" + lines +
           "\nOK stores and saves these values. Cancel goes back to the dialog.";
  }

  // Copy the controls into the record under the rules loading applies, so that nothing out of
  // range takes effect; the controls then show what was stored.
  void StoreControls(DialogWindow& w) {
    for (const SettingRow& row : SettingsTable()) {
      if (row.control != 0) row.set(settings_, BringIntoRange(row, ReadControl(w, row)));
    }
    ShowSettings(w);
  }

  void Close(DialogWindow& w) {
    w.StopTimer(kConnectTimerId);
    w.End(0);
  }

  PluginSettings& settings_;
  const std::unique_ptr<CardSession>& session_;
  int32_t& ticks_;
  MessageBox* messageBox_;
};

}  // namespace

const DialogTemplate& ConfigurationDialogTemplate() {
  return kTemplate;
}

int RunConfigurationDialog(DialogRunner* dialogs, PluginSettings& settings,
                           const std::unique_ptr<CardSession>& session, int32_t& ticks,
                           MessageBox* messageBox) {
  if (dialogs == nullptr || !session) return 0;
  ConfigurationDialog dialog(settings, session, ticks, messageBox);
  return dialogs->RunModal(kTemplate, dialog);
}

}  // namespace torvexan
