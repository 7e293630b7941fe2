/* Template 102 of the plug-in's resources, the configuration dialog: one list read by the
   resource compiler (configuration_dialog.rc) and by the C++ side (configuration_dialog.cpp),
   so that the Windows dialog and the dialog model of other systems start from the same
   controls. Preprocessor lines only: the resource compiler reads this file too.

   TORVEXAN_CONFIG_DIALOG_CONTROLS(X) calls
     X(id, kind, window class, text, x, y, width, height, style)
   once per control, in template order (the tab order), positions in dialog units. id -1 is a
   label or group box without identifier. kind is one of PUSH, CHECK, CHECK_SHOWN (disabled,
   only displays), EDIT, TEXT (static text with an identifier), LIST (drop-down list), GROUP
   and LABEL. Each edit is wide enough for the largest text it must show whole: a pull-off of
   -9999.999, the laser depth's -2147483648, feed rates and spindle speeds of 99999.000. */
#ifndef TORVEXAN_CONFIG_CONFIGURATION_DIALOG_TEMPLATE_H
#define TORVEXAN_CONFIG_CONFIGURATION_DIALOG_TEMPLATE_H

#define TORVEXAN_CONFIG_DIALOG_ID 102
#define TORVEXAN_CONFIG_DIALOG_WIDTH 328
#define TORVEXAN_CONFIG_DIALOG_HEIGHT 302
#define TORVEXAN_CONFIG_DIALOG_CAPTION "Ethernet Motion Controller Configuration"
#define TORVEXAN_CONFIG_DIALOG_FONT "MS Shell Dlg"
#define TORVEXAN_CONFIG_DIALOG_FONT_POINTS 8

#define TORVEXAN_TABBED_CHECK BS_AUTOCHECKBOX | WS_TABSTOP
#define TORVEXAN_SHOWN_CHECK BS_CHECKBOX | WS_DISABLED | WS_TABSTOP
#define TORVEXAN_EDIT ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP

#define TORVEXAN_CONFIG_DIALOG_CONTROLS(X)                                              \
  X(-1, GROUP, "Button", "Home Setup", 24, 12, 78, 132, BS_GROUPBOX)                    \
  X(-1, GROUP, "Button", "Inputs View", 114, 12, 120, 132, BS_GROUPBOX)                 \
  X(-1, GROUP, "Button", "MPG", 24, 156, 78, 48, BS_GROUPBOX)                           \
  X(-1, GROUP, "Button", "Spindle", 114, 156, 120, 48, BS_GROUPBOX)                     \
  X(-1, GROUP, "Button", "Laser Cutter", 24, 216, 210, 36, BS_GROUPBOX)                 \
  X(-1, GROUP, "Button", "Axis Map", 246, 12, 72, 102, BS_GROUPBOX)                     \
  X(-1, GROUP, "Button", "initialization", 24, 258, 210, 36, BS_GROUPBOX)               \
  X(-1, LABEL, "Static", "Axis X", 30, 45, 22, 8, SS_LEFT)                              \
  X(-1, LABEL, "Static", "Axis Y", 30, 63, 22, 8, SS_LEFT)                              \
  X(-1, LABEL, "Static", "Axis Z", 30, 81, 22, 8, SS_LEFT)                              \
  X(-1, LABEL, "Static", "Axis 4", 30, 99, 22, 8, SS_LEFT)                              \
  X(-1, LABEL, "Static", "Axis 5", 30, 117, 22, 8, SS_LEFT)                             \
  X(-1, LABEL, "Static", "Version:", 246, 174, 60, 8, SS_LEFT)                          \
  X(-1, LABEL, "Static", "S/N:", 246, 198, 60, 8, SS_LEFT)                              \
  X(-1, LABEL, "Static", "Firmware:", 246, 222, 60, 8, SS_LEFT)                         \
  X(-1, LABEL, "Static", "Calibration", 126, 183, 44, 8, SS_LEFT)                       \
  X(-1, LABEL, "Static", "Output Pin", 34, 231, 40, 8, SS_LEFT)                         \
  X(-1, LABEL, "Static", "Z Deepth", 124, 231, 36, 8, SS_LEFT)                          \
  X(-1, LABEL, "Static", "4th, 5th Axis", 258, 30, 50, 8, SS_LEFT)                      \
  X(-1, LABEL, "Static", "Feedrate", 30, 273, 28, 8, SS_LEFT)                           \
  X(-1, LABEL, "Static", "Spindle Speed", 122, 273, 56, 8, SS_LEFT)                     \
  X(1, PUSH, "Button", "SAVE", 258, 261, 50, 14, BS_DEFPUSHBUTTON | WS_TABSTOP)         \
  X(2, PUSH, "Button", "CANCEL", 258, 279, 50, 14, BS_PUSHBUTTON | WS_TABSTOP)          \
  X(1001, TEXT, "Static", "Connecting ...", 246, 243, 78, 8, SS_LEFT)                   \
  X(1002, CHECK, "Button", "Twice", 34, 30, 34, 10, TORVEXAN_TABBED_CHECK)              \
  X(1003, EDIT, "Edit", "", 54, 42, 44, 14, TORVEXAN_EDIT)                              \
  X(1004, EDIT, "Edit", "", 54, 60, 44, 14, TORVEXAN_EDIT)                              \
  X(1005, EDIT, "Edit", "", 54, 78, 44, 14, TORVEXAN_EDIT)                              \
  X(1006, EDIT, "Edit", "", 54, 96, 44, 14, TORVEXAN_EDIT)                              \
  X(1007, CHECK_SHOWN, "Button", "IN1", 126, 30, 27, 10, TORVEXAN_SHOWN_CHECK)          \
  X(1008, CHECK_SHOWN, "Button", "IN2", 126, 42, 27, 10, TORVEXAN_SHOWN_CHECK)          \
  X(1009, CHECK_SHOWN, "Button", "IN3", 126, 54, 27, 10, TORVEXAN_SHOWN_CHECK)          \
  X(1010, CHECK_SHOWN, "Button", "IN4", 126, 66, 27, 10, TORVEXAN_SHOWN_CHECK)          \
  X(1011, CHECK_SHOWN, "Button", "X", 162, 30, 20, 10, TORVEXAN_SHOWN_CHECK)            \
  X(1012, CHECK_SHOWN, "Button", "Y", 162, 42, 20, 10, TORVEXAN_SHOWN_CHECK)            \
  X(1013, CHECK_SHOWN, "Button", "Z", 162, 54, 20, 10, TORVEXAN_SHOWN_CHECK)            \
  X(1014, CHECK_SHOWN, "Button", "4", 162, 66, 20, 10, TORVEXAN_SHOWN_CHECK)            \
  X(1015, CHECK_SHOWN, "Button", "X10", 162, 102, 28, 10, TORVEXAN_SHOWN_CHECK)         \
  X(1016, CHECK_SHOWN, "Button", "EStop", 162, 114, 35, 10, TORVEXAN_SHOWN_CHECK)       \
  X(1017, CHECK_SHOWN, "Button", "X100", 162, 90, 32, 10, TORVEXAN_SHOWN_CHECK)         \
  X(1018, CHECK_SHOWN, "Button", "5", 162, 78, 20, 10, TORVEXAN_SHOWN_CHECK)            \
  X(1019, CHECK_SHOWN, "Button", "IN5", 126, 78, 27, 10, TORVEXAN_SHOWN_CHECK)          \
  X(1020, CHECK_SHOWN, "Button", "IN6", 126, 90, 27, 10, TORVEXAN_SHOWN_CHECK)          \
  X(1021, CHECK_SHOWN, "Button", "IN7", 126, 102, 27, 10, TORVEXAN_SHOWN_CHECK)         \
  X(1022, CHECK_SHOWN, "Button", "IN8", 126, 114, 27, 10, TORVEXAN_SHOWN_CHECK)         \
  X(1023, EDIT, "Edit", "", 78, 228, 40, 14, TORVEXAN_EDIT)                             \
  X(1024, EDIT, "Edit", "", 162, 228, 56, 14, TORVEXAN_EDIT)                            \
  X(1025, TEXT, "Static", "2.0", 246, 183, 72, 8, SS_LEFT)                              \
  X(1026, TEXT, "Static", "Static", 246, 207, 72, 8, SS_LEFT)                           \
  X(1028, CHECK, "Button", "Disable", 42, 168, 39, 10, TORVEXAN_TABBED_CHECK)           \
  X(1029, CHECK, "Button", "Multi-Step Speed", 132, 168, 70, 10, TORVEXAN_TABBED_CHECK) \
  X(1030, TEXT, "Static", "2.0", 246, 231, 78, 8, SS_LEFT)                              \
  X(1031, EDIT, "Edit", "", 174, 180, 48, 14, TORVEXAN_EDIT)                            \
  X(1032, EDIT, "Edit", "", 54, 114, 44, 14, TORVEXAN_EDIT)                             \
  X(1033, LIST, "ComboBox", "", 258, 42, 48, 48,                                        \
    CBS_DROPDOWNLIST | CBS_SORT | WS_VSCROLL | WS_TABSTOP)                              \
  X(1035, EDIT, "Edit", "", 60, 270, 46, 14, TORVEXAN_EDIT)                             \
  X(1036, EDIT, "Edit", "", 180, 270, 46, 14, TORVEXAN_EDIT)

#endif
