#include "card_campaign.h"

#include <cmath>

#include "card/card_wire.h"

namespace torvexan::tools {

CardCampaign::CardCampaign(const CampaignOptions& options, uint64_t seed)
    : o_(options), state_(seed * 0x9E3779B97F4A7C15ULL + 1) {
  if (o_.estopEvery > 0) nextPressMs_ = static_cast<uint64_t>(Exponential(o_.estopEvery));
  if (o_.silenceEvery > 0 && o_.silenceSeconds > 0) {
    nextSilenceMs_ = static_cast<uint64_t>(Exponential(o_.silenceEvery));
  }
  if (o_.reportEvery > 0) nextReportMs_ = static_cast<uint64_t>(o_.reportEvery * 1000);
}

uint64_t CardCampaign::NextRandom() {
  // xorshift64*: repeatable from the seed.
  state_ ^= state_ >> 12;
  state_ ^= state_ << 25;
  state_ ^= state_ >> 27;
  return state_ * 0x2545F4914F6CDD1DULL;
}

// Milliseconds to the next event of a random process with the given mean in seconds.
double CardCampaign::Exponential(double meanSeconds) {
  const double u = (static_cast<double>(NextRandom() >> 11) + 1.0) / 9007199254740993.0;
  return -std::log(u) * meanSeconds * 1000.0;
}

bool CardCampaign::Advance(sim::VirtualCard& card, uint64_t nowMs) {
  if (nowMs >= nextPressMs_) {
    card.machine().estop = true;
    ++figures_.estopPresses;
    // The card reads its button once a period: a command that reaches it before then is taken,
    // and its rows are flushed by the halt. The stop is the halt (a Lorn4 has no such input).
    haltPending_ = sim::HasEstopInput(card.model());
    releaseMs_ = nowMs + o_.estopHoldMs;
    nextPressMs_ = releaseMs_ + static_cast<uint64_t>(Exponential(o_.estopEvery));
  }
  NoteHalt(card);
  if (nowMs >= releaseMs_) {
    card.machine().estop = false;
    releaseMs_ = UINT64_MAX;
  }
  if (nowMs >= nextSilenceMs_) {
    const double share = 0.5 + 0.5 * static_cast<double>(NextRandom() >> 11) / 9007199254740992.0;
    silenceEndsMs_ = nowMs + static_cast<uint64_t>(o_.silenceSeconds * 1000.0 * share);
    // A plug-in that loses the link while nothing moves only finds the card again: what the
    // host streams afterwards is commanded. Motion cut by the loss must not go on unbidden.
    movingAtSilence_ = card.state() == sim::kStreaming || card.state() == sim::kSequence ||
                       card.bufferedRows() > 0;
    nextSilenceMs_ = silenceEndsMs_ + static_cast<uint64_t>(Exponential(o_.silenceEvery));
    ++figures_.silences;
  }
  if (silenceEndsMs_ != UINT64_MAX && nowMs >= silenceEndsMs_) {
    silenceEndsMs_ = UINT64_MAX;
    // The burst is meant to outlast the plug-in's ten resends, but a host whose timer ticks
    // come late may ride it out: what the plug-in sends first afterwards tells.
    afterSilence_ = true;
  }
  return silenceEndsMs_ != UINT64_MAX;
}

void CardCampaign::NoteReboot() {
  ++figures_.reboots;
  stopped_ = true;
}

void CardCampaign::NoteHalt(const sim::VirtualCard& card) {
  if (!haltPending_ || card.state() != sim::kHalted) return;
  haltPending_ = false;
  stopped_ = true;
}

void CardCampaign::NoteHandled(const sim::VirtualCard& card) {
  NoteHalt(card);
  const sim::CardStats& s = card.stats();
  const uint32_t refused = s.rowsRefused - refusedSeen_;
  refusedSeen_ = s.rowsRefused;
  if (afterSilence_ && s.discoveries != discoveriesSeen_) {
    if (movingAtSilence_) stopped_ = true;  // it looks for the card again: the link was lost
    afterSilence_ = false;
  }
  discoveriesSeen_ = s.discoveries;
  if (s.commands == commandsSeen_) return;
  afterSilence_ = false;  // a command first: the plug-in kept the link through the silence
  commandsSeen_ = s.commands;
  const sim::ReceivedCommand& c = card.History(0);
  if (c.code == static_cast<uint8_t>(sim::CommandCode::kConfigure)) {
    stopped_ = false;  // the host commanded again
    return;
  }
  if (!stopped_ || c.code != static_cast<uint8_t>(sim::CommandCode::kMotion)) return;
  figures_.rowsRefusedAfterStop += refused;
  if (c.rowCount > refused) figures_.rowsAfterStop += c.rowCount - refused;
}

void CardCampaign::MaybeReport(const sim::VirtualCard& card, uint64_t nowMs, std::FILE* out) {
  if (nowMs < nextReportMs_) return;
  nextReportMs_ += static_cast<uint64_t>(o_.reportEvery * 1000);
  const sim::CardStats& s = card.stats();
  std::fprintf(out,
               "card %6.0f s: commands %u, rows %u, resends %u, stale %u, reboots %u, "
               "e-stops %u, silences %u, rows after stop %u, refused after stop %u\n",
               nowMs / 1000.0, s.commands, s.rowsExecuted, s.duplicates, s.stale, figures_.reboots,
               figures_.estopPresses, figures_.silences, figures_.rowsAfterStop,
               figures_.rowsRefusedAfterStop);
  std::fflush(out);
}

}  // namespace torvexan::tools
