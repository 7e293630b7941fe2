// The callbacks the host registers with the plug-in. They are plain C functions without a
// context argument, so the one receiver of status texts is kept here for the whole program.
#pragma once

#include "state/host_records.h"

namespace torvexan::sim {

inline constexpr int kFirstPluginCommandId = 40000;  // menu command ids handed to plug-ins

// Receives every status text the plug-in reports through CodeCallback.
using StatusSink = void (*)(void* context, const char* text);

struct HostCallbacks {
  // Sends status texts to sink; with a null sink they are printed on standard output.
  static void SetStatusSink(StatusSink sink, void* context);
  // Starts handing out menu command ids from kFirstPluginCommandId again.
  static void ResetMenuIds();

  static void Code(const char* text);
  static int MenuRange(int count);
  // Registered but, like the host's other user-interface hooks, not expected to be called.
  static void DoButton(int16_t code);
  static void SetDro(int16_t code, double value);
  static double GetDro(int16_t code);
  static bool GetLed(int16_t code);
  static void SetLed(int16_t code, bool on);
  // How often the plug-in called any of the five hooks above.
  static int UnexpectedCalls();
};

}  // namespace torvexan::sim
