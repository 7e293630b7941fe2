#include "link/eth_transport.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "link/card_session.h"
#include "link/link_counters.h"
#include "link/packets.h"
#include "link/reply_check.h"
#include "link/round_trips.h"

namespace torvexan {

namespace {

constexpr uint16_t kStart = 0;
constexpr uint32_t kTimeoutTicks = kLongestReplyWaitTicks;  // discovery and writability
constexpr int32_t kReceivesPerEvent = 10;
constexpr int kHostNameSize = 1024;
constexpr uint32_t kLimitedBroadcast = 0xFFFFFFFF;
constexpr int kDottedSize = 16;        // "255.255.255.255" and its NUL
constexpr uint32_t kMsPerCardRow = 5;  // the card runs one row per 5 ms period

bool TimedOut(const PluginState& s, uint32_t since) {
  return s.cycle.TickCount - since > kTimeoutTicks;
}

// An IPv4 address in network byte order as dotted text.
void FormatDotted(uint32_t address, char (&out)[kDottedSize]) {
  uint8_t b[4];
  std::memcpy(b, &address, sizeof b);
  std::snprintf(out, sizeof out, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

void CloseSocket(CardSession& c) {
  if (c.socket == kInvalidSocket) return;
  c.net->Shutdown(c.socket);
  c.net->Close(c.socket);
  c.socket = kInvalidSocket;
}

// Fills the window of local addresses that starts at position first of the host's list.
void LookUpAddressWindow(PluginState& s, int first) {
  CardSession& c = *s.session;
  TransportState& t = s.link.transport;
  char hostName[kHostNameSize];
  hostName[0] = '\0';
  c.net->HostName(hostName, sizeof hostName);
  hostName[kHostNameSize - 1] = '\0';
  const int found =
      c.net->LookupAddresses(hostName, first, t.localAddresses, TransportState::kMaxLocalAddresses);
  t.localAddressCount = found < 0 ? 0 : std::min(found, TransportState::kMaxLocalAddresses);
  t.localAddressWindow = first;
}

// Starts a pass over the local addresses with a fresh socket for each.
void BeginDiscoveryPass(PluginState& s) {
  CardSession& c = *s.session;
  CloseSocket(c);
  LookUpAddressWindow(s, 0);
  s.link.transport.HostAddressCursor = 0;
  ++c.counters.discoveryPasses;
}

// Broadcasts the discovery request from the next local address; false when the pass is over.
bool SendDiscoveryOnNextAddress(PluginState& s) {
  CardSession& c = *s.session;
  TransportState& t = s.link.transport;
  int inWindow = t.HostAddressCursor - t.localAddressWindow;
  if (inWindow >= t.localAddressCount &&
      t.localAddressCount == TransportState::kMaxLocalAddresses) {
    // A full window: the host may have more addresses after it.
    LookUpAddressWindow(s, t.HostAddressCursor);
    inWindow = 0;
  }
  if (inWindow < 0 || inWindow >= t.localAddressCount) {
    s.link.TransportStep = kStart;
    return false;
  }
  const uint32_t local = t.localAddresses[inWindow];
  char dotted[kDottedSize];
  FormatDotted(local, dotted);
  // Failures here go unchecked: a socket that cannot send simply hears no reply.
  c.socket = c.net->OpenUdp();
  c.net->Bind(c.socket, local, kLocalPort);
  c.net->SetBroadcast(c.socket, true);
  c.net->SetNonBlocking(c.socket);
  uint8_t request[kDiscoveryRequestLength];
  const int length = BuildDiscoveryRequest(c, request);
  ChainEncode(request, length);
  c.net->SendTo(c.socket, request, length, kLimitedBroadcast, kCardPort);
  ++c.counters.discoveryRequests;
  t.DiscoverySentAt = s.cycle.TickCount;
  std::printf("sent from %s----------%d\r\n", dotted, static_cast<int>(t.DiscoveryCount));
  ++t.DiscoveryCount;
  s.link.TransportStep = kEthAwaitingDiscoveryReply;
  return true;
}

enum class DiscoveryOutcome { kWaiting, kConnected, kConnectFailed, kMissed };

// Takes an accepted discovery reply: the card's identity, its address, the connected socket.
DiscoveryOutcome ConnectToCard(PluginState& s, const Ipv4SocketAddress& from) {
  CardSession& c = *s.session;
  ++c.ethSequence;
  TakeEthCardIdentity(c, c.rxBuffer);
  char dotted[kDottedSize];
  FormatDotted(from.address, dotted);
  std::printf("receieved from %s,-------------------ID: %d\r\n", dotted,
              static_cast<int>(c.ethSequence));
  c.cardAddress = from;
  c.net->SetBroadcast(c.socket, false);
  if (c.net->Connect(c.socket, c.cardAddress) != 0) {
    CloseSocket(c);
    return DiscoveryOutcome::kConnectFailed;
  }
  c.online = 1;
  TransportState& t = s.link.transport;
  // The card answers a discovery as it answers a command: the first exchanges need not wait
  // the fixed time for want of a round trip. Only a request that went out alone with its
  // number is a sample; an answer may belong to an earlier pass's request with the same one.
  if (t.DiscoveryCount == 1) NoteRoundTrip(t.roundTrips, s.cycle.TickCount - t.DiscoverySentAt);
  t.DiscoveryCount = 0;
  return DiscoveryOutcome::kConnected;
}

DiscoveryOutcome AwaitDiscoveryReply(PluginState& s) {
  CardSession& c = *s.session;
  if (TimedOut(s, s.link.transport.DiscoverySentAt)) return DiscoveryOutcome::kMissed;
  if (!c.net->IsReadable(c.socket)) return DiscoveryOutcome::kWaiting;
  // Cleared first so that nothing of an earlier datagram can pass for this one.
  std::memset(c.rxBuffer, 0, kEthReplyCapacity);
  Ipv4SocketAddress from{};
  const int received = c.net->ReceiveFrom(c.socket, c.rxBuffer, kEthReplyCapacity, &from);
  if (received < 1) {
    std::printf("WSAStartup failed.errno=[%d]", c.net->LastError());
    return DiscoveryOutcome::kMissed;
  }
  ChainDecode(c.rxBuffer, received);
  // Only one datagram is read per address: anything else ends the wait on it.
  if (!IsDiscoveryReply(c, c.rxBuffer, received)) return DiscoveryOutcome::kMissed;
  return ConnectToCard(s, from);
}

// Waits for the discovery reply on the current address, moving on to the next address (in
// the same call) when the wait is over without a card.
int ContinueDiscovery(PluginState& s) {
  for (;;) {
    switch (AwaitDiscoveryReply(s)) {
      case DiscoveryOutcome::kWaiting:
        return kStepWaiting;
      case DiscoveryOutcome::kConnected:
        s.link.TransportStep = kStart;
        return kStepEnded;
      case DiscoveryOutcome::kConnectFailed:
        s.link.TransportStep = kStart;
        return kStepWaiting;
      case DiscoveryOutcome::kMissed:
        break;
    }
    CloseSocket(*s.session);
    ++s.link.transport.HostAddressCursor;
    if (!SendDiscoveryOnNextAddress(s)) return kStepWaiting;
  }
}

// Recognises the model of a card still unknown from the length of its first reply.
void RecogniseFromReplyLength(CardSession& c, int received) {
  if (c.cardType != kCardUnknown) return;
  const uint32_t model = CardModelFromReplyLength(received);
  if (model != kCardUnknown) ApplyCardModel(c, model);
}

enum class Burst { kAccepted, kOnlyStale, kUnanswered };

// Reads up to ten datagrams and tells whether one of them is the reply to the pending packet,
// or whether all that came were answers to earlier sends. The card may answer an earlier send
// late, so a foreign sequence is dropped and reading goes on.
Burst ReceiveReply(PluginState& s) {
  CardSession& c = *s.session;
  bool stale = false, rejected = false;
  for (s.link.transport.ReceiveCount = 0; s.link.transport.ReceiveCount < kReceivesPerEvent;
       ++s.link.transport.ReceiveCount) {
    std::memset(c.rxBuffer, 0, kEthReplyCapacity);
    const int received = c.net->Receive(c.socket, c.rxBuffer, kEthReplyCapacity);
    if (received < 1) continue;
    RecogniseFromReplyLength(c, received);
    ChainDecode(c.rxBuffer, received);
    const ReplyFields before = SaveReplyFields(c);
    const int result = ParseEthReply(c, c.rxBuffer, received);
    if (result == kReplyAccepted &&
        !TakeReply(s.link.transport, c, s.platform.clock->TickCountMs(),
                   s.motion.MotionMode == kHandwheelJog, ReplyIsStatus(c))) {
      RestoreReplyFields(c, before);
      rejected = true;  // asked again at once
      continue;
    }
    CountReply(c.counters, result);
    if (result == kReplyAccepted) return Burst::kAccepted;
    // An answer to an earlier send: a resend of it went out before this answer could come.
    if (result == kReplyForeignSequence) NoteLateAnswer(s.link.transport.roundTrips);
    (result == kReplyForeignSequence ? stale : rejected) = true;
  }
  return stale && !rejected ? Burst::kOnlyStale : Burst::kUnanswered;
}

// Rows the card still holds at the least: what its last answer said, less a row for every
// 5 ms since the packet it answered first went out (it answered some time after that).
int RowsLeftOnCard(const PluginState& s) {
  const CardSession& c = *s.session;
  const uint32_t sinceMs = s.platform.clock->TickCountMs() - s.link.transport.FreeSlotsSentMs;
  const int64_t rows = int64_t{kCardBufferRows} - c.freeSlots - sinceMs / kMsPerCardRow;
  return rows > 0 ? static_cast<int>(rows) : 0;
}

// The pending packet starts or feeds a move (the host's queue, a homing, a probing) or the
// card runs one, and by its last answer and the time since the card holds fewer than two
// batches: it may run dry before a reply waited for at the usual pace, and the packets after
// it, arrive. Starting a move is the usual case, with nothing buffered before the first batch;
// a stream whose packet has failed a while is the other. (A jog is fed a few rows a tick, as
// its keys are held: it never had more to run on.)
bool CardRunsLow(const PluginState& s) {
  const CardSession& c = *s.session;
  const bool jogging = s.motion.MotionMode == kJogMove || s.motion.MotionMode == kHandwheelJog;
  const bool moving = (c.txCode == kMotionCmd && c.txRows > 0) || CardExecutingRows(c);
  return !jogging && moving && RowsLeftOnCard(s) < 2 * int{c.maxSegments};
}

// Sends the pending packet, or sends it again; false when it went out already in this tick (a
// burst of replies held back must not turn into a burst of sends).
bool SendPending(PluginState& s, int length) {
  CardSession& c = *s.session;
  TransportState& t = s.link.transport;
  if (t.SendCount > 0 && t.LastSentAt == s.cycle.TickCount) return false;
  // The bytes were encoded once: a resend repeats them exactly.
  c.net->Send(c.socket, c.txPacket, length);
  NotePacketSent(t, s.platform.clock->TickCountMs());
  if (t.SendCount == 0) {
    t.FirstSentAt = s.cycle.TickCount;
    t.FirstSentMs = s.platform.clock->TickCountMs();
    t.ReplyWait = ReplyWaitTicks(t.roundTrips);
  } else {
    ++c.counters.resends;
  }
  t.LastSentAt = s.cycle.TickCount;
  t.ExchangeStartedAt = s.cycle.TickCount;
  return true;
}

// The reply to the pending packet was accepted. Only a packet that went out once gives a round
// trip: the reply to a resent one may answer either send.
void TakeRoundTrip(PluginState& s) {
  TransportState& t = s.link.transport;
  if (t.SendCount == 0 && !t.CarriedOver) {
    NoteRoundTrip(t.roundTrips, s.cycle.TickCount - t.FirstSentAt);
  } else {
    t.LostTimeSinceFull = true;
  }
}

// Sends the pending packet (again) and waits for its reply, until accepted or the card has been
// silent for as long as the link may be: resends follow the card's round trips, the loss of
// the link a fixed time.
int SendAndAwaitReply(PluginState& s, int length) {
  CardSession& c = *s.session;
  TransportState& t = s.link.transport;
  for (;;) {
    if (s.link.TransportStep == kEthSend) {
      if (!SendPending(s, length)) return kStepWaiting;
      s.link.TransportStep = kEthAwaitingReply;
    }
    const bool readable = c.socket != kInvalidSocket && c.net->IsReadable(c.socket);
    const Burst burst = readable ? ReceiveReply(s) : Burst::kUnanswered;
    if (burst == Burst::kAccepted) {
      t.FreeSlotsSentMs = t.FirstSentMs;
      TakeRoundTrip(s);
      ++c.ethSequence;
      s.link.TransportStep = kStart;
      return kStepEnded;
    }
    if (s.cycle.TickCount - t.FirstSentAt >= kLinkLossTicks) {
      LoseLink(c);
      s.link.TransportStep = kStart;
      return kStepEnded;
    }
    // Judged anew every tick: the card runs lower the longer its answers fail to come.
    const bool low = CardRunsLow(s);
    if (s.cycle.TickCount - t.ExchangeStartedAt >
        (low ? PromptReplyWaitTicks(t.roundTrips) : t.ReplyWait)) {
      // Backing off spares a card that is more likely gone than losing packets; a card that
      // runs low would run dry first, so its packet goes again as soon as each answer is
      // overdue until the link is lost: one send a tick at most.
      if (!low) t.ReplyWait = WaitAfterMiss(t.ReplyWait, t.SendCount + 1);
    } else if (!readable || burst == Burst::kOnlyStale) {
      // Nothing yet, or only answers to earlier sends (the card answers a resend too): the
      // reply to this packet may still be on its way, so only the time-out sends it again.
      // Resending now would leave one more stale answer for the next packet, and so on.
      return kStepWaiting;
    }
    // Missed, or only replies that were rejected or held back: the same bytes go out again.
    ++t.SendCount;
    s.link.TransportStep = kEthSend;
  }
}

}  // namespace

uint32_t CardModelFromReplyLength(int length) {
  const CardModel* m = CardModelByReplyLength(length);
  return m != nullptr ? m->cardType : kCardUnknown;
}

int EthDiscoveryStep(PluginState& s) {
  switch (s.link.TransportStep) {
    case kStart:
      BeginDiscoveryPass(s);
      if (!SendDiscoveryOnNextAddress(s)) return kStepWaiting;
      [[fallthrough]];
    case kEthAwaitingDiscoveryReply:
      return ContinueDiscovery(s);
    default:
      s.link.TransportStep = kStart;
      return kStepWaiting;
  }
}

int EthExchangeStep(PluginState& s, int length) {
  CardSession& c = *s.session;
  TransportState& t = s.link.transport;
  if (length > kPacketBufferSize) length = kPacketBufferSize;
  switch (s.link.TransportStep) {
    case kStart:
      if (!c.online) return kStepExited;
      t.ExchangeStartedAt = s.cycle.TickCount;
      s.link.TransportStep = kEthAwaitingWritable;
      [[fallthrough]];
    case kEthAwaitingWritable:
      if (TimedOut(s, t.ExchangeStartedAt)) {
        LoseLink(c);
        s.link.TransportStep = kStart;
        return kStepExited;
      }
      if (c.socket == kInvalidSocket || !c.net->IsWritable(c.socket)) return kStepWaiting;
      t.CarriedOver = c.txEncoded != 0;
      if (t.CarriedOver) {
        // Already sent before the link was lost: the first send here is a resend too.
        ++c.counters.resends;
      } else {
        ChainEncode(c.txPacket, length);
        c.txEncoded = 1;
      }
      t.SendCount = 0;
      s.link.TransportStep = kEthSend;
      [[fallthrough]];
    case kEthSend:
    case kEthAwaitingReply:
      return SendAndAwaitReply(s, length);
    default:
      s.link.TransportStep = kStart;
      return kStepWaiting;
  }
}

}  // namespace torvexan
