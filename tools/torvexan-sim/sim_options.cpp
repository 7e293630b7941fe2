#include "tools/torvexan-sim/sim_options.h"

#include <cstdlib>
#include <cstring>
#include <utility>

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

bool ParseCount(const std::string& text, unsigned* value) {
  char* end = nullptr;
  const unsigned long parsed = std::strtoul(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || parsed > 3600000UL) return false;
  *value = static_cast<unsigned>(parsed);
  return true;
}

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
         "  --settings PATH      settings file named to the plug-in (default: a temporary one)\n"
         "  --svg PATH           write the XY path coloured by feed, the card's buffer fill and\n"
         "                       each axis's velocity over time as SVG\n"
         "  --chord-tolerance MM arcs are cut into straight slices no farther than this from\n"
         "                       the arc (default 0.001)\n"
         "  --axis A:SPU:V:ACC   axis setup: steps per unit, units/s, units/s^2 (repeatable;\n"
         "                       default X,Y 1000:50:500, Z 1000:25:250, A,B,C 100:180:720)\n"
         "  --startup-ms N       Update only, before the job starts (default 1000)\n"
         "  --stall-seconds N    give up when the plug-in makes no progress (default 10)\n"
         "  --no-namespace       stay in the current network namespace (the caller made a\n"
         "                       private one)\n"
         "  --no-progress        no progress bar\n"
         "Exit status: 0 positions agree, 1 positions disagree, 2 the run failed, 3 bad job\n"
         "file, 64 bad command line.\n";
}

bool ParseSimOptions(int argc, char** argv, SimOptions* o, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    // Options with a value take it from the next argument or after '='.
    std::string value;
    std::string name = arg;
    const size_t eq = arg.find('=');
    const bool inlineValue = arg.rfind("--", 0) == 0 && eq != std::string::npos;
    if (inlineValue) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    }
    auto takeValue = [&]() {
      if (inlineValue) return true;
      if (i + 1 >= argc) {
        *error = name + " needs a value";
        return false;
      }
      value = argv[++i];
      return true;
    };
    // Options whose value is kept as it stands.
    const std::pair<const char*, std::string*> textOptions[] = {
        {"--plugin", &o->pluginPath},     {"--card-bin", &o->cardProgram},
        {"--usb-lib-dir", &o->usbLibDir}, {"--settings", &o->settingsPath},
        {"--svg", &o->svgPath},
    };
    std::string* textTarget = nullptr;
    for (const auto& [option, target] : textOptions) {
      if (name == option) textTarget = target;
    }
    const bool takesValue = textTarget != nullptr || name == "--card" || name == "--card-arg" ||
                            name == "--axis" || name == "--startup-ms" ||
                            name == "--stall-seconds" || name == "--chord-tolerance";
    if (takesValue && !takeValue()) return false;
    if (name == "-h" || name == "--help") {
      o->help = true;
    } else if (name == "--no-namespace") {
      o->privateNetwork = false;
    } else if (name == "--fast") {
      o->fast = true;
    } else if (name == "--chord-tolerance") {
      char* end = nullptr;
      o->chordTolerance = std::strtod(value.c_str(), &end);
      if (value.empty() || *end != '\0' || !(o->chordTolerance > 0.0)) {
        *error = "--chord-tolerance takes a positive number of millimetres, not '" + value + "'";
        return false;
      }
    } else if (name == "--no-progress") {
      o->progress = false;
    } else if (textTarget != nullptr) {
      *textTarget = value;
    } else if (name == "--card-arg") {
      o->cardArgs.push_back(value);
    } else if (name == "--card") {
      if (!ParseCard(value, &o->card)) {
        *error = "--card takes lorn4, lorn5, pell5 or external, not '" + value + "'";
        return false;
      }
    } else if (name == "--axis") {
      if (!ParseAxisSetup(value, &o->machine, error)) return false;
    } else if (name == "--startup-ms" || name == "--stall-seconds") {
      unsigned* target = name == "--startup-ms" ? &o->startupMs : &o->stallSeconds;
      if (!ParseCount(value, target)) {
        *error = name + " takes a whole number, not '" + value + "'";
        return false;
      }
    } else if (arg.rfind("-", 0) == 0 && arg.size() > 1) {
      *error = "unknown option " + arg;
      return false;
    } else if (o->jobPath.empty()) {
      o->jobPath = arg;
    } else {
      *error = "only one job file, not also '" + arg + "'";
      return false;
    }
  }
  if (!o->help && o->jobPath.empty()) {
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
