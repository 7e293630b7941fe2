#include "messages.h"

#include <cstdio>
#include <cstring>
#include <set>

#include "eth_check.h"
#include "link/eth_transport.h"
#include "link/usb_transport.h"
#include "state/card_session_record.h"

namespace torvexan::check {

namespace {

std::string Printf(const char* format, const char* a, const char* b = "", const char* c = "",
                   const char* d = "") {
  char text[512];
  std::snprintf(text, sizeof text, format, a, b, c, d);
  return text;
}

// An address in the card's /24 for the PC's adapter: the card's own with host part 1 (or 2).
std::string SuggestedAddress(uint32_t card) {
  uint8_t b[4];
  std::memcpy(b, &card, sizeof b);
  b[3] = b[3] == 1 ? 2 : 1;
  uint32_t suggestion;
  std::memcpy(&suggestion, b, sizeof b);
  return Dotted(suggestion);
}

std::string FirewallRule() {
  char text[400];
  std::snprintf(text, sizeof text,
                "Allow in the firewall, for Mach3.exe (and for torvexan-check.exe): UDP sent from "
                "local port %u to port %u (the discovery broadcast, outgoing) and UDP received on "
                "local port %u from port %u (the card's replies, incoming).",
                kLocalPort, kCardPort, kLocalPort, kCardPort);
  return text;
}

}  // namespace

namespace {

std::set<std::string> CardNames(const EthReport& r) {
  std::set<std::string> cards;
  for (const FoundCard& c : r.cards) cards.insert(c.hardwareAddress);
  return cards;
}

}  // namespace

const char* ModelName(uint32_t cardType) {
  const CardModel& model = CardModelOf(cardType);
  return model.recognisable ? model.name : "unknown";
}

int DistinctCards(const EthReport& r) {
  return static_cast<int>(CardNames(r).size());
}

std::vector<Finding> EthernetFindings(const CheckReport& r) {
  std::vector<Finding> out;
  const EthReport& e = r.eth;
  if (e.locals.empty()) {
    out.push_back({Level::kProblem,
                   "This PC has no IPv4 address: the network adapter is off, unplugged or has "
                   "no address. Discovery has nowhere to send from."});
    return out;
  }
  if (e.portHeld) {
    char port[8];
    std::snprintf(port, sizeof port, "%u", kLocalPort);
    out.push_back({Level::kProblem,
                   Printf("Another program holds port %s (on %s) - is Mach3 running? Close it "
                          "and run the check again.",
                          port, Dotted(e.portHeldOn).c_str())});
    return out;
  }
  if (e.cards.empty()) {
    // With a USB card answering, no Ethernet card may be just as it should be.
    out.push_back({r.usb.answered ? Level::kWarning : Level::kProblem,
                   "No Ethernet card answered. Check that the card has power and its network "
                   "lamp is lit, and that the cable goes to this PC. " +
                       FirewallRule()});
  }
  for (const FoundCard& c : e.cards) {
    if (!c.outsideSubnet) continue;
    const LocalAddress* via = nullptr;
    for (const LocalAddress& l : e.locals) {
      if (l.address == c.via) via = &l;
    }
    out.push_back(
        {Level::kProblem,
         Printf("The card at %s answered the broadcast from %s, but it is outside "
                "that address's subnet (mask %s): the PC would send the card's packets "
                "to its gateway instead. Give the network adapter an address in the "
                "card's subnet, for example %s with mask 255.255.255.0.",
                Dotted(c.address).c_str(), Dotted(c.via).c_str(),
                via ? Dotted(via->mask).c_str() : "?", SuggestedAddress(c.address).c_str())});
  }
  if (DistinctCards(e) > 1) {
    std::string names;
    for (const std::string& n : CardNames(e)) names += (names.empty() ? "" : ", ") + n;
    out.push_back({Level::kProblem,
                   "More than one card answered (" + names +
                       "): the plug-in connects to whichever answers first, which can change "
                       "from one start to the next. Switch off or unplug all but one card."});
  }
  return out;
}

std::vector<Finding> UsbFindings(const CheckReport& r) {
  std::vector<Finding> out;
  const UsbReport& u = r.usb;
  if (!u.libraryLoaded) {
    const std::string where = u.libraryPath.empty() ? "" : " (" + u.libraryPath + ")";
    out.push_back({Level::kWarning,
                   u.libraryName + where + " cannot be loaded: " + u.libraryProblem +
                       ". The plug-in cannot reach a USB card without it. " + u.libraryAdvice});
    return out;
  }
  char ids[64];
  std::snprintf(ids, sizeof ids, "vendor %04X, product %04X", kCardVendorId, kCardProductId);
  if (!u.opened && u.cardDevices > 0) {
    out.push_back({Level::kProblem,
                   Printf("A device with the card's ids (%s) is plugged in, but libusb cannot "
                          "open it: its driver does not allow it. Install a WinUSB or libusb "
                          "driver for %s (in Device Manager, or with the card maker's driver "
                          "package), then unplug and replug the card.",
                          ids, ids)});
  } else if (!u.opened && u.cardDevices == 0) {
    out.push_back({Level::kWarning, Printf("No USB device with the card's ids (%s) is plugged "
                                           "in. If the card is a USB card: check its cable and "
                                           "power, and try another USB port without a hub.",
                                           ids)});
  } else if (!u.opened) {
    out.push_back({Level::kWarning,
                   Printf("No USB device with the card's ids (%s) could be opened: none is "
                          "plugged in, or its driver does not let libusb open it. If the card is "
                          "plugged in, install its USB driver (a WinUSB or libusb driver for %s), "
                          "then unplug and replug it.",
                          ids, ids)});
  } else if (!u.answered) {
    out.push_back({Level::kProblem,
                   "The USB card opened but did not answer the connect handshake: unplug it, "
                   "wait 5 seconds, plug it straight into the PC (no hub) and check again."});
  }
  if (u.cardDevices > 1) {
    out.push_back({Level::kProblem,
                   "More than one USB device with the card's ids is plugged "
                   "in: the plug-in opens whichever the system lists first. "
                   "Unplug all but one."});
  }
  return out;
}

std::string MissingCardText(const CheckReport& r) {
  if (!r.askedMissing) return "";
  std::string seen;
  std::set<std::string> named;
  for (const FoundCard& c : r.eth.cards) {
    if (!named.insert(c.hardwareAddress).second) continue;
    seen += (seen.empty() ? "" : ", ") + (c.model == "unknown" ? std::string("a card") : c.model) +
            " " + c.hardwareAddress + " at " + Dotted(c.address);
  }
  if (r.usb.answered) {
    seen += (seen.empty() ? "" : ", ") + std::string("a Pell5 on USB");
  } else if (r.usb.opened || r.usb.cardDevices > 0) {
    seen += (seen.empty() ? "" : ", ") + std::string("a USB device with the card's ids");
  }
  return "No " + r.askedFor + " answered" +
         (seen.empty() ? std::string(", and no other card either.")
                       : ". Seen instead: " + seen + ".");
}

Outcome Judge(const CheckReport& r) {
  if (r.askedMissing) return Outcome::kNoCard;
  const bool ethCard = !r.eth.cards.empty();
  // A USB card that is plugged in but cannot be opened is found, with a problem.
  if (!ethCard && !r.usb.opened && r.usb.cardDevices <= 0) return Outcome::kNoCard;
  bool problems = (r.link.ran && AnsweredPolls(r.link) == 0) || !r.link.notRun.empty();
  // Without an Ethernet card, what the survey says about silence is no problem of the card.
  for (const Finding& f : EthernetFindings(r)) problems |= f.level == Level::kProblem && ethCard;
  for (const Finding& f : UsbFindings(r)) problems |= f.level == Level::kProblem;
  for (const Verdict& v : r.link.verdicts) problems |= v.level == Level::kProblem;
  if (problems) return Outcome::kProblems;
  return r.link.ran ? Outcome::kHealthy : Outcome::kFoundUntested;
}

const char* Summary(Outcome o) {
  switch (o) {
    case Outcome::kNoCard:
      return "no card found";
    case Outcome::kProblems:
      return "card found, with problems";
    case Outcome::kFoundUntested:
      return "card found, link not tested (--seconds 0)";
    default:
      return "card found, link healthy";
  }
}

int ExitStatus(const CheckReport& r) {
  switch (Judge(r)) {
    case Outcome::kNoCard:
      return 2;
    case Outcome::kProblems:
      return 1;
    default:
      return 0;  // found, healthy or untested
  }
}

}  // namespace torvexan::check
