// Command-line options of torvexan-check.
#pragma once

#include <string>

namespace torvexan::check {

inline constexpr int kExitBadCommandLine = 64;

struct CheckOptions {
  bool json = false;
  double seconds = 10;  // link test; 0 skips it
  double tickMs = 20;   // the plug-in's own tick
  std::string card;     // lorn4, lorn5, pell5, or empty: the first card found
  std::string address;  // the card's IPv4 address, dotted; empty: any
  bool ethernet = true;
  bool usb = true;
};

// Reads argv into options. Returns -1 to go on, else the exit status (0 after --help, 64 after
// a mistake, with the reason on standard error).
int ParseCheckOptions(int argc, char** argv, CheckOptions& out);

}  // namespace torvexan::check
