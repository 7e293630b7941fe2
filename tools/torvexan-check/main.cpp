// torvexan-check: the card check a machine builder runs on the Mach3 PC. It finds the card the
// way the plug-in does, with the plug-in's own link code, and measures the link with status
// polls. It never sends motion.
#include <cstdio>
#include <optional>
#include <string>

#include "check_options.h"
#include "check_system.h"
#include "eth_check.h"
#include "link_test.h"
#include "messages.h"
#include "platform/system_platform.h"
#include "report_output.h"
#include "usb_check.h"
#include "verdicts.h"

namespace {

using namespace torvexan;
using namespace torvexan::check;

constexpr uint16_t kWinsockVersion = 0x0101;  // 1.1, as the plug-in asks for

// The socket library is started for the survey as the plug-in's session starts it.
class NetLibrary {
 public:
  explicit NetLibrary(NetApi& net) : net_(net) {
    uint16_t granted = 0;
    started_ = net_.Startup(kWinsockVersion, &granted) == 0;
  }
  ~NetLibrary() {
    if (started_) net_.Cleanup();
  }
  NetLibrary(const NetLibrary&) = delete;
  NetLibrary& operator=(const NetLibrary&) = delete;

 private:
  NetApi& net_;
  bool started_ = false;
};

// What the plug-in's discovery waits for a reply on each address.
constexpr double kDiscoveryWaitTicks = 11;

// The platform's window timer is never started: the check keeps its own ticks.
#ifdef _WIN32
void CALLBACK NoTick(HWND, UINT, UINT_PTR, DWORD) {}
#else
void NoTick(void*, void*, uintptr_t) {}
#endif

// The model's name as the report writes it: "lorn5" is "Lorn5".
std::string AskedModel(const CheckOptions& o) {
  std::string asked = o.card;
  if (!asked.empty()) asked[0] = static_cast<char>(asked[0] - 'a' + 'A');
  return asked;
}

// The card the options name, as the report names it; empty: any.
std::string AskedFor(const CheckOptions& o) {
  if (!o.card.empty() && !o.address.empty()) return AskedModel(o) + " at " + o.address;
  if (!o.address.empty()) return "card at " + o.address;
  return AskedModel(o);
}

// The card the plug-in would take, or the one the options name.
std::optional<LinkTarget> ChooseTarget(const CheckOptions& o, const CheckReport& r,
                                       std::string& why) {
  const bool wantUsb = o.card == "pell5";
  const bool wantEth = !o.address.empty() || o.card == "lorn4" || o.card == "lorn5";
  // With both kinds present the plug-in's detection takes the USB card.
  if (!wantEth && r.usb.answered) return LinkTarget{true, 0, 0};
  if (wantUsb) {
    why = "the USB card did not answer";
    return std::nullopt;
  }
  uint32_t address = 0;
  const bool byAddress = ParseDotted(o.address, &address);
  const FoundCard* chosen = nullptr;
  for (const FoundCard& c : r.eth.cards) {
    if (byAddress && c.address != address) continue;
    if (!o.card.empty() && c.model != "unknown" && c.model != AskedModel(o)) continue;
    // A card reached within its subnet first: that path is the one that can work.
    if (chosen == nullptr || (chosen->outsideSubnet && !c.outsideSubnet)) chosen = &c;
  }
  if (chosen == nullptr) {
    const std::string card = o.card.empty() ? "card" : AskedModel(o);
    why = "no " + card + " answered" + (byAddress ? " from " + o.address : "");
    return std::nullopt;
  }
  return LinkTarget{false, chosen->via, chosen->address};
}

// A card of another model than the one asked for is a finding of its own.
void CheckModel(const CheckOptions& o, LinkReport& l) {
  if (o.card.empty() || l.model == "unknown") return;
  const std::string asked = AskedModel(o);
  if (asked == l.model) return;
  l.verdicts.push_back(Verdict{"model", l.model + " (asked for " + asked + ")", Level::kProblem,
                               "the card found is not the model named: check the card's label"});
}

void RunChecks(const CheckOptions& o, const Platform& platform, std::FILE* progress,
               CheckReport& r) {
  r.ethernetChecked = o.ethernet;
  NetLibrary sockets(*platform.net);
  if (o.ethernet) {
    ListLocalAddresses(*platform.net, r.eth);
    // Whoever holds the port holds the card as well: nothing else can be checked.
    if (!DiscoveryPortFree(*platform.net, r.eth)) return;
    SurveyCards(*platform.net, static_cast<uint32_t>(o.tickMs * kDiscoveryWaitTicks), r.eth);
  }
  r.usbChecked = o.usb;
  if (o.usb) {
    ProbeUsbLibrary(r.usb);
    CheckUsbCard(platform, o.tickMs, r.usb);
  }
  std::string why;
  const std::optional<LinkTarget> target = ChooseTarget(o, r, why);
  r.askedFor = AskedFor(o);
  // A USB card that is plugged in but will not open or answer is there, with a problem.
  r.askedMissing =
      !r.askedFor.empty() &&
      (o.card == "pell5" ? !r.usb.opened && r.usb.cardDevices <= 0 : !target.has_value());
  if (o.seconds <= 0 || r.askedMissing) return;
  if (!target) {
    r.link.notRun = why;
    return;
  }
  LinkTestSettings how{o.seconds, o.tickMs, [progress](const LinkReport& l, double s) {
                         WriteProgress(progress, l, s);
                       }};
  RunLinkTest(platform, *target, how, r.link);
  std::fputc('\n', progress);
  JudgeLink(r.link);
  CheckModel(o, r.link);
}

}  // namespace

int main(int argc, char** argv) {
  CheckOptions options;
  if (const int status = ParseCheckOptions(argc, argv, options); status >= 0) return status;
  std::FILE* report = TakeStdoutForReport();
  if (!options.json) {
    std::fprintf(report, "%s\n", kFirstLine);
    std::fflush(report);
  }
  UseFineTimer();
#ifdef _WIN32
  SystemPlatform system(NoTick);
  system.SetUsbPluginFolder(UsbPluginFolder().c_str());
#else
  SystemPlatform system(NoTick, nullptr);
#endif
  CheckReport r;
  RunChecks(options, system.platform(), stderr, r);
  if (options.json) {
    WriteJson(report, r);
  } else {
    WriteText(report, r);
  }
  WaitForKeyInOwnWindow(report);
  return ExitStatus(r);
}
