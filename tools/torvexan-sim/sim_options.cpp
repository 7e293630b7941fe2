#include "tools/torvexan-sim/sim_options.h"

#include "tools/cli_checks.h"
#include "tools/torvexan-sim/machine_file.h"

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
constexpr unsigned kLongestStallSeconds = 3600;
constexpr double kLargestChordToleranceMm = 10.0;

// Options that name something only one way of running uses: refused where nothing reads them.
bool CheckOptionUse(const SimOptions& o, std::string* error) {
  const bool process = o.card == CardChoice::kLorn4 || o.card == CardChoice::kLorn5;
  if (o.noFiles && (!o.outDir.empty() || !o.logPath.empty())) {
    *error = "--no-files keeps no file: leave out --out and --log";
  } else if (o.fast && !o.privateNetwork) {
    *error = "--no-namespace: --fast opens no sockets, its network is inside the program";
  } else if (o.fast && !o.pluginPath.empty()) {
    *error = "--plugin names a library to load; --fast links the plug-in in: leave one out";
  } else if (!o.cardProgram.empty() && (o.fast || !process)) {
    *error =
        "--card-bin names the torvexan-card program, which only --card lorn4|lorn5 "
        "without --fast starts";
  } else if (!o.usbLibDir.empty() && (o.fast || o.card != CardChoice::kPell5)) {
    *error = "--usb-lib-dir is for --card pell5 without --fast (--fast has its own USB bus)";
  } else if (!o.cardArgs.empty() && !o.fast && !process) {
    *error = std::string("--card-arg goes to the virtual card, which --card ") + CardName(o.card) +
             " does not run in real time; add --fast to run the card's faults on a " +
             CardName(o.card);
  } else {
    return true;
  }
  return false;
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
         "  --card-arg ARG       one more argument for the virtual card, as torvexan-card\n"
         "                       takes it (repeatable); with --fast too, faults included\n"
         "  --usb-lib-dir DIR    pell5: directory holding the substitute libusb-1.0.so.0\n"
         "  --settings PATH      the host's settings file named to the plug-in, which keeps its\n"
         "                       element in it (default: a temporary one)\n"
         "  --svg PATH           write the XY path coloured by feed (by tool when the job\n"
         "                       changes tools), the card's buffer fill and each axis's\n"
         "                       velocity over time as SVG\n"
         "  --machine FILE       the machine in TOML: axes, travel, home switches, probe\n"
         "                       surface, spindle, initialization string, offsets, tools,\n"
         "                       card (see examples/machine.toml; default: the built-in\n"
         "                       machine); --axis, --card and --tools given as well win\n"
         "  --ignore-travel      a move beyond an axis's travel is a warning, not a refusal\n"
         "  --tools FILE         tool table: lines 'T<n> P<pocket> D<diameter> Z<length>', mm\n"
         "                       (default: the machine file's, else every tool has length\n"
         "                       and diameter 0)\n"
         "  --init CODES         the modes the job starts in, as the host's initialization\n"
         "                       string (default: the machine file's, else 'G17 G21 G40\n"
         "                       G49 G54 G64 G80 G90 G91.1 G94 G99')\n"
         "  --chord-tolerance MM arcs are cut into straight slices no farther than this from\n"
         "                       the arc (above 0 up to 10, default 0.001)\n"
         "  --axis A:SPU:V:ACC   axis setup: steps per unit, units/s, units/s^2 (repeatable;\n"
         "                       default X,Y 1000:50:500, Z 1000:25:250, A,B,C 100:180:720)\n"
         "  --startup-ms N       Update only, before the job starts (default 1000)\n"
         "  --stall-seconds N    give up when the plug-in makes no progress (1..3600,\n"
         "                       default 10)\n"
         "  --reset-after-estop  after an emergency stop or an aborted referencing or probing,\n"
         "                       reset, reference again and go on from the line that stopped\n"
         "                       (default: the job ends there, exit status 4)\n"
         "  --reset-at S         the operator presses RESET S seconds after motion began,\n"
         "                       which stops the job as an emergency stop does\n"
         "  --allow-empty        a job file without moves or actions is no mistake\n"
         "  --out DIR            the run folder, for the plug-in's log and the probe log (M40)\n"
         "                       (default: <job name>-run beside the job, named in the report)\n"
         "  --no-files           keep no file of the run: no run folder, log or probe log\n"
         "  --log PATH           where the plug-in's console output goes (default: plugin.log\n"
         "                       in the run folder)\n"
         "  --verbose            show the plug-in's console output and status texts as well\n"
         "  --no-namespace       stay in the current network namespace (the caller made a\n"
         "                       private one)\n"
         "  --no-progress        no progress bar\n"
         "  --config-dialog      first open the plug-in's configuration dialog while the card\n"
         "                       link comes up; the job runs when it is closed (Windows)\n"
         "Exit status: 0 positions agree, 1 positions disagree, 2 the run failed (or went on\n"
         "after a stop without its spindle or coolant), 3 bad job file, tool table or machine\n"
         "file, or a move beyond the travel, 4 stopped by a fault (emergency stop, RESET,\n"
         "aborted referencing or probing), 5 positions agree but the card ran its buffer dry\n"
         "or an axis went over its limits, 64 bad command line.\n";
}

namespace {

// What the command line holds before it is read into SimOptions.
struct RawOptions {
  bool noNamespace = false;
  bool noProgress = false;
};

void AddSimOptions(CLI::App& app, SimOptions* o, RawOptions* raw) {
  // The usage text is SimUsage(); the caller prints it.
  app.set_help_flag();
  app.add_flag("-h,--help", o->help);
  app.add_flag("--fast", o->fast);
  app.add_option("--plugin", o->pluginPath);
  app.add_option("--card", o->cardText);
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
  app.add_option("--init", o->init);
  app.add_option("--machine", o->machinePath);
  app.add_flag("--ignore-travel", o->ignoreTravel);
  app.add_option("--axis", o->axisTexts)
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option("--startup-ms", o->startupMs)->check(tools::Between(0, kLongestCountMs));
  app.add_option("--stall-seconds", o->stallSeconds)
      ->check(tools::Between(1, kLongestStallSeconds));
  app.add_option("--chord-tolerance", o->chordTolerance)
      ->check(tools::Between(0.0, kLargestChordToleranceMm, true));
  app.add_flag("--reset-after-estop", o->resetAfterStop);
  app.add_option("--reset-at", o->resetAtSeconds)->check(tools::Between(0, kLongestCountMs / 1000));
  app.add_flag("--allow-empty", o->allowEmpty);
  app.add_option("--log", o->logPath);
  app.add_option("--out", o->outDir);
  app.add_flag("--no-files", o->noFiles);
  app.add_flag("--verbose", o->verbose);
  app.add_flag("--no-namespace", raw->noNamespace);
  app.add_flag("--no-progress", raw->noProgress);
  app.add_flag("--config-dialog", o->configDialog);
  app.add_option("job", o->jobPath);
}

}  // namespace

bool ReadSimOptions(int argc, char** argv, SimOptions* o, std::string* error) {
  CLI::App app;
  RawOptions raw;
  AddSimOptions(app, o, &raw);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    *error = e.what();
    return false;
  }
  o->privateNetwork = !raw.noNamespace;
  o->progress = !raw.noProgress;
  return true;
}

bool SettleSimOptions(SimOptions* o, const MachineFile* file, std::string* error) {
  if (file != nullptr) {
    o->machine = file->machine;
    if (file->card) o->card = *file->card;
  }
  if (!o->cardText.empty() && !ParseCard(o->cardText, &o->card)) {
    *error = "--card takes lorn4, lorn5, pell5 or external, not '" + o->cardText + "'";
    return false;
  }
  for (const std::string& axis : o->axisTexts) {
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
  if (!CheckOptionUse(*o, error)) return false;
  const tools::CardHost host = o->fast ? tools::CardHost::kVirtualTime : tools::CardHost::kProcess;
  if (!tools::ParseCardArgs(o->cardArgs, host, &o->cardFaults, error)) return false;
  if (o->card == CardChoice::kLorn4 &&
      !tools::CheckForModel(o->cardFaults, CardModel::kLorn4, error)) {
    *error = "--card-arg=" + *error;
    return false;
  }
  return ValidateMachine(o->machine, error);
}

bool ParseSimOptions(int argc, char** argv, SimOptions* o, std::string* error) {
  return ReadSimOptions(argc, argv, o, error) && SettleSimOptions(o, nullptr, error);
}

}  // namespace torvexan::sim
