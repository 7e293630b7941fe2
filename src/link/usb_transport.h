// The USB cards through libusb (called only through the run-time loaded table): opening the
// card, the connect handshake as a resumable step on asynchronous transfers polled with a
// zero time-out, and the exchange of the pending packet with synchronous bulk transfers.
#pragma once

#include <cstdint>

#include "link/step_result.h"
#include "state/plugin_state.h"

namespace torvexan {

// Transport resume points of the USB handshake (TransportStep); distinct from the Ethernet
// ones.
enum UsbStepValue : uint16_t {
  kUsbAwaitingRequest = 20,
  kUsbAwaitingReply = 21,
};

inline constexpr uint16_t kCardVendorId = 0xA720;
inline constexpr uint16_t kCardProductId = 0xF805;
inline constexpr unsigned char kEndpointToCard = 0x01;
inline constexpr unsigned char kEndpointFromCard = 0x81;
inline constexpr unsigned kUsbTimeoutMs = 10;

// Opens the first device with the card's ids afresh and claims it; true when a handle is open.
// Always false while USB is unavailable.
bool UsbOpen(CardSession& c);

// Runs the connect handshake. Returns 3 once the card answered (online set), 1 while a
// transfer is outstanding, 0 when it failed (device closed; the next call opens afresh).
int UsbConnectStep(PluginState& s);

// Stops a handshake in progress: the transfer still in flight is cancelled and freed, so that
// the device can be closed after it. Called before the session stops.
void UsbCancelHandshake(PluginState& s);

// Exchanges the whole 64-byte pending packet within this call, at most 10 attempts. Returns 2
// when offline on entry, else 3; online is cleared when every attempt failed.
int UsbExchangeStep(PluginState& s);

}  // namespace torvexan
