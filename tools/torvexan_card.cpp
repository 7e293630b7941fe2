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
#include "card_schedule.h"

namespace {

using torvexan::sim::FaultLink;
using torvexan::sim::VirtualCard;
using torvexan::tools::CardFaultEventText;
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
  if (::inet_pton(AF_INET, o.bindAddress.c_str(), &a.sin_addr) != 1 ||
      ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    std::fprintf(stderr, "torvexan-card: cannot listen on %s:%u: %s\n", o.bindAddress.c_str(),
                 o.port, std::strerror(errno));
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

// The card's run: the timed faults, the datagrams through the fault links, until stopped.
class CardServer {
 public:
  CardServer(const CardServerOptions& o, int fd)
      : o_(o),
        fd_(fd),
        card_(o.model, o.card),
        toCard_(o.seed),
        fromCard_(o.seed * 31 + 7),
        schedule_(o) {
    toCard_.SetShares(o.toCard);
    fromCard_.SetShares(o.fromCard);
    toCard_.SetLatency(o.latencyMs);
    fromCard_.SetLatency(o.latencyMs);
  }

  VirtualCard& card() { return card_; }

  void Run() {
    const auto start = std::chrono::steady_clock::now();
    const uint64_t stopAt = o_.seconds > 0 ? static_cast<uint64_t>(o_.seconds * 1000) : UINT64_MAX;
    uint64_t cardClock = 0;
    while (!gStop) {
      pollfd p{fd_, POLLIN, 0};
      ::poll(&p, 1, kPollMs);
      const uint64_t now = NowMs(start);
      if (now >= stopAt) break;
      card_.Advance(static_cast<uint32_t>(now - cardClock));
      cardClock = now;
      const unsigned events = schedule_.Advance(card_, now);
      if (o_.verbose) PrintEvents(events, now);
      schedule_.campaign().MaybeReport(card_, now, stdout);
      Exchange(now);
    }
    seconds_ = NowMs(start) / 1000.0;
  }

  void Report() const {
    PrintStats(card_, toCard_, fromCard_, schedule_.campaign().figures(), seconds_);
    std::printf("  timed faults: restarts %u, silences %u\n",
                schedule_.campaign().figures().reboots, schedule_.silences());
    std::fflush(stdout);
  }

 private:
  static void PrintEvents(unsigned events, uint64_t now) {
    for (unsigned bit = 1; bit != 0 && bit <= events; bit <<= 1) {
      if (events & bit) {
        std::printf("torvexan-card: %s at %.3f s\n", CardFaultEventText(bit), now / 1000.0);
      }
    }
  }

  // Everything that arrived goes through the link towards the card; its replies back.
  void Exchange(uint64_t now) {
    for (;;) {
      sockaddr_in from{};
      socklen_t fromLength = sizeof from;
      const ssize_t n = ::recvfrom(fd_, datagram_, sizeof datagram_, MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&from), &fromLength);
      if (n <= 0) break;
      toCard_.Send(now, datagram_, static_cast<int>(n), Route(from));
    }
    while (toCard_.TakeDue(now, packet_)) {
      const int n = card_.HandleDatagram(packet_.bytes, packet_.length, reply_, sizeof reply_);
      if (n > 0) fromCard_.Send(now, reply_, n, packet_.route);
      schedule_.campaign().NoteHandled(card_);
    }
    while (fromCard_.TakeDue(now, packet_)) SendTo(fd_, packet_);
  }

  const CardServerOptions& o_;
  int fd_;
  VirtualCard card_;
  FaultLink toCard_, fromCard_;
  torvexan::tools::CardFaultSchedule schedule_;
  double seconds_ = 0;
  uint8_t datagram_[kLargestDatagram];
  uint8_t reply_[torvexan::sim::kMaxReply];
  FaultLink::Packet packet_;
};

// Opens the trace file the options name and hangs it on the card; false when it cannot.
bool StartTrace(const CardServerOptions& o, VirtualCard& card, std::FILE** file,
                std::unique_ptr<torvexan::sim::TraceWriter>* trace) {
  if (o.tracePath.empty()) return true;
  *file = std::fopen(o.tracePath.c_str(), "w");
  if (*file == nullptr) {
    std::fprintf(stderr, "torvexan-card: cannot write %s: %s\n", o.tracePath.c_str(),
                 std::strerror(errno));
    return false;
  }
  *trace = std::make_unique<torvexan::sim::TraceWriter>(*file);
  card.SetPeriodObserver(trace->get());
  return true;
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
  // Large buffers and the card itself: kept off the stack.
  static CardServer server(o, fd);
  if (!o.machineLayout.empty()) {
    std::string error;
    if (!torvexan::sim::ApplyMachineLayout(o.machineLayout, &server.card().machine(), &error)) {
      std::fprintf(stderr, "torvexan-card: %s\n", error.c_str());
      return 2;
    }
  }
  std::FILE* traceFile = nullptr;
  std::unique_ptr<torvexan::sim::TraceWriter> trace;
  if (!StartTrace(o, server.card(), &traceFile, &trace)) return 2;
  std::printf("torvexan-card: %s on %s:%u\n",
              o.model == torvexan::sim::CardModel::kLorn4 ? "Lorn4" : "Lorn5",
              o.bindAddress.c_str(), o.port);
  std::fflush(stdout);
  server.Run();
  ::close(fd);
  server.card().SetPeriodObserver(nullptr);
  if (traceFile != nullptr) std::fclose(traceFile);
  server.Report();
  return 0;
}
