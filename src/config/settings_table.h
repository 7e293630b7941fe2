// Every persistent setting as one row: its key in the settings file, its type (which fixes how
// the file and the dialog write and read it), the range loading keeps it in, and the dialog
// control that shows it. LoadSettings, SaveSettings, the dialog's initialisation and its SAVE
// all walk this table, so a new setting is a field of PluginSettings and a row here. The
// compiled default of each setting is its initialiser in PluginSettings.
#pragma once

#include <cstdint>
#include <span>

#include "state/plugin_settings.h"

namespace torvexan {

enum class SettingType : uint8_t {
  kFlag,      // "1" or "0"; any number but 0 reads as on; a check box
  kFlagOne,   // "1" or "0"; only 1 reads as on; a check box
  kReal,      // double, "%.3f"; an edit
  kFloat,     // float, "%.3f"; an edit
  kInt,       // signed 32-bit, "%d"; an edit
  kUnsigned,  // unsigned 32-bit, written as the signed number with its bits, "%d"
  kAxesMap,   // the code 1..3 of channels 3 and 4 (AxesMap); the axis-map list
};

// What loading does with a number outside the row's range.
enum class OutOfRange : uint8_t {
  kClamp,    // the nearer bound
  kDefault,  // the setting's default
};

struct SettingRow {
  const char* key;
  SettingType type;
  double min;
  double max;
  OutOfRange outside;
  int control;  // dialog control, 0 = not in the dialog
  // The field as a number: flags 0 or 1, the axis map as its code.
  double (*get)(const PluginSettings&);
  void (*set)(PluginSettings&, double);
};

// The rows, in the order the settings file gets keys it lacks.
std::span<const SettingRow> SettingsTable();

// The row's compiled default, as a number.
double SettingDefault(const SettingRow& row);

// The loading rules: a value read (from the file or from the dialog) as the row's type takes
// it to what is stored. Flags become 0 or 1; a number that is not finite (or not finite once
// narrowed to float) becomes the default; a number out of range is clamped or replaced by the
// default as the row says; an unsigned setting takes a negative number's bits first.
double BringIntoRange(const SettingRow& row, double value);

}  // namespace torvexan
