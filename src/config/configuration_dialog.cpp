// The configuration dialog's behaviour, the same on every platform: the window is reached only
// through DialogWindow.
#include "config/configuration_dialog.h"

#include <cfloat>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "config/configuration_dialog_template.h"
#include "config/settings_file.h"
#include "link/card_session.h"

namespace torvexan {

namespace {

constexpr int kEditTextSize = 128;          // an edit's text is read up to 127 characters
constexpr int32_t kLastAnimationTick = 30;  // the counter runs 0..30: 3.1 s per cycle
constexpr int32_t kOneDotUpTo = 10;
constexpr int32_t kTwoDotsUpTo = 20;
constexpr const char* kFirmwareName = "Quorvanta Motion Card";
constexpr const char* kOpenCaption = "Quorvanta Motion Card Configuration";
constexpr const char* kSaveFailedCaption = "Settings not saved";
constexpr const char* kAxisMapTexts[] = {"A,B", "A,C", "B,C"};
constexpr int kFirstAxisMapSum = 7;  // AxisMap[3] + AxisMap[4] of "A,B"

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

// The caption while a card is online, by model.
const char* OnlineCaption(uint32_t cardType) {
  switch (cardType) {
    case kCardLorn4:
      return "Quorvanta LORN4 Motion Card Configuration";
    case kCardLorn5:
      return "Quorvanta LORN5 Motion Card Configuration";
    case kCardPell4:
      return "Quorvanta Pell4 Motion Card Configuration";
    case kCardPell5:
      return "Quorvanta Pell5 Motion Card Configuration";
    default:
      return kOpenCaption;
  }
}

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

// A typed value narrowed to the record's float; a value beyond float's range (whose
// conversion would be undefined) stops at the largest float.
float ReadFloat(DialogWindow& w, int id) {
  const double v = ReadDouble(w, id);
  if (v > FLT_MAX) return FLT_MAX;
  if (v < -FLT_MAX) return -FLT_MAX;
  return static_cast<float>(v);
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
    w.SetCheck(kMultiStepBox, settings_.MultiStep);
    w.SetCheck(kMpgDisableBox, settings_.MPGDisable);
    w.SetCheck(kHomeTwiceBox, settings_.HomeTwice);
    WriteFixed(w, kXPullOffEdit, settings_.XPullOff);
    WriteFixed(w, kYPullOffEdit, settings_.YPullOff);
    WriteFixed(w, kZPullOffEdit, settings_.ZPullOff);
    WriteFixed(w, kAPullOffEdit, settings_.APullOff);
    WriteFixed(w, kBPullOffEdit, settings_.BPullOff);
    WriteFixed(w, kCalibrationEdit, settings_.SpindleRatio);
    WriteFixed(w, kSpindleSpeedEdit, settings_.SpindleSpeed);
    WriteFixed(w, kFeedRateEdit, settings_.FeedRate);
    WriteInt(w, kOutputPinEdit, settings_.OutputPin);
    WriteInt(w, kZDeepthEdit, settings_.ZDeepth);
    for (int id : kInputBoxes) w.Enable(id, false);
    for (int id : kMpgAxisBoxes) w.Enable(id, false);
    for (int id : {kMpgX10Box, kMpgX100Box, kEStopBox}) w.Enable(id, false);
    w.SetText(kFirmwareText, kFirmwareName);
    w.SetCaption(kOpenCaption);
    w.SetText(kSerialText, session_->serialText);
    for (const char* text : kAxisMapTexts) w.AddListItem(kAxisMapList, text);
    w.SelectListItem(kAxisMapList, settings_.AxisMap[3] + settings_.AxisMap[4] - kFirstAxisMapSum);
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
      w.SetText(kStatusText, CardModelText(session_->cardType));
      w.SetCaption(OnlineCaption(session_->cardType));
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

  // Copy the controls into the record as typed; the next load brings values into range.
  void StoreControls(DialogWindow& w) {
    const double x = ReadDouble(w, kXPullOffEdit);
    const double y = ReadDouble(w, kYPullOffEdit);
    const double z = ReadDouble(w, kZPullOffEdit);
    const double a = ReadDouble(w, kAPullOffEdit);
    const double b = ReadDouble(w, kBPullOffEdit);
    settings_.HomeTwice = w.IsChecked(kHomeTwiceBox);
    settings_.MultiStep = w.IsChecked(kMultiStepBox);
    settings_.MPGDisable = w.IsChecked(kMpgDisableBox);
    settings_.XPullOff = x;
    settings_.YPullOff = y;
    settings_.ZPullOff = z;
    settings_.APullOff = a;
    settings_.BPullOff = b;
    settings_.SpindleRatio = ReadFloat(w, kCalibrationEdit);
    settings_.SpindleSpeed = ReadFloat(w, kSpindleSpeedEdit);
    settings_.FeedRate = ReadFloat(w, kFeedRateEdit);
    settings_.OutputPin = ReadInt(w, kOutputPinEdit);
    settings_.ZDeepth = ReadInt(w, kZDeepthEdit);
    char map[kEditTextSize];
    w.GetSelectedListText(kAxisMapList, map, sizeof map);
    if (map[0] == 'A') {
      settings_.AxisMap[3] = 3;
      settings_.AxisMap[4] = map[1] != '\0' && map[2] == 'B' ? 4 : 5;
    } else {
      settings_.AxisMap[3] = 4;
      settings_.AxisMap[4] = 5;
    }
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
