#include <cmath>

#include <nlohmann/json.hpp>

#include "eth_check.h"
#include "messages.h"
#include "report_output.h"

namespace torvexan::check {

namespace {

using Json = nlohmann::ordered_json;

// Milliseconds to the microsecond, parts per million to the unit: finer digits are noise.
double Micros(double ms) {
  return std::round(ms * 1000) / 1000;
}

const char* LevelName(Level l) {
  return l == Level::kOk ? "ok" : l == Level::kWarning ? "warning" : "problem";
}

Json Findings(const std::vector<Finding>& findings) {
  Json list = Json::array();
  for (const Finding& f : findings)
    list.push_back({{"level", LevelName(f.level)}, {"text", f.text}});
  return list;
}

Json Ethernet(const CheckReport& r) {
  const EthReport& e = r.eth;
  Json locals = Json::array();
  for (const LocalAddress& a : e.locals) {
    locals.push_back(
        {{"address", Dotted(a.address)}, {"mask", a.maskKnown ? Json(Dotted(a.mask)) : Json()}});
  }
  Json cards = Json::array();
  for (const FoundCard& c : e.cards) {
    cards.push_back({{"model", c.model},
                     {"hardware_address", c.hardwareAddress},
                     {"firmware", c.firmware},
                     {"address", Dotted(c.address)},
                     {"port", c.port},
                     {"via", Dotted(c.via)},
                     {"round_trip_ms", Micros(c.roundTripMs)},
                     {"outside_subnet", c.outsideSubnet}});
  }
  return {{"local_addresses", locals},          {"port_1235_held", e.portHeld},
          {"survey_wait_ms", e.surveyWaitMs},   {"cards", cards},
          {"distinct_cards", DistinctCards(e)}, {"findings", Findings(EthernetFindings(r))}};
}

Json Usb(const CheckReport& r) {
  const UsbReport& u = r.usb;
  return {{"library", u.libraryName},
          {"looked_in", u.lookedIn},
          {"library_path", u.libraryPath},
          {"library_problem", u.libraryProblem},
          {"library_loaded", u.libraryLoaded},
          {"card_devices", u.cardDevices >= 0 ? Json(u.cardDevices) : Json()},
          {"device_opened", u.opened},
          {"handshake_answered", u.answered},
          {"product", u.product},
          {"serial", u.serial},
          {"findings", Findings(UsbFindings(r))}};
}

Json Link(const LinkReport& l) {
  const LinkCounters& c = l.counters;
  Json verdicts = Json::array();
  for (const Verdict& v : l.verdicts) {
    verdicts.push_back({{"figure", v.figure},
                        {"value", v.value},
                        {"level", LevelName(v.level)},
                        {"advice", v.advice}});
  }
  return {{"transport", l.transport},
          {"model", l.model},
          {"card", l.cardName},
          {"seconds", l.seconds},
          {"tick_ms", l.tickMs},
          {"polls", l.polls},
          {"exchanges", c.exchanges},
          {"resends", c.resends},
          {"stale_replies", c.staleReplies},
          {"rejected_replies", c.rejectedReplies},
          {"held_replies", c.heldReplies},
          {"link_losses", c.linkLosses},
          {"answered_polls", AnsweredPolls(l)},
          {"polls_answered_after_resend", l.resentPolls},
          {"round_trip_ms",
           {{"min", Micros(l.rttMin)},
            {"median", Micros(l.rttMedian)},
            {"p99", Micros(l.rttP99)},
            {"max", Micros(l.rttMax)}}},
          {"card_clock_ppm", l.clockKnown ? Json(std::round(l.cardClockPpm)) : Json()},
          {"verdicts", verdicts}};
}

}  // namespace

void WriteJson(std::FILE* out, const CheckReport& r) {
  Json report = {{"notice", kFirstLine}};
  if (r.ethernetChecked) report["ethernet"] = Ethernet(r);
  if (r.usbChecked) report["usb"] = Usb(r);
  if (r.link.ran) report["link_test"] = Link(r.link);
  if (!r.link.notRun.empty()) report["link_test_not_run"] = r.link.notRun;
  if (r.askedMissing) report["asked_card_missing"] = MissingCardText(r);
  report["result"] = Summary(Judge(r));
  report["exit_status"] = ExitStatus(r);
  std::fprintf(out, "%s\n", report.dump(2).c_str());
  std::fflush(out);
}

}  // namespace torvexan::check
