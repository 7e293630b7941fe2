#include "tools/torvexan-sim/sim_options.h"

#include <CLI/CLI.hpp>
#include <vector>

namespace torvexan::sim {
namespace {

bool ParseCard(const std::string& text, CardChoice* card) {
  for (CardChoice c :
       {CardChoice::kLorn4, CardChoice::kLorn5, CardChoice::kPell5, CardChoice::kExternal}) {
    if (text == CardName(c)) {
      *card = c;
      return true;
    }
  }
  return false;
}

constexpr unsigned kLongestCountMs = 3600000;  // an hour, for either count

}  // namespace

const char* CardName(CardChoice card) {
  switch (card) {
    case CardChoice::kLorn4:
      return "lorn4";
    case CardChoice::kLorn5:
      return "lorn5";
    case CardChoice::kPell5:
      return "pell5";
    case CardChoice::kExternal:
      return "external";
  }
  return "?";
}

std::string SimUsage() {
  return "usage: torvexan-sim [options] JOB.nc\n"
         "Runs a G-code job through the plug-in against a virtual card, in real time.\n"
         "  --fast               run in virtual time, plug-in, host and card in this process\n"
         "                       (an hour of motion in seconds; the same report)\n"
         "  --plugin PATH        plug-in library (default: libTorvexan.so next to this program,\n"
         "                       else the one of the build tree; on Windows Torvexan.dll next\n"
         "                       to this program)\n"
         "  --card MODEL         lorn4 | lorn5 (torvexan-card, default lorn5) | pell5 (substitute\n"
         "                       libusb) | external (no card, no private network of its own;\n"
         "                       the only choice on Windows)\n"
         "  --card-bin PATH      torvexan-card program (default: found in the build tree)\n"
         "  --card-arg ARG       one more argument for torvexan-card (repeatable)\n"
         "  --usb-lib-dir DIR    pell5: directory holding the substitute libusb-1.0.so.0\n"
         "  --settings PATH      the host's settings file named to the plug-in, which keeps its\n"
         "                       element in it (default: a temporary one)\n"
         "  --svg PATH           write the XY path coloured by feed (by tool when the job\n"
         "                       changes tools), the card's buffer fill and each axis's\n"
         "                       velocity over time as SVG\n"
         "  --tools FILE         tool table: lines 'T<n> P<pocket> D<diameter> Z<length>', mm\n"
         "                       (default: every tool has length and diameter 0)\n"
         "  --chord-tolerance MM arcs are cut into straight slices no farther than this from\n"
         "                       the arc (default 0.001)\n"
         "  --axis A:SPU:V:ACC   axis setup: steps per unit, units/s, units/s^2 (repeatable;\n"
         "                       default X,Y 1000:50:500, Z 1000:25:250, A,B,C 100:180:720)\n"
         "  --startup-ms N       Update only, before the job starts (default 1000)\n"
         "  --stall-seconds N    give up when the plug-in makes no progress (default 10)\n"
         "  --no-namespace       stay in the current network namespace (the caller made a\n"
         "                       private one)\n"
         "  --no-progress        no progress bar\n"
         "  --config-dialog      first open the plug-in's configuration dialog while the card\n"
         "                       link comes up; the job runs when it is closed (Windows)\n"
         "Exit status: 0 positions agree, 1 positions disagree, 2 the run failed, 3 bad job\n"
         "file, 64 bad command line.\n";
}

bool ParseSimOptions(int argc, char** argv, SimOptions* o, std::string* error) {
  CLI::App app;
  // The usage text is SimUsage(); the caller prints it.
  app.set_help_flag();
  app.add_flag("-h,--help", o->help);
  app.add_flag("--fast", o->fast);
  app.add_option("--plugin", o->pluginPath);
  std::string card;
  app.add_option("--card", card);
  app.add_option("--card-bin", o->cardProgram);
  // One value per occurrence, so that the job file after it stays the job file.
  app.add_option("--card-arg", o->cardArgs)
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option("--usb-lib-dir", o->usbLibDir);
  app.add_option("--settings", o->settingsPath);
  app.add_option("--svg", o->svgPath);
  app.add_option("--tools", o->toolsPath);
  std::vector<std::string> axes;
  app.add_option("--axis", axes)
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option("--startup-ms", o->startupMs)->check(CLI::Range(0u, kLongestCountMs));
  app.add_option("--stall-seconds", o->stallSeconds)->check(CLI::Range(0u, kLongestCountMs));
  app.add_option("--chord-tolerance", o->chordTolerance)->check(CLI::PositiveNumber);
  bool noNamespace = false;
  bool noProgress = false;
  app.add_flag("--no-namespace", noNamespace);
  app.add_flag("--no-progress", noProgress);
  app.add_flag("--config-dialog", o->configDialog);
  app.add_option("job", o->jobPath);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    *error = e.what();
    return false;
  }
  o->privateNetwork = !noNamespace;
  o->progress = !noProgress;
  if (!card.empty() && !ParseCard(card, &o->card)) {
    *error = "--card takes lorn4, lorn5, pell5 or external, not '" + card + "'";
    return false;
  }
  for (const std::string& axis : axes) {
    if (!ParseAxisSetup(axis, &o->machine, error)) return false;
  }
  if (o->help) return true;
  if (o->jobPath.empty()) {
    *error = "no job file given";
    return false;
  }
  if (o->card == CardChoice::kExternal) {
    if (o->fast) {
      *error = "--fast runs a virtual card in this process; it cannot reach an external card";
      return false;
    }
    o->privateNetwork = false;
  }
  return ValidateMachine(o->machine, error);
}

}  // namespace torvexan::sim
