#include "tools/torvexan-sim/fast_machine.h"

#include <algorithm>
#include <cstdio>

#include "card/machine_layout.h"
#include "host/plugin.h"
#include "tools/torvexan-sim/fast_platform.h"

namespace torvexan::sim {
namespace {

constexpr const char* kLocalAddress = "10.0.0.1";
constexpr const char* kCardAddress = "10.0.0.50";
constexpr int kMaxTimers = 8;

FastMachine* active = nullptr;  // the machine whose plug-in the table's functions reach

}  // namespace

// Window timers on the virtual timeline: the host loop runs those that are due.
class FastMachine::Timers final : public WindowTimer {
 public:
  explicit Timers(SimWorld& world) : world_(world) {}

  uintptr_t Start(uintptr_t, uint32_t periodMs) override {
    for (Entry& e : entries_) {
      if (e.active) continue;
      e = Entry{nextId_++, periodMs, world_.now() + periodMs, true};
      return e.id;
    }
    return 0;
  }
  void Stop(void*, uintptr_t id) override {
    for (Entry& e : entries_) {
      if (e.id == id) e.active = false;
    }
  }
  // Runs every due timer once (a late one does not catch up); milliseconds to the next one.
  int Dispatch(Plugin& plugin) {
    const uint64_t now = world_.now();
    for (Entry& e : entries_) {
      if (!e.active || e.dueAt > now) continue;
      e.dueAt = now + e.periodMs;
      plugin.OnTimer(nullptr, e.id);
    }
    int64_t next = -1;
    for (const Entry& e : entries_) {
      if (!e.active) continue;
      const int64_t in = static_cast<int64_t>(e.dueAt) - static_cast<int64_t>(world_.now());
      next = next < 0 ? std::max<int64_t>(in, 0) : std::min(next, std::max<int64_t>(in, 0));
    }
    return static_cast<int>(next);
  }

 private:
  struct Entry {
    uintptr_t id = 0;
    uint32_t periodMs = 0;
    uint64_t dueAt = 0;
    bool active = false;
  };
  SimWorld& world_;
  Entry entries_[kMaxTimers];
  uintptr_t nextId_ = 1;
};

class FastMachine::MessageBoxOnStderr final : public MessageBox {
 public:
  int Show(const char* text, const char* caption) override {
    std::fprintf(stderr, "[%s] %s\n", caption, text);
    return 1;
  }
};

FastMachine::FastMachine(CardModel model, const std::string& machineLayout,
                         const tools::CardServerOptions& faults)
    : timers_(std::make_unique<Timers>(world_)),
      menu_(FastMenuBar()),
      messageBox_(std::make_unique<MessageBoxOnStderr>()),
      serial_(FastSerialPort()),
      faults_(faults) {
  if (model == CardModel::kPell5) {
    UsbCard& usb = world_.usb.AddCard(faults.card);
    ApplyLinkFaults(usb.toCard, usb.fromCard, false);
    card_ = &usb.card;
    toCard_ = &usb.toCard;
    fromCard_ = &usb.fromCard;
  } else {
    world_.net.AddLocalAddress(kLocalAddress);
    NetCard& net = world_.net.AddCard(model, kCardAddress, 0, faults.card);
    ApplyLinkFaults(net.toCard, net.fromCard, true);
    card_ = &net.card;
    toCard_ = &net.toCard;
    fromCard_ = &net.fromCard;
  }
  if (!ApplyMachineLayout(machineLayout, &card_->machine(), &layoutError_)) return;
  card_->SetPeriodObserver(&tracer_);
  plugin_ = std::make_unique<Plugin>(
      world_.Platform(timers_.get(), menu_.get(), messageBox_.get(), serial_.get()));
  active = this;
}

FastMachine::~FastMachine() {
  if (active == this) active = nullptr;
  plugin_.reset();
  if (card_ != nullptr) card_->SetPeriodObserver(nullptr);
}

bool FastMachine::Ready(std::string* error) const {
  if (!layoutError_.empty()) *error = layoutError_;
  return layoutError_.empty();
}

// The same packet faults and seeds as torvexan-card gives its two links.
void FastMachine::ApplyLinkFaults(FaultLink& toCard, FaultLink& fromCard, bool network) const {
  toCard.SetShares(faults_.toCard);
  fromCard.SetShares(faults_.fromCard);
  toCard.Reseed(faults_.seed);
  fromCard.Reseed(faults_.seed * 31 + 7);
  // The virtual network has a latency of its own; the bus answers at once unless told.
  if (faults_.latencyGiven || !network) {
    toCard.SetLatency(faults_.latencyMs);
    fromCard.SetLatency(faults_.latencyMs);
  }
}

// Time passes for everybody; the timed faults act at the end of the wait, as the card
// server's loop lets them act at its next pass.
void FastMachine::Wait(int ms) {
  world_.Advance(static_cast<uint64_t>(std::max(ms, 1)));
  const unsigned events = schedule_.Advance(*card_, world_.now());
  for (unsigned bit = 1; bit != 0 && bit <= events; bit <<= 1) {
    if (events & bit) cardEvents_.push_back(CardEvent{world_.now(), bit});
  }
}

void FastMachine::ReportCardEvents(JobDriver& driver) {
  for (; eventsReported_ < cardEvents_.size(); ++eventsReported_) {
    const CardEvent& e = cardEvents_[eventsReported_];
    driver.NoteCardEvent(e.ms, tools::CardFaultEventText(e.event),
                         (e.event & tools::kCardRestarted) != 0);
  }
  // The card's clock is the world's: a stop on the host's timeline is watched on the card's.
  for (; tracer_.fold != nullptr && stopsWatched_ < driver.stops().size(); ++stopsWatched_) {
    const StopRecord& stop = driver.stops()[stopsWatched_];
    tracer_.fold->WatchStop(static_cast<double>(driver.startMs()) + stop.seconds * 1000.0);
  }
}

void FastMachine::Tracer::OnPeriod(const VirtualCard& card) {
  if (fold != nullptr) fold->Add(SampleOf(card, ++periods * kPeriodMs + card.bootedMs()));
}

PluginTable FastMachine::Table() {
  PluginTable t;
  t.SetProName = [](const char* path) { return active->plugin_->SetProName(path); };
  t.SetDoButton = [](DoButtonFn fn) {
    active->plugin_->SetDoButton(fn);
    return fn;
  };
  t.SetSetDRO = [](SetDroFn fn) {
    active->plugin_->SetSetDRO(fn);
    return fn;
  };
  t.SetGetDRO = [](GetDroFn fn) {
    active->plugin_->SetGetDRO(fn);
    return fn;
  };
  t.SetGetLED = [](GetLedFn fn) {
    active->plugin_->SetGetLED(fn);
    return fn;
  };
  t.SetSetLED = [](SetLedFn fn) {
    active->plugin_->SetSetLED(fn);
    return fn;
  };
  t.SetCode = [](CodeCallbackFn fn) {
    active->plugin_->SetCode(fn);
    return fn;
  };
  t.SetGetMenuRange = [](MenuRangeCallbackFn fn) {
    active->plugin_->SetGetMenuRange(fn);
    return fn;
  };
  t.InitControl = [](HostMachine* m, HostDoubles* d, HostControl* c, HostFrame* f) {
    return active->plugin_->InitControl(m, d, c, f);
  };
  t.PostInitControl = [] { return active->plugin_->PostInitControl(); };
  t.Config = [] { return active->plugin_->Config(); };
  t.StopPlug = [] { active->plugin_->StopPlug(); };
  t.Update = [] { active->plugin_->Update(); };
  t.Notify = [](int code) { active->plugin_->Notify(code); };
  t.DoDwell = [](double time) { active->plugin_->DoDwell(time); };
  t.Reset = [] { active->plugin_->Reset(); };
  t.JogOn = [](int axis, int direction, double speed) {
    active->plugin_->JogOn(axis, direction, speed);
  };
  t.JogOff = [](int axis) { active->plugin_->JogOff(axis); };
  t.Purge = [](int mask) { active->plugin_->Purge(mask); };
  t.Probe = [] { active->plugin_->Probe(); };
  t.Home = [](int axis) { active->plugin_->Home(axis); };
  t.TorvexanDispatchTimers = [] { return active->timers_->Dispatch(*active->plugin_); };
  return t;
}

}  // namespace torvexan::sim
