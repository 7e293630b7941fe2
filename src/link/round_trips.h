// How long the Ethernet exchange waits for a reply before it sends the packet again, worked out
// from the card's own round trips as TCP times its retransmissions: the smoothed round trip
// plus four times its variation. Everything counts ticks of TickCount.
//
// A wait is never shorter than the longest of the card's recent round trips, so a card that
// answers a little late now and then is not sent every packet twice, and never longer than the
// fixed wait of a link that has no round trip to go by. Only a reply to a packet sent once is a
// sample (Karn's rule: a reply to a resent packet may answer either send), and so is the answer
// to a discovery request that went out alone. From the fourth time-out of the same packet on, each
// lengthens its wait by half, so a silent card is not flooded, unless the card's buffer runs
// low: then the prompt wait holds, with no margin and no backing off. An answer to an earlier send
// that turns up after its packet was done shows that a resend came too early: it counts among the
// recent trips as one tick longer than the wait, and the waits stay doubled until a clean sample
// comes, so a card that suddenly answers more slowly is learnt instead of being sent every packet
// twice for good. A lost packet alone, which leaves no late answer behind, does not lengthen the
// wait of the next.
#pragma once

#include <cstdint>

#include "state/plugin_state.h"

namespace torvexan {

// The fixed wait: a reply is missed after more than this many ticks.
inline constexpr uint32_t kLongestReplyWaitTicks = 10;
// Sends of one packet that the fixed wait allows before the link is given up: the silence after
// which the link counts as lost is what they take, about 2.2 s at 20 ms a tick.
inline constexpr uint32_t kSendsBeforeLoss = 10;
inline constexpr uint32_t kLinkLossTicks = kSendsBeforeLoss * (kLongestReplyWaitTicks + 1);

// The wait for the reply to the packet just sent: a reply is missed after more than this many
// ticks.
uint32_t ReplyWaitTicks(const RoundTrips& r);

// The wait while the card's buffer runs low: no margin for the variation, only the card's
// longest recent measured round trip, so that the packet goes again in the first tick its
// answer is overdue (every tick for a card that answers within one). Late answers do not count
// here: one datagram held up in the network would hold the card's resends back for its next
// sixteen trips. A reply is missed after more than this many ticks.
uint32_t PromptReplyWaitTicks(const RoundTrips& r);

// A reply accepted `ticks` ticks after the packet's only send.
void NoteRoundTrip(RoundTrips& r, uint32_t ticks);

// The wait for a packet after the wait of `wait` ticks for its send ran out, for the
// `misses`th time in a row.
uint32_t WaitAfterMiss(uint32_t wait, int32_t misses);

// An answer to an earlier send came after its packet was done: the next waits are longer until
// a clean sample comes.
void NoteLateAnswer(RoundTrips& r);

}  // namespace torvexan
