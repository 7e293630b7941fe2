// The whole machine in this process on one virtual timeline: the plug-in linked in, the
// virtual network or USB bus, and the virtual card with the machine's switches around it.
// Minutes of a job run in seconds, with the same host loop as a run on the wall clock.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "card/card_trace.h"
#include "harness/sim_world.h"
#include "sim/host/plugin_table.h"
#include "tools/card_options.h"
#include "tools/card_schedule.h"
#include "tools/torvexan-sim/host_run.h"
#include "tools/torvexan-sim/trace_figures.h"

namespace torvexan {
class Plugin;
class SerialPort;
}  // namespace torvexan

namespace torvexan::sim {

class FastMachine final : public LoopClock {
 public:
  // model: the virtual card; machineLayout: its switches and probe surface (machine_layout.h);
  // faults: what the card's options ask for, as torvexan-card takes them.
  FastMachine(CardModel model, const std::string& machineLayout,
              const tools::CardServerOptions& faults);
  ~FastMachine() override;
  FastMachine(const FastMachine&) = delete;
  FastMachine& operator=(const FastMachine&) = delete;

  // The plug-in's entry points as a host reaches them. Only one machine at a time may hand
  // them out: the functions carry no context and reach the machine made last.
  PluginTable Table();
  // False, with the reason, when the machine layout did not apply.
  bool Ready(std::string* error) const;

  uint64_t NowMs() override { return world_.now(); }
  void Wait(int ms) override;
  void ReportCardEvents(JobDriver& driver) override;

  VirtualCard& card() { return *card_; }
  // The card's trace goes into fold period by period from now on (null: nowhere).
  void FoldTraceInto(TraceFold* fold) { tracer_.fold = fold; }
  // The timed faults that struck the card, on the virtual timeline.
  struct CardEvent {
    uint64_t ms;
    unsigned event;  // one tools::CardFaultEvent bit
  };
  const std::vector<CardEvent>& cardEvents() const { return cardEvents_; }
  const tools::CardCampaign& campaign() const { return schedule_.campaign(); }
  uint32_t silences() const { return schedule_.silences(); }
  // What the faults of the links did: towards the card and back.
  const FaultCounts& faultsIn() const { return toCard_->counts(); }
  const FaultCounts& faultsOut() const { return fromCard_->counts(); }

 private:
  class Timers;
  class MessageBoxOnStderr;

  SimWorld world_;
  std::unique_ptr<Timers> timers_;
  std::unique_ptr<MenuBar> menu_;
  std::unique_ptr<MessageBoxOnStderr> messageBox_;
  std::unique_ptr<SerialPort> serial_;  // fast_platform.h
  VirtualCard* card_ = nullptr;
  const FaultLink* toCard_ = nullptr;
  const FaultLink* fromCard_ = nullptr;
  void ApplyLinkFaults(FaultLink& toCard, FaultLink& fromCard, bool network) const;

  const tools::CardServerOptions faults_;
  tools::CardFaultSchedule schedule_{faults_};
  std::vector<CardEvent> cardEvents_;
  size_t eventsReported_ = 0;
  struct Tracer final : PeriodObserver {
    TraceFold* fold = nullptr;
    uint64_t periods = 0;
    void OnPeriod(const VirtualCard& card) override;
  };
  Tracer tracer_;
  size_t stopsWatched_ = 0;
  std::string layoutError_;
  std::unique_ptr<Plugin> plugin_;
};

}  // namespace torvexan::sim
