#include <cinttypes>

#include "eth_check.h"
#include "messages.h"
#include "report_output.h"

namespace torvexan::check {

namespace {

const char* LevelWord(Level l) {
  switch (l) {
    case Level::kOk:
      return "ok     ";
    case Level::kWarning:
      return "WARNING";
    default:
      return "PROBLEM";
  }
}

void WriteFindings(std::FILE* out, const std::vector<Finding>& findings) {
  for (const Finding& f : findings)
    std::fprintf(out, "  %s %s\n", LevelWord(f.level), f.text.c_str());
}

void WriteEthernet(std::FILE* out, const CheckReport& r) {
  const EthReport& e = r.eth;
  std::fprintf(out, "\nEthernet\n  local addresses, in the order discovery uses them:\n");
  for (const LocalAddress& a : e.locals) {
    std::fprintf(out, "    %-15s mask %s\n", Dotted(a.address).c_str(),
                 a.maskKnown ? Dotted(a.mask).c_str() : "unknown");
  }
  if (!e.portHeld && !e.locals.empty()) {
    std::fprintf(out,
                 "  local port 1235: free\n  discovery, replies within %u ms of a broadcast:\n",
                 e.surveyWaitMs);
  }
  for (const FoundCard& c : e.cards) {
    std::fprintf(out, "    %s %s firmware %s at %s:%u, reached from %s, round trip %.2f ms%s\n",
                 c.model == "unknown" ? "card" : c.model.c_str(), c.hardwareAddress.c_str(),
                 c.firmware.c_str(), Dotted(c.address).c_str(), c.port, Dotted(c.via).c_str(),
                 c.roundTripMs, c.outsideSubnet ? " (outside the subnet)" : "");
  }
  WriteFindings(out, EthernetFindings(r));
}

void WriteUsb(std::FILE* out, const CheckReport& r) {
  const UsbReport& u = r.usb;
  std::fprintf(out, "\nUSB\n  %s looked for in:\n", u.libraryName.c_str());
  for (const std::string& place : u.lookedIn) std::fprintf(out, "    %s\n", place.c_str());
  std::fprintf(out, "  %s: %s%s\n", u.libraryName.c_str(),
               u.libraryLoaded         ? "loaded from "
               : u.libraryPath.empty() ? "not found"
                                       : "found at ",
               u.libraryPath.c_str());
  if (u.cardDevices >= 0) {
    std::fprintf(out, "  devices with the card's ids (vendor A720, product F805): %d\n",
                 u.cardDevices);
  }
  if (u.libraryLoaded) {
    std::fprintf(out, "  card's device (vendor A720, product F805): %s\n",
                 !u.opened    ? "none opened"
                 : u.answered ? "opened, answered the connect handshake"
                              : "opened, no answer to the connect handshake");
  }
  if (u.opened) {
    std::fprintf(out, "    product \"%s\", serial \"%s\"\n", u.product.c_str(), u.serial.c_str());
  }
  WriteFindings(out, UsbFindings(r));
}

void WriteLink(std::FILE* out, const LinkReport& l) {
  std::fprintf(out, "\nLink test: %s card %s %s, %.0f s of status polls every %.0f ms\n",
               l.transport.c_str(), l.model.c_str(), l.cardName.c_str(), l.seconds, l.tickMs);
  const LinkCounters& c = l.counters;
  std::fprintf(out,
               "  polls %" PRIu64 ", exchanges %" PRIu64 ", resends %" PRIu64 ", stale %" PRIu64
               ", rejected %" PRIu64 ", held %" PRIu64 ", link losses %" PRIu64 "\n",
               l.polls, c.exchanges, c.resends, c.staleReplies, c.rejectedReplies, c.heldReplies,
               c.linkLosses);
  if (!l.roundTripsMs.empty()) {
    std::fprintf(out,
                 "  round trip, polls answered at the first send: min %.2f ms, median %.2f ms, "
                 "99th percentile %.2f ms, max %.2f ms\n",
                 l.rttMin, l.rttMedian, l.rttP99, l.rttMax);
    if (l.resentPolls > 0) {
      std::fprintf(out, "  polls answered only after a resend (lost, not slow): %" PRIu64 "\n",
                   l.resentPolls);
    }
  } else if (l.resentPolls > 0) {
    std::fprintf(out, "  PROBLEM every poll was answered only after a resend\n");
  } else {
    std::fprintf(out,
                 "  PROBLEM no poll was answered: the card was found but the link never came up\n");
  }
  if (l.clockKnown) std::fprintf(out, "  card clock: %+.0f ppm against the PC\n", l.cardClockPpm);
  for (const Verdict& v : l.verdicts) {
    std::fprintf(out, "  %s %s: %s\n", LevelWord(v.level), v.figure.c_str(), v.value.c_str());
    if (!v.advice.empty()) std::fprintf(out, "          try: %s\n", v.advice.c_str());
  }
}

}  // namespace

void WriteText(std::FILE* out, const CheckReport& r) {
  if (r.ethernetChecked) WriteEthernet(out, r);
  if (r.usbChecked) WriteUsb(out, r);
  if (r.link.ran) WriteLink(out, r.link);
  if (!r.link.notRun.empty()) std::fprintf(out, "\nNo link test: %s.\n", r.link.notRun.c_str());
  if (r.askedMissing) std::fprintf(out, "\n%s\n", MissingCardText(r).c_str());
  std::fprintf(out, "\nResult: %s (exit status %d)\n", Summary(Judge(r)), ExitStatus(r));
  std::fflush(out);
}

void WriteProgress(std::FILE* out, const LinkReport& r, double secondsRun) {
  const LinkCounters& c = r.counters;
  std::fprintf(out,
               "\rlink test %5.1f/%.0f s: polls %" PRIu64 ", answered %" PRIu64 ", resends %" PRIu64
               ", link losses %" PRIu64 "   ",
               secondsRun, r.seconds, r.polls, AnsweredPolls(r), c.resends, c.linkLosses);
  std::fflush(out);
}

}  // namespace torvexan::check
