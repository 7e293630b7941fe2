#include "card_options.h"

#include "cli_checks.h"

#include <cstdio>
#include <functional>

namespace torvexan::tools {

namespace {

constexpr double kLongestSeconds = 31 * 24 * 3600.0;  // a month, for every time option
constexpr uint32_t kLongestMs = 3600000;              // an hour, for the millisecond options

// Options that name where the card listens, how long it runs and where it writes: torvexan-sim
// sets them itself, so a --card-arg may not.
constexpr const char* kSetByTheTool[] = {"--model",   "--port",    "--bind",
                                         "--seconds", "--machine", "--trace"};

bool ParseMac(const std::string& text, uint8_t* mac) {
  unsigned b[6];
  char tail = 0;
  if (std::sscanf(text.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%c", &b[0], &b[1], &b[2], &b[3], &b[4],
                  &b[5], &tail) != 6) {
    return false;
  }
  for (int i = 0; i < 6; ++i) mac[i] = static_cast<uint8_t>(b[i]);
  return true;
}

bool ParseFirmware(const std::string& text, uint8_t& major, uint8_t& minor) {
  unsigned a = 0, b = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%2x.%2x%c", &a, &b, &tail) != 2) return false;
  major = static_cast<uint8_t>(a);
  minor = static_cast<uint8_t>(b);
  return true;
}

// A share of packets, 0..1, that sets one direction or both.
void AddShare(CLI::App& app, const char* name, std::vector<double*> targets) {
  app.add_option_function<double>(name,
                                  [targets](double v) {
                                    for (double* t : targets) *t = v;
                                  })
      ->check(Between(0.0, 1.0));
}

void AddSeconds(CLI::App& app, const char* name, double& value) {
  app.add_option(name, value)->check(Between(0.0, kLongestSeconds));
}

void AddFaultOptions(CLI::App& app, CardServerOptions& o) {
  AddShare(app, "--drop", {&o.toCard.drop, &o.fromCard.drop});
  AddShare(app, "--drop-in", {&o.toCard.drop});
  AddShare(app, "--drop-out", {&o.fromCard.drop});
  AddShare(app, "--delay", {&o.toCard.delay, &o.fromCard.delay});
  AddShare(app, "--duplicate", {&o.toCard.duplicate, &o.fromCard.duplicate});
  AddShare(app, "--corrupt", {&o.toCard.corrupt, &o.fromCard.corrupt});
  AddShare(app, "--corrupt-in", {&o.toCard.corrupt});
  AddShare(app, "--corrupt-out", {&o.fromCard.corrupt});
  app.add_option_function<uint32_t>("--delay-ms",
                                    [&o](uint32_t v) { o.toCard.delayMs = o.fromCard.delayMs = v; })
      ->check(Between(0u, kLongestMs));
  app.add_option("--seed", o.seed);
  app.add_option_function<uint32_t>("--latency",
                                    [&o](uint32_t v) {
                                      o.latencyMs = v;
                                      o.latencyGiven = true;
                                    })
      ->check(Between(0u, kLongestMs));
  AddSeconds(app, "--reboot-after", o.rebootAfter);
  AddSeconds(app, "--reboot-every", o.rebootEvery);
  app.add_option("--boot-ms", o.bootMs)->check(Between(0u, kLongestMs));
  AddSeconds(app, "--silent-after", o.silentAfter);
  AddSeconds(app, "--silent-for", o.silentFor);
  app.add_option("--toggle-inputs", o.toggleInputsMs)->check(Between(0.0, kLongestSeconds));
  AddSeconds(app, "--estop-every", o.campaign.estopEvery);
  app.add_option("--estop-hold-ms", o.campaign.estopHoldMs)->check(Between(0u, kLongestMs));
  AddSeconds(app, "--silence-every", o.campaign.silenceEvery);
  AddSeconds(app, "--silence-seconds", o.campaign.silenceSeconds);
  AddSeconds(app, "--report-every", o.campaign.reportEvery);
  app.add_flag("--verbose", o.verbose);
}

// The whole table: the card itself, where it listens and runs, and its faults.
void AddCardOptions(CLI::App& app, CardServerOptions& o) {
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.add_option("--model", o.model)
      ->transform(CLI::CheckedTransformer(std::map<std::string, sim::CardModel>{
          {"lorn4", sim::CardModel::kLorn4}, {"lorn5", sim::CardModel::kLorn5}}));
  app.add_option_function<std::string>("--mac", [&o](const std::string& v) {
    if (!ParseMac(v, o.card.hardwareAddress)) {
      throw CLI::ValidationError("--mac", "takes AA:BB:CC:DD:EE:FF, not " + v);
    }
  });
  app.add_option_function<std::string>("--firmware", [&o](const std::string& v) {
    if (!ParseFirmware(v, o.card.firmwareMajor, o.card.firmwareMinor)) {
      throw CLI::ValidationError("--firmware", "takes two hexadecimal bytes HH.HH, not " + v);
    }
  });
  app.add_option("--port", o.port)->check(Between(1, 65535));
  app.add_option("--bind", o.bindAddress);
  AddSeconds(app, "--seconds", o.seconds);
  app.add_option("--machine", o.machineLayout);
  app.add_option("--trace", o.tracePath);
  AddFaultOptions(app, o);
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
  --drop P                share of packets lost in each direction (0..1; every share P
                          is 0..1)
  --drop-in P, --drop-out P   the same for one direction (in = towards the card)
  --delay P               share of packets held back by --delay-ms
  --delay-ms MS           how long a held-back packet waits (default 30)
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
  CLI::App app;
  // The usage text is CardServerUsage(); the caller prints it.
  app.set_help_flag();
  app.add_flag("-h,--help", help);
  AddCardOptions(app, o);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "torvexan-card: %s\n", e.what());
    return false;
  }
  std::string error;
  if (!CheckForModel(o, o.model, &error)) {
    std::fprintf(stderr, "torvexan-card: %s\n", error.c_str());
    return false;
  }
  return true;
}

bool CheckForModel(const CardServerOptions& o, sim::CardModel model, std::string* error) {
  if (o.campaign.estopEvery > 0 && !sim::HasEstopInput(model)) {
    *error = "--estop-every: the Lorn4 has no emergency-stop input (use a Lorn5 or a Pell5)";
    return false;
  }
  return true;
}

bool ParseCardArgs(const std::vector<std::string>& args, CardHost host, CardServerOptions* o,
                   std::string* error) {
  CLI::App app;
  app.set_help_flag();
  AddCardOptions(app, *o);
  // CLI11 takes a vector of arguments last first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    *error = std::string("--card-arg: ") + e.what();
    return false;
  }
  for (const char* name : kSetByTheTool) {
    if (app.count(name) == 0) continue;
    *error = std::string("--card-arg=") + name +
             ": torvexan-sim sets this itself (the model with --card, the machine with --axis)";
    return false;
  }
  if (host == CardHost::kVirtualTime && app.count("--report-every") > 0) {
    *error =
        "--card-arg=--report-every prints figure lines on the card's console, which the card "
        "of --fast does not have; the report lists the card's events instead";
    return false;
  }
  return true;
}

}  // namespace torvexan::tools
