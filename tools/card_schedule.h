// The faults of the virtual card that happen at given times rather than to given packets:
// restarts, silences, the handwheel selector switching and the random campaign of e-stop
// presses and silence bursts. The card server runs them on the wall clock, torvexan-sim's
// --fast on its virtual timeline, from the same options.
#pragma once

#include <cstdint>

#include "card/virtual_card.h"
#include "card_campaign.h"
#include "card_options.h"

namespace torvexan::tools {

// What one Advance did to the card, as bits.
enum CardFaultEvent : unsigned {
  kCardRestarted = 1u << 0,
  kCardFellSilent = 1u << 1,
  kCardAnswersAgain = 1u << 2,
  kEstopPressed = 1u << 3,
  kEstopReleased = 1u << 4,
};

class CardFaultSchedule {
 public:
  explicit CardFaultSchedule(const CardServerOptions& options);

  // Lets every fault due by nowMs (the card's clock) act on the card; returns what happened.
  unsigned Advance(sim::VirtualCard& card, uint64_t nowMs);
  CardCampaign& campaign() { return campaign_; }
  const CardCampaign& campaign() const { return campaign_; }
  // Every silence, timed or a random burst.
  uint32_t silences() const { return silences_; }

 private:
  const CardServerOptions& o_;
  CardCampaign campaign_;
  uint64_t nextReboot_;
  uint64_t silentFrom_;
  uint64_t silentUntil_;
  uint64_t nextToggle_;
  bool silent_ = false;
  uint32_t silences_ = 0;
};

// The words for one event bit, for a console or a report.
const char* CardFaultEventText(unsigned event);

}  // namespace torvexan::tools
