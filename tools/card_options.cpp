#include "card_options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace torvexan::tools {

namespace {

bool ParseShare(const char* text, double& out) {
  char* end = nullptr;
  out = std::strtod(text, &end);
  return end != text && *end == '\0' && out >= 0 && out <= 1;
}

bool ParseNumber(const char* text, double& out) {
  char* end = nullptr;
  out = std::strtod(text, &end);
  return end != text && *end == '\0' && out >= 0;
}

bool ParseMac(const char* text, uint8_t* mac) {
  unsigned b[6];
  if (std::sscanf(text, "%2x:%2x:%2x:%2x:%2x:%2x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) != 6)
    return false;
  for (int i = 0; i < 6; ++i) mac[i] = static_cast<uint8_t>(b[i]);
  return true;
}

bool ParseFirmware(const char* text, uint8_t& major, uint8_t& minor) {
  unsigned a = 0, b = 0;
  if (std::sscanf(text, "%2x.%2x", &a, &b) != 2) return false;
  major = static_cast<uint8_t>(a);
  minor = static_cast<uint8_t>(b);
  return true;
}

}  // namespace

const char* CardServerUsage() {
  return R"(usage: torvexan-card [options]
Serves a virtual Lorn4 or Lorn5 motion card on UDP in real time and prints its statistics
when it stops (SIGINT, SIGTERM or --seconds).

Run it ONLY inside a private network namespace, never on a real interface:
  unshare -rn sh -c 'ip link set lo up; ip route add broadcast 255.255.255.255 dev lo; \
    torvexan-card --seconds 60 & <plug-in host program>'
Discovery requests go to 255.255.255.255. Inside such a namespace a sender bound to
127.0.0.1 (the plug-in binds each local address) reaches the card on loopback as it is; a
sender bound to 0.0.0.0 gets "Network is unreachable" unless the route above is added
("ip route add 255.255.255.255/32 dev lo" works as well).

  --model lorn4|lorn5     card model (default lorn5)
  --mac AA:BB:CC:DD:EE:FF hardware address reported by discovery (default 02:54:56:00:00:01)
  --firmware HH.HH        firmware version, two hexadecimal bytes (default 01.2A)
  --port N                UDP port (default 1234)
  --bind ADDRESS          local address to listen on (default 0.0.0.0)
  --drop P                share of packets lost in each direction (0..1)
  --drop-in P, --drop-out P   the same for one direction (in = towards the card)
  --delay P               share of packets held back by --delay-ms (default 30)
  --duplicate P           share of packets delivered twice
  --corrupt P             share of packets with one damaged byte
  --corrupt-in P, --corrupt-out P   the same for one direction
  --seed N                seed of the fault generator (default 1)
  --latency MS            extra one-way latency in milliseconds
  --reboot-after S        restart the card once after S seconds
  --reboot-every S        restart the card every S seconds
  --boot-ms N             silence after a restart (default 500)
  --silent-after S        stop answering after S seconds
  --silent-for S          ... for S seconds (default: for good)
  --toggle-inputs MS      every MS milliseconds turn the handwheel selector to X with x10,
                          then back off (inputs that a configuration dialog shows)
  --seconds S             stop after S seconds
  --machine LAYOUT        switches and probe surface of the machine around the card,
                          e.g. home:0:-30000:below,probe:2:-12500:below (steps)
  --trace PATH            write the card's state, buffer and positions every 5 ms
  --estop-every S         press the emergency-stop button at random, every S seconds on average
  --estop-hold-ms N       ... holding it N ms (default 300)
  --silence-every S       fall silent at random, every S seconds on average
  --silence-seconds S     ... for between S/2 and S seconds each time
  --report-every S        print a line of figures every S seconds
  --verbose               print every reboot and silence
  --help
)";
}

bool ParseCardServerOptions(int argc, char** argv, CardServerOptions& o, bool& help) {
  help = false;
  for (int i = 1; i < argc; ++i) {
    const char* name = argv[i];
    if (std::strcmp(name, "--help") == 0 || std::strcmp(name, "-h") == 0) {
      help = true;
      return true;
    }
    if (std::strcmp(name, "--verbose") == 0) {
      o.verbose = true;
      continue;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "torvexan-card: %s needs a value\n", name);
      return false;
    }
    const char* v = argv[++i];
    double x = 0;
    bool ok = true;
    if (std::strcmp(name, "--model") == 0) {
      if (std::strcmp(v, "lorn4") == 0)
        o.model = sim::CardModel::kLorn4;
      else if (std::strcmp(v, "lorn5") == 0)
        o.model = sim::CardModel::kLorn5;
      else
        ok = false;
    } else if (std::strcmp(name, "--mac") == 0) {
      ok = ParseMac(v, o.card.hardwareAddress);
    } else if (std::strcmp(name, "--firmware") == 0) {
      ok = ParseFirmware(v, o.card.firmwareMajor, o.card.firmwareMinor);
    } else if (std::strcmp(name, "--machine") == 0) {
      o.machineLayout = v;
    } else if (std::strcmp(name, "--trace") == 0) {
      o.tracePath = v;
    } else if (std::strcmp(name, "--bind") == 0) {
      o.bindAddress = v;
    } else if (std::strcmp(name, "--drop") == 0) {
      ok = ParseShare(v, x);
      o.toCard.drop = o.fromCard.drop = x;
    } else if (std::strcmp(name, "--drop-in") == 0) {
      ok = ParseShare(v, o.toCard.drop);
    } else if (std::strcmp(name, "--drop-out") == 0) {
      ok = ParseShare(v, o.fromCard.drop);
    } else if (std::strcmp(name, "--delay") == 0) {
      ok = ParseShare(v, x);
      o.toCard.delay = o.fromCard.delay = x;
    } else if (std::strcmp(name, "--duplicate") == 0) {
      ok = ParseShare(v, x);
      o.toCard.duplicate = o.fromCard.duplicate = x;
    } else if (std::strcmp(name, "--corrupt-in") == 0) {
      ok = ParseShare(v, o.toCard.corrupt);
    } else if (std::strcmp(name, "--corrupt-out") == 0) {
      ok = ParseShare(v, o.fromCard.corrupt);
    } else if (std::strcmp(name, "--corrupt") == 0) {
      ok = ParseShare(v, x);
      o.toCard.corrupt = o.fromCard.corrupt = x;
    } else if (ParseNumber(v, x)) {
      if (std::strcmp(name, "--port") == 0 && x >= 1 && x <= 65535)
        o.port = static_cast<uint16_t>(x);
      else if (std::strcmp(name, "--delay-ms") == 0)
        o.toCard.delayMs = o.fromCard.delayMs = static_cast<uint32_t>(x);
      else if (std::strcmp(name, "--seed") == 0)
        o.seed = static_cast<uint64_t>(x);
      else if (std::strcmp(name, "--latency") == 0)
        o.latencyMs = static_cast<uint32_t>(x);
      else if (std::strcmp(name, "--reboot-after") == 0)
        o.rebootAfter = x;
      else if (std::strcmp(name, "--reboot-every") == 0)
        o.rebootEvery = x;
      else if (std::strcmp(name, "--boot-ms") == 0)
        o.bootMs = static_cast<uint32_t>(x);
      else if (std::strcmp(name, "--silent-after") == 0)
        o.silentAfter = x;
      else if (std::strcmp(name, "--silent-for") == 0)
        o.silentFor = x;
      else if (std::strcmp(name, "--seconds") == 0)
        o.seconds = x;
      else if (std::strcmp(name, "--toggle-inputs") == 0)
        o.toggleInputsMs = x;
      else if (std::strcmp(name, "--estop-every") == 0)
        o.campaign.estopEvery = x;
      else if (std::strcmp(name, "--estop-hold-ms") == 0)
        o.campaign.estopHoldMs = static_cast<uint32_t>(x);
      else if (std::strcmp(name, "--silence-every") == 0)
        o.campaign.silenceEvery = x;
      else if (std::strcmp(name, "--silence-seconds") == 0)
        o.campaign.silenceSeconds = x;
      else if (std::strcmp(name, "--report-every") == 0)
        o.campaign.reportEvery = x;
      else
        ok = false;
    } else {
      ok = false;
    }
    if (!ok) {
      std::fprintf(stderr, "torvexan-card: bad option %s %s\n", name, v);
      return false;
    }
  }
  return true;
}

}  // namespace torvexan::tools
