#include "signals/io_config.h"

#include <cstring>

namespace torvexan {

namespace {

// The host stores pins as bytes but means them as signed: 128 and above are no pin at all.
bool IsCardPin(uint8_t pin) {
  return static_cast<int8_t>(pin) > 0;
}

// Copy one input's pin and polarity when it is an enabled card pin.
void TakeInput(const InputSignal& in, uint8_t& pin, uint8_t& lowActive) {
  if (in.Enabled == 0 || in.Port != kCardPort || !IsCardPin(in.Pin)) return;
  pin = in.Pin;
  lowActive = in.ActiveLow;
}

// The host's timing quotient, kept to 16 bits. Divided in 64 bits so that the one quotient
// that does not fit 32 bits (the most negative dividend over -1) is still exact.
uint16_t TimingWord(int32_t dividend, int32_t divisor) {
  if (divisor == 0) return kDefaultTimingWord;
  const int64_t quotient = static_cast<int64_t>(dividend) / divisor;
  return static_cast<uint16_t>(static_cast<uint64_t>(quotient));
}

}  // namespace

void BuildIoConfig(const HostMachine& m, IoConfig& io) {
  std::memset(&io, 0, sizeof io);
  for (int a = 0; a < kHostAxisCount; ++a) {
    TakeInput(m.InputSignals[FirstLimitInput(a)], io.firstLimitPin[a], io.firstLimitLowActive[a]);
    TakeInput(m.InputSignals[SecondLimitInput(a)], io.secondLimitPin[a],
              io.secondLimitLowActive[a]);
    TakeInput(m.InputSignals[HomeInput(a)], io.homePin[a], io.homeLowActive[a]);
    io.directionLowActive[a] = m.Axes[a].DirActiveLow;
    io.stepLowActive[a] = m.Axes[a].StepActiveLow;
  }
  TakeInput(m.InputSignals[kProbeInput], io.probePin, io.probeLowActive);
  TakeInput(m.InputSignals[kAuxInput], io.auxPin, io.auxLowActive);

  const AxisRecord& spindle = m.Axes[kSpindleAxis];
  if (spindle.StepPort == kCardPort && IsCardPin(spindle.StepPin) && spindle.Enabled != 0) {
    io.spindleStepPin = spindle.StepPin;
    io.spindleStepLowActive = spindle.StepActiveLow;
  }
  io.timingWord = TimingWord(m.IoTimingDividend, m.IoTimingDivisor);
}

}  // namespace torvexan
