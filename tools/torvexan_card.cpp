// torvexan-card: a virtual Lorn4 or Lorn5 serving its protocol on a UDP port in real time.
// Only ever to be run inside a private network namespace (see --help).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "card/card_trace.h"
#include "card/fault_link.h"
#include "card/machine_layout.h"
#include "card/virtual_card.h"
#include "card_campaign.h"
#include "card_options.h"

namespace {

using torvexan::sim::FaultLink;
using torvexan::sim::VirtualCard;
using torvexan::tools::CardServerOptions;

constexpr int kPollMs = 2;  // the card's 5 ms periods need a finer wake-up than themselves
constexpr int kLargestDatagram = 2048;

volatile std::sig_atomic_t gStop = 0;  // set by SIGINT and SIGTERM
void OnSignal(int) {
  gStop = 1;
}

uint64_t NowMs(std::chrono::steady_clock::time_point start) {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - start)
                                   .count());
}

uint64_t Route(const sockaddr_in& a) {
  return (static_cast<uint64_t>(a.sin_addr.s_addr) << 16) | ntohs(a.sin_port);
}

void SendTo(int fd, const FaultLink::Packet& p) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = static_cast<uint32_t>(p.route >> 16);
  to.sin_port = htons(static_cast<uint16_t>(p.route));
  ::sendto(fd, p.bytes, static_cast<size_t>(p.length), 0, reinterpret_cast<sockaddr*>(&to),
           sizeof to);
}

int OpenSocket(const CardServerOptions& o) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd < 0) return -1;
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(o.port);
  if (::inet_pton(AF_INET, o.bindAddress, &a.sin_addr) != 1 ||
      ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    std::fprintf(stderr, "torvexan-card: cannot listen on %s:%u: %s\n", o.bindAddress, o.port,
                 std::strerror(errno));
    ::close(fd);
    return -1;
  }
  return fd;
}

void PrintStats(const VirtualCard& card, const FaultLink& in, const FaultLink& out,
                const torvexan::tools::CampaignFigures& campaign, double seconds) {
  const auto& s = card.stats();
  std::printf(
      "torvexan-card: %.1f s, commands served %u, rows executed %u, underruns %u, "
      "duplicates %u\n",
      seconds, s.commands, s.rowsExecuted, s.underruns, s.duplicates);
  // A repeat of the last command is the plug-in resending a packet whose reply it missed.
  std::printf("  packets %u, resends %u, stale copies %u\n", s.packets, s.duplicates, s.stale);
  std::printf(
      "  discoveries %u, rejected %u, rows refused %u, reboots %u, home stops %u, "
      "probe trips %u, limit stops %u\n",
      s.discoveries, s.rejected, s.rowsRefused, s.reboots, s.homeStops, s.probeTrips, s.limitStops);
  std::printf(
      "  faults in: dropped %u delayed %u duplicated %u corrupted %u; out: dropped %u "
      "delayed %u duplicated %u corrupted %u\n",
      in.counts().dropped, in.counts().delayed, in.counts().duplicated, in.counts().corrupted,
      out.counts().dropped, out.counts().delayed, out.counts().duplicated, out.counts().corrupted);
  std::printf(
      "  campaign: e-stop presses %u, silences %u, rows after stop %u, rows refused after "
      "stop %u\n",
      campaign.estopPresses, campaign.silences, campaign.rowsAfterStop,
      campaign.rowsRefusedAfterStop);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  CardServerOptions o;
  bool help = false;
  if (!torvexan::tools::ParseCardServerOptions(argc, argv, o, help)) return 2;
  if (help) {
    std::fputs(torvexan::tools::CardServerUsage(), stdout);
    return 0;
  }
  const int fd = OpenSocket(o);
  if (fd < 0) return 1;
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);

  static VirtualCard card(o.model, o.card);
  if (o.machineLayout != nullptr) {
    std::string error;
    if (!torvexan::sim::ApplyMachineLayout(o.machineLayout, &card.machine(), &error)) {
      std::fprintf(stderr, "torvexan-card: %s\n", error.c_str());
      return 2;
    }
  }
  std::FILE* traceFile = nullptr;
  std::unique_ptr<torvexan::sim::TraceWriter> trace;
  if (o.tracePath != nullptr) {
    traceFile = std::fopen(o.tracePath, "w");
    if (traceFile == nullptr) {
      std::fprintf(stderr, "torvexan-card: cannot write %s: %s\n", o.tracePath,
                   std::strerror(errno));
      return 2;
    }
    trace = std::make_unique<torvexan::sim::TraceWriter>(traceFile);
    card.SetPeriodObserver(trace.get());
  }
  static FaultLink toCard(o.seed), fromCard(o.seed * 31 + 7);
  static torvexan::tools::CardCampaign campaign(o.campaign, o.seed);
  toCard.SetShares(o.toCard);
  fromCard.SetShares(o.fromCard);
  toCard.SetLatency(o.latencyMs);
  fromCard.SetLatency(o.latencyMs);

  const auto start = std::chrono::steady_clock::now();
  uint64_t cardClock = 0;
  uint64_t nextReboot = o.rebootAfter > 0   ? static_cast<uint64_t>(o.rebootAfter * 1000)
                        : o.rebootEvery > 0 ? static_cast<uint64_t>(o.rebootEvery * 1000)
                                            : UINT64_MAX;
  const uint64_t silentFrom =
      o.silentAfter > 0 ? static_cast<uint64_t>(o.silentAfter * 1000) : UINT64_MAX;
  const uint64_t silentUntil =
      o.silentFor > 0 ? silentFrom + static_cast<uint64_t>(o.silentFor * 1000) : UINT64_MAX;
  const uint64_t stopAt = o.seconds > 0 ? static_cast<uint64_t>(o.seconds * 1000) : UINT64_MAX;
  const uint64_t togglePeriod = static_cast<uint64_t>(o.toggleInputsMs);
  uint64_t nextToggle = togglePeriod > 0 ? togglePeriod : UINT64_MAX;
  bool silent = false;
  static uint8_t datagram[kLargestDatagram];
  static uint8_t reply[torvexan::sim::kMaxReply];
  static FaultLink::Packet packet;

  std::printf("torvexan-card: %s on %s:%u\n",
              o.model == torvexan::sim::CardModel::kLorn4 ? "Lorn4" : "Lorn5", o.bindAddress,
              o.port);
  std::fflush(stdout);
  while (!gStop) {
    pollfd p{fd, POLLIN, 0};
    ::poll(&p, 1, kPollMs);
    const uint64_t now = NowMs(start);
    if (now >= stopAt) break;
    card.Advance(static_cast<uint32_t>(now - cardClock));
    cardClock = now;
    if (now >= nextReboot) {
      card.Reboot(o.bootMs);
      campaign.NoteReboot();
      if (o.verbose) std::printf("torvexan-card: restarted at %.3f s\n", now / 1000.0);
      nextReboot =
          o.rebootEvery > 0 ? now + static_cast<uint64_t>(o.rebootEvery * 1000) : UINT64_MAX;
    }
    if (now >= nextToggle) {
      torvexan::sim::Machine& m = card.machine();
      const bool on = m.handwheelAxis < 0;
      m.handwheelAxis = on ? 0 : -1;
      m.handwheelX10 = on;
      nextToggle = now + togglePeriod;
    }
    const bool burst = campaign.Advance(card, now);
    campaign.MaybeReport(card, now, stdout);
    const bool shouldBeSilent = burst || (now >= silentFrom && now < silentUntil);
    if (shouldBeSilent != silent) {
      silent = shouldBeSilent;
      card.SetSilent(silent);
      if (o.verbose) std::printf("torvexan-card: %s\n", silent ? "silent" : "answering again");
    }
    for (;;) {
      sockaddr_in from{};
      socklen_t fromLength = sizeof from;
      const ssize_t n = ::recvfrom(fd, datagram, sizeof datagram, MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&from), &fromLength);
      if (n <= 0) break;
      toCard.Send(now, datagram, static_cast<int>(n), Route(from));
    }
    while (toCard.TakeDue(now, packet)) {
      const int n = card.HandleDatagram(packet.bytes, packet.length, reply, sizeof reply);
      if (n > 0) fromCard.Send(now, reply, n, packet.route);
      campaign.NoteHandled(card);
    }
    while (fromCard.TakeDue(now, packet)) SendTo(fd, packet);
  }
  ::close(fd);
  card.SetPeriodObserver(nullptr);
  if (traceFile != nullptr) std::fclose(traceFile);
  PrintStats(card, toCard, fromCard, campaign.figures(), NowMs(start) / 1000.0);
  return 0;
}
