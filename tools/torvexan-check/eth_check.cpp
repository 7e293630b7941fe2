#include "eth_check.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "check_system.h"
#include "link/card_session.h"
#include "link/eth_transport.h"
#include "link/packets.h"
#include "messages.h"

namespace torvexan::check {

namespace {

constexpr uint32_t kLimitedBroadcast = 0xFFFFFFFF;
constexpr int kHostNameSize = 1024;
constexpr int kAddressWindow = 16;  // addresses asked for at a time
constexpr int kFirmwareMajorOffset = 14;
constexpr int kFirmwareMinorOffset = 15;
constexpr int kSurveyRounds = 3;  // broadcasts per address while no card answers

using SteadyClock = std::chrono::steady_clock;

double MsSince(SteadyClock::time_point start) {
  return std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
}

// A fresh session only for the packet builders and checks; it never opens anything.
std::unique_ptr<CardSession> ScratchSession() {
  auto c = std::make_unique<CardSession>();
  std::memset(c.get(), 0, sizeof(CardSession));
  ResetCardSession(*c);
  return c;
}

FoundCard DescribeReply(const CardSession& scratch, const uint8_t* reply,
                        const Ipv4SocketAddress& from, uint32_t via) {
  FoundCard card;
  card.address = from.address;
  card.port = static_cast<uint16_t>((from.port >> 8) | (from.port << 8));
  card.via = via;
  card.hardwareAddress = scratch.serialText;
  char firmware[8];
  std::snprintf(firmware, sizeof firmware, "%02X.%02X", reply[kFirmwareMajorOffset],
                reply[kFirmwareMinorOffset]);
  card.firmware = firmware;
  return card;
}

// Reads every datagram waiting on the socket and keeps the discovery replies.
void TakeReplies(NetApi& net, SocketHandle socket, CardSession& scratch, const LocalAddress& local,
                 SteadyClock::time_point sent, EthReport& r) {
  while (net.IsReadable(socket)) {
    uint8_t reply[kEthReplyCapacity] = {};
    Ipv4SocketAddress from{};
    const int received = net.ReceiveFrom(socket, reply, sizeof reply, &from);
    if (received < 1) return;
    ChainDecode(reply, received);
    if (!IsDiscoveryReply(scratch, reply, received)) continue;
    TakeEthCardIdentity(scratch, reply);
    FoundCard card = DescribeReply(scratch, reply, from, local.address);
    card.roundTripMs = MsSince(sent);
    card.outsideSubnet =
        local.maskKnown && (card.address & local.mask) != (local.address & local.mask);
    r.cards.push_back(card);
  }
}

// One broadcast from the socket and every reply within waitMs; true when a card answered.
bool BroadcastOnce(NetApi& net, SocketHandle socket, CardSession& scratch,
                   const LocalAddress& local, uint32_t waitMs, EthReport& r) {
  const size_t before = r.cards.size();
  uint8_t request[kDiscoveryRequestLength];
  const int length = BuildDiscoveryRequest(scratch, request);
  ChainEncode(request, length);
  const auto sent = SteadyClock::now();
  net.SendTo(socket, request, length, kLimitedBroadcast, kCardPort);
  for (double left = waitMs; left > 0; left = waitMs - MsSince(sent)) {
    if (WaitReadable(socket, static_cast<int>(left) + 1)) {
      TakeReplies(net, socket, scratch, local, sent, r);
    }
  }
  return r.cards.size() > before;
}

// Sends the card a status poll, the one packet whose answer tells the model by its length.
void ProbeModel(NetApi& net, SocketHandle socket, CardSession& scratch, uint32_t waitMs,
                FoundCard& card) {
  ++scratch.ethSequence;
  const int length = BuildStatusPoll(scratch);
  ChainEncode(scratch.txPacket, length);
  const auto sent = SteadyClock::now();
  net.SendTo(socket, scratch.txPacket, length, card.address, card.port);
  for (double left = waitMs; left > 0; left = waitMs - MsSince(sent)) {
    if (!WaitReadable(socket, static_cast<int>(left) + 1)) continue;
    uint8_t reply[kEthReplyCapacity] = {};
    Ipv4SocketAddress from{};
    const int received = net.ReceiveFrom(socket, reply, sizeof reply, &from);
    if (received < 1 || from.address != card.address) continue;
    ChainDecode(reply, received);
    if (ParseEthReply(scratch, reply, received) != kReplyAccepted) continue;
    card.model = ModelName(CardModelFromReplyLength(received));
    return;
  }
}

// The model of each card that was alone at its address: a poll to an address that two cards
// share reaches only one of them, and its answer names neither.
void ProbeModels(NetApi& net, SocketHandle socket, CardSession& scratch, size_t first,
                 uint32_t waitMs, EthReport& r) {
  for (size_t i = first; i < r.cards.size(); ++i) {
    int sharing = 0;
    for (size_t j = first; j < r.cards.size(); ++j)
      sharing += r.cards[j].address == r.cards[i].address;
    if (sharing == 1) ProbeModel(net, socket, scratch, waitMs, r.cards[i]);
  }
}

// Asks again when nothing answered: one lost datagram must not hide a card.
void SurveyFrom(NetApi& net, const LocalAddress& local, uint16_t& sequence, uint32_t waitMs,
                EthReport& r) {
  auto scratch = ScratchSession();
  const SocketHandle socket = net.OpenUdp();
  if (socket == kInvalidSocket) return;
  net.Bind(socket, local.address, kLocalPort);
  net.SetBroadcast(socket, true);
  net.SetNonBlocking(socket);
  for (int round = 0; round < kSurveyRounds; ++round) {
    // A fresh number each time, so that a late answer to the last request is not taken twice.
    scratch->ethSequence = sequence++;
    const size_t first = r.cards.size();
    if (BroadcastOnce(net, socket, *scratch, local, waitMs, r)) {
      ProbeModels(net, socket, *scratch, first, waitMs, r);
      break;
    }
  }
  net.Shutdown(socket);
  net.Close(socket);
}

}  // namespace

std::string Dotted(uint32_t address) {
  uint8_t b[4];
  std::memcpy(b, &address, sizeof b);
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return text;
}

bool ParseDotted(const std::string& text, uint32_t* address) {
  unsigned b[4];
  char extra = 0;
  if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &b[0], &b[1], &b[2], &b[3], &extra) != 4) {
    return false;
  }
  uint8_t bytes[4];
  for (int i = 0; i < 4; ++i) {
    if (b[i] > 255) return false;
    bytes[i] = static_cast<uint8_t>(b[i]);
  }
  std::memcpy(address, bytes, sizeof bytes);
  return true;
}

void ListLocalAddresses(NetApi& net, EthReport& r) {
  char hostName[kHostNameSize] = {};
  net.HostName(hostName, sizeof hostName);
  hostName[kHostNameSize - 1] = '\0';
  uint32_t window[kAddressWindow];
  for (int first = 0;; first += kAddressWindow) {
    const int found = net.LookupAddresses(hostName, first, window, kAddressWindow);
    for (int i = 0; i < found && i < kAddressWindow; ++i) {
      LocalAddress a;
      a.address = window[i];
      a.maskKnown = LocalMask(a.address, &a.mask);
      r.locals.push_back(a);
    }
    if (found < kAddressWindow) return;
  }
}

bool DiscoveryPortFree(NetApi& net, EthReport& r) {
  for (const LocalAddress& local : r.locals) {
    const SocketHandle socket = net.OpenUdp();
    if (socket == kInvalidSocket) continue;
    const bool bound = net.Bind(socket, local.address, kLocalPort) == 0;
    net.Close(socket);
    if (!bound) {
      r.portHeld = true;
      r.portHeldOn = local.address;
      return false;
    }
  }
  return true;
}

void SurveyCards(NetApi& net, uint32_t waitMs, EthReport& r) {
  r.surveyWaitMs = waitMs;
  uint16_t sequence = 0;
  for (const LocalAddress& local : r.locals) SurveyFrom(net, local, sequence, waitMs, r);
}

}  // namespace torvexan::check
