#include "check_options.h"

#include <CLI/CLI.hpp>

#include <cstdio>

namespace torvexan::check {

namespace {

constexpr double kShortestTickMs = 1;
constexpr double kLongestTickMs = 1000;
constexpr double kLongestTestSeconds = 24 * 3600;

}  // namespace

int ParseCheckOptions(int argc, char** argv, CheckOptions& o) {
  CLI::App app{
      "torvexan-check: finds the motion card (Ethernet and USB) and measures its link.\n"
      "It reads the card only (discovery, the connect handshake and status polls) and never\n"
      "sends motion. Close Mach3 first: it holds the card's ports.\n"
      "Exit status: 0 card found and link healthy (or not tested), 1 found with problems,\n"
      "2 no card found (or not the one named), 64 bad command line.",
      "torvexan-check"};
  app.add_flag("--json", o.json, "print the report as JSON (for a support request)");
  app.add_option("--seconds", o.seconds, "length of the link test; 0 skips it")
      ->check(CLI::Range(0.0, kLongestTestSeconds))
      ->capture_default_str();
  app.add_option("--tick-ms", o.tickMs, "status poll period, the plug-in's tick")
      ->check(CLI::Range(kShortestTickMs, kLongestTickMs))
      ->capture_default_str();
  app.add_option("--card", o.card, "card to test: lorn4, lorn5 or pell5 (default: the first found)")
      ->check(CLI::IsMember({"lorn4", "lorn5", "pell5"}));
  app.add_option("--address", o.address, "IPv4 address of the Ethernet card to test")
      ->check(CLI::ValidIPV4);
  bool noUsb = false, noEthernet = false;
  app.add_flag("--no-usb", noUsb, "skip the USB check");
  app.add_flag("--no-ethernet", noEthernet, "skip the Ethernet check");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kExitBadCommandLine;
  }
  if (noUsb && noEthernet) {
    std::fprintf(stderr, "torvexan-check: --no-usb and --no-ethernet leave nothing to check\n");
    return kExitBadCommandLine;
  }
  o.usb = !noUsb;
  o.ethernet = !noEthernet;
  if ((o.card == "pell5" && !o.usb) ||
      ((o.card == "lorn4" || o.card == "lorn5" || !o.address.empty()) && !o.ethernet)) {
    std::fprintf(stderr, "torvexan-check: --card/--address names a card whose check is skipped\n");
    return kExitBadCommandLine;
  }
  if (o.card == "pell5" && !o.address.empty()) {
    std::fprintf(stderr, "torvexan-check: --address is for Ethernet cards, not pell5\n");
    return kExitBadCommandLine;
  }
  return -1;
}

}  // namespace torvexan::check
