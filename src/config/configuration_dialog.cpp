// The configuration dialog's behaviour, the same on every platform: the window is reached only
// through DialogWindow.
#include "config/configuration_dialog.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>

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

void WriteFixed(DialogWindow& w, int id, double value) {
  char text[kEditTextSize];
  std::snprintf(text, sizeof text, "%.3f", value);
  w.SetText(id, text);
}

void WriteInt(DialogWindow& w, int id, int32_t value) {
  char text[kEditTextSize];
  std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
  w.SetText(id, text);
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
    } else {
      w.SetText(kStatusText, ticks_ <= kOneDotUpTo    ? "Connecting ."
                             : ticks_ <= kTwoDotsUpTo ? "Connecting .."
                                                      : "Connecting ...");
    }
    ShowInputs(w);
  }

  void OnCommand(DialogWindow& w, int id, int notification) override {
    if (id == kSaveButton && notification == kNotifyClicked) {
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
