// The plug-in's exported entry points, by name with C linkage and the C calling convention.
// This is what a host loads; every function forwards to the one plug-in instance.
#pragma once

#include "state/host_records.h"

#ifndef _WIN32
namespace torvexan {
class DialogModel;
}
#endif

#ifdef _WIN32
#define TORVEXAN_EXPORT
#else
#define TORVEXAN_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
TORVEXAN_EXPORT const char* SetProName(const char* path);
TORVEXAN_EXPORT torvexan::DoButtonFn SetDoButton(torvexan::DoButtonFn fn);
TORVEXAN_EXPORT torvexan::SetDroFn SetSetDRO(torvexan::SetDroFn fn);
TORVEXAN_EXPORT torvexan::GetDroFn SetGetDRO(torvexan::GetDroFn fn);
TORVEXAN_EXPORT torvexan::GetLedFn SetGetLED(torvexan::GetLedFn fn);
TORVEXAN_EXPORT torvexan::SetLedFn SetSetLED(torvexan::SetLedFn fn);
TORVEXAN_EXPORT torvexan::CodeCallbackFn SetCode(torvexan::CodeCallbackFn fn);
TORVEXAN_EXPORT torvexan::MenuRangeCallbackFn SetGetMenuRange(torvexan::MenuRangeCallbackFn fn);
TORVEXAN_EXPORT bool InitControl(torvexan::HostMachine* machine, torvexan::HostDoubles* doubles,
                                 torvexan::HostControl* control, torvexan::HostFrame* frame);
TORVEXAN_EXPORT int PostInitControl(void);
TORVEXAN_EXPORT int Config(void);
TORVEXAN_EXPORT void StopPlug(void);
TORVEXAN_EXPORT void Update(void);
TORVEXAN_EXPORT void Notify(int code);
TORVEXAN_EXPORT void DoDwell(double time);
TORVEXAN_EXPORT void Reset(void);
TORVEXAN_EXPORT void JogOn(int axis, int direction, double speed);
TORVEXAN_EXPORT void JogOff(int axis);
TORVEXAN_EXPORT void Purge(int mask);
TORVEXAN_EXPORT void Probe(void);
TORVEXAN_EXPORT void Home(int axis);

#ifndef _WIN32
// Hosts without Windows timers drive the plug-in's cycle timer from their loop: this runs
// every timer that is due and returns the milliseconds until the next one (-1: none runs).
TORVEXAN_EXPORT int TorvexanDispatchTimers(void);
// Hosts without Windows dialogs hand over the dialog model the plug-in's configuration dialog
// opens in (platform/dialog_model.h); without one the dialog ends at once.
TORVEXAN_EXPORT void TorvexanSetDialogModel(torvexan::DialogModel* model);
// Hosts that link the library in, and so never unload it, call this after StopPlug where a
// loader would unload it: the one instance ends (its sockets, devices and timers with it), and
// the next call meets a fresh one, as a newly loaded library would.
TORVEXAN_EXPORT void TorvexanUnload(void);
#endif
}
