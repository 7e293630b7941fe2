#include "verdicts.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <string>

namespace torvexan::check {

namespace {

// Every resend stalls the stream for more than ten ticks; the card's buffer bridges a few.
constexpr double kResendShareProblem = 0.01;
constexpr double kClockWarningPpm = 2000;   // 0.2 %
constexpr double kClockProblemPpm = 10000;  // 1 %: rows run visibly faster or slower
constexpr double kPercent = 100;
// Streaming wants one exchange per tick; connecting takes a few ticks of the run.
constexpr double kAnsweredShareWarning = 0.9;

std::string Format(const char* format, double a, double b = 0) {
  char text[160];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

double Percentile(const std::vector<double>& sorted, double share) {
  const size_t at = static_cast<size_t>(std::ceil(share * static_cast<double>(sorted.size())));
  return sorted[std::min(sorted.size() - 1, at == 0 ? 0 : at - 1)];
}

void Add(LinkReport& r, const char* figure, std::string value, Level level, const char* advice) {
  r.verdicts.push_back(Verdict{figure, std::move(value), level, level == Level::kOk ? "" : advice});
}

void JudgeExchanges(LinkReport& r) {
  const uint64_t answered = AnsweredPolls(r);
  const double ticks = r.seconds * 1000 / r.tickMs;
  Add(r, "exchanges",
      Format("%.0f polls answered in %.0f ticks", static_cast<double>(answered), ticks),
      answered == 0                                                   ? Level::kProblem
      : static_cast<double>(answered) < kAnsweredShareWarning * ticks ? Level::kWarning
                                                                      : Level::kOk,
      "fewer exchanges than ticks: the link cannot keep up with one packet per tick");
}

void JudgeRoundTrip(LinkReport& r, bool usb) {
  if (r.roundTripsMs.empty()) return;
  std::vector<double> sorted = r.roundTripsMs;
  std::sort(sorted.begin(), sorted.end());
  r.rttMin = sorted.front();
  r.rttMedian = Percentile(sorted, 0.5);
  r.rttP99 = Percentile(sorted, 0.99);
  r.rttMax = sorted.back();
  // Polls answered only after a resend are left out: their wait is a loss, judged by the
  // resends, and the advice for slow answers would not fit it.
  Add(r, "round trip 99th percentile",
      Format("%.1f ms at the first send (tick %.0f ms)", r.rttP99, r.tickMs),
      r.rttP99 > r.tickMs ? Level::kProblem : Level::kOk,
      usb ? "plug the card straight into the PC (no hub, no extension), and close programs that "
            "load the PC while Mach3 runs"
          : "connect the card straight to its own network adapter with a cable (no Wi-Fi, no "
            "busy switch), and switch off the adapter's power saving and interrupt moderation");
}

void JudgeCounters(LinkReport& r, bool usb) {
  const LinkCounters& c = r.counters;
  const double share =
      c.exchanges == 0 ? 0 : static_cast<double>(c.resends) / static_cast<double>(c.exchanges);
  Add(r, "resends",
      Format("%.0f (%.2f %% of exchanges)", static_cast<double>(c.resends), share * kPercent),
      share > kResendShareProblem ? Level::kProblem
      : c.resends > 0             ? Level::kWarning
                                  : Level::kOk,
      usb ? "transfers fail between PC and card: use a short shielded USB cable straight into "
            "the PC, away from motor and spindle leads, and switch off USB power saving"
          : "packets are lost between PC and card: every resend holds the stream for over ten "
            "ticks. Check the cable and its plugs, take out switches, keep the cable away from "
            "motor and spindle leads");
  Add(r, "stale replies", Format("%.0f", static_cast<double>(c.staleReplies)),
      c.staleReplies > c.resends ? Level::kWarning : Level::kOk,
      "replies arrive late, after the packet was sent again: the network holds packets back");
  Add(r, "rejected replies", Format("%.0f", static_cast<double>(c.rejectedReplies)),
      c.rejectedReplies > 0 ? Level::kProblem : Level::kOk,
      "damaged replies, or another device answers on the card's port: check the cable and "
      "that no other program talks to the card");
  Add(r, "held replies", Format("%.0f", static_cast<double>(c.heldReplies)),
      c.heldReplies > 0 ? Level::kWarning : Level::kOk,
      "replies that could not be true for the card's clock were asked for again: bytes are "
      "damaged on the way; check the cable and shielding");
  Add(r, "link losses", Format("%.0f", static_cast<double>(c.linkLosses)),
      c.linkLosses > 0 ? Level::kProblem : Level::kOk,
      "the card stopped answering for seconds, which stops a running job: check the card's "
      "power supply, the cable, and that nothing else (a second Mach3, this check twice) "
      "talks to the card");
}

void JudgeClock(LinkReport& r) {
  if (!r.clockKnown) return;
  const double off = std::fabs(r.cardClockPpm);
  Add(r, "card clock", Format("%+.0f ppm against the PC", r.cardClockPpm),
      off > kClockProblemPpm   ? Level::kProblem
      : off > kClockWarningPpm ? Level::kWarning
                               : Level::kOk,
      "the card's clock and the PC's disagree: moves run at another pace than planned. "
      "Let the PC idle (power plan: high performance) and test again; if it stays, the card's "
      "oscillator is at fault");
}

}  // namespace

void JudgeLink(LinkReport& r) {
  r.verdicts.clear();
  JudgeExchanges(r);
  const bool usb = r.transport == "usb";
  JudgeRoundTrip(r, usb);
  JudgeCounters(r, usb);
  JudgeClock(r);
}

}  // namespace torvexan::check
