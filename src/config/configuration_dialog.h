// The configuration dialog: the user edits the settings and watches the card link come up,
// the card's identity and the live state of its inputs.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/dialog.h"
#include "state/plugin_settings.h"

namespace torvexan {

struct CardSession;

// Control identifiers of template 102.
enum ConfigDialogControl : int {
  kSaveButton = 1,
  kCancelButton = 2,
  kStatusText = 1001,
  kHomeTwiceBox = 1002,
  kXPullOffEdit = 1003,
  kYPullOffEdit = 1004,
  kZPullOffEdit = 1005,
  kAPullOffEdit = 1006,
  kOutputPinEdit = 1023,
  kZDeepthEdit = 1024,
  kVersionText = 1025,
  kSerialText = 1026,
  kMpgDisableBox = 1028,
  kMultiStepBox = 1029,
  kFirmwareText = 1030,
  kCalibrationEdit = 1031,
  kBPullOffEdit = 1032,
  kAxisMapList = 1033,
  kFeedRateEdit = 1035,
  kSpindleSpeedEdit = 1036,
};

// The sixteen boxes of the inputs view.
inline constexpr int kInputBoxes[8] = {1007, 1008, 1009, 1010, 1019, 1020, 1021, 1022};
inline constexpr int kMpgAxisBoxes[5] = {1011, 1012, 1013, 1014, 1018};
inline constexpr int kMpgX10Box = 1015;
inline constexpr int kMpgX100Box = 1017;
inline constexpr int kEStopBox = 1016;

inline constexpr uintptr_t kConnectTimerId = 12;
inline constexpr uint32_t kConnectTimerPeriodMs = 100;

// Template 102 as the dialog model needs it.
const DialogTemplate& ConfigurationDialogTemplate();

// Runs the modal dialog over the settings and the plug-in's card session; ticks is the status
// animation's counter, kept between dialogs. Returns the dialog's result (0), or 0 at once on a
// platform without dialogs or without a session. A session that goes away while the dialog is
// open (the host stops the plug-in from inside the modal loop) ends the dialog at its next
// tick without storing anything.
int RunConfigurationDialog(DialogRunner* dialogs, PluginSettings& settings,
                           const std::unique_ptr<CardSession>& session, int32_t& ticks);

}  // namespace torvexan
