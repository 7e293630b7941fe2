// Fills the card's I/O configuration from the host's signal tables.
#pragma once

#include "link/configure_record.h"
#include "state/host_records.h"

namespace torvexan {

// The port number with which the host's signal tables name the card's own pins.
inline constexpr uint8_t kCardPort = 3;

// The card's timing word when the host gives no divisor.
inline constexpr uint16_t kDefaultTimingWord = 5;

// Zeroes io and fills it from the host's input signals, axis records and timing values.
void BuildIoConfig(const HostMachine& m, IoConfig& io);

}  // namespace torvexan
