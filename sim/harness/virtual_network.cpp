#include "harness/virtual_network.h"

// No socket header on purpose: nothing here may reach a real network.
#include <cerrno>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace torvexan::sim {

namespace {

constexpr SocketHandle kFirstHandle = 100;  // far from the standard streams
constexpr uint16_t kAfInet = 2;

uint64_t Route(uint32_t address, uint16_t port) {
  return (static_cast<uint64_t>(address) << 16) | port;
}
uint32_t RouteAddress(uint64_t route) {
  return static_cast<uint32_t>(route >> 16);
}
uint16_t RoutePort(uint64_t route) {
  return static_cast<uint16_t>(route);
}

// A port as the sockets API stores it: most significant byte first in memory.
uint16_t PortInNetworkOrder(uint16_t port) {
  const uint8_t bytes[2] = {static_cast<uint8_t>(port >> 8), static_cast<uint8_t>(port)};
  uint16_t stored;
  std::memcpy(&stored, bytes, sizeof stored);
  return stored;
}
uint16_t PortInHostOrder(uint16_t stored) {
  uint8_t bytes[2];
  std::memcpy(bytes, &stored, sizeof bytes);
  return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
}

}  // namespace

uint32_t Ipv4(const char* dotted) {
  unsigned parts[4];
  char end = 0;
  if (std::sscanf(dotted, "%3u.%3u.%3u.%3u%c", &parts[0], &parts[1], &parts[2], &parts[3], &end) !=
      4) {
    return 0;
  }
  uint8_t bytes[4];
  for (int i = 0; i < 4; ++i) {
    if (parts[i] > 255) return 0;
    bytes[i] = static_cast<uint8_t>(parts[i]);
  }
  uint32_t address;
  std::memcpy(&address, bytes, sizeof address);
  return address;
}

VirtualNetwork::VirtualNetwork(Timeline& timeline)
    : timeline_(timeline), sockets_(new Socket[kMaxSockets]) {
  timeline_.Add(this);
}

VirtualNetwork::~VirtualNetwork() {
  timeline_.Remove(this);
}

void VirtualNetwork::AddLocalAddress(const char* dotted, int segment) {
  if (addressCount_ == kMaxAddresses) return;
  addresses_[addressCount_] = Ipv4(dotted);
  segments_[addressCount_] = segment;
  ++addressCount_;
}

void VirtualNetwork::SetHostName(const char* name) {
  std::strncpy(hostName_, name, sizeof hostName_ - 1);
}

NetCard& VirtualNetwork::AddCard(CardModel model, const char* dotted, int segment,
                                 const CardOptions& options) {
  cards_.push_back(std::make_unique<NetCard>(model, options, Ipv4(dotted), segment));
  NetCard& c = *cards_.back();
  c.SetLatency(kDefaultLatencyMs);
  c.clockMs = timeline_.now();
  return c;
}

int VirtualNetwork::openSockets() const {
  int n = 0;
  for (int i = 0; i < kMaxSockets; ++i) n += sockets_[i].open ? 1 : 0;
  return n;
}

VirtualNetwork::Socket* VirtualNetwork::Find(SocketHandle s) {
  const SocketHandle i = s - kFirstHandle;
  if (i < 0 || i >= kMaxSockets || !sockets_[i].open) {
    lastError_ = EBADF;
    return nullptr;
  }
  return &sockets_[i];
}

int VirtualNetwork::SegmentOf(uint32_t address) const {
  for (int i = 0; i < addressCount_; ++i)
    if (addresses_[i] == address) return segments_[i];
  return -1;
}

int VirtualNetwork::Startup(uint16_t, uint16_t* granted) {
  ++startups_;
  *granted = grantedVersion;
  return 0;
}

void VirtualNetwork::Cleanup() {
  ++cleanups_;
}

int VirtualNetwork::HostName(char* buffer, int size) {
  if (size <= 0) return -1;
  std::strncpy(buffer, hostName_, static_cast<size_t>(size) - 1);
  buffer[size - 1] = '\0';
  return 0;
}

int VirtualNetwork::LookupAddresses(const char*, int first, uint32_t* addresses, int capacity) {
  if (hostLookupFails || first < 0 || first >= addressCount_) return 0;
  const int n = std::min(capacity, addressCount_ - first);
  std::copy(addresses_ + first, addresses_ + first + n, addresses);
  return n;
}

SocketHandle VirtualNetwork::OpenUdp() {
  for (int i = 0; i < kMaxSockets; ++i) {
    Socket& s = sockets_[i];
    if (s.open) continue;
    s.open = true;
    s.bound = s.broadcast = s.connected = s.shut = false;
    s.address = s.peerAddress = 0;
    s.port = s.peerPort = 0;
    s.head = s.count = 0;
    ++stats_.sockets;
    return kFirstHandle + i;
  }
  lastError_ = EMFILE;
  return kInvalidSocket;
}

int VirtualNetwork::Bind(SocketHandle h, uint32_t address, uint16_t port) {
  Socket* s = Find(h);
  if (s == nullptr) return -1;
  if (s->bound || (address != 0 && SegmentOf(address) < 0)) {
    lastError_ = EADDRNOTAVAIL;
    return -1;
  }
  for (int i = 0; i < kMaxSockets; ++i) {
    const Socket& o = sockets_[i];
    if (&o != s && o.open && o.bound && o.port == port &&
        (o.address == address || o.address == 0 || address == 0)) {
      lastError_ = EADDRINUSE;
      return -1;
    }
  }
  s->bound = true;
  s->address = address;
  s->port = port;
  return 0;
}

int VirtualNetwork::SetBroadcast(SocketHandle h, bool on) {
  Socket* s = Find(h);
  if (s == nullptr) return -1;
  s->broadcast = on;
  return 0;
}

int VirtualNetwork::SetNonBlocking(SocketHandle h) {
  return Find(h) ? 0 : -1;
}

// Hands a datagram to every card it reaches; the answer comes back through the card's links.
int VirtualNetwork::Transmit(Socket& s, const uint8_t* data, int length, uint32_t address,
                             uint16_t port) {
  if (s.shut) {
    lastError_ = EPIPE;
    return -1;
  }
  if (!s.bound) {
    s.bound = true;
    s.address = addressCount_ > 0 ? addresses_[0] : 0;
    s.port = nextEphemeral_++;
  }
  const bool broadcast = address == kLimitedBroadcast;
  if (broadcast && !s.broadcast) {
    lastError_ = EACCES;
    return -1;
  }
  const int segment = SegmentOf(s.address);
  stats_.broadcasts += broadcast ? 1 : 0;
  ++stats_.sends;
  bool reached = false;
  for (auto& c : cards_) {
    if (c->unplugged || port != kCardPort) continue;
    const bool onSegment = s.address == 0 || c->segment == segment;
    if (broadcast ? onSegment : c->address == address) {
      c->toCard.Send(timeline_.now(), data, length, Route(s.address, s.port));
      reached = true;
    }
  }
  if (!reached) ++stats_.undeliverable;
  RunUntil(timeline_.now());  // a card without latency answers at once
  return length;
}

int VirtualNetwork::SendTo(SocketHandle h, const uint8_t* data, int length, uint32_t address,
                           uint16_t port) {
  Socket* s = Find(h);
  return s ? Transmit(*s, data, length, address, port) : -1;
}

int VirtualNetwork::Send(SocketHandle h, const uint8_t* data, int length) {
  Socket* s = Find(h);
  if (s == nullptr) return -1;
  if (!s->connected) {
    lastError_ = ENOTCONN;
    return -1;
  }
  return Transmit(*s, data, length, s->peerAddress, s->peerPort);
}

bool VirtualNetwork::IsReadable(SocketHandle h) {
  const SocketHandle i = h - kFirstHandle;
  if (i < 0 || i >= kMaxSockets || !sockets_[i].open) return false;
  RunUntil(timeline_.now());
  return sockets_[i].count > 0;
}

bool VirtualNetwork::IsWritable(SocketHandle h) {
  const SocketHandle i = h - kFirstHandle;
  return i >= 0 && i < kMaxSockets && sockets_[i].open && writable;
}

int VirtualNetwork::Pop(Socket& s, uint8_t* buffer, int capacity, Ipv4SocketAddress* from) {
  if (s.count == 0) {
    lastError_ = EWOULDBLOCK;
    return -1;
  }
  const Datagram& d = s.queue[s.head];
  s.head = (s.head + 1) % kQueueDepth;
  --s.count;
  // Like a datagram socket: what does not fit is lost.
  const int n = std::min(capacity, d.length);
  std::memcpy(buffer, d.bytes, static_cast<size_t>(std::max(n, 0)));
  if (from != nullptr) {
    *from = Ipv4SocketAddress{};
    from->family = kAfInet;
    from->port = PortInNetworkOrder(d.fromPort);
    from->address = d.fromAddress;
  }
  ++stats_.received;
  return n;
}

int VirtualNetwork::ReceiveFrom(SocketHandle h, uint8_t* buffer, int capacity,
                                Ipv4SocketAddress* from) {
  Socket* s = Find(h);
  if (s == nullptr) return -1;
  RunUntil(timeline_.now());
  return Pop(*s, buffer, capacity, from);
}

int VirtualNetwork::Receive(SocketHandle h, uint8_t* buffer, int capacity) {
  Socket* s = Find(h);
  if (s == nullptr) return -1;
  RunUntil(timeline_.now());
  return Pop(*s, buffer, capacity, nullptr);
}

int VirtualNetwork::Connect(SocketHandle h, const Ipv4SocketAddress& to) {
  Socket* s = Find(h);
  if (s == nullptr) return -1;
  if (connectFails || to.address == 0) {
    lastError_ = ECONNREFUSED;
    return -1;
  }
  s->connected = true;
  s->peerAddress = to.address;
  s->peerPort = PortInHostOrder(to.port);
  return 0;
}

void VirtualNetwork::Shutdown(SocketHandle h) {
  if (Socket* s = Find(h)) s->shut = true;
}

void VirtualNetwork::Close(SocketHandle h) {
  if (Socket* s = Find(h)) s->open = false;
}

void VirtualNetwork::DeliverToSocket(uint32_t fromAddress, uint16_t fromPort, uint32_t toAddress,
                                     uint16_t toPort, const uint8_t* data, int length) {
  for (int i = 0; i < kMaxSockets; ++i) {
    Socket& s = sockets_[i];
    if (!s.open || s.shut || !s.bound || s.port != toPort) continue;
    if (s.address != toAddress && s.address != 0) continue;
    // A connected datagram socket hears only its peer.
    if (s.connected && (s.peerAddress != fromAddress || s.peerPort != fromPort)) continue;
    if (s.count == kQueueDepth) break;  // receive buffer full: the datagram is lost
    Datagram& d = s.queue[(s.head + s.count) % kQueueDepth];
    d.fromAddress = fromAddress;
    d.fromPort = fromPort;
    d.length = length;
    std::memcpy(d.bytes, data, static_cast<size_t>(length));
    ++s.count;
    return;
  }
  ++stats_.undeliverable;
}

void VirtualNetwork::Inject(uint32_t fromAddress, uint16_t fromPort, uint32_t toAddress,
                            uint16_t toPort, const uint8_t* data, int length) {
  DeliverToSocket(fromAddress, fromPort, toAddress, toPort, data,
                  std::min(length, FaultLink::kMaxPacket));
}

uint64_t VirtualNetwork::NextEventMs() const {
  uint64_t next = UINT64_MAX;
  for (const auto& c : cards_) next = std::min({next, c->toCard.NextDue(), c->fromCard.NextDue()});
  return next;
}

void VirtualNetwork::RunUntil(uint64_t nowMs) {
  uint8_t reply[kMaxReply];
  for (auto& c : cards_) {
    if (nowMs > c->clockMs) {
      c->card.Advance(static_cast<uint32_t>(nowMs - c->clockMs));
      c->clockMs = nowMs;
    }
    bool moved = true;
    while (moved) {
      moved = false;
      while (c->toCard.TakeDue(nowMs, scratch_)) {
        moved = true;
        if (c->unplugged) continue;
        const int n = c->card.HandleDatagram(scratch_.bytes, scratch_.length, reply, kMaxReply);
        if (n > 0) c->fromCard.Send(nowMs, reply, n, scratch_.route);
      }
      while (c->fromCard.TakeDue(nowMs, scratch_)) {
        moved = true;
        if (c->unplugged) continue;
        DeliverToSocket(c->address, kCardPort, RouteAddress(scratch_.route),
                        RoutePort(scratch_.route), scratch_.bytes, scratch_.length);
      }
    }
  }
}

}  // namespace torvexan::sim
