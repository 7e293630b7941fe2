// What one run of torvexan-check found: the Ethernet survey, the USB check and the link test.
// The checks fill it; the text and JSON writers only read it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "state/link_counter_record.h"

namespace torvexan::check {

// A local IPv4 address as discovery uses it; addresses in network byte order.
struct LocalAddress {
  uint32_t address = 0;
  uint32_t mask = 0;
  bool maskKnown = false;
};

// One discovery reply.
struct FoundCard {
  uint32_t address = 0;           // where the reply came from
  uint16_t port = 0;              // host order
  uint32_t via = 0;               // the local address whose broadcast it answered
  std::string hardwareAddress;    // 12 hexadecimal digits
  std::string firmware;           // "HH.HH"
  std::string model = "unknown";  // from the length of its answer to a status poll
  double roundTripMs = 0;
  bool outsideSubnet = false;  // the card answered from outside the local address's subnet
};

struct EthReport {
  std::vector<LocalAddress> locals;
  bool portHeld = false;  // the local discovery port could not be bound
  uint32_t portHeldOn = 0;
  std::vector<FoundCard> cards;
  uint32_t surveyWaitMs = 0;
};

struct UsbReport {
  std::string libraryName;
  std::vector<std::string> lookedIn;  // places the library loader searches, in its order
  std::string libraryPath;            // where it was found; empty when not found
  std::string libraryProblem;         // why it could not be loaded
  std::string libraryAdvice;          // how to get a usable one
  bool libraryLoaded = false;
  int cardDevices = -1;   // devices with the card's ids on the bus; -1: not counted
  bool opened = false;    // a device with the card's ids opened
  bool answered = false;  // ... and answered the connect handshake
  std::string product, serial;
};

enum class Level { kOk, kWarning, kProblem };

// One figure of the link test judged against what streaming needs.
struct Verdict {
  std::string figure;
  std::string value;
  Level level = Level::kOk;
  std::string advice;  // what to try; empty when fine
};

struct LinkReport {
  bool ran = false;
  std::string notRun;     // why a link test that was asked for did not run
  std::string transport;  // "ethernet" or "usb"
  std::string model;      // as the plug-in recognised it
  std::string cardName;   // hardware address or USB serial
  double seconds = 0;
  double tickMs = 0;
  uint64_t polls = 0;  // status polls handed to the link
  LinkCounters counters{};
  std::vector<double> roundTripsMs;  // one per poll answered at its first send
  uint64_t resentPolls = 0;          // polls answered only after a resend: lost, not slow
  double rttMin = 0, rttMedian = 0, rttP99 = 0, rttMax = 0;
  bool clockKnown = false;
  double cardClockPpm = 0;  // card clock against the PC clock; + = the card runs fast
  std::vector<Verdict> verdicts;
};

// Polls answered, at the first send or after resends.
inline uint64_t AnsweredPolls(const LinkReport& l) {
  return l.roundTripsMs.size() + l.resentPolls;
}

struct CheckReport {
  bool ethernetChecked = false;
  bool usbChecked = false;
  // The card the options name ("Lorn5", "Pell5", "the card at 10.1.1.1"); empty: any card.
  std::string askedFor;
  bool askedMissing = false;  // ... and it is not there
  EthReport eth;
  UsbReport usb;
  LinkReport link;
};

// 0 card found (and its link healthy, when tested), 1 found with problems, 2 no card found
// (or not the one asked for).
int ExitStatus(const CheckReport& r);

}  // namespace torvexan::check
