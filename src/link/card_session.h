// Starting, resetting and stopping the one card session, and the model constants a
// recognised card brings.
#pragma once

#include <cstdint>

#include "state/card_session_record.h"

namespace torvexan {

struct Platform;

// Gives every field its default: 5 axes, model unknown, invalid socket, no USB handle.
void ResetCardSession(CardSession& s);

// Constructs a zero-filled session: starts the socket library (version 1.1 exactly) and the
// USB library's default context, then sets the defaults. Never fails on a missing card.
void StartCardSession(CardSession& s, const Platform& platform);

// Closes the socket and the USB device and cleans up both libraries.
void StopCardSession(CardSession& s);

// A transport gave up on the card: the link goes down (counted once) and the pending packet
// waits for the next connect.
void LoseLink(CardSession& s);

// The last status reply said the card is halted (at power-up, after a halt, its e-stop input).
bool CardHalted(const CardSession& s);

// The last status reply said the card executes rows (of the host's queue or of a sequence).
bool CardExecutingRows(const CardSession& s);

// The card halted on its own: from now until the host's reset every packet carries the outputs
// and the spindle off, and the spindle stays off after the reset until the host turns it on.
void HoldOutputsOff(CardSession& s);

// Releases interface 0 of the open USB device, closes it and forgets the handle.
void CloseUsbHandle(CardSession& s);

// Sets the model code and the model constants (axes, segment limits, input masks) of a
// recognised card from its row of the card-model table; a model that is never recognised
// changes nothing.
void ApplyCardModel(CardSession& s, uint32_t cardType);

}  // namespace torvexan
