#include "sim/host/host_callbacks.h"

#include <cstdio>

namespace torvexan::sim {
namespace {

struct CallbackState {
  StatusSink sink = nullptr;
  void* context = nullptr;
  int nextMenuId = kFirstPluginCommandId;
  int unexpectedCalls = 0;
};

CallbackState& State() {
  static CallbackState state;
  return state;
}

}  // namespace

void HostCallbacks::SetStatusSink(StatusSink sink, void* context) {
  State().sink = sink;
  State().context = context;
}

void HostCallbacks::ResetMenuIds() {
  State().nextMenuId = kFirstPluginCommandId;
}

void HostCallbacks::Code(const char* text) {
  CallbackState& s = State();
  if (text == nullptr) text = "";
  if (s.sink != nullptr) {
    s.sink(s.context, text);
  } else {
    std::printf("status: %s\n", text);
    std::fflush(stdout);
  }
}

int HostCallbacks::MenuRange(int count) {
  CallbackState& s = State();
  const int first = s.nextMenuId;
  if (count > 0) s.nextMenuId += count;
  return first;
}

void HostCallbacks::DoButton(int16_t) {
  ++State().unexpectedCalls;
}
void HostCallbacks::SetDro(int16_t, double) {
  ++State().unexpectedCalls;
}
double HostCallbacks::GetDro(int16_t) {
  ++State().unexpectedCalls;
  return 0.0;
}
bool HostCallbacks::GetLed(int16_t) {
  ++State().unexpectedCalls;
  return false;
}
void HostCallbacks::SetLed(int16_t, bool) {
  ++State().unexpectedCalls;
}
int HostCallbacks::UnexpectedCalls() {
  return State().unexpectedCalls;
}

}  // namespace torvexan::sim
