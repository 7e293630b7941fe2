#include "tools/torvexan-sim/card_side.h"

#include <stdlib.h>
#include <unistd.h>

#include <cmath>

#include "tools/torvexan-sim/private_network.h"
#include "tools/torvexan-sim/sim_paths.h"

namespace torvexan::sim {
namespace {

constexpr const char* kReexecMarker = "TORVEXAN_SIM_USB_REEXEC";

// A user namespace can be made only by a process with a single thread: the private network
// comes before the Modbus device, the plug-in or anything else starts one.
bool EnterNetworkOf(const SimOptions& options, std::string* error) {
  if (!options.privateNetwork || EnterPrivateNetwork(error)) return true;
  *error +=
      "; --fast runs without sockets, or run inside a private network of your own: "
      "unshare -rn sh -c 'ip link set lo up; ip route add broadcast 255.255.255.255 dev lo; "
      "torvexan-sim --no-namespace ...'";
  return false;
}

}  // namespace

bool ReadyForCard(const SimOptions& options, char** argv, std::string* error) {
  if (options.card != CardChoice::kPell5 || getenv(kReexecMarker) != nullptr) {
    return EnterNetworkOf(options, error);
  }
  // The substitute libusb is found by the dynamic loader only if LD_LIBRARY_PATH names it
  // when the program starts, so the program starts once more with it.
  const std::string dir = options.usbLibDir.empty() ? DefaultUsbLibDir() : options.usbLibDir;
  if (dir.empty() || !FileExists(dir + "/libusb-1.0.so.0")) {
    *error = "no libusb-1.0.so.0 for --card pell5; name its directory with --usb-lib-dir";
    return false;
  }
  const char* current = getenv("LD_LIBRARY_PATH");
  const std::string path = dir + (current != nullptr && *current ? std::string(":") + current : "");
  setenv("LD_LIBRARY_PATH", path.c_str(), 1);
  setenv(kReexecMarker, "1", 1);
  execv("/proc/self/exe", argv);
  *error = "cannot start again with the substitute libusb";
  return false;
}

bool StartCardSide(const SimOptions& options, double cardSeconds, const CardSideFiles& files,
                   CardProcess* card, std::string* error) {
  if (options.card == CardChoice::kPell5) {
    // The substitute reads these when the plug-in first calls libusb_init.
    setenv("TORVEXAN_USBSUB_MACHINE", files.machineLayout.c_str(), 1);
    setenv("TORVEXAN_USBSUB_TRACE", files.tracePath.c_str(), 1);
    setenv("TORVEXAN_USBSUB_REPORT", files.statsPath.c_str(), 1);
    return true;
  }
  if (options.card != CardChoice::kLorn4 && options.card != CardChoice::kLorn5) return true;
  const std::string program =
      options.cardProgram.empty() ? DefaultCardProgram() : options.cardProgram;
  std::vector<std::string> args = {
      "--model", CardName(options.card), "--seconds",
      std::to_string(static_cast<long>(std::ceil(cardSeconds))), "--machine", files.machineLayout,
      "--trace", files.tracePath,
      // Every restart and silence with its time, for the report's timeline.
      "--verbose"};
  args.insert(args.end(), options.cardArgs.begin(), options.cardArgs.end());
  return card->Start(program, args, error);
}

}  // namespace torvexan::sim
